// Inputs the fuzzers in fuzz/ once broke the program with, replayed exactly.
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "player_lines.h"
#include "show_bmp.h"
#include "test_support.h"

namespace {

std::vector<unsigned char> bytes_of(const std::string &text) {
  return {text.begin(), text.end()};
}

} // namespace

// Width and height both -1920103027: the size check multiplied two negative
// numbers past INT64_MAX (undefined behaviour, caught by UBSan).
TEST(FuzzRegression, NegativeWidthAndHeightAreRefusedWithoutOverflow) {
  const std::string crash = "B" + std::string(66, '\x8d') + "M" +
                            std::string(10, '\0') +
                            std::string("\x80\x38\0\0\0", 5);
  ASSERT_EQ(crash.size(), 83u);
  FakeScreen screen;
  TempFile file(bytes_of(crash));
  int result = 0;
  EXPECT_EQ(printed_by([&] { result = show(0, 0, file.path()); }),
            player_lines::size_line(-1920103027, -1920103027) +
                player_lines::line(bad_size_line));
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(screen.all_untouched());

  // Every sign combination past the 64-bit range saturates.
  EXPECT_EQ(pixel_data_size(-1920103027, -1920103027), INT64_MAX);
  EXPECT_EQ(pixel_data_size(INT_MIN, INT_MIN), INT64_MAX);
  EXPECT_EQ(pixel_data_size(INT_MIN, INT_MAX), INT64_MAX);
  EXPECT_EQ(pixel_data_size(INT_MAX, INT_MIN), INT64_MAX);
  // Sizes that fit are still exact, whatever their signs.
  EXPECT_EQ(pixel_data_size(-4, -3), 36);
  EXPECT_EQ(pixel_data_size(-4, 3), -36);
}
