// Writes the fuzzers' starting corpus into DIR/frame and DIR/touch: valid
// frames of several sizes and paddings, cut-short and impossible ones, and
// touch streams with touches, releases and noise, delivered in several
// chunkings. Made at build time so that no binary blob lives in the tree.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <linux/input.h>
#include <string>
#include <vector>

#include "byte_formats.h"

namespace {

using byte_formats::Bytes;

// A distinct colour for every position.
std::uint32_t position_colour(int row, int col) {
  return static_cast<std::uint32_t>(row) << 12 |
         static_cast<std::uint32_t>(col);
}

Bytes frame(int width, int height) {
  return byte_formats::bmp_file(width, height, position_colour);
}

void write_seed(const std::filesystem::path &dir, const std::string &name,
                const Bytes &bytes) {
  std::ofstream file(dir / name, std::ios::binary);
  file.write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void write_frame_seeds(const std::filesystem::path &dir) {
  const struct {
    int width, height;
  } sizes[] = {{1, 1},   {2, 2},   {3, 1},   {4, 3},   {5, 2},
               {7, 5},   {13, 9},  {64, 48}, {800, 1}, {801, 2},
               {802, 1}, {803, 1}, {1, 481}, {2, 600}};
  for (const auto &s : sizes) {
    const std::string name =
        "valid-" + std::to_string(s.width) + "x" + std::to_string(s.height);
    write_seed(dir, name, frame(s.width, s.height));
  }
  const Bytes whole = frame(13, 9);
  for (std::size_t cut : {0u, 1u, 13u, 14u, 30u, 53u, 54u, 100u, 300u})
    write_seed(dir, "cut-" + std::to_string(cut),
               {whole.begin(), whole.begin() + cut});
  const struct {
    int width, height;
  } declared[] = {{0, 1},       {1, 0},       {-1, 1},
                  {1, -1},      {INT_MIN, 1}, {INT_MAX, INT_MAX},
                  {4000, 6000}, {1000, 1000}};
  for (const auto &d : declared) {
    write_seed(dir,
               "declared-" + std::to_string(d.width) + "x" +
                   std::to_string(d.height),
               byte_formats::bmp_header(d.width, d.height));
  }
}

// Touch streams in this machine's own record layout, as the reader reads.
Bytes records(std::initializer_list<byte_formats::InputRecord> list) {
  return byte_formats::input_records(sizeof(input_event), list);
}

Bytes touch_and_release() {
  return records({{EV_ABS, ABS_X, 1023},
                  {EV_ABS, ABS_Y, 599},
                  {EV_KEY, BTN_TOUCH, 1},
                  {EV_SYN, SYN_REPORT, 0},
                  {EV_ABS, ABS_X, 512},
                  {EV_SYN, SYN_REPORT, 0},
                  {EV_KEY, BTN_TOUCH, 0},
                  {EV_SYN, SYN_REPORT, 0}});
}

// What the reader ignores, then positions far off the panel, a touch, a
// value it ignores while touched, and the release.
Bytes noise() {
  Bytes s = records(byte_formats::ignored_records);
  const Bytes rest = records({{EV_ABS, ABS_X, INT_MIN},
                              {EV_ABS, ABS_Y, INT_MAX},
                              {EV_KEY, BTN_TOUCH, 1},
                              {EV_KEY, BTN_TOUCH, -1},
                              {EV_KEY, BTN_TOUCH, 0}});
  s.insert(s.end(), rest.begin(), rest.end());
  return s;
}

// Held when the device goes away, half a record still pending.
Bytes held_then_cut() {
  Bytes s = records(
      {{EV_ABS, ABS_X, 300}, {EV_KEY, BTN_TOUCH, 1}, {EV_KEY, BTN_TOUCH, 1}});
  const Bytes half(s.begin(), s.begin() + sizeof(input_event) / 2);
  s.insert(s.end(), half.begin(), half.end());
  return s;
}

void write_touch_seeds(const std::filesystem::path &dir) {
  const struct {
    const char *name;
    Bytes stream;
  } streams[] = {{"touch", touch_and_release()},
                 {"noise", noise()},
                 {"held", held_then_cut()},
                 {"empty", {}}};
  // Leading byte: count of chunk sizes; each size byte is one less.
  const struct {
    const char *name;
    Bytes prefix;
  } chunkings[] = {{"whole", {0}},
                   {"bytes", {1, 0}},
                   {"odd", {2, 2, 28}},
                   {"records", {1, sizeof(input_event) - 1}},
                   {"mixed", {3, 6, 12, 199}}};
  for (const auto &stream : streams)
    for (const auto &chunking : chunkings) {
      Bytes seed = chunking.prefix;
      seed.insert(seed.end(), stream.stream.begin(), stream.stream.end());
      write_seed(dir, std::string(stream.name) + "-" + chunking.name, seed);
    }
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "frame");
  std::filesystem::create_directories(root / "touch");
  write_frame_seeds(root / "frame");
  write_touch_seeds(root / "touch");
  return 0;
}
