// Frame files that hold less than their header declares, or that change
// while show reads them: the read asks only for what the file holds, and
// the screen shows the bytes read, black for the rest.
//
// This binary is linked with -Wl,--wrap=read, so every read the player
// makes passes through spy_read below: a test sees what was asked for and
// can change the file between show's header reads, its fstat and its one
// pixel read.
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "player_lines.h"
#include "show_bmp.h"
#include "test_support.h"

namespace {

// Watches show's reads while installed: call 0 and 1 are the two headers,
// call 2 the pixel data; a read that comes back short is followed by more
// until the end of the file.
struct ReadSpy {
  std::vector<std::size_t> asked;
  std::function<void(int call)> before_read = [](int) {};
  std::function<void(int call)> after_read = [](int) {};
  std::size_t piece = 0; // when set, no read returns more than this
};
ReadSpy *read_spy = nullptr;

} // namespace

extern "C" ssize_t __real_read(int fd, void *buffer, std::size_t count);

extern "C" ssize_t __wrap_read(int fd, void *buffer, std::size_t count) {
  if (read_spy == nullptr)
    return __real_read(fd, buffer, count);
  const int call = static_cast<int>(read_spy->asked.size());
  read_spy->asked.push_back(count);
  read_spy->before_read(call);
  const std::size_t asked =
      read_spy->piece != 0 ? std::min(count, read_spy->piece) : count;
  const ssize_t got = __real_read(fd, buffer, asked);
  read_spy->after_read(call);
  return got;
}

namespace {

constexpr int pixel_read = 2;
const struct { int x, y; } offsets[] = {{0, 0}, {100, 50}, {799, 479}};

// Pixel bytes that are never zero, so that any byte drawn from them
// differs from the black of bytes the file does not hold.
Bytes frame_file(int width, int height, std::size_t pixel_bytes) {
  Bytes bytes = bmp_header(width, height);
  for (std::size_t k = 0; k < pixel_bytes; ++k)
    bytes.push_back(static_cast<unsigned char>(k % 251 + 1));
  return bytes;
}

// Image pixels as the file's bytes give them: a byte the file does not
// hold counts as zero, which makes rows it does not reach black.
auto file_pixels(const Bytes &file, int width, int height) {
  return [&file, width, height](int i, int j) {
    const std::int64_t row_bytes = std::int64_t{3} * width + row_padding(width);
    const std::int64_t at =
        54 + (height - 1 - std::int64_t{i}) * row_bytes + std::int64_t{3} * j;
    unsigned char bgr[3] = {};
    for (int b = 0; b < 3; ++b)
      if (at + b < static_cast<std::int64_t>(file.size()))
        bgr[b] = file[static_cast<std::size_t>(at + b)];
    return bgr_to_pixel(bgr);
  };
}

std::string expected_lines(int width, int height, std::size_t got) {
  return player_lines::size_line(width, height) +
         player_lines::pixels_read_line(static_cast<int>(got));
}

// Runs show with the spy installed; returns what it printed.
std::string show_spied(ReadSpy &spy, int x, int y, const char *path,
                       int &result) {
  read_spy = &spy;
  const std::string printed = printed_by([&] { result = show(x, y, path); });
  read_spy = nullptr;
  return printed;
}

} // namespace

TEST(ShortFile, ReadsOnlyWhatTheFileHoldsAndDrawsTheRestBlack) {
  const struct {
    int width, height;
    std::size_t pixel_bytes;
  } cases[] = {
      {8000, 2796, 100},            // 154 bytes declaring 67,104,000
      {5000000, 4, 100},            // one huge row, its start on screen
      {8000, 300, 3 * 24000 + 5},   // three rows and a pixel and 2 bytes
      {1024, 600, 2 * 3072 + 1},    // a last pixel of one byte
      {801, 480, 10 * 2404 + 2403}, // a row all but its padding
      {800, 480, 10 * 2400 + 5},    // the bottom ten rows, a pixel and 2/3
      {7, 5, 0},                    // headers only
      {16, 8, 16 * 3 * 8 + 1000},   // complete, with bytes to spare
  };
  for (const auto &c : cases) {
    const Bytes bytes = frame_file(c.width, c.height, c.pixel_bytes);
    TempFile file(bytes);
    const std::size_t declared =
        static_cast<std::size_t>(pixel_data_size(c.width, c.height));
    const std::size_t held = std::min(c.pixel_bytes, declared);
    for (const auto &at : offsets) {
      FakeScreen screen;
      ReadSpy spy;
      int result = -1;
      EXPECT_EQ(show_spied(spy, at.x, at.y, file.path(), result),
                expected_lines(c.width, c.height, held));
      EXPECT_EQ(result, 0);
      // The headers, then one read of exactly what the file holds (none
      // when it holds nothing).
      std::vector<std::size_t> asked = {14, 40};
      if (held > 0)
        asked.push_back(held);
      EXPECT_EQ(spy.asked, asked) << c.width << "x" << c.height;
      EXPECT_TRUE(screen_shows(screen, c.width, c.height, at.x, at.y,
                               file_pixels(bytes, c.width, c.height)));
    }
  }
}

TEST(ShortFile, AFileChangingWhileReadIsSafe) {
  const int width = 800, height = 480;
  const Bytes whole = frame_file(width, height, 1152000);
  struct Change {
    const char *what;
    int call;       // the read before or after which the file changes
    bool after;     //
    off_t new_size; // of the file
    std::size_t asked, got;
  };
  const Change changes[] = {
      // Shrunk after the headers, before fstat: the read asks for less.
      {"shrunk before fstat", 1, true, 54 + 5000, 5000, 5000},
      // Emptied then: fstat knows no size, so the declared size is asked.
      {"emptied before fstat", 1, true, 0, 1152000, 0},
      // Shrunk after fstat: the read returns less, the rest is black.
      {"shrunk before the pixel read", pixel_read, false, 54 + 7, 1152000, 7},
      // Grown after fstat: the read never asks for more than the buffer.
      {"grown before the pixel read", pixel_read, false, 54 + 1152000 + 4096,
       24000, 24000},
  };
  for (const auto &change : changes) {
    Bytes bytes = whole;
    if (change.new_size > static_cast<off_t>(whole.size()))
      bytes.resize(54 + change.asked); // starts short, then grows
    TempFile file(bytes);
    const std::function<void(int)> alter = [&](int call) {
      if (call == change.call) {
        ASSERT_EQ(truncate(file.path(), change.new_size), 0);
      }
    };
    FakeScreen screen;
    ReadSpy spy;
    (change.after ? spy.after_read : spy.before_read) = alter;
    int result = -1;
    EXPECT_EQ(show_spied(spy, 0, 0, file.path(), result),
              expected_lines(width, height, change.got))
        << change.what;
    EXPECT_EQ(result, 0);
    ASSERT_GE(spy.asked.size(), 3u);
    EXPECT_EQ(spy.asked[pixel_read], change.asked) << change.what;
    bytes.resize(54 + change.got);
    EXPECT_TRUE(screen_shows(screen, width, height, 0, 0,
                             file_pixels(bytes, width, height)))
        << change.what;
  }
}

// A slow disk hands the data over in pieces: the pixel data are read on to
// the end of the file, and a file cut short between pieces still draws.
TEST(ShortFile, PixelDataArrivingInPiecesIsReadToTheEnd) {
  const Bytes whole = frame_file(800, 480, 2400 * 480);
  for (const std::size_t piece : {std::size_t{4096}, std::size_t{100000}}) {
    for (const std::size_t held : {whole.size() - 54, std::size_t{2400 * 5}}) {
      const Bytes bytes(whole.begin(), whole.begin() + 54 + held);
      TempFile file(bytes);
      FakeScreen screen;
      ReadSpy spy;
      spy.piece = piece;
      int result = -1;
      EXPECT_EQ(show_spied(spy, 0, 0, file.path(), result),
                expected_lines(800, 480, held))
          << "pieces of " << piece;
      EXPECT_EQ(result, 0);
      // The two headers, then one read a piece.
      EXPECT_EQ(spy.asked.size(), 2 + (held + piece - 1) / piece);
      EXPECT_TRUE(
          screen_shows(screen, 800, 480, 0, 0, file_pixels(bytes, 800, 480)));
    }
  }
}
