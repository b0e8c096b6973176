// Helpers shared by the unit tests: BMP files and a screen in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "show_bmp.h"

// Colour of the image pixel at (row from the top, column).
using PixelFn = std::function<std::uint32_t(int row, int col)>;

// A distinct colour for every position of a large image.
inline std::uint32_t position_colour(int row, int col) {
  return static_cast<std::uint32_t>(row) << 12 |
         static_cast<std::uint32_t>(col);
}

// Bytes of a classic 24-bit BMP, rows bottom-up and padded to 4 bytes.
inline std::vector<unsigned char> make_bmp(int width, int height,
                                           const PixelFn &pixel) {
  std::vector<unsigned char> bytes(54, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  auto put32 = [&](std::size_t at, std::int32_t value) {
    for (int b = 0; b < 4; ++b)
      bytes[at + b] = static_cast<unsigned char>(
          static_cast<std::uint32_t>(value) >> (8 * b));
  };
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  bytes[26] = 1;
  bytes[28] = 24;
  const int pad = (4 - (3 * width) % 4) % 4;
  for (int r = height - 1; r >= 0; --r) {
    for (int c = 0; c < width; ++c) {
      const std::uint32_t rgb = pixel(r, c);
      bytes.push_back(static_cast<unsigned char>(rgb));
      bytes.push_back(static_cast<unsigned char>(rgb >> 8));
      bytes.push_back(static_cast<unsigned char>(rgb >> 16));
    }
    bytes.insert(bytes.end(), pad, 0);
  }
  return bytes;
}

// A temporary file removed at the end of the test.
class TempFile {
public:
  explicit TempFile(const std::vector<unsigned char> &bytes);
  ~TempFile();
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;
  const char *path() const { return path_.c_str(); }

private:
  std::string path_;
};

// Screen memory in the process, installed as the mapped screen.
class FakeScreen {
public:
  static constexpr std::uint32_t untouched = 0xDEADBEEF;
  FakeScreen() : words_(lcd_width * lcd_height, untouched) {
    mmap_lcd = words_.data();
  }
  ~FakeScreen() { mmap_lcd = nullptr; }
  FakeScreen(const FakeScreen &) = delete;
  FakeScreen &operator=(const FakeScreen &) = delete;
  std::uint32_t at(int row, int col) const {
    return words_[static_cast<std::size_t>(row) * lcd_width + col];
  }
  bool all_untouched() const;

private:
  std::vector<std::uint32_t> words_;
};

int open_descriptor_count();
