// The touch handler on single records: scaling, touch, release and noise.
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "player_lines.h"
#include "test_support.h"
#include "touch.h"

using player_lines::position_line;

namespace {

// Feeds events to the handler and returns what it printed.
std::string handle_all(std::initializer_list<byte_formats::InputRecord> events,
                       TouchPosition &last) {
  return printed_by([&] {
    for (const auto &e : events) {
      input_event event{};
      event.type = e.type;
      event.code = e.code;
      event.value = e.value;
      handle_event(event, last);
    }
  });
}

} // namespace

TEST(TouchScaling, MapsThePanelOntoTheScreen) {
  const struct {
    int (*scale)(std::int32_t);
    std::int32_t raw;
    int screen;
  } cases[] = {
      {scale_x, 1023, 799},
      {scale_x, 512, 400},
      {scale_x, 0, 0},
      {scale_y, 599, 479},
      {scale_y, 300, 240},
      // Division truncates toward zero.
      {scale_x, -1, 0},
      {scale_x, -2, -1},
      {scale_y, -600, -480},
      // Raw values far outside the panel neither overflow nor get clamped.
      {scale_x, INT_MAX, 1677721599},
      {scale_x, INT_MIN, -1677721600},
      {scale_y, INT_MAX, 1717986917},
      {scale_y, INT_MIN, -1717986918}};
  for (const auto &c : cases)
    EXPECT_EQ(c.scale(c.raw), c.screen)
        << (c.scale == scale_x ? "x " : "y ") << c.raw;
}

TEST(TouchEvents, TouchAndReleasePrintThePositionAndDriveTheFlag) {
  flag = 0;
  TouchPosition last;
  // A touch before any position reports 0,0.
  EXPECT_EQ(handle_all({{EV_KEY, BTN_TOUCH, 1}}, last), position_line(0, 0));
  EXPECT_EQ(flag, 1);

  EXPECT_EQ(handle_all({{EV_ABS, ABS_X, 1023},
                        {EV_ABS, ABS_Y, 599},
                        {EV_SYN, SYN_REPORT, 0},
                        {EV_KEY, BTN_TOUCH, 0}},
                       last),
            position_line(799, 479));
  EXPECT_EQ(flag, 0);

  // The position is kept across touches; a repeated touch prints again.
  EXPECT_EQ(handle_all({{EV_ABS, ABS_X, 512},
                        {EV_KEY, BTN_TOUCH, 1},
                        {EV_KEY, BTN_TOUCH, 1}},
                       last),
            position_line(400, 479) + position_line(400, 479));
  EXPECT_EQ(flag, 1);
}

TEST(TouchEvents, OtherEventsChangeNothing) {
  TouchPosition last;
  last.x = 11;
  last.y = 22;
  for (int before : {0, 1}) {
    flag = before;
    EXPECT_EQ(handle_all(byte_formats::ignored_records, last), "");
    EXPECT_EQ(flag, before);
    EXPECT_EQ(last.x, 11);
    EXPECT_EQ(last.y, 22);
  }
}
