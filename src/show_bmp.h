// Display: the LCD framebuffer and the BMP frames drawn onto it.
#pragma once

#include <cstddef>
#include <cstdint>

// The screen device, mapped as lcd_width x lcd_height pixel words of
// 0x00RRGGBB, rows one after another.
constexpr char lcd_device[] = "/dev/fb0";
constexpr int lcd_width = 800;
constexpr int lcd_height = 480;
constexpr int lcd_bytes_per_pixel = 4;
constexpr int lcd_red_shift = 16;
constexpr int lcd_green_shift = 8;
constexpr int lcd_blue_shift = 0;
constexpr std::size_t lcd_bytes =
    std::size_t{lcd_width} * lcd_height * lcd_bytes_per_pixel;

// A frame file as the player reads it: a file header, an info header of
// the classic size holding the width and height, and the pixel rows
// right after the two.
constexpr std::size_t file_header_bytes = 14;
constexpr std::size_t info_header_bytes = 40;
constexpr std::size_t pixel_data_offset = file_header_bytes + info_header_bytes;
// The header fields by their place in the file, all little-endian. The
// player reads only the width and height (signed 32 bits); the others must
// hold what it assumes (the board check judges them).
constexpr std::size_t bmp_data_offset_at = 10; // 32 bits: pixel rows
constexpr std::size_t bmp_info_size_at = 14;   // 32 bits: info header size
constexpr std::size_t bmp_width_at = 18;       // signed 32 bits
constexpr std::size_t bmp_height_at = 22;      // signed 32 bits
constexpr std::size_t bmp_bit_count_at = 28;   // 16 bits
constexpr std::size_t bmp_compression_at = 30; // 32 bits
constexpr std::size_t bmp_image_size_at = 34;  // 32 bits
constexpr std::size_t info_width_at = bmp_width_at - file_header_bytes;
constexpr std::size_t info_height_at = bmp_height_at - file_header_bytes;

// Largest pixel data a frame may declare; anything bigger is refused.
constexpr std::int64_t max_pixel_data_bytes = std::int64_t{64} << 20;

// The display's console lines (standard output unless said otherwise).
// A frame's width and height, before its pixels are read.
constexpr char size_line_format[] = "图像宽度：%d , 高度：%d \n";
// The bytes of pixel data read.
constexpr char pixels_read_format[] = "ret = %d\n";
// The screen device or a frame file cannot be opened, or is not a file.
constexpr char open_failed_line[] = "open failed !";
// A frame's headers or pixel data cannot be read.
constexpr char read_failed_line[] = "read failed !";
// A frame declares a size that cannot be drawn.
constexpr char bad_size_line[] = "bad size !";
// On standard error, with the system's reason: the screen cannot be mapped.
constexpr char map_error_text[] = "mmap";

extern int fd_lcd;              // -1 until init_lcd opens the device
extern std::uint32_t *mmap_lcd; // null unless the screen is mapped

int init_lcd();
int show(int x, int y, const char *path);
void Exit_lcd();

// Frames come from a disk nobody checked: only a regular file, or a link
// to one, is read. Opening a FIFO would block for ever, and opening a
// device can act on it (a watchdog arms when opened).
bool is_regular_file(const char *path);
// Opens a frame file for reading; -1 (and no descriptor) for anything but
// a regular file.
int open_frame_file(const char *path);

// Padding bytes that round a file row of `width` pixels up to 4 bytes.
int row_padding(int width);
// Bytes of pixel data for a width x height frame, in 64 bits; saturates at
// INT64_MAX where the product would not fit.
std::int64_t pixel_data_size(int width, int height);
// Blue, green, red bytes to the screen word 0x00RRGGBB.
inline std::uint32_t bgr_to_pixel(const unsigned char *bgr) {
  return std::uint32_t{bgr[0]} << lcd_blue_shift |
         std::uint32_t{bgr[1]} << lcd_green_shift |
         std::uint32_t{bgr[2]} << lcd_red_shift;
}

// Converts `count` packed blue, green, red pixels into screen words.
using RowConverter = void (*)(const unsigned char *src, std::uint32_t *dst,
                              int count);

// Processor features that a row converter may need, as bits.
constexpr unsigned cpu_has_ssse3 = 1u << 0;
constexpr unsigned cpu_has_neon = 1u << 1;

struct RowConverterEntry {
  const char *name;
  unsigned needs; // cpu_has_* bits the processor must have
  RowConverter convert;
};

// The converters built into this program, fastest first; the last one,
// a word at a time, needs nothing and produces the reference result.
extern const RowConverterEntry row_converters[];
extern const int row_converter_count;

// Features of the processor the program runs on.
unsigned cpu_features();
// The first converter in the table that `features` can run.
const RowConverterEntry &choose_row_converter(unsigned features);
// The converter that drawing uses: null until the first frame is drawn,
// then choose_row_converter(cpu_features()).
extern RowConverter row_converter_in_use;
