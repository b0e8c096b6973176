// The one place that holds the player's console lines byte for byte, as
// the design gives them: every other test, the board check and the tools
// take them from the player's headers.
#include <gtest/gtest.h>

#include "player_lines.h"

using namespace player_lines;

TEST(PlayerLines, AreTheDesignsBytes) {
  EXPECT_EQ(size_line(800, -480), "图像宽度：800 , 高度：-480 \n");
  EXPECT_EQ(pixels_read_line(1152000), "ret = 1152000\n");
  EXPECT_EQ(position_line(799, 0), "get_xy:(799,0)\n");
  EXPECT_EQ(line(open_failed_line), "open failed !\n");
  EXPECT_EQ(line(read_failed_line), "read failed !\n");
  EXPECT_EQ(line(bad_size_line), "bad size !\n");
  EXPECT_EQ(line(touch_back_line), "open event 0 ok\n");
  EXPECT_STREQ(map_error_text, "mmap");
  EXPECT_STREQ(open_error_text, "open event 0 error");
  EXPECT_STREQ(read_error_text, "read event 0 error");
  EXPECT_EQ(quoted(position_line(0, 0)), "get_xy:(0,0)");
}
