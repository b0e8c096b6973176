// Touch input: the event device reader that drives the press flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <linux/input.h>

// 1 while the screen is touched, 0 otherwise; defined by the frame player.
extern std::atomic<std::int32_t> flag;

extern int fd_ts; // -1 until init_ts opens the device

int init_ts();
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

// Raw panel coordinates (1024 x 600) to screen pixels (800 x 480).
int scale_x(std::int32_t raw);
int scale_y(std::int32_t raw);
