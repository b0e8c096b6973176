// Test frames whose every pixel tells which frame it belongs to, and the
// check that reads a screen back: `write` makes Frame0.bmp ... FrameN.bmp,
// `variant` one frame in a layout image programs write but the player does
// not read right, `identify` names the frame a screen image shows, pixel
// for pixel.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byte_formats.h"
#include "frame_pattern.h"

namespace {

using frame_pattern::frame_count;

int usage() {
  std::fputs("usage: frame-gen write DIR [COUNT [WIDTH HEIGHT]]\n"
             "       frame-gen variant "
             "classic|info108|info124|bits32|top-down|rle8 NUMBER FILE\n"
             "       frame-gen identify SCREEN.raw|SCREEN.ppm\n",
             stderr);
  return 2;
}
using frame_pattern::frame_pixel;
using frame_pattern::screen_height;
using frame_pattern::screen_width;

std::vector<unsigned char>
frame_bmp(int number, int width, int height,
          const byte_formats::BmpLayout &layout = {}) {
  return byte_formats::bmp_file(
      width, height,
      [number](int row, int col) { return frame_pixel(number, row, col); },
      layout);
}

bool write_file(const std::string &path,
                const std::vector<unsigned char> &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr ||
      std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0) {
    std::perror(path.c_str());
    return false;
  }
  return true;
}

int write_frames(const std::string &dir, int count, int width, int height) {
  for (int number = 0; number < count; ++number) {
    const std::string path = dir + "/Frame" + std::to_string(number) + ".bmp";
    if (!write_file(path, frame_bmp(number, width, height)))
      return 1;
  }
  return 0;
}

// Frame `number` at full size in the layout named `kind`.
int write_variant(const std::string &kind, int number,
                  const std::string &path) {
  byte_formats::BmpLayout layout;
  if (kind == "classic")
    ; // as write makes it, e.g. to cut short
  else if (kind == "info108" || kind == "info124")
    layout.info_header_bytes = kind == "info108" ? 108 : 124;
  else if (kind == "bits32")
    layout.bits_per_pixel = 32;
  else if (kind == "top-down")
    layout.top_down = true;
  else if (kind == "rle8")
    layout.compression = 1;
  else
    return usage();
  if (number < 0 || number >= frame_count)
    return usage();
  return write_file(path,
                    frame_bmp(number, screen_width, screen_height, layout))
             ? 0
             : 1;
}

bool read_file(const char *path, std::vector<unsigned char> &bytes) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr)
    return false;
  unsigned char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return true;
}

// Screen words (0x00RRGGBB) from a raw little-endian screen dump or a
// binary PPM (P6, 8 bits) of the same size.
bool screen_pixels(const std::vector<unsigned char> &bytes,
                   std::vector<std::uint32_t> &pixels) {
  const std::size_t count = std::size_t{screen_width} * screen_height;
  if (bytes.size() == count * 4) {
    pixels.resize(count);
    std::memcpy(pixels.data(), bytes.data(), bytes.size());
    for (auto &pixel : pixels)
      pixel &= 0x00FFFFFF;
    return true;
  }
  char header[64] = {};
  std::memcpy(header, bytes.data(), std::min<std::size_t>(bytes.size(), 63));
  int width = 0, height = 0, maxval = 0, used = 0;
  if (std::sscanf(header, "P6 %d %d %d%n", &width, &height, &maxval, &used) !=
          3 ||
      width != screen_width || height != screen_height || maxval != 255 ||
      bytes.size() != static_cast<std::size_t>(used) + 1 + count * 3)
    return false;
  const unsigned char *rgb = bytes.data() + used + 1;
  pixels.resize(count);
  for (std::size_t i = 0; i < count; ++i, rgb += 3)
    pixels[i] =
        std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
  return true;
}

// Prints the frame number shown, "blank" for an all-black screen, or
// "unknown"; exits 0 only for a frame.
int identify(const char *path) {
  std::vector<unsigned char> bytes;
  std::vector<std::uint32_t> pixels;
  if (!read_file(path, bytes) || !screen_pixels(bytes, pixels)) {
    std::fprintf(stderr, "frame-gen: %s is not an 800x480 screen image\n",
                 path);
    return 2;
  }
  const int shown = frame_pattern::identify_screen(pixels.data());
  if (shown >= 0) {
    std::printf("%d\n", shown);
    return 0;
  }
  std::puts(shown == frame_pattern::blank ? "blank" : "unknown");
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "write") == 0) {
    const int count = argc >= 4 ? std::atoi(argv[3]) : frame_count;
    const int width = argc >= 6 ? std::atoi(argv[4]) : screen_width;
    const int height = argc >= 6 ? std::atoi(argv[5]) : screen_height;
    if (count < 1 || width < 1 || height < 1 || width > 8192 || height > 8192)
      return usage();
    return write_frames(argv[2], count, width, height);
  }
  if (argc == 5 && std::strcmp(argv[1], "variant") == 0)
    return write_variant(argv[2], std::atoi(argv[3]), argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "identify") == 0)
    return identify(argv[2]);
  return usage();
}
