// Drawing frames onto a screen in memory, and every way a frame file fails.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "player_lines.h"
#include "show_bmp.h"
#include "test_support.h"

using namespace player_lines;

namespace {

// Runs show on `path` and returns what it printed.
std::string show_printing(int x, int y, const char *path, int &result) {
  return printed_by([&] { result = show(x, y, path); });
}

struct DrawCase {
  int width, height, x, y;
};

std::ostream &operator<<(std::ostream &out, const DrawCase &c) {
  return out << c.width << "x" << c.height << " at (" << c.x << "," << c.y
             << ")";
}

std::vector<DrawCase> drawing_cases() {
  std::vector<DrawCase> cases = {
      {800, 480, 0, 0},  // fills the screen, first file row at the bottom
      {801, 480, 0, 0},  // 1, 2 and 3 padding bytes a row: only the
      {802, 480, 0, 0},  // first 800 columns show
      {803, 480, 0, 0},  //
      {1024, 600, 0, 0}, // larger: its top-left corner
      {800, 480, 100, 50},
      // Small odd sizes, also cut off at the right and bottom edges.
      {7, 5, 0, 0},
      {1, 1, 3, 3},
      {13, 9, 795, 476},
      {5, 2, 800, 0},
  };
  // Row lengths around the 8- and 16-pixel steps of the fast converters,
  // up to three steps of 16 and a tail, and unaligned screen addresses,
  // from the left and cut off at it.
  for (int width = 1; width <= 50; ++width)
    for (int x : {0, 3, -5})
      cases.push_back({width, 3, x, 1});
  return cases;
}

const RowConverterEntry &word_converter() {
  return row_converters[row_converter_count - 1];
}

// The converters this processor can run, the word converter (which needs
// nothing and gives the reference result) first.
std::vector<RowConverterEntry> runnable_converters() {
  const unsigned features = cpu_features();
  std::vector<RowConverterEntry> runnable = {word_converter()};
  for (int i = 0; i < row_converter_count - 1; ++i)
    if ((row_converters[i].needs & ~features) == 0)
      runnable.push_back(row_converters[i]);
  return runnable;
}

// Draws with `convert` while it lives; afterwards the program chooses again.
struct DrawingWith {
  explicit DrawingWith(RowConverter convert) { row_converter_in_use = convert; }
  ~DrawingWith() { row_converter_in_use = nullptr; }
  DrawingWith(const DrawingWith &) = delete;
  DrawingWith &operator=(const DrawingWith &) = delete;
};

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

// Each converter this processor runs draws every case; the word converter
// exactly as the image says, every other one exactly as the word one.
TEST(Show, ReportsAndDrawsEveryImagePixelOnScreenAndNothingElse) {
  const std::vector<RowConverterEntry> converters = runnable_converters();
  std::string names;
  for (const RowConverterEntry &converter : converters)
    names += std::string(" ") + converter.name;
  std::printf("row converters this processor runs:%s\n", names.c_str());

  for (const DrawCase &c : drawing_cases()) {
    TempFile file(bmp_file(c.width, c.height, position_colour));
    const int bytes_read = static_cast<int>(pixel_data_size(c.width, c.height));
    std::vector<std::uint32_t> reference;
    for (const RowConverterEntry &converter : converters) {
      DrawingWith drawing(converter.convert);
      FakeScreen screen;
      int result = -1;
      EXPECT_EQ(show_printing(c.x, c.y, file.path(), result),
                size_line(c.width, c.height) + pixels_read_line(bytes_read))
          << c;
      EXPECT_EQ(result, 0) << c;
      if (reference.empty()) {
        EXPECT_TRUE(
            screen_shows(screen, c.width, c.height, c.x, c.y, position_colour));
        reference = screen.words();
      } else {
        EXPECT_TRUE(screen.words() == reference) << converter.name << ", " << c;
      }
    }
  }
}

TEST(Show, RefusedFramesPrintTheirLineAndKeepTheScreen) {
  struct Refused {
    std::string what;
    Bytes bytes;
    std::string printed;
  };
  std::vector<Refused> cases;
  // Headers that end early.
  const Bytes whole = bmp_file(8, 8, position_colour);
  for (std::size_t cut : {0u, 10u, 14u, 30u, 53u})
    cases.push_back({"cut at " + std::to_string(cut),
                     {whole.begin(), whole.begin() + cut},
                     line(read_failed_line)});
  // Sizes that are impossible or beyond the 64 MiB limit.
  const struct {
    int width, height;
  } sizes[] = {{0, 480},     {800, 0},           {-800, 480},    {800, -480},
               {INT_MIN, 1}, {INT_MAX, INT_MAX}, {100000, 1000}, {4000, 6000}};
  for (const auto &size : sizes)
    cases.push_back({"declared " + size_line(size.width, size.height),
                     bmp_header(size.width, size.height),
                     size_line(size.width, size.height) + line(bad_size_line)});

  FakeScreen screen;
  int result = 0;
  EXPECT_EQ(show_printing(0, 0, "/nonexistent/Frame1.bmp", result),
            line(open_failed_line));
  EXPECT_EQ(result, -1);
  for (const Refused &c : cases) {
    TempFile file(c.bytes);
    EXPECT_EQ(show_printing(0, 0, file.path(), result), c.printed) << c.what;
    EXPECT_EQ(result, -1) << c.what;
  }
  EXPECT_TRUE(screen.all_untouched());
}

// Each converter reads exactly 3 * count bytes (the sanitizer build sees
// any byte more, as the row ends where its allocation does) and writes
// exactly count words, whatever the alignment of either side.
TEST(RowConverters, StayWithinTheirRowAtAnyAlignment) {
  constexpr std::uint32_t guard = 0xDEADBEEF;
  for (const RowConverterEntry &converter : runnable_converters())
    for (int count = 0; count <= 70; ++count)
      for (int offset = 0; offset < 4; ++offset) {
        Bytes src(offset + 3 * count);
        for (std::size_t i = 0; i < src.size(); ++i)
          src[i] = static_cast<unsigned char>(i * 151 + 7);
        std::vector<std::uint32_t> dst(count + 2 + offset % 2, guard);
        std::uint32_t *row = dst.data() + 1 + offset % 2;
        converter.convert(src.data() + offset, row, count);
        const auto where = testing::Message() << converter.name << ", " << count
                                              << " pixels, offset " << offset;
        EXPECT_EQ(row[-1], guard) << where;
        EXPECT_EQ(row[count], guard) << where;
        for (int k = 0; k < count; ++k)
          ASSERT_EQ(row[k], bgr_to_pixel(&src[offset + 3 * k]))
              << where << ", pixel " << k;
      }
}

TEST(RowConverters, ChoiceFollowsTheProcessorFeatures) {
  // What each build carries besides the word converter.
#if defined(__x86_64__)
  EXPECT_STREQ(row_converters[0].name, "ssse3");
#elif defined(__aarch64__)
  EXPECT_STREQ(choose_row_converter(cpu_features()).name, "neon");
#elif defined(__arm__)
  EXPECT_STREQ(row_converters[0].name, "neon");
#endif
  // A processor with none of the features gets the word converter, one
  // without NEON never gets the NEON converter.
  EXPECT_EQ(&choose_row_converter(0), &word_converter());
  EXPECT_EQ(choose_row_converter(cpu_features() & ~cpu_has_neon).needs &
                cpu_has_neon,
            0u);
  // Each converter is chosen on a processor with exactly what it needs.
  for (int i = 0; i < row_converter_count; ++i)
    EXPECT_EQ(&choose_row_converter(row_converters[i].needs),
              &row_converters[i])
        << row_converters[i].name;

  // The first frame drawn settles the choice for this processor.
  FakeScreen screen;
  TempFile file(bmp_file(40, 2, position_colour));
  DrawingWith reset(nullptr);
  int result = -1;
  show_printing(0, 0, file.path(), result);
  EXPECT_EQ(row_converter_in_use, choose_row_converter(cpu_features()).convert);
}

// Only regular files are frames: a FIFO would block the player for ever and
// a device can act on being opened. Each of them, directly or through a
// link, gives open_failed_line at once; a link to a frame still draws.
TEST(Show, OnlyRegularFilesAreOpened) {
  const std::string folder =
      "/tmp/frame-test-special-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  TempFile frame(bmp_file(4, 4, position_colour));
  const std::string fifo = folder + "/fifo", socket_path = folder + "/socket";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                socket_path.c_str());
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address),
      0);
  const struct {
    const char *name, *target;
  } links[] = {
      {"fifo-link", fifo.c_str()},          {"null-link", "/dev/null"},
      {"socket-link", socket_path.c_str()}, {"dir-link", "/tmp"},
      {"dangling-link", "/nonexistent"},    {"frame-link", frame.path()}};
  std::vector<std::string> refused = {fifo, socket_path, "/dev/null",
                                      "/dev/zero", folder};
  for (const auto &link : links) {
    const std::string path = folder + "/" + link.name;
    ASSERT_EQ(symlink(link.target, path.c_str()), 0);
    if (std::string(link.name) != "frame-link")
      refused.push_back(path);
  }
  for (const auto &path : refused) {
    FakeScreen screen;
    int result = 0;
    EXPECT_EQ(show_printing(0, 0, path.c_str(), result), line(open_failed_line))
        << path;
    EXPECT_EQ(result, -1) << path;
    EXPECT_TRUE(screen.all_untouched()) << path;
  }
  FakeScreen screen;
  int result = -1;
  EXPECT_EQ(show_printing(0, 0, (folder + "/frame-link").c_str(), result),
            size_line(4, 4) + pixels_read_line(48));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(screen.at(0, 0), position_colour(0, 0));
  close(listener);
  for (const char *name :
       {"fifo", "socket", "fifo-link", "null-link", "socket-link", "dir-link",
        "dangling-link", "frame-link"})
    unlink((folder + "/" + name).c_str());
  rmdir(folder.c_str());
}

TEST(Show, NeverWritesWithoutAMappedScreen) {
  TempFile file(bmp_file(4, 4, position_colour));
  ASSERT_EQ(mmap_lcd, nullptr);
  EXPECT_EQ(show(0, 0, file.path()), -1);
}

TEST(Show, ThousandsOfCallsLeaveNoDescriptorOpen) {
  FakeScreen screen;
  TempFile good(bmp_file(16, 16, position_colour));
  TempFile bad_size(bmp_header(0, 0));
  TempFile truncated({'B', 'M', 0, 0});
  const int before = open_descriptor_count();
  ASSERT_GT(before, 0);
  printed_by([&] {
    const char *paths[] = {good.path(), bad_size.path(), truncated.path(),
                           "/nonexistent.bmp"};
    for (int i = 0; i < 5000; ++i)
      show(0, 0, paths[i % 4]);
  });
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST(InitLcd, MissingDeviceFailsWithoutAMapping) {
  if (access("/dev/fb0", F_OK) == 0)
    GTEST_SKIP() << "this machine has a framebuffer at /dev/fb0";
  EXPECT_EQ(printed_by([] { EXPECT_EQ(init_lcd(), -1); }),
            line(open_failed_line));
  EXPECT_EQ(fd_lcd, -1);
  EXPECT_EQ(mmap_lcd, nullptr);
}
