// Driver for instruction counts and heap profiles of show(), run under
// valgrind by bench/run:
//   frame-show-calls write PATH WIDTH HEIGHT   writes a test frame
//   frame-show-calls show PATH COUNT           calls show(0, 0, PATH) COUNT
//                                              times on anonymous memory
// Writing is a separate run so that its buffers stay out of the profile.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "show_bmp.h"

namespace {

int usage() {
  std::fputs("usage: frame-show-calls write PATH WIDTH HEIGHT\n"
             "       frame-show-calls show PATH COUNT\n",
             stderr);
  return 2;
}

int show_repeatedly(const char *path, int count) {
  mmap_lcd = map_anonymous_screen();
  if (mmap_lcd == nullptr)
    return 1;
  std::setvbuf(stdout, nullptr, _IOLBF, 0); // as the program does
  int failures = 0;
  for (int i = 0; i < count; ++i)
    failures += show(0, 0, path) != 0;
  unmap_screen(mmap_lcd);
  mmap_lcd = nullptr;
  return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "write") == 0)
    return write_frame_file(argv[2], std::atoi(argv[3]), std::atoi(argv[4]))
               ? 0
               : 1;
  if (argc == 4 && std::strcmp(argv[1], "show") == 0)
    return show_repeatedly(argv[2], std::atoi(argv[3]));
  return usage();
}
