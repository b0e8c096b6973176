// Test frames whose every pixel tells which frame it belongs to, and the
// reading of a screen back into frame numbers. Shared by the frame writer
// and by the emulated board's checks, so both agree pixel for pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "main.h"
#include "show_bmp.h"

namespace frame_pattern {

// The player's screen and frame numbers.
constexpr int screen_width = lcd_width;
constexpr int screen_height = lcd_height;
constexpr int frame_count = last_frame_number + 1;
constexpr std::size_t screen_pixel_count =
    std::size_t{screen_width} * screen_height;
constexpr std::size_t screen_bytes = lcd_bytes;

// Row or screen contents that are not a frame.
constexpr int blank = -1;   // every pixel black
constexpr int unknown = -2; // anything else

// Seven-segment digits, segments a..g as bits 0..6.
constexpr unsigned char digit_segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                              0x6D, 0x7D, 0x07, 0x7F, 0x6F};

inline bool in_rect(int row, int col, int top, int left, int height,
                    int width) {
  return row >= top && row < top + height && col >= left && col < left + width;
}

// Whether (row, col) lies on a lit segment of `digit` drawn at (top, left)
// in a 120 x 200 cell.
inline bool on_digit(int digit, int row, int col, int top, int left) {
  const int t = 20, w = 120, h = 100; // stroke, cell width, half height
  const bool segment[7] = {
      in_rect(row, col, top, left, t, w),              // a: top
      in_rect(row, col, top, left + w - t, h, t),      // b: upper right
      in_rect(row, col, top + h, left + w - t, h, t),  // c: lower right
      in_rect(row, col, top + 2 * h - t, left, t, w),  // d: bottom
      in_rect(row, col, top + h, left, h, t),          // e: lower left
      in_rect(row, col, top, left, h, t),              // f: upper left
      in_rect(row, col, top + h - t / 2, left, t, w)}; // g: middle
  for (int s = 0; s < 7; ++s)
    if ((digit_segments[digit] >> s & 1) && segment[s])
      return true;
  return false;
}

// The colour of frame `number` at (row, col): white digits showing the
// number over a pattern whose red level is the number and whose green and
// blue encode the position, so flips, shifts and channel mix-ups all show.
// Column 0 is never on a digit, so it alone names a row's frame.
inline std::uint32_t frame_pixel(int number, int row, int col) {
  const int top = 140;
  if (on_digit(number / 10, row, col, top, 230) ||
      on_digit(number % 10, row, col, top, 450))
    return 0x00FFFFFF;
  const std::uint32_t red = static_cast<std::uint32_t>(number * 3);
  const std::uint32_t green =
      static_cast<std::uint32_t>(row + 64 * (col >> 8)) & 0xFF;
  const std::uint32_t blue = static_cast<std::uint32_t>(col) & 0xFF;
  return red << 16 | green << 8 | blue;
}

// What screen row `row` shows: a frame number, `blank` or `unknown`.
// Screen words are 0x00RRGGBB; the unused top byte is ignored.
inline int row_content(const std::uint32_t *screen, int row) {
  const std::uint32_t *pixels = screen + std::size_t(row) * screen_width;
  const std::uint32_t red = (pixels[0] >> 16) & 0xFF;
  bool frame = red % 3 == 0 && red / 3 < frame_count;
  const int number = static_cast<int>(red / 3);
  bool black = true;
  for (int col = 0; col < screen_width; ++col) {
    const std::uint32_t pixel = pixels[col] & 0x00FFFFFF;
    frame = frame && pixel == frame_pixel(number, row, col);
    black = black && pixel == 0;
  }
  return frame ? number : black ? blank : unknown;
}

// The word `content` (a frame number or `blank`) has at (row, col).
inline std::uint32_t content_pixel(int content, int row, int col) {
  return content == blank ? 0 : frame_pixel(content, row, col);
}

// Whether screen row `row` shows `left` up to some column and `right` from
// there on: a row the player was writing when it stopped.
inline bool row_is_split(const std::uint32_t *screen, int row, int left,
                         int right) {
  if (left == unknown || right == unknown)
    return false;
  const std::uint32_t *pixels = screen + std::size_t(row) * screen_width;
  int col = 0;
  while (col < screen_width &&
         (pixels[col] & 0x00FFFFFF) == content_pixel(left, row, col))
    ++col;
  while (col < screen_width &&
         (pixels[col] & 0x00FFFFFF) == content_pixel(right, row, col))
    ++col;
  return col == screen_width;
}

// The frame named by the red level of pixel `col` of row `row`; only
// columns 0 and 799 are sure to lie outside the digits.
inline int frame_at(const std::uint32_t *screen, int row, int col) {
  const std::uint32_t pixel =
      screen[std::size_t(row) * screen_width + col] & 0x00FFFFFF;
  const std::uint32_t red = pixel >> 16;
  return pixel == 0                              ? blank
         : red % 3 == 0 && red / 3 < frame_count ? int(red / 3)
                                                 : unknown;
}

// A screen read as at most two layers: the player draws a frame from the
// top row down, left to right, so a screen caught mid-draw shows the new
// frame in rows [0, top_rows), then possibly one row split between the two,
// and the frame before it below.
struct Layers {
  int top = unknown; // all three unknown when the screen is no such thing
  int top_rows = 0;
  int below = unknown; // equals `top` when the top layer fills the screen
};

inline Layers read_layers(const std::uint32_t *screen) {
  Layers layers;
  layers.top = row_content(screen, 0);
  if (layers.top == unknown)
    layers.top = frame_at(screen, 0, 0); // caught within the first row
  int row = 0;
  while (row < screen_height && row_content(screen, row) == layers.top)
    ++row;
  layers.top_rows = row;
  if (row == screen_height) {
    layers.below = layers.top;
    return layers;
  }
  layers.below = row_content(screen, row);
  if (layers.below == unknown) {
    layers.below = row + 1 < screen_height ? row_content(screen, row + 1)
                                           : frame_at(screen, row, 799);
    if (!row_is_split(screen, row, layers.top, layers.below))
      layers.below = unknown;
  }
  while (++row < screen_height && layers.below != unknown)
    if (row_content(screen, row) != layers.below)
      layers.below = unknown;
  if (layers.below == unknown)
    layers = Layers{}; // not two layers of known content: nothing is known
  return layers;
}

// The frame number the whole screen shows exactly, `blank` or `unknown`.
inline int identify_screen(const std::uint32_t *screen) {
  const Layers layers = read_layers(screen);
  return layers.top_rows == screen_height ? layers.top : unknown;
}

} // namespace frame_pattern
