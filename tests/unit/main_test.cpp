// Frame numbering and naming of the frame loop.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "main.h"

TEST(FrameNumbering, StartsAtOneAndWrapsAfter81ToZero) {
  int frame = 0;
  for (int shown = 1; shown <= 81; ++shown) {
    frame = next_frame_number(frame);
    ASSERT_EQ(frame, shown);
  }
  frame = next_frame_number(frame);
  EXPECT_EQ(frame, 0);
  EXPECT_EQ(next_frame_number(frame), 1);
}

TEST(FrameNumbering, PathsUsePlainDecimalNumbers) {
  char path[frame_path_size];
  std::memset(path, 'x', sizeof path);
  format_frame_path(path, 0);
  EXPECT_STREQ(path, "/mnt/udisk/4/3/Frame0.bmp");
  format_frame_path(path, 7);
  EXPECT_STREQ(path, "/mnt/udisk/4/3/Frame7.bmp");
  format_frame_path(path, 81);
  EXPECT_STREQ(path, "/mnt/udisk/4/3/Frame81.bmp");
  EXPECT_EQ(std::strlen(path), 26u);
}
