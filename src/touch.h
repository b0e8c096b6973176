// Touch input: the event device reader that drives the press flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <linux/input.h>
#include <unistd.h>

#include "show_bmp.h" // the screen that positions are scaled to

// 1 while the screen is touched, 0 otherwise; defined by the frame player.
extern std::atomic<std::int32_t> flag;

extern int fd_ts; // -1 until init_ts opens the device

int init_ts();
// The reader thread: reads the device for as long as the process runs and,
// whenever it is missing or gone, waits for it to come back.
void *ts_get(void *arg);
void Exit();

// Last touch position in screen pixels, kept by the reader across touches.
struct TouchPosition {
  int x = 0;
  int y = 0;
};

// Acts on one record: positions update `last`; a touch or release prints
// it and sets or clears the flag; everything else is ignored.
void handle_event(const input_event &event, TouchPosition &last);

// Acts on the records of fd_ts until the device ends or fails; then says
// so once, clears the flag and closes fd_ts.
void read_ts(TouchPosition &last);
// Tries to open the device every touch_retry_us, silently, until it opens
// into fd_ts; then prints touch_back_line.
void wait_for_ts();

// A panel unplugged or a driver loaded late: five attempts a second.
constexpr useconds_t touch_retry_us = 200000;
// The reader's console lines. Every touch and release, with the last
// position in screen pixels (standard output):
constexpr char position_line_format[] = "get_xy:(%d,%d)\n";
// On standard error, with the system's reason: the device cannot be
// opened, or it ended or failed.
constexpr char open_error_text[] = "open event 0 error";
constexpr char read_error_text[] = "read event 0 error";
// When the device opens after it was missing or gone (standard output).
constexpr char touch_back_line[] = "open event 0 ok";

// The touchscreen device, and the raw range of its panel: x 0-1023, y 0-599.
constexpr char touch_device[] = "/dev/input/event0";
constexpr int panel_width = 1024;
constexpr int panel_height = 600;
// BTN_TOUCH values: a finger down starts playback, lifting it stops it.
constexpr int touch_pressed = 1;
constexpr int touch_released = 0;

// Raw panel coordinates to screen pixels.
inline int scale_x(std::int32_t raw) {
  return static_cast<int>(std::int64_t{raw} * lcd_width / panel_width);
}
inline int scale_y(std::int32_t raw) {
  return static_cast<int>(std::int64_t{raw} * lcd_height / panel_height);
}
