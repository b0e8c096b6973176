#include "show_bmp.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#endif

int fd_lcd = -1;
std::uint32_t *mmap_lcd = nullptr;

namespace {

constexpr std::size_t page_bytes = 4096;

struct FreeBytes {
  void operator()(unsigned char *bytes) const { std::free(bytes); }
};
using PageMatchedBuffer = std::unique_ptr<unsigned char, FreeBytes>;

// A buffer whose byte pixel_data_offset starts at the same place within a
// page as the pixel data do in the file, so that the kernel copies page to
// page at equal alignment. Some x86 cores copy several times slower when
// the destination lies a few bytes past the source within a page, which
// an arbitrary heap address hits often enough (see bench/).
PageMatchedBuffer allocate_page_matched(std::size_t pixel_bytes) {
  void *block = nullptr;
  if (posix_memalign(&block, page_bytes, pixel_data_offset + pixel_bytes) != 0)
    return nullptr;
  return PageMatchedBuffer(static_cast<unsigned char *>(block));
}

// A header read may legitimately come back in pieces; only a whole one counts.
bool read_full(int fd, unsigned char *buffer, std::size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, buffer, size);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    buffer += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

std::int32_t little_endian_i32(const unsigned char *bytes) {
  const std::uint32_t value =
      std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
      std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
  return static_cast<std::int32_t>(value);
}

std::uint32_t load_u32(const unsigned char *bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// Converts `count` packed BGR pixels into screen words. Four pixels are
// twelve bytes, i.e. three aligned-size loads: on the slow boards this
// halves the loads compared with one byte at a time.
void convert_row_by_words(const unsigned char *src, std::uint32_t *dst,
                          int count) {
  int k = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; k + 4 <= count; k += 4, src += 12) {
    const std::uint32_t a = load_u32(src);
    const std::uint32_t b = load_u32(src + 4);
    const std::uint32_t c = load_u32(src + 8);
    dst[k] = a & 0x00FFFFFFu;
    dst[k + 1] = a >> 24 | (b & 0x0000FFFFu) << 8;
    dst[k + 2] = b >> 16 | (c & 0x000000FFu) << 16;
    dst[k + 3] = c >> 8;
  }
#endif
  for (; k < count; ++k, src += 3)
    dst[k] = bgr_to_pixel(src);
}

using RowConverter = void (*)(const unsigned char *src, std::uint32_t *dst,
                              int count);

#if defined(__GNUC__) && defined(__x86_64__)
// The x86-64 baseline has no byte shuffle, but nearly every such processor
// does; with it, one shuffle turns four pixels into four screen words and
// converting costs about as much as copying.
__attribute__((target("ssse3"))) void
convert_row_by_shuffles(const unsigned char *src, std::uint32_t *dst,
                        int count) {
  const __m128i bgr_to_words =
      _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int k = 0;
  // Eight pixels a step. Each load takes 16 bytes for the 12 it uses:
  // stop while the last load still ends inside the row.
  for (; k + 10 <= count; k += 8, src += 24) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
    const __m128i high =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k),
                     _mm_shuffle_epi8(low, bgr_to_words));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k + 4),
                     _mm_shuffle_epi8(high, bgr_to_words));
  }
  convert_row_by_words(src, dst + k, count - k);
}
#endif

// Chosen at run time rather than by the loader (ifunc), whose early
// resolver call the thread sanitizer does not survive.
RowConverter row_converter() {
#if defined(__GNUC__) && defined(__x86_64__)
  if (__builtin_cpu_supports("ssse3"))
    return convert_row_by_shuffles;
#endif
  return convert_row_by_words;
}

// Bytes of one file row: three per pixel, padded to a multiple of four.
std::int64_t file_row_bytes(int width) {
  return std::int64_t{3} * width + row_padding(width);
}

// Converts and draws in one pass, straight from the bottom-up file rows to
// the top-down screen rows. Only positions that lie both inside the image
// and on the screen are written; everything else keeps its old value.
void draw(const unsigned char *data, int width, int height, int x, int y) {
  const std::int64_t col_begin = std::max<std::int64_t>(0, -std::int64_t{x});
  const std::int64_t col_end =
      std::min<std::int64_t>({width, lcd_width, std::int64_t{lcd_width} - x});
  const std::int64_t row_begin = std::max<std::int64_t>(0, -std::int64_t{y});
  const std::int64_t row_end = std::min<std::int64_t>(
      {height, lcd_height, std::int64_t{lcd_height} - y});
  if (col_begin >= col_end || row_begin >= row_end)
    return;
  const std::int64_t stride = file_row_bytes(width);
  const int count = static_cast<int>(col_end - col_begin);
  const RowConverter convert_row = row_converter();
  for (std::int64_t i = row_begin; i < row_end; ++i) {
    const unsigned char *src = data + (height - 1 - i) * stride + 3 * col_begin;
    std::uint32_t *dst = mmap_lcd + (y + i) * lcd_width + x + col_begin;
    convert_row(src, dst, count);
  }
}

// Everything after a successful open; the caller closes the file.
int show_open_file(int fd, int x, int y) {
  unsigned char file_header[file_header_bytes];
  unsigned char info_header[info_header_bytes];
  if (!read_full(fd, file_header, sizeof file_header) ||
      !read_full(fd, info_header, sizeof info_header)) {
    std::puts("read failed !");
    return -1;
  }
  const int width = little_endian_i32(info_header + info_width_at);
  const int height = little_endian_i32(info_header + info_height_at);
  std::printf("图像宽度：%d , 高度：%d \n", width, height);

  const std::int64_t size = pixel_data_size(width, height);
  PageMatchedBuffer buffer;
  if (width > 0 && height > 0 && size <= max_pixel_data_bytes)
    buffer = allocate_page_matched(static_cast<std::size_t>(size));
  if (!buffer) {
    std::puts("bad size !");
    return -1;
  }

  unsigned char *const data = buffer.get() + pixel_data_offset;
  const ssize_t got = read(fd, data, static_cast<std::size_t>(size));
  if (got == -1) {
    std::puts("read failed !");
    return -1;
  }
  std::printf("ret = %d\n", static_cast<int>(got));
  // A file cut short draws black where its rows are missing.
  std::memset(data + got, 0, static_cast<std::size_t>(size - got));
  draw(data, width, height, x, y);
  return 0;
}

} // namespace

int row_padding(int width) {
  const std::int64_t row_bytes = std::int64_t{3} * width;
  return static_cast<int>((4 - row_bytes % 4) % 4);
}

std::int64_t pixel_data_size(int width, int height) {
  const std::int64_t row_bytes = file_row_bytes(width);
  // Headers are untrusted: saturate rather than overflow for absurd sizes,
  // whatever their signs (two negatives multiply to a positive).
  const std::int64_t row_magnitude = row_bytes < 0 ? -row_bytes : row_bytes;
  if (height != 0 &&
      row_magnitude > INT64_MAX / (height < 0 ? -std::int64_t{height} : height))
    return INT64_MAX;
  return row_bytes * height;
}

int init_lcd() {
  fd_lcd = open(lcd_device, O_RDWR);
  if (fd_lcd == -1) {
    std::puts("open failed !");
    return -1;
  }
  void *screen = mmap(nullptr, lcd_bytes, PROT_WRITE, MAP_SHARED, fd_lcd, 0);
  if (screen == MAP_FAILED) {
    std::perror("mmap");
    return -1;
  }
  mmap_lcd = static_cast<std::uint32_t *>(screen);
  return 0;
}

int show(int x, int y, const char *path) {
  if (mmap_lcd == nullptr)
    return -1; // init_lcd has already said why
  const int fd = open(path, O_RDONLY);
  if (fd == -1) {
    std::puts("open failed !");
    return -1;
  }
  const int result = show_open_file(fd, x, y);
  close(fd);
  return result;
}

void Exit_lcd() {
  if (mmap_lcd != nullptr)
    munmap(mmap_lcd, lcd_bytes);
  if (fd_lcd != -1)
    close(fd_lcd);
  mmap_lcd = nullptr;
  fd_lcd = -1;
}
