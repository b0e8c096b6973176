// The touch handler on single records: scaling, touch, release and noise.
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "touch.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

input_event make_event(int type, int code, int value) {
  input_event event{};
  event.type = static_cast<__u16>(type);
  event.code = static_cast<__u16>(code);
  event.value = value;
  return event;
}

// Feeds events to the handler and returns what it printed.
std::string handle_all(std::initializer_list<input_event> events,
                       TouchPosition &last) {
  CaptureStdout();
  for (const auto &event : events)
    handle_event(event, last);
  return GetCapturedStdout();
}

} // namespace

TEST(TouchScaling, MapsThePanelOntoTheScreen) {
  EXPECT_EQ(scale_x(1023), 799);
  EXPECT_EQ(scale_x(512), 400);
  EXPECT_EQ(scale_x(0), 0);
  EXPECT_EQ(scale_y(599), 479);
  EXPECT_EQ(scale_y(300), 240);
  // Division truncates toward zero.
  EXPECT_EQ(scale_x(-1), 0);
  EXPECT_EQ(scale_x(-2), -1);
  EXPECT_EQ(scale_y(-600), -480);
  // Raw values far outside the panel neither overflow nor get clamped.
  EXPECT_EQ(scale_x(INT_MAX), 1677721599);
  EXPECT_EQ(scale_x(INT_MIN), -1677721600);
  EXPECT_EQ(scale_y(INT_MAX), 1717986917);
  EXPECT_EQ(scale_y(INT_MIN), -1717986918);
}

TEST(TouchEvents, TouchAndReleasePrintThePositionAndDriveTheFlag) {
  flag = 0;
  TouchPosition last;
  // A touch before any position reports 0,0.
  EXPECT_EQ(handle_all({make_event(EV_KEY, BTN_TOUCH, 1)}, last),
            "get_xy:(0,0)\n");
  EXPECT_EQ(flag, 1);

  EXPECT_EQ(handle_all({make_event(EV_ABS, ABS_X, 1023),
                        make_event(EV_ABS, ABS_Y, 599),
                        make_event(EV_SYN, SYN_REPORT, 0),
                        make_event(EV_KEY, BTN_TOUCH, 0)},
                       last),
            "get_xy:(799,479)\n");
  EXPECT_EQ(flag, 0);

  // The position is kept across touches; a repeated touch prints again.
  EXPECT_EQ(handle_all({make_event(EV_ABS, ABS_X, 512),
                        make_event(EV_KEY, BTN_TOUCH, 1),
                        make_event(EV_KEY, BTN_TOUCH, 1)},
                       last),
            "get_xy:(400,479)\nget_xy:(400,479)\n");
  EXPECT_EQ(flag, 1);
}

TEST(TouchEvents, OtherEventsChangeNothing) {
  TouchPosition last;
  last.x = 11;
  last.y = 22;
  for (int before : {0, 1}) {
    flag = before;
    EXPECT_EQ(handle_all({make_event(EV_KEY, BTN_TOUCH, 2),
                          make_event(EV_KEY, BTN_LEFT, 1),
                          make_event(EV_KEY, BTN_LEFT, 0),
                          make_event(EV_ABS, ABS_PRESSURE, 200),
                          make_event(EV_ABS, ABS_MT_POSITION_X, 5),
                          make_event(EV_SYN, SYN_REPORT, 0),
                          make_event(EV_REL, REL_X, 7),
                          make_event(EV_MSC, MSC_SCAN, 330)},
                         last),
              "");
    EXPECT_EQ(flag, before);
    EXPECT_EQ(last.x, 11);
    EXPECT_EQ(last.y, 22);
  }
}
