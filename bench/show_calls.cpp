// Driver for instruction counts and heap profiles of show(), run under
// valgrind by bench/run:
//   frame-show-calls write PATH WIDTH HEIGHT   writes a test frame
//   frame-show-calls write-short PATH WIDTH HEIGHT BYTES
//                                              writes a file of BYTES bytes
//                                              whose header declares WIDTH
//                                              x HEIGHT: a frame cut short
//   frame-show-calls show PATH COUNT           calls show(0, 0, PATH) COUNT
//                                              times on anonymous memory
// Writing is a separate run so that its buffers stay out of the profile.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "byte_formats.h"
#include "show_bmp.h"

namespace {

int usage() {
  std::fputs("usage: frame-show-calls write PATH WIDTH HEIGHT\n"
             "       frame-show-calls write-short PATH WIDTH HEIGHT BYTES\n"
             "       frame-show-calls show PATH COUNT\n",
             stderr);
  return 2;
}

bool write_short_file(const char *path, int width, int height, long bytes) {
  byte_formats::Bytes file = byte_formats::bmp_header(width, height);
  if (bytes < static_cast<long>(file.size()))
    return false;
  file.resize(static_cast<std::size_t>(bytes), 0x7F); // grey pixels
  std::FILE *out = std::fopen(path, "wb");
  if (out == nullptr)
    return false;
  const bool written =
      std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
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
  if (argc == 6 && std::strcmp(argv[1], "write-short") == 0)
    return write_short_file(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                            std::atol(argv[5]))
               ? 0
               : 1;
  if (argc == 4 && std::strcmp(argv[1], "show") == 0)
    return show_repeatedly(argv[2], std::atoi(argv[3]));
  return usage();
}
