// Helpers shared by the unit tests: BMP files and a screen in memory.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "byte_formats.h"
#include "show_bmp.h"

using byte_formats::bmp_file;
using byte_formats::bmp_header;
using byte_formats::Bytes;

// A distinct colour for every position of a large image. Blue, green and
// red all vary from pixel to pixel (an odd factor permutes the 24-bit
// values), so that a converter which mixes up or drops a byte is caught.
inline std::uint32_t position_colour(int row, int col) {
  const std::uint32_t position =
      static_cast<std::uint32_t>(row) << 12 | static_cast<std::uint32_t>(col);
  return position * 0x9E3779B1u & 0x00FFFFFFu;
}

// A temporary file removed at the end of the test.
class TempFile {
public:
  explicit TempFile(const Bytes &bytes);
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
  std::uint32_t at(int row, int col) const { return row_words(row)[col]; }
  // A plain pointer is much faster to scan in the sanitizer build.
  const std::uint32_t *row_words(int row) const {
    return words_.data() + static_cast<std::size_t>(row) * lcd_width;
  }
  bool all_untouched() const;
  const std::vector<std::uint32_t> &words() const { return words_; }

private:
  std::vector<std::uint32_t> words_;
};

// Whether the screen holds `pixel(i, j)` wherever a width x height image
// drawn at (x, y) covers it, and its old value everywhere else.
template <typename Pixel>
testing::AssertionResult screen_shows(const FakeScreen &screen, int width,
                                      int height, int x, int y,
                                      const Pixel &pixel) {
  for (int row = 0; row < lcd_height; ++row) {
    const std::uint32_t *words = screen.row_words(row);
    for (int col = 0; col < lcd_width; ++col) {
      const int i = row - y, j = col - x;
      const bool inside = i >= 0 && i < height && j >= 0 && j < width;
      const std::uint32_t wanted = inside ? pixel(i, j) : FakeScreen::untouched;
      if (words[col] != wanted)
        return testing::AssertionFailure()
               << width << "x" << height << " at (" << x << "," << y
               << "): screen row " << row << " col " << col << " holds "
               << std::hex << words[col] << ", not " << wanted;
    }
  }
  return testing::AssertionSuccess();
}

int open_descriptor_count();

// What `run` prints on standard output.
template <typename Run> std::string printed_by(Run &&run) {
  testing::internal::CaptureStdout();
  run();
  return testing::internal::GetCapturedStdout();
}
