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
  // `top` drawn over `below` down to row `rows`, and in row `rows` up to
  // column `cols` (stopped within a row: its left part is already new).
  const struct {
    int top, rows, cols, below;
  } cases[] = {{7, 123, 0, 6},     {1, 479, 0, blank}, {5, screen_height, 0, 5},
               {54, 303, 517, 53}, {2, 0, 5, 1},       {9, 479, 100, blank}};
  for (const auto &c : cases) {
    auto screen = screen_of(c.top, c.rows, c.below);
    for (int col = 0; col < c.cols; ++col)
      screen[std::size_t(c.rows) * screen_width + col] =
          frame_pixel(c.top, c.rows, col);
    const Layers layers = read_layers(screen.data());
    EXPECT_EQ(layers.top, c.top) << c.top << " over " << c.below;
    EXPECT_EQ(layers.top_rows, c.rows) << c.top << " over " << c.below;
    EXPECT_EQ(layers.below, c.below) << c.top << " over " << c.below;
  }

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
