// Frames judged from their headers and sizes, as the player reads them:
// every variant is written byte for byte here.
#include <gtest/gtest.h>

#include "byte_formats.h"
#include "check_frames.h"

using namespace frame_check;

using byte_formats::BmpLayout;
using byte_formats::Bytes;

namespace {

Bytes frame(int width, int height, const BmpLayout &layout = {}) {
  return byte_formats::bmp_file(
      width, height, [](int, int) { return 0x00336699u; }, layout);
}

BmpLayout layout_with(void (*change)(BmpLayout &)) {
  BmpLayout layout;
  change(layout);
  return layout;
}

Bytes cut_to(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

// The file is made only when its case runs: every test process lists all
// cases, and making twenty frames each time would be slow.
struct HeaderCase {
  const char *what;
  Bytes (*bytes)();
  Level level;
  std::vector<std::string> reasons;
};

std::ostream &operator<<(std::ostream &out, const HeaderCase &c) {
  return out << c.what;
}

const std::string refused = refused_by_player();

// A whole 800 × 480 frame in the classic layout but for `change`: the
// player misreads every one of them.
struct LayoutCase {
  const char *what;
  void (*change)(BmpLayout &);
  std::vector<std::string> reasons; // each one a FAIL
};

std::ostream &operator<<(std::ostream &out, const LayoutCase &c) {
  return out << c.what;
}

std::vector<LayoutCase> layout_cases() {
  return {
      {"124-byte info header",
       [](BmpLayout &l) { l.info_header_bytes = 124; },
       {"124-byte info header (the picture will be shifted by 84 bytes)"}},
      {"108-byte info header",
       [](BmpLayout &l) { l.info_header_bytes = 108; },
       {"108-byte info header (the picture will be shifted by 68 bytes)"}},
      {"a palette before the pixels",
       [](BmpLayout &l) { l.data_offset = 1078; },
       {"pixels at byte 1078, not 54 (the picture will be shifted by 1024 "
        "bytes)"}},
      {"32-bit pixels",
       [](BmpLayout &l) { l.bits_per_pixel = 32; },
       {"32 bits per pixel (the picture will be garbled)"}},
      {"32-bit bit fields with a 124-byte header, as image programs write",
       [](BmpLayout &l) {
         l.info_header_bytes = 124;
         l.bits_per_pixel = 32;
         l.compression = 3;
       },
       {"124-byte info header (the picture will be shifted by 84 bytes)",
        "32 bits per pixel (the picture will be garbled)"}},
      {"8 bits with a palette",
       [](BmpLayout &l) {
         l.bits_per_pixel = 8;
         l.data_offset = 1078;
       },
       {"pixels at byte 1078, not 54 (the picture will be shifted by 1024 "
        "bytes)",
        "8 bits per pixel (the picture will be garbled)"}},
      {"RLE8",
       [](BmpLayout &l) { l.compression = 1; },
       {"compressed with RLE8 (the picture will be garbled)"}},
      {"a PNG file",
       [](BmpLayout &l) {
         l.signature[0] = '\x89';
         l.signature[1] = 'P';
       },
       {"not a BMP file but a PNG"}},
      {"no signature",
       [](BmpLayout &l) { l.signature[0] = 'X'; },
       {"not a BMP file (no \"BM\" at its start)"}},
      {"top-down rows",
       [](BmpLayout &l) { l.top_down = true; },
       {"rows stored top-down, height -480" + refused}},
  };
}

std::vector<HeaderCase> header_cases() {
  return {
      {"the classic layout", [] { return frame(800, 480); }, Level::ok, {}},
      {"more bytes than the pixels need",
       [] { return cut_to(frame(800, 480), 1152100); },
       Level::ok,
       {}},
      {"zero width",
       [] { return byte_formats::bmp_header(0, 480); },
       Level::fail,
       {"width 0, height 480" + refused}},
      {"negative width",
       [] { return byte_formats::bmp_header(-800, 480); },
       Level::fail,
       {"width -800, height 480" + refused}},
      {"absurd size",
       [] { return byte_formats::bmp_header(8000, 8000); },
       Level::fail,
       {std::string("8000 × 8000 pixels, 192,000,000 bytes, more than 64 "
                    "MiB") +
        refused}},
      {"narrower and shorter",
       [] { return frame(640, 360); },
       Level::warn,
       {"640 × 360 pixels (the rest of the screen keeps the previous "
        "frame)"}},
      {"larger",
       [] { return frame(1024, 600); },
       Level::warn,
       {"1024 × 600 pixels (only the top-left 800 × 480 shows)"}},
      {"wider but shorter",
       [] { return frame(1024, 400); },
       Level::warn,
       {"1024 × 400 pixels (only the top-left 800 × 400 shows; the rest of "
        "the screen keeps the previous frame)"}},
      // Ten whole rows and two bytes of the next: the bottom of the picture.
      {"cut short in the pixels",
       [] { return cut_to(frame(800, 480), 54 + 10 * 2400 + 2); },
       Level::fail,
       {"cut short: 24,002 of its 1,152,000 bytes of pixels (the top 470 "
        "rows will be black)"}},
      {"one byte of the top row missing",
       [] { return cut_to(frame(800, 480), 1152053); },
       Level::fail,
       {"cut short: 1,151,999 of its 1,152,000 bytes of pixels (the top 1 "
        "row will be black)"}},
      // 801 pixels a row carry one padding byte, and the 801st never shows.
      {"only the last padding byte missing",
       [] { return cut_to(frame(801, 480), 1153973); },
       Level::warn,
       {"801 × 480 pixels (only the top-left 800 × 480 shows)",
        "cut short: 1,153,919 of its 1,153,920 bytes of pixels (what is "
        "missing never shows)"}},
      {"a taller frame cut in half",
       [] { return cut_to(frame(800, 960), 54 + 480 * 2400); },
       Level::fail,
       {"800 × 960 pixels (only the top-left 800 × 480 shows)",
        "cut short: 1,152,000 of its 2,304,000 bytes of pixels (the top 480 "
        "rows will be black)"}},
      {"headers cut short",
       [] { return cut_to(frame(800, 480), 30); },
       Level::fail,
       {"only 30 bytes: its headers are cut short (the player prints \"read "
        "failed !\")"}},
  };
}

} // namespace

namespace {

void expect_judged(const Bytes &bytes, Level level,
                   const std::vector<std::string> &wanted) {
  const FrameVerdict verdict =
      judge_frame_header(bytes.data(), std::min<std::size_t>(bytes.size(), 54),
                         static_cast<long long>(bytes.size()));
  std::vector<std::string> reasons;
  for (const auto &reason : verdict.reasons)
    reasons.push_back(reason.text);
  EXPECT_EQ(reasons, wanted);
  EXPECT_EQ(verdict.level(), level);
}

} // namespace

class FrameHeaders : public testing::TestWithParam<HeaderCase> {};

TEST_P(FrameHeaders, AreJudgedAsThePlayerReadsThem) {
  expect_judged(GetParam().bytes(), GetParam().level, GetParam().reasons);
}

INSTANTIATE_TEST_SUITE_P(Variants, FrameHeaders,
                         testing::ValuesIn(header_cases()));

class FrameLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(FrameLayouts, AreJudgedAsThePlayerReadsThem) {
  expect_judged(frame(800, 480, layout_with(GetParam().change)), Level::fail,
                GetParam().reasons);
}

INSTANTIATE_TEST_SUITE_P(Variants, FrameLayouts,
                         testing::ValuesIn(layout_cases()));

TEST(FrameLine, NamesTheFileJoinsItsReasonsAndPicksTheFix) {
  const Bytes bytes = frame(640, 480, layout_with([](BmpLayout &l) {
                              l.info_header_bytes = 124;
                              l.bits_per_pixel = 32;
                            }));
  const auto verdict = judge_frame_header(bytes.data(), 54,
                                          static_cast<long long>(bytes.size()));
  const Finding line = frame_finding("Frame9.bmp", verdict);
  EXPECT_EQ(format_finding(line),
            "FAIL frames: Frame9.bmp: 124-byte info header (the picture will "
            "be shifted by 84 bytes), 32 bits per pixel (the picture will be "
            "garbled), 640 × 480 pixels (the rest of the screen keeps the "
            "previous frame); fix: save it as a 24-bit BMP with a 40-byte "
            "info header and rows bottom-up (tools/make-frames writes such "
            "frames)");

  const Bytes small = frame(640, 480);
  const Finding warned = frame_finding(
      "Frame1.bmp", judge_frame_header(small.data(), 54,
                                       static_cast<long long>(small.size())));
  EXPECT_EQ(warned.level, Level::warn);
  EXPECT_EQ(warned.fix, "scale it to 800 × 480 (tools/make-frames does)");
}

TEST(FrameNames, OtherSpellingsOfAFrameNameAreRecognised) {
  EXPECT_EQ(frame_name(0), "Frame0.bmp");
  EXPECT_EQ(frame_name(81), "Frame81.bmp");
  const std::pair<const char *, int> names[] = {
      {"Frame7.bmp", 7},           {"frame7.bmp", 7},    {"FRAME07.BMP", 7},
      {"frame_081.bmp", 81},       {"Frame-3.Bmp", 3},   {"Frame82.bmp", -1},
      {"Frame.bmp", -1},           {"Frame7.png", -1},   {"Frame7a.bmp", -1},
      {"Frame0000000001.bmp", -1}, {"picture7.bmp", -1}, {"", -1}};
  for (const auto &[name, number] : names)
    EXPECT_EQ(frame_number_of(name), number) << name;
}
