#include <climits>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "show_bmp.h"
#include "test_support.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string size_line(int width, int height) {
  char line[96];
  std::snprintf(line, sizeof line, "图像宽度：%d , 高度：%d \n", width, height);
  return line;
}

// Runs show on `path` and returns what it printed.
std::string show_printing(int x, int y, const char *path, int &result) {
  CaptureStdout();
  result = show(x, y, path);
  return GetCapturedStdout();
}

std::vector<unsigned char> header_only(int width, int height) {
  auto bytes = make_bmp(1, 1, position_colour);
  bytes.resize(54);
  for (int b = 0; b < 4; ++b) {
    bytes[18 + b] = static_cast<unsigned char>(
        static_cast<std::uint32_t>(width) >> (8 * b));
    bytes[22 + b] = static_cast<unsigned char>(
        static_cast<std::uint32_t>(height) >> (8 * b));
  }
  return bytes;
}

} // namespace

TEST(PixelHelpers, ConvertsBgrAndPadsRows) {
  const unsigned char bgr[] = {0x11, 0x22, 0x33};
  EXPECT_EQ(bgr_to_pixel(bgr), 0x00332211u);
  const unsigned char white[] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(bgr_to_pixel(white), 0x00FFFFFFu);
  EXPECT_EQ(row_padding(800), 0);
  EXPECT_EQ(row_padding(801), 1);
  EXPECT_EQ(row_padding(802), 2);
  EXPECT_EQ(row_padding(803), 3);
  EXPECT_EQ(pixel_data_size(801, 2), 2 * 2404);
  EXPECT_EQ(pixel_data_size(INT_MAX, INT_MAX), INT64_MAX);
  EXPECT_GT(pixel_data_size(INT_MAX, 1), max_pixel_data_bytes);
}

TEST(Show, FullFrameFillsScreenTopDownAndReportsSizes) {
  FakeScreen screen;
  TempFile file(make_bmp(800, 480, position_colour));
  int result = 0;
  const std::string out = show_printing(0, 0, file.path(), result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, size_line(800, 480) + "ret = 1152000\n");
  for (int row = 0; row < lcd_height; ++row)
    for (int col = 0; col < lcd_width; ++col)
      ASSERT_EQ(screen.at(row, col), position_colour(row, col))
          << "row " << row << " col " << col;
}

TEST(Show, FirstFileRowLandsOnBottomScreenRow) {
  FakeScreen screen;
  // Only the bottom image row (the first row in the file) is 0x332211.
  TempFile file(make_bmp(
      800, 480, [](int row, int) { return row == 479 ? 0x332211u : 0u; }));
  ASSERT_EQ(show(0, 0, file.path()), 0);
  EXPECT_EQ(screen.at(479, 0), 0x00332211u);
  EXPECT_EQ(screen.at(479, 799), 0x00332211u);
  EXPECT_EQ(screen.at(0, 0), 0u);
  EXPECT_EQ(screen.at(478, 5), 0u);
}

TEST(Show, PaddedWidthsShowTheirFirst800Columns) {
  for (int width = 800; width <= 803; ++width) {
    FakeScreen screen;
    TempFile file(make_bmp(width, 480, position_colour));
    ASSERT_EQ(show(0, 0, file.path()), 0) << "width " << width;
    for (int row = 0; row < lcd_height; row += 7)
      for (int col = 0; col < lcd_width; ++col)
        ASSERT_EQ(screen.at(row, col), position_colour(row, col))
            << "width " << width << " row " << row << " col " << col;
  }
}

TEST(Show, LargerImageShowsItsTopLeftCorner) {
  FakeScreen screen;
  TempFile file(make_bmp(1024, 600, position_colour));
  ASSERT_EQ(show(0, 0, file.path()), 0);
  for (int row = 0; row < lcd_height; ++row)
    for (int col = 0; col < lcd_width; ++col)
      ASSERT_EQ(screen.at(row, col), position_colour(row, col));
}

TEST(Show, OffsetDrawLeavesTheRestUntouched) {
  FakeScreen screen;
  TempFile file(make_bmp(800, 480, position_colour));
  ASSERT_EQ(show(100, 50, file.path()), 0);
  for (int row = 0; row < lcd_height; ++row)
    for (int col = 0; col < lcd_width; ++col) {
      const bool inside = row >= 50 && col >= 100;
      ASSERT_EQ(screen.at(row, col), inside
                                         ? position_colour(row - 50, col - 100)
                                         : FakeScreen::untouched)
          << "row " << row << " col " << col;
    }
}

TEST(Show, SmallImageKeepsSurroundingPixels) {
  // Small odd sizes exercise both the four-pixel and the single-pixel path.
  const struct {
    int width, height, x, y;
  } cases[] = {{7, 5, 0, 0}, {1, 1, 3, 3}, {13, 9, 795, 476}, {5, 2, 800, 0}};
  for (const auto &c : cases) {
    FakeScreen screen;
    TempFile file(make_bmp(c.width, c.height, position_colour));
    ASSERT_EQ(show(c.x, c.y, file.path()), 0);
    for (int row = 0; row < lcd_height; ++row)
      for (int col = 0; col < lcd_width; ++col) {
        const int i = row - c.y, j = col - c.x;
        const bool inside = i >= 0 && i < c.height && j >= 0 && j < c.width;
        ASSERT_EQ(screen.at(row, col),
                  inside ? position_colour(i, j) : FakeScreen::untouched)
            << c.width << "x" << c.height << " at row " << row << " col "
            << col;
      }
  }
}

TEST(Show, EveryRowLengthAndOffsetConvertsEachPixel) {
  // Row lengths around the eight-pixel steps of the fast conversion, its
  // tail, and unaligned screen addresses, from the left and cut off at it.
  for (int width = 1; width <= 26; ++width)
    for (int x : {0, 3, -5}) {
      FakeScreen screen;
      TempFile file(make_bmp(width, 3, position_colour));
      ASSERT_EQ(show(x, 1, file.path()), 0);
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 40; ++col) {
          const int i = row - 1, j = col - x;
          const bool inside = i >= 0 && i < 3 && j >= 0 && j < width;
          ASSERT_EQ(screen.at(row, col),
                    inside ? position_colour(i, j) : FakeScreen::untouched)
              << "width " << width << " x " << x << " row " << row << " col "
              << col;
        }
    }
}

TEST(Show, UnreadableFilesFailWithTheirLineAndKeepTheScreen) {
  FakeScreen screen;
  int result = 0;
  EXPECT_EQ(show_printing(0, 0, "/nonexistent/Frame1.bmp", result),
            "open failed !\n");
  EXPECT_EQ(result, -1);

  auto bytes = make_bmp(8, 8, position_colour);
  for (std::size_t cut : {0u, 10u, 14u, 30u, 53u}) {
    TempFile truncated({bytes.begin(), bytes.begin() + cut});
    EXPECT_EQ(show_printing(0, 0, truncated.path(), result), "read failed !\n")
        << "cut at " << cut;
    EXPECT_EQ(result, -1);
  }
  EXPECT_TRUE(screen.all_untouched());
}

TEST(Show, ImpossibleSizesAreRefusedAfterTheSizeLine) {
  FakeScreen screen;
  const struct {
    int width, height;
  } cases[] = {{0, 480},     {800, 0},           {-800, 480},    {800, -480},
               {INT_MIN, 1}, {INT_MAX, INT_MAX}, {100000, 1000}, {4000, 6000}};
  for (const auto &c : cases) {
    TempFile file(header_only(c.width, c.height));
    int result = 0;
    EXPECT_EQ(show_printing(0, 0, file.path(), result),
              size_line(c.width, c.height) + "bad size !\n");
    EXPECT_EQ(result, -1);
  }
  EXPECT_TRUE(screen.all_untouched());
}

TEST(Show, ShortPixelDataDrawsWhatWasReadAndBlackForTheRest) {
  FakeScreen screen;
  auto bytes = make_bmp(800, 480, [](int, int) { return 0x00FFFFFFu; });
  // Keep the file's first ten rows: the bottom ten rows of the image.
  bytes.resize(54 + 10 * 2400 + 5);
  TempFile file(bytes);
  int result = -1;
  EXPECT_EQ(show_printing(0, 0, file.path(), result),
            size_line(800, 480) + "ret = 24005\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(screen.at(479, 0), 0x00FFFFFFu);
  EXPECT_EQ(screen.at(470, 799), 0x00FFFFFFu);
  EXPECT_EQ(screen.at(469, 0), 0x00FFFFFFu); // one pixel plus two bytes
  EXPECT_EQ(screen.at(469, 1), 0x0000FFFFu);
  EXPECT_EQ(screen.at(469, 2), 0u);
  EXPECT_EQ(screen.at(0, 0), 0u);
}

TEST(Show, NeverWritesWithoutAMappedScreen) {
  TempFile file(make_bmp(4, 4, position_colour));
  ASSERT_EQ(mmap_lcd, nullptr);
  EXPECT_EQ(show(0, 0, file.path()), -1);
}

TEST(Show, ThousandsOfCallsLeaveNoDescriptorOpen) {
  FakeScreen screen;
  TempFile good(make_bmp(16, 16, position_colour));
  TempFile bad_size(header_only(0, 0));
  TempFile truncated({'B', 'M', 0, 0});
  const int before = open_descriptor_count();
  ASSERT_GT(before, 0);
  CaptureStdout();
  for (int i = 0; i < 5000; ++i) {
    const char *paths[] = {good.path(), bad_size.path(), truncated.path(),
                           "/nonexistent.bmp"};
    show(0, 0, paths[i % 4]);
  }
  GetCapturedStdout();
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST(InitLcd, MissingDeviceFailsWithoutAMapping) {
  if (access("/dev/fb0", F_OK) == 0)
    GTEST_SKIP() << "this machine has a framebuffer at /dev/fb0";
  CaptureStdout();
  EXPECT_EQ(init_lcd(), -1);
  EXPECT_EQ(GetCapturedStdout(), "open failed !\n");
  EXPECT_EQ(fd_lcd, -1);
  EXPECT_EQ(mmap_lcd, nullptr);
}
