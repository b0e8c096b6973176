// The two byte formats everything around the player writes: 24-bit BMP
// files (and the variants image programs write, for tests of how they are
// judged) and Linux input_event records in either kernel layout. Used by the
// tests, the fuzz seeds, the benchmark, the test frame writer, the emulated
// board and the guests' touchscreen; never by the player itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <linux/input.h>
#include <vector>

#include "show_bmp.h"

namespace byte_formats {

using Bytes = std::vector<unsigned char>;

// ---- little-endian fields

inline void put_le16(Bytes &bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<unsigned char>(value);
  bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}

inline void put_le32(Bytes &bytes, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b)
    bytes[at + b] = static_cast<unsigned char>(value >> (8 * b));
}

inline void put_le32(Bytes &bytes, std::size_t at, std::int32_t value) {
  put_le32(bytes, at, static_cast<std::uint32_t>(value));
}

// ---- BMP files

// The classic layout and the fields' places are the player's own
// (show_bmp.h): file_header_bytes, info_header_bytes, bmp_width_at...

// Colour 0x00RRGGBB of the image pixel at (row from the top, column).
using PixelFn = std::function<std::uint32_t(int row, int col)>;

// How a file departs from the classic layout the player reads: image
// programs write bigger info headers (108, 124 bytes), 32-bit pixels, top-
// down rows (negative height), compressed data, or leave a gap (a palette)
// before the pixels; and a file that is no BMP lacks the "BM" signature.
struct BmpLayout {
  std::uint32_t info_header_bytes = ::info_header_bytes;
  int bits_per_pixel = 24; // 24 or 32
  bool top_down = false;
  std::uint32_t compression = 0; // written into the header only
  std::uint32_t data_offset = 0; // 0: right after the headers; else later
  char signature[2] = {'B', 'M'};
};

// Bytes of one file row: 3 or 4 per pixel, padded to a multiple of four.
inline std::size_t bmp_row_bytes(int width, int bits_per_pixel = 24) {
  const std::size_t bytes =
      static_cast<std::size_t>(width) * (bits_per_pixel / 8);
  return (bytes + 3) & ~std::size_t{3};
}

// A complete BMP file of width x height pixels, rows bottom-up (unless
// top_down) and padded to 4 bytes, pixels stored blue, green, red (and a
// zero fourth byte at 32 bits).
inline Bytes bmp_file(int width, int height, const PixelFn &pixel,
                      const BmpLayout &layout = {}) {
  const std::size_t headers = file_header_bytes + layout.info_header_bytes;
  const std::size_t offset =
      layout.data_offset > headers ? layout.data_offset : headers;
  const std::size_t row_bytes = bmp_row_bytes(width, layout.bits_per_pixel);
  const std::size_t data_bytes = row_bytes * static_cast<std::size_t>(height);
  Bytes bytes(offset, 0);
  bytes[0] = static_cast<unsigned char>(layout.signature[0]);
  bytes[1] = static_cast<unsigned char>(layout.signature[1]);
  put_le32(bytes, 2, static_cast<std::uint32_t>(offset + data_bytes));
  put_le32(bytes, bmp_data_offset_at, static_cast<std::uint32_t>(offset));
  put_le32(bytes, bmp_info_size_at, layout.info_header_bytes);
  put_le32(bytes, bmp_width_at, width);
  put_le32(bytes, bmp_height_at, layout.top_down ? -height : height);
  put_le16(bytes, 26, 1); // colour planes
  put_le16(bytes, bmp_bit_count_at,
           static_cast<std::uint16_t>(layout.bits_per_pixel));
  put_le32(bytes, bmp_compression_at, layout.compression);
  put_le32(bytes, bmp_image_size_at, static_cast<std::uint32_t>(data_bytes));
  bytes.reserve(offset + data_bytes);
  const std::size_t pixel_bytes =
      static_cast<std::size_t>(layout.bits_per_pixel / 8);
  for (int r = 0; r < height; ++r) {
    const int row = layout.top_down ? r : height - 1 - r;
    const std::size_t row_start = bytes.size();
    for (int col = 0; col < width; ++col) {
      const std::uint32_t rgb = pixel(row, col);
      for (std::size_t b = 0; b < pixel_bytes; ++b)
        bytes.push_back(b < 3 ? static_cast<unsigned char>(rgb >> (8 * b)) : 0);
    }
    bytes.resize(row_start + row_bytes, 0);
  }
  return bytes;
}

// Only the 54 bytes of a classic header that declares width x height, as a
// file cut short (or lying about its size) would begin.
inline Bytes bmp_header(int width, int height) {
  Bytes bytes = bmp_file(1, 1, [](int, int) { return 0u; });
  bytes.resize(pixel_data_offset);
  put_le32(bytes, bmp_width_at, width);
  put_le32(bytes, bmp_height_at, height);
  return bytes;
}

// ---- input_event records

// The kernel's record is the time stamp (two longs: 8 bytes on 32-bit
// kernels, 16 on 64-bit ones), then type, code and value: 16 or 24 bytes.
constexpr std::size_t input_record_tail_bytes = 8;

// Appends one record of `record_size` bytes with a zero time stamp.
inline void append_input_record(Bytes &bytes, std::size_t record_size,
                                std::uint16_t type, std::uint16_t code,
                                std::int32_t value) {
  const std::size_t at = bytes.size() + record_size - input_record_tail_bytes;
  bytes.resize(bytes.size() + record_size, 0);
  std::memcpy(&bytes[at], &type, 2);
  std::memcpy(&bytes[at + 2], &code, 2);
  std::memcpy(&bytes[at + 4], &value, 4);
}

struct InputRecord {
  std::uint16_t type;
  std::uint16_t code;
  std::int32_t value;
};

// Records of `record_size` bytes one after the other, as a driver delivers
// a report.
inline Bytes input_records(std::size_t record_size,
                           std::initializer_list<InputRecord> records) {
  Bytes bytes;
  for (const InputRecord &record : records)
    append_input_record(bytes, record_size, record.type, record.code,
                        record.value);
  return bytes;
}

// One record of each kind the player's touch reader ignores: BTN_TOUCH
// values other than 1 and 0, other keys, pressure, multi-touch positions,
// a report's end, relative motion, scan codes, any other key or axis, and
// any other type.
constexpr std::initializer_list<InputRecord> ignored_records = {
    {EV_KEY, BTN_TOUCH, 2},      {EV_KEY, BTN_TOUCH, -1},
    {EV_KEY, BTN_LEFT, 1},       {EV_KEY, BTN_LEFT, 0},
    {EV_ABS, ABS_PRESSURE, 200}, {EV_ABS, ABS_MT_POSITION_X, 5},
    {EV_SYN, SYN_REPORT, 0},     {EV_REL, REL_X, 7},
    {EV_MSC, MSC_SCAN, 330},     {EV_KEY, KEY_A, 1},
    {EV_ABS, ABS_RX, 9},         {EV_FF, 0, 1}};

} // namespace byte_formats
