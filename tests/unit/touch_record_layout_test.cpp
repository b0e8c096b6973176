// Touch records laid out byte by byte as this ABI's kernel sends them, so
// that a build reading a different record size or field order fails here
// and not only on the board. Built here field by field rather than with the
// shared record writer, so that one mistake cannot hide in both.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "player_lines.h"
#include "touch.h"

namespace {

// The kernel's record: seconds and microseconds as its native unsigned
// long, then 16-bit type, 16-bit code and 32-bit value.
constexpr std::size_t kernel_record_bytes = 2 * sizeof(unsigned long) + 8;

template <typename T> void append(std::vector<unsigned char> &out, T value) {
  unsigned char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

void append_record(std::vector<unsigned char> &out, std::uint16_t type,
                   std::uint16_t code, std::int32_t value) {
  // Time stamps with every byte set, so that a misplaced field shows.
  append<unsigned long>(out, static_cast<unsigned long>(-1) / 3);
  append<unsigned long>(out, 999999);
  append(out, type);
  append(out, code);
  append(out, value);
}

} // namespace

TEST(TouchRecord, ReaderTakesTheKernelLayoutOfThisAbi) {
  EXPECT_EQ(sizeof(input_event), kernel_record_bytes);
#if defined(__arm__)
  EXPECT_EQ(sizeof(input_event), 16u);
#elif defined(__aarch64__) || defined(__x86_64__)
  EXPECT_EQ(sizeof(input_event), 24u);
#endif

  const struct {
    std::uint16_t type, code;
    std::int32_t value;
  } touch_then_release[] = {{EV_ABS, ABS_X, 512},   {EV_ABS, ABS_Y, 300},
                            {EV_KEY, BTN_TOUCH, 1}, {EV_SYN, SYN_REPORT, 0},
                            {EV_ABS, ABS_X, 1023},  {EV_ABS, ABS_Y, 599},
                            {EV_KEY, BTN_TOUCH, 0}, {EV_SYN, SYN_REPORT, 0}};
  std::vector<unsigned char> burst;
  for (const auto &r : touch_then_release)
    append_record(burst, r.type, r.code, r.value);
  ASSERT_EQ(burst.size(), 8 * kernel_record_bytes);

  // The whole burst waits in a pipe that then ends, so the reader runs to
  // the loss on this thread.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], burst.data(), burst.size()),
            static_cast<ssize_t>(burst.size()));
  close(ends[1]);
  fd_ts = ends[0];
  flag = 1;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  TouchPosition last;
  read_ts(last);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            player_lines::position_line(400, 240) +
                player_lines::position_line(799, 479));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string(read_error_text) + ": No such device\n");
  EXPECT_EQ(flag.load(), 0);
  EXPECT_EQ(fd_ts, -1);
}
