#include "main.h"

#include <cstdio>
#include <pthread.h>
#include <unistd.h>

#include "show_bmp.h"
#include "touch.h"

std::atomic<std::int32_t> flag{0};
static_assert(std::atomic<std::int32_t>::is_always_lock_free,
              "the press flag must be a single atomic word");

namespace {
constexpr useconds_t frame_pause_us = 2000;
}

int next_frame_number(int current) {
  const int next = current + 1;
  return next > last_frame_number ? 0 : next;
}

void format_frame_path(char *path, int number) {
  std::snprintf(path, frame_path_size, frame_path_format, number);
}

int main() {
  // The program only ends when killed: full buffering would lose the
  // last lines whenever stdout is a pipe or a log file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (init_lcd() == -1)
    return 1; // nothing can be shown; let the supervisor see it
  init_ts();
  pthread_t reader;
  pthread_create(&reader, nullptr, ts_get, nullptr);

  int frame = 0;
  char path[frame_path_size] = {};
  for (;;) {
    if (flag.load() == 0)
      continue; // waiting for a touch: a deliberate busy poll
    frame = next_frame_number(frame);
    format_frame_path(path, frame);
    show(0, 0, path);
    usleep(frame_pause_us);
  }
}
