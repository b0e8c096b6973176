// Reading a screen back into frame numbers, which every screen check of
// the end-to-end tests relies on.
#include <gtest/gtest.h>
#include <vector>

#include "frame_pattern.h"

namespace {

using namespace frame_pattern;

// A screen whose rows [0, split) show `top` and the rest `below`.
std::vector<std::uint32_t> screen_of(int top, int split, int below) {
  std::vector<std::uint32_t> screen(screen_pixel_count, 0);
  for (int row = 0; row < screen_height; ++row) {
    const int frame = row < split ? top : below;
    for (int col = 0; frame >= 0 && col < screen_width; ++col)
      screen[std::size_t(row) * screen_width + col] =
          frame_pixel(frame, row, col);
  }
  return screen;
}

} // namespace

TEST(FramePattern, NamesWholeFramesAndNothingElse) {
  for (int frame : {0, 1, 10, 41, 80, 81})
    EXPECT_EQ(identify_screen(screen_of(frame, screen_height, -1).data()),
              frame);
  EXPECT_EQ(identify_screen(screen_of(blank, 0, blank).data()), blank);

  auto screen = screen_of(41, screen_height, -1);
  for (auto &pixel : screen)
    pixel |= 0xFF000000; // the unused byte of a screen word
  EXPECT_EQ(identify_screen(screen.data()), 41);

  // One wrong pixel, in a digit or in the pattern, is not the frame.
  for (std::size_t at : {std::size_t{200} * screen_width + 240,
                         std::size_t{479} * screen_width + 799}) {
    auto damaged = screen_of(41, screen_height, -1);
    damaged[at] ^= 1;
    EXPECT_EQ(identify_screen(damaged.data()), unknown);
  }
  EXPECT_EQ(identify_screen(screen_of(40, 1, 41).data()), unknown);
}

TEST(FramePattern, ReadsAFrameCaughtWhileBeingDrawn) {
  auto layers = read_layers(screen_of(7, 123, 6).data());
  EXPECT_EQ(layers.top, 7);
  EXPECT_EQ(layers.top_rows, 123);
  EXPECT_EQ(layers.below, 6);

  layers = read_layers(screen_of(1, 479, blank).data());
  EXPECT_EQ(layers.top, 1);
  EXPECT_EQ(layers.top_rows, 479);
  EXPECT_EQ(layers.below, blank);

  layers = read_layers(screen_of(5, screen_height, -1).data());
  EXPECT_EQ(layers.top_rows, screen_height);
  EXPECT_EQ(layers.below, 5);

  // Stopped within a row: its left part is already the new frame.
  auto split = screen_of(54, 303, 53);
  const auto whole = screen_of(54, screen_height, -1);
  std::copy(whole.begin() + 303 * screen_width,
            whole.begin() + 303 * screen_width + 517,
            split.begin() + 303 * screen_width);
  layers = read_layers(split.data());
  EXPECT_EQ(layers.top, 54);
  EXPECT_EQ(layers.top_rows, 303);
  EXPECT_EQ(layers.below, 53);
  // ... also within the first and the last row.
  split = screen_of(2, 0, 1);
  for (int col = 0; col < 5; ++col)
    split[col] = frame_pixel(2, 0, col);
  layers = read_layers(split.data());
  EXPECT_EQ(layers.top, 2);
  EXPECT_EQ(layers.top_rows, 0);
  EXPECT_EQ(layers.below, 1);
  split = screen_of(9, 479, blank);
  for (int col = 0; col < 100; ++col)
    split[479 * screen_width + col] = frame_pixel(9, 479, col);
  layers = read_layers(split.data());
  EXPECT_EQ(layers.top_rows, 479);
  EXPECT_EQ(layers.below, blank);

  // Three layers are not one frame drawn over another.
  auto screen = screen_of(7, 100, 6);
  const auto third = screen_of(5, screen_height, -1);
  std::copy(third.end() - screen_width, third.end(),
            screen.end() - screen_width);
  EXPECT_EQ(read_layers(screen.data()).below, unknown);
  EXPECT_EQ(read_layers(screen.data()).top, unknown);
  // Nor is a picture that merely starts black.
  std::vector<std::uint32_t> picture(screen_pixel_count, 0x00123456);
  picture[0] = 0;
  EXPECT_EQ(read_layers(picture.data()).top, unknown);
}
