// The touch reader thread on pipes standing for the touch device.
//
// This binary is linked with -Wl,--wrap=open: every open of the touch
// device passes through __wrap_open below, which decides what the device
// is at each attempt (missing, there, or gone again at once).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "byte_formats.h"
#include "player_lines.h"
#include "test_support.h"
#include "touch.h"

using player_lines::position_line;
using player_lines::quoted;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// What the touch device is at the reader's next attempt to open it, set
// by the test, and what its attempts got. Plain atomics: the reader may
// still try while the process exits.
enum Device { real_device, missing, there, flapping };
struct TouchOpens {
  std::atomic<int> device{real_device};
  std::atomic<int> attempts{0};
  std::atomic<int> opened{0};  // attempts that gave a device
  std::atomic<int> writer{-1}; // the test's end of a device that is there
};
TouchOpens touch_opens;

// A pipe for the device; a flapping one is gone as soon as it opens.
int open_device(int device) {
  int ends[2];
  if (device == missing || pipe(ends) != 0) {
    errno = ENOENT;
    return -1;
  }
  if (device == flapping)
    close(ends[1]);
  else
    touch_opens.writer.store(ends[1]);
  touch_opens.opened.fetch_add(1);
  return ends[0];
}

} // namespace

extern "C" int __real_open(const char *path, int flags, ...);

extern "C" int __wrap_open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    std::va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  const int device = touch_opens.device.load();
  if (device == real_device || std::strcmp(path, touch_device) != 0)
    return __real_open(path, flags, mode);
  const int fd = open_device(device);
  touch_opens.attempts.fetch_add(1);
  return fd;
}

namespace {

byte_formats::Bytes record(std::uint16_t type, std::uint16_t code,
                           std::int32_t value) {
  return byte_formats::input_records(sizeof(input_event),
                                     {{type, code, value}});
}

void send(int fd, const std::vector<unsigned char> &bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
}

bool eventually(const std::function<bool()> &holds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool flag_becomes(int wanted) {
  return eventually([wanted] { return flag.load() == wanted; });
}

bool attempts_reach(int count) {
  return eventually([count] { return touch_opens.attempts.load() >= count; });
}

// The test's end of the device that the reader opens next.
int next_device() {
  touch_opens.device = there;
  int writer = -1;
  EXPECT_TRUE(eventually([&writer] {
    writer = touch_opens.writer.exchange(-1);
    return writer != -1;
  }));
  return writer;
}

// Starts the reader thread on `fd` with its output captured. It never
// ends: the process ends with it waiting for a device that stays missing.
void start_reader(int fd) {
  touch_opens.device = missing;
  fd_ts = fd;
  flag = 0;
  CaptureStdout();
  CaptureStderr();
  pthread_t reader{};
  EXPECT_EQ(pthread_create(&reader, nullptr, ts_get, nullptr), 0);
  pthread_detach(reader);
}

std::string repeated(const std::string &line, int times) {
  std::string lines;
  for (int i = 0; i < times; ++i)
    lines += line + "\n";
  return lines;
}

// What the reader says on standard error when its device ends.
const std::string lost_line = std::string(read_error_text) + ": No such device";

} // namespace

TEST(Reader, JoinsSplitRecordsAndClearsTheFlagWhenTheDeviceEnds) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  start_reader(ends[0]);

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
  // The device goes away while the screen is held, half a record pending:
  // one line, however often the reader then tries to open it again.
  send(ends[1], {touch.begin(), touch.begin() + 5});
  close(ends[1]);
  EXPECT_TRUE(attempts_reach(3));

  EXPECT_EQ(flag.load(), 0);
  EXPECT_EQ(GetCapturedStdout(), repeated(quoted(position_line(799, 240)), 3));
  EXPECT_EQ(GetCapturedStderr(), repeated(lost_line, 1));
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1) << "the lost device is still open";
}

TEST(Reader, WaitsForItsDeviceAndKeepsThePositionAcrossTheGap) {
  start_reader(-1); // as init_ts leaves it, having said why
  const int descriptors = open_descriptor_count();
  EXPECT_TRUE(attempts_reach(3));

  // The panel appears late; it is unplugged while held, and comes back.
  int device = next_device();
  send(device, record(EV_ABS, ABS_X, 512));
  send(device, record(EV_ABS, ABS_Y, 300));
  send(device, record(EV_KEY, BTN_TOUCH, 1));
  EXPECT_TRUE(flag_becomes(1));
  close(device);
  EXPECT_TRUE(flag_becomes(0));
  device = next_device();
  send(device, record(EV_KEY, BTN_TOUCH, 1));
  EXPECT_TRUE(flag_becomes(1));
  send(device, record(EV_KEY, BTN_TOUCH, 0));
  EXPECT_TRUE(flag_becomes(0));

  // A device that is gone as soon as it opens is tried at the retry pace,
  // never faster, and leaves no descriptor behind.
  touch_opens.device = flapping;
  const int before = touch_opens.attempts.load();
  const auto lost = std::chrono::steady_clock::now();
  close(device);
  constexpr int flaps = 6;
  EXPECT_TRUE(attempts_reach(before + flaps));
  EXPECT_GE(std::chrono::steady_clock::now() - lost,
            std::chrono::microseconds(touch_retry_us) * flaps);
  touch_opens.device = missing;
  EXPECT_TRUE(attempts_reach(touch_opens.attempts.load() + 2));
  EXPECT_EQ(open_descriptor_count(), descriptors);
  const int flapped = touch_opens.opened.load() - 2;
  EXPECT_GE(flapped, flaps);

  const std::string back = std::string(touch_back_line) + "\n";
  const std::string touched = position_line(400, 240);
  EXPECT_EQ(GetCapturedStdout(), back + touched + back + touched + touched +
                                     repeated(touch_back_line, flapped));
  EXPECT_EQ(GetCapturedStderr(), repeated(lost_line, 2 + flapped));
}
TEST(Reader, MissingDeviceReportsTheSystemReason) {
  if (access("/dev/input/event0", F_OK) == 0)
    GTEST_SKIP() << "this machine has a touch device at /dev/input/event0";
  CaptureStderr();
  EXPECT_EQ(init_ts(), -1);
  EXPECT_EQ(GetCapturedStderr(),
            std::string(open_error_text) + ": No such file or directory\n");
  EXPECT_EQ(fd_ts, -1);
}
