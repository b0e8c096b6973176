#include "touch.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// The boards' 32-bit kernels deliver 16-byte records; a 64-bit build reads
// its own kernel's 24-byte layout through the same native struct.
static_assert(sizeof(void *) != 4 || sizeof(input_event) == 16,
              "32-bit targets must read 16-byte touch records");

int fd_ts = -1;

namespace {

// Fills `event` completely, joining partial reads; false once the device
// has ended or failed, with errno saying why.
bool read_event(input_event &event) {
  auto *bytes = reinterpret_cast<unsigned char *>(&event);
  std::size_t have = 0;
  while (have < sizeof event) {
    const ssize_t got = read(fd_ts, bytes + have, sizeof event - have);
    if (got > 0) {
      have += static_cast<std::size_t>(got);
    } else if (got == -1 && errno == EINTR) {
      continue;
    } else {
      if (got == 0)
        errno = ENODEV; // end of stream: the device went away
      return false;
    }
  }
  return true;
}

bool open_ts() {
  fd_ts = open(touch_device, O_RDONLY);
  return fd_ts != -1;
}

} // namespace

void handle_event(const input_event &event, TouchPosition &last) {
  if (event.type == EV_ABS && event.code == ABS_X)
    last.x = scale_x(event.value);
  else if (event.type == EV_ABS && event.code == ABS_Y)
    last.y = scale_y(event.value);
  else if (event.type == EV_KEY && event.code == BTN_TOUCH &&
           (event.value == touch_pressed || event.value == touch_released)) {
    std::printf(position_line_format, last.x, last.y);
    flag.store(event.value == touch_pressed ? 1 : 0);
  }
}

int init_ts() {
  if (!open_ts()) {
    std::perror(open_error_text);
    return -1;
  }
  return 0;
}

void read_ts(TouchPosition &last) {
  input_event event{};
  while (read_event(event))
    handle_event(event, last);
  // Without the device no release can come: stop playing rather than
  // play on with no finger on the screen.
  std::perror(read_error_text);
  flag.store(0);
  Exit();
}

void wait_for_ts() {
  // Pausing before every attempt, also the first after a loss, keeps a
  // device that comes and goes many times a second at this pace.
  do
    usleep(touch_retry_us);
  while (!open_ts());
  std::puts(touch_back_line);
}

void *ts_get(void *) {
  TouchPosition last; // kept across a lost device: it is the same panel
  for (;;) {
    if (fd_ts == -1)
      wait_for_ts(); // init_ts or read_ts has already said why
    read_ts(last);
  }
}

void Exit() {
  if (fd_ts != -1)
    close(fd_ts);
  fd_ts = -1;
}
