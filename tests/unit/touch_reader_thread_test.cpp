// The touch reader thread on a pipe standing for the touch device.
#include <chrono>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "byte_formats.h"
#include "touch.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

std::vector<unsigned char> record(int type, int code, int value) {
  return byte_formats::input_record(sizeof(input_event),
                                    static_cast<std::uint16_t>(type),
                                    static_cast<std::uint16_t>(code), value);
}

void send(int fd, const std::vector<unsigned char> &bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
}

bool flag_becomes(int wanted) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (flag.load() != wanted) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

} // namespace

TEST(Reader, JoinsSplitRecordsAndClearsTheFlagWhenTheDeviceEnds) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  fd_ts = ends[0];
  flag = 0;
  CaptureStdout();
  CaptureStderr();
  pthread_t reader;
  ASSERT_EQ(pthread_create(&reader, nullptr, ts_get, nullptr), 0);

  send(ends[1], record(EV_ABS, ABS_X, 1023));
  send(ends[1], record(EV_ABS, ABS_Y, 300));
  // A touch record delivered in three pieces must act once, whole.
  const auto touch = record(EV_KEY, BTN_TOUCH, 1);
  send(ends[1], {touch.begin(), touch.begin() + 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(flag.load(), 0) << "acted on part of a record";
  send(ends[1], {touch.begin() + 3, touch.begin() + 11});
  send(ends[1], {touch.begin() + 11, touch.end()});
  EXPECT_TRUE(flag_becomes(1));

  send(ends[1], record(EV_KEY, BTN_TOUCH, 0));
  EXPECT_TRUE(flag_becomes(0));
  send(ends[1], record(EV_KEY, BTN_TOUCH, 1));
  EXPECT_TRUE(flag_becomes(1));
  // The device goes away while the screen is held, half a record pending.
  send(ends[1], {touch.begin(), touch.begin() + 5});
  close(ends[1]);
  pthread_join(reader, nullptr);

  EXPECT_EQ(flag.load(), 0);
  EXPECT_EQ(GetCapturedStdout(),
            "get_xy:(799,240)\nget_xy:(799,240)\nget_xy:(799,240)\n");
  EXPECT_EQ(GetCapturedStderr(), "read event 0 error: No such device\n");
  close(ends[0]);
  fd_ts = -1;
}

TEST(Reader, EndsAtOnceWithoutADevice) {
  fd_ts = -1;
  flag = 0;
  CaptureStdout();
  CaptureStderr();
  pthread_t reader;
  ASSERT_EQ(pthread_create(&reader, nullptr, ts_get, nullptr), 0);
  pthread_join(reader, nullptr);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(flag.load(), 0);
}

TEST(Reader, MissingDeviceReportsTheSystemReason) {
  if (access("/dev/input/event0", F_OK) == 0)
    GTEST_SKIP() << "this machine has a touch device at /dev/input/event0";
  CaptureStderr();
  EXPECT_EQ(init_ts(), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "open event 0 error: No such file or directory\n");
  EXPECT_EQ(fd_ts, -1);
}
