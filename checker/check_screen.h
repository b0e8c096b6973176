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
// The text console: whether it is bound to the framebuffer (`sysfs`
// false: nothing could be looked at), the terminal shown now (0: unknown),
// whether it is drawn on the player's screen, and whether it is in
// graphics mode (-1: unknown).
struct ConsoleView {
  bool sysfs = false, bound = false;
  int terminal = 0;
  bool on_screen = true;
  int graphics = -1;
};
Finding judge_console(const ConsoleView &view);

// Whether the screen's driver takes the player's 32 bits per pixel, which
// frame-player-run switches a 16- or 24-bit screen to as the player starts.
enum class DepthSwitch { accepted, refused, refused_emulated };
// The depth line of a screen at other than 32 bits that frame-player-run
// starts the player on; `connector` names the display output of a DRM
// driver's emulated framebuffer ("HDMI-A-1"), empty when unknown.
Finding judge_depth_switch(const ScreenInfo &screen, DepthSwitch answer,
                           const std::string &connector);

// The screen frame-player-run gives the player: the board's 800 × 480
// screen, which a line names when it is not /dev/fb0 itself; /dev/fb0 when
// the board has none (check_screen says so).
std::string player_screen(Findings &out);
// Checks the screen device at `path` and reports every finding.
void check_screen(const std::string &path, bool viewed, Findings &out);

} // namespace frame_check
