// Screen: the framebuffer device against the layout the player assumes,
// who else holds it, and whether the text console draws on it.
#pragma once

#include <string>
#include <vector>

#include "findings.h"
#include "system_files.h"

namespace frame_check {

// What the framebuffer says of itself, as far as the player depends on it.
struct ScreenInfo {
  std::string id; // the driver's name for it
  unsigned xres = 0, yres = 0, bits_per_pixel = 0;
  unsigned red_offset = 0, green_offset = 0, blue_offset = 0;
  unsigned red_length = 0, green_length = 0, blue_length = 0;
  unsigned line_length = 0;
  unsigned long memory_bytes = 0;
};

// Size, pixel format, row length and memory, one finding each.
std::vector<Finding> judge_screen(const ScreenInfo &screen);
// Who holds the screen; `names` are the holders' process names.
Finding judge_holders(const Holders &holders,
                      const std::vector<std::string> &names);
// The text console: whether it is bound to the framebuffer, whether its
// cursor blinks and the console's kernel log level (-1: unknown). `sysfs`
// false: nothing could be looked at.
Finding judge_console(bool sysfs, bool bound, int cursor_blink,
                      int console_loglevel);

// Checks the screen device at `path` and reports every finding.
void check_screen(const std::string &path, Findings &out);

} // namespace frame_check
