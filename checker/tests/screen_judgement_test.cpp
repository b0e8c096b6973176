// The framebuffer judged against the layout the player draws in, and
// device nodes that are not what they claim.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "check_screen.h"
#include "check_touch.h"
#include "checker_test_support.h"

using namespace frame_check;

namespace {

// A screen as a driver reports it: size, depth, R/G/B offsets and lengths,
// row stride and memory.
ScreenInfo screen(unsigned width, unsigned height, unsigned bits,
                  std::array<unsigned, 3> offsets,
                  std::array<unsigned, 3> lengths, unsigned stride,
                  unsigned long memory) {
  ScreenInfo info;
  info.id = "test";
  info.xres = width;
  info.yres = height;
  info.bits_per_pixel = bits;
  info.red_offset = offsets[0];
  info.green_offset = offsets[1];
  info.blue_offset = offsets[2];
  info.red_length = lengths[0];
  info.green_length = lengths[1];
  info.blue_length = lengths[2];
  info.line_length = stride;
  info.memory_bytes = memory;
  return info;
}

struct ScreenCase {
  const char *what;
  ScreenInfo info;
  std::vector<std::string> lines; // size, pixels, rows, memory
};

std::ostream &operator<<(std::ostream &out, const ScreenCase &c) {
  return out << c.what;
}

const std::array<unsigned, 3> rgb{16, 8, 0}, bytes{8, 8, 8};
const std::string right_size = "ok   screen: 800 × 480 pixels visible";
const std::string right_pixels =
    "ok   screen: 32 bits per pixel, red/green/blue at bits 16/8/0";
const std::string right_rows = "ok   screen: rows are 3,200 bytes apart";
const std::string enough_memory =
    "ok   screen: 1,536,000 bytes of screen memory, the player maps 1,536,000";
const std::string shears = ": the picture shears; fix: give the screen a "
                           "virtual width of 800 pixels (fbset -vxres 800) or "
                           "use a driver without row padding";
const std::string order_fix =
    "; fix: set the display to RGB order (XRGB8888) in its driver or device "
    "tree";
const std::string depth_fix = "; fix: switch the screen to 32 bits per pixel "
                              "(fbset -depth 32, or the driver's settings)";

std::vector<ScreenCase> screen_cases() {
  return {
      {"the board's own screen",
       screen(800, 480, 32, rgb, bytes, 3200, 1536000),
       {right_size, right_pixels, right_rows, enough_memory}},
      {"BGR",
       screen(800, 480, 32, {0, 8, 16}, bytes, 3200, 1536000),
       {right_size,
        "FAIL screen: 32 bits per pixel in BGR order (red at bit 0, blue at "
        "bit 16): colours will be swapped" +
            order_fix,
        right_rows, enough_memory}},
      {"16 bits",
       screen(800, 480, 16, {11, 5, 0}, {5, 6, 5}, 1600, 768000),
       {right_size,
        "FAIL screen: 16 bits per pixel, not 32: the picture will be garbled" +
            depth_fix,
        "FAIL screen: rows are 1,600 bytes apart, not 3,200" + shears,
        "FAIL screen: only 768,000 bytes of screen memory: the player maps "
        "1,536,000 and stops with \"mmap: Invalid argument\"; fix: give the "
        "screen 800 × 480 pixels of 32 bits (the driver's settings or device "
        "tree)"}},
      {"24 bits",
       screen(800, 480, 24, {16, 8, 0}, bytes, 2400, 1152000),
       {right_size,
        "FAIL screen: 24 bits per pixel, not 32: the picture will be garbled" +
            depth_fix,
        "FAIL screen: rows are 2,400 bytes apart, not 3,200" + shears,
        "FAIL screen: only 1,152,000 bytes of screen memory: the player maps "
        "1,536,000 and stops with \"mmap: Invalid argument\"; fix: give the "
        "screen 800 × 480 pixels of 32 bits (the driver's settings or device "
        "tree)"}},
      {"odd channel layout",
       screen(800, 480, 32, {24, 16, 8}, bytes, 3200, 1536000),
       {right_size,
        "FAIL screen: 32 bits per pixel with red/green/blue at bits 24/16/8: "
        "colours will be wrong" +
            order_fix,
        right_rows, enough_memory}},
      {"padded rows",
       screen(800, 480, 32, rgb, bytes, 4096, 1966080),
       {right_size, right_pixels,
        "FAIL screen: rows are 4,096 bytes apart, not 3,200" + shears,
        "ok   screen: 1,966,080 bytes of screen memory, the player maps "
        "1,536,000"}},
      {"a larger screen",
       screen(1024, 600, 32, rgb, bytes, 4096, 2457600),
       {"FAIL screen: 1024 × 600 pixels visible, not 800 × 480: the player "
        "draws for 800 × 480 only; fix: set the display to 800 × 480 (the "
        "board's display settings or device tree; fbset -g 800 480 800 480 "
        "32 where the driver allows it)",
        right_pixels,
        "FAIL screen: rows are 4,096 bytes apart, not 3,200" + shears,
        "ok   screen: 2,457,600 bytes of screen memory, the player maps "
        "1,536,000"}},
  };
}

} // namespace

class ScreenLayouts : public testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenLayouts, AreJudgedAgainstThePlayersLayout) {
  std::vector<std::string> lines;
  for (const auto &finding : judge_screen(GetParam().info))
    lines.push_back(format_finding(finding));
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ScreenLayouts,
                         testing::ValuesIn(screen_cases()));

// A screen of fewer bits that frame-player-run starts the player on.
TEST(ScreenDepth, ASwitchableScreenIsOkAndARefusingDriverGetsItsFix) {
  const ScreenInfo drm = screen(800, 480, 16, {11, 5, 0}, {5, 6, 5}, 1600, 768000);
  EXPECT_EQ(format_finding(judge_depth_switch(drm, DepthSwitch::accepted, "")),
            "ok   screen: 16 bits per pixel now: frame-player-run switches it "
            "to 32 as the player starts, and back when it stops");
  const std::string stops = ", and its driver refuses 32: the player stops "
                            "with \"mmap: Invalid argument\"; fix: ";
  EXPECT_EQ(
      format_finding(judge_depth_switch(drm, DepthSwitch::refused_emulated,
                                        "HDMI-A-1")),
      "FAIL screen: 16 bits per pixel (a DRM driver's emulated framebuffer, "
      "whose depth is set at boot)" +
          stops +
          "add video=HDMI-A-1:800x480M-32 to the kernel command line and "
          "reboot");
  EXPECT_NE(format_finding(judge_depth_switch(drm, DepthSwitch::refused_emulated,
                                              ""))
                .find("video=CONNECTOR:800x480M-32"),
            std::string::npos);
  EXPECT_EQ(format_finding(judge_depth_switch(drm, DepthSwitch::refused, "")),
            "FAIL screen: 16 bits per pixel" + stops +
                "give the screen 32 bits per pixel in its driver's settings "
                "or device tree");
}

TEST(ScreenHolders, OnlyOtherProgramsThanThePlayerAreAWarning) {
  Holders none;
  none.listed = true;
  EXPECT_EQ(format_finding(judge_holders(none, {})),
            "ok   screen: no other program holds /dev/fb0");
  Holders player = none;
  player.pids = {12};
  EXPECT_EQ(format_finding(judge_holders(player, {"frame-player"})),
            "ok   screen: /dev/fb0 is held only by frame-player (pid 12)");
  Holders splash = none;
  splash.pids = {12, 40};
  EXPECT_EQ(format_finding(judge_holders(splash, {"frame-player", "psplash"})),
            "warn screen: /dev/fb0 is also held by psplash (pid 40): it may "
            "draw over the picture; fix: stop it and keep it from starting at "
            "boot");
  Holders hidden = none;
  hidden.hidden = 3;
  EXPECT_EQ(judge_holders(hidden, {}).level, Level::warn);
  EXPECT_EQ(judge_holders(Holders{}, {}).level, Level::fail); // no /proc
}

TEST(ScreenConsole, ABoundConsoleIsOkOnlyInGraphicsModeOrOnAnotherScreen) {
  ConsoleView view;
  EXPECT_EQ(judge_console(view).level, Level::warn); // no /sys
  view.sysfs = true;
  EXPECT_EQ(judge_console(view).level, Level::ok); // not bound
  view.bound = true;
  view.terminal = 1;
  view.graphics = 0;
  const Finding text = judge_console(view);
  EXPECT_EQ(text.level, Level::warn);
  EXPECT_NE(text.text.find("tty1 is in text mode"), std::string::npos);
  view.graphics = 1;
  EXPECT_EQ(judge_console(view).text,
            "the text console is bound to the framebuffer, but tty1 is in "
            "graphics mode: no console text draws over the picture");
  view.graphics = -1;
  EXPECT_EQ(judge_console(view).level, Level::warn); // cannot tell
  // Text mode on a terminal drawn on another screen is none of the
  // player's business.
  view.graphics = 0;
  view.on_screen = false;
  EXPECT_EQ(judge_console(view).level, Level::ok);
}

TEST(DeviceNodes, WhatIsNotTheDeviceIsSaidPlainlyAndNeverOpenedForLong) {
  ScratchFolder folder;
  folder.write("fb0", byte_formats::Bytes(1536000, 0));
  ASSERT_EQ(mkfifo(folder.file("event0").c_str(), 0644), 0);
  const std::string fb0 = folder.file("fb0"), event0 = folder.file("event0");

  EXPECT_EQ(lines_after(check_screen, fb0, false),
            std::vector<std::string>{
                "FAIL screen: " + fb0 +
                " is not a framebuffer: it is a regular file; fix: load the "
                "board's framebuffer driver, which makes " +
                fb0 + " itself (dmesg shows why it is missing)"});
  const auto null_screen = lines_after(check_screen, "/dev/null", false);
  ASSERT_EQ(null_screen.size(), 1u);
  EXPECT_EQ(null_screen[0].rfind("FAIL screen: /dev/null is not a framebuffer: "
                                 "it is a character device 1:3;",
                                 0),
            0u);
  EXPECT_EQ(lines_after(check_screen, folder.file("none"), false)[0].rfind(
                "FAIL screen: no " + folder.file("none") + ";", 0),
            0u);

  // Whatever the machine's own input devices, the FIFO is named for what
  // it is, and the touch wait refuses it rather than read it.
  const auto touch = lines_after(check_touch, event0, true);
  ASSERT_EQ(touch.size(), 2u);
  EXPECT_EQ(touch[0].rfind("FAIL touch: " + event0 +
                               " is not an input device: it is a FIFO;",
                           0),
            0u);
  EXPECT_EQ(touch[1], "FAIL touch: cannot wait for a touch: " + event0 +
                          " is no event device; fix: see the line above");
}
