// Touch: whether the event device is a touchscreen that can drive the
// player, which other device is when it is not, and (on request) what a
// real touch delivers.
#pragma once

#include <linux/input.h>
#include <string>
#include <vector>

#include "board_devices.h"
#include "findings.h"
#include "touch.h"

namespace frame_check {

// The kinds of input device and which of them drive the player: one rule
// with the device helper's (lib/board-devices).
using board_devices::Bits;
using board_devices::drives_player;
using board_devices::has_bit;
using board_devices::InputKind;

struct AxisRange {
  int minimum = 0;
  int maximum = 0;
};

struct InputDevice {
  std::string name;
  Bits events, keys, axes;
  AxisRange x, y; // meaningful when `axes` has ABS_X and ABS_Y
};

InputKind classify_input(const InputDevice &device);

// Findings for a device the player can use: what it is, and its ranges.
std::vector<Finding> judge_touchscreen(const std::string &path,
                                       const InputDevice &device);
// The FAIL line for a device the player cannot use, naming `found` (a
// device path and name, or empty) as the touchscreen to use instead.
Finding judge_not_touchscreen(const std::string &path,
                              const InputDevice &device,
                              const std::string &found);

// --touch: what arrived while waiting, as the player would act on it.
struct TouchWatch {
  TouchPosition last;     // as the player's reader keeps it
  std::string touch_line; // the position line of the first touch
  bool touched = false;   // a BTN_TOUCH 1 arrived
  bool released = false;  // and a BTN_TOUCH 0 after it
  bool vanished = false;  // the device ended or failed
  int acted = 0;          // records the player acts on
  int ignored = 0;        // records it ignores
  std::vector<std::string> ignored_names; // each kind once
};

// What the player does with one record, e.g. "ABS_X 512: x = 400"; empty
// when it ignores the record.
std::string act_on_record(const input_event &event, TouchWatch &watch);
// Reads records from `fd` until a touch and its release, the device's end
// or `timeout_ms`; prints the records acted on as they come.
TouchWatch watch_touch(int fd, int timeout_ms, Findings &out);
Finding judge_watch(const TouchWatch &watch, int timeout_seconds);

// The touchscreen frame-player-run gives the player: the board's first
// input device that can drive it, which a line names when it is not
// /dev/input/event0 itself. Empty, with a FAIL line, when the board has
// none.
std::string player_touchscreen(Findings &out);
// Checks the touch device at `path` (none when empty); with
// `wait_for_touch`, also waits up to 10 s for a touch and a release on it.
void check_touch(const std::string &path, bool wait_for_touch, Findings &out);

} // namespace frame_check
