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
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#define FRAME_PLAYER_SSSE3 1
#endif
// Advanced SIMD is part of 64-bit ARM. On 32-bit ARM the baseline lacks
// it, so only the converter is built for it and used where the processor
// says it has it; soft-float builds and cores before ARMv7 have none.
#if defined(__GNUC__) && defined(__aarch64__)
#define FRAME_PLAYER_NEON_TARGET
#elif defined(__GNUC__) && defined(__arm__) && __ARM_ARCH >= 7 &&              \
    !defined(__SOFTFP__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#define FRAME_PLAYER_NEON_TARGET __attribute__((target("fpu=neon")))
#endif

int fd_lcd = -1;
std::uint32_t *mmap_lcd = nullptr;
RowConverter row_converter_in_use = nullptr;

namespace {

constexpr std::size_t page_bytes = 4096;

struct FreeBytes {
  void operator()(unsigned char *bytes) const { std::free(bytes); }
};
using PageMatchedBuffer = std::unique_ptr<unsigned char, FreeBytes>;

// A buffer whose byte pixel_data_offset sits where the pixel data sit
// within a page of the file: some cores copy a page much slower off by a
// few bytes (bench/README.md).
PageMatchedBuffer allocate_page_matched(std::size_t pixel_bytes) {
  void *block = nullptr;
  if (posix_memalign(&block, page_bytes, pixel_data_offset + pixel_bytes) != 0)
    return nullptr;
  return PageMatchedBuffer(static_cast<unsigned char *>(block));
}

// The last frame's pixel buffer, kept for a next frame of exactly its size:
// a 32-bit C library hands big blocks back to the kernel, and faulting them
// in again costs more than the conversion (bench/README.md). A plain
// pointer, so that no static constructor or destructor comes with it.
constexpr std::size_t max_kept_pixel_bytes = std::size_t{4} << 20;
unsigned char *kept_block = nullptr;
std::size_t kept_pixel_bytes = 0;

void free_kept_block() {
  std::free(kept_block);
  kept_block = nullptr;
}

PageMatchedBuffer take_pixel_buffer(std::size_t pixel_bytes) {
  if (kept_block != nullptr && kept_pixel_bytes == pixel_bytes) {
    PageMatchedBuffer reused(kept_block);
    kept_block = nullptr;
    return reused;
  }
  free_kept_block(); // before allocating: at most one buffer at a time
  return allocate_page_matched(pixel_bytes);
}

void keep_pixel_buffer(PageMatchedBuffer buffer, std::size_t pixel_bytes) {
  if (pixel_bytes > max_kept_pixel_bytes)
    return;
  free_kept_block();
  kept_block = buffer.release();
  kept_pixel_bytes = pixel_bytes;
}

// Reads until `size` bytes, the end of the file or an error (-1): a disk
// pulled out mid-read gives part of the data before the error, which must
// not pass for a file cut short.
ssize_t read_up_to(int fd, unsigned char *buffer, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const ssize_t got = read(fd, buffer + total, size - total);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    total += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(total);
}

// Only a whole header counts.
bool read_full(int fd, unsigned char *buffer, std::size_t size) {
  return read_up_to(fd, buffer, size) == static_cast<ssize_t>(size);
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

// Converts `count` packed BGR pixels into screen words, four pixels from
// three word loads: fewer loads than byte by byte (bench/README.md).
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

#ifdef FRAME_PLAYER_SSSE3
// The x86-64 baseline has no byte shuffle, but nearly every such processor
// does: one shuffle turns four pixels into four screen words.
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

#ifdef FRAME_PLAYER_NEON_TARGET
// Converts `steps` times 16 pixels: a de-interleaving load and an
// interleaving store with a zero fourth byte. In assembly because the
// compiler's intrinsics add register copies (bench/README.md).
FRAME_PLAYER_NEON_TARGET void
convert_steps_of_16(const unsigned char *src, std::uint32_t *dst, int steps) {
#ifdef __aarch64__
  asm volatile("movi v3.16b, #0\n"
               "1: ld3 {v0.16b-v2.16b}, [%[src]], #48\n"
               "subs %w[steps], %w[steps], #1\n"
               "st4 {v0.16b-v3.16b}, [%[dst]], #64\n"
               "b.ne 1b"
               : [src] "+r"(src), [dst] "+r"(dst), [steps] "+r"(steps)
               :
               : "v0", "v1", "v2", "v3", "memory", "cc");
#else
  // Eight pixels per instruction: the first load fills the low halves
  // (d0, d2, d4) of q0-q2, the second their high halves; q3 is zero.
  asm volatile("vmov.i8 q3, #0\n"
               "1: vld3.8 {d0, d2, d4}, [%[src]]!\n"
               "vld3.8 {d1, d3, d5}, [%[src]]!\n"
               "subs %[steps], %[steps], #1\n"
               "vst4.8 {d0, d2, d4, d6}, [%[dst]]!\n"
               "vst4.8 {d1, d3, d5, d7}, [%[dst]]!\n"
               "bne 1b"
               : [src] "+r"(src), [dst] "+r"(dst), [steps] "+r"(steps)
               :
               : "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "memory",
                 "cc");
#endif
}

FRAME_PLAYER_NEON_TARGET void
convert_row_by_neon(const unsigned char *src, std::uint32_t *dst, int count) {
  const int steps = count / 16;
  if (steps > 0)
    convert_steps_of_16(src, dst, steps);
  convert_row_by_words(src + 48 * steps, dst + 16 * steps, count - 16 * steps);
}
#endif

// Chosen once, on the first frame, rather than by the loader (ifunc), whose
// early resolver call the thread sanitizer does not survive.
RowConverter row_converter() {
  if (row_converter_in_use == nullptr)
    row_converter_in_use = choose_row_converter(cpu_features()).convert;
  return row_converter_in_use;
}

// Bytes of one file row: three per pixel, padded to a multiple of four.
std::int64_t file_row_bytes(int width) {
  return std::int64_t{3} * width + row_padding(width);
}

// A row whose file bytes run past the `held` bytes of the buffer, from
// `offset` on: the pixels held are converted, a last pixel cut short gets
// zero for its missing bytes, and the rest is black, as in a file cut
// short. Nothing beyond the buffer is read.
void convert_part_held_row(RowConverter convert_row, const unsigned char *data,
                           std::int64_t held, std::int64_t offset,
                           std::uint32_t *dst, int count) {
  const std::int64_t bytes = std::max<std::int64_t>(0, held - offset);
  const int whole = static_cast<int>(std::min<std::int64_t>(bytes / 3, count));
  int k = whole;
  if (whole > 0)
    convert_row(data + offset, dst, whole);
  if (k < count && bytes > 3 * k) {
    unsigned char last[3] = {};
    std::memcpy(last, data + offset + 3 * k,
                static_cast<std::size_t>(bytes - 3 * k));
    dst[k++] = bgr_to_pixel(last);
  }
  std::memset(dst + k, 0, sizeof *dst * static_cast<std::size_t>(count - k));
}

// Converts and draws in one pass, straight from the bottom-up file rows to
// the top-down screen rows. Only positions that lie both inside the image
// and on the screen are written; everything else keeps its old value.
// `data` holds the first `held` bytes of the pixel data; the image's
// pixels beyond them are black.
void draw(const unsigned char *data, std::int64_t held, int width, int height,
          int x, int y) {
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
    const std::int64_t offset = (height - 1 - i) * stride + 3 * col_begin;
    std::uint32_t *dst = mmap_lcd + (y + i) * lcd_width + x + col_begin;
    if (offset + 3 * std::int64_t{count} <= held)
      convert_row(data + offset, dst, count);
    else
      convert_part_held_row(convert_row, data, held, offset, dst, count);
  }
}

// Pixel bytes the file can still deliver after the headers: a short file
// that declares a huge frame costs only what it holds. Where fstat knows
// no size (a proc file), `declared` as before.
std::int64_t deliverable_bytes(int fd, std::int64_t declared) {
  struct stat info;
  if (fstat(fd, &info) != 0 || info.st_size <= 0)
    return declared;
  return std::max<std::int64_t>(0, std::int64_t{info.st_size} -
                                       std::int64_t{pixel_data_offset});
}

// Everything after a successful open; the caller closes the file.
int show_open_file(int fd, int x, int y) {
  unsigned char file_header[file_header_bytes];
  unsigned char info_header[info_header_bytes];
  if (!read_full(fd, file_header, sizeof file_header) ||
      !read_full(fd, info_header, sizeof info_header)) {
    std::puts(read_failed_line);
    return -1;
  }
  const int width = little_endian_i32(info_header + info_width_at);
  const int height = little_endian_i32(info_header + info_height_at);
  std::printf(size_line_format, width, height);

  const std::int64_t size = pixel_data_size(width, height);
  PageMatchedBuffer buffer;
  std::int64_t held = 0;
  if (width > 0 && height > 0 && size <= max_pixel_data_bytes) {
    held = std::min(size, deliverable_bytes(fd, size));
    buffer = take_pixel_buffer(static_cast<std::size_t>(held));
  }
  if (!buffer) {
    std::puts(bad_size_line);
    return -1;
  }

  unsigned char *const data = buffer.get() + pixel_data_offset;
  const ssize_t got = read_up_to(fd, data, static_cast<std::size_t>(held));
  if (got == -1) {
    std::puts(read_failed_line);
    return -1;
  }
  std::printf(pixels_read_format, static_cast<int>(got));
  // A file cut short, even after fstat, draws black where rows are missing.
  std::memset(data + got, 0, static_cast<std::size_t>(held - got));
  draw(data, held, width, height, x, y);
  keep_pixel_buffer(std::move(buffer), static_cast<std::size_t>(held));
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

const RowConverterEntry row_converters[] = {
#ifdef FRAME_PLAYER_SSSE3
    {"ssse3", cpu_has_ssse3, convert_row_by_shuffles},
#endif
#ifdef FRAME_PLAYER_NEON_TARGET
    {"neon", cpu_has_neon, convert_row_by_neon},
#endif
    {"words", 0, convert_row_by_words},
};
const int row_converter_count =
    static_cast<int>(sizeof row_converters / sizeof row_converters[0]);

unsigned cpu_features() {
  unsigned features = 0;
#ifdef FRAME_PLAYER_SSSE3
  if (__builtin_cpu_supports("ssse3"))
    features |= cpu_has_ssse3;
#endif
#if defined(FRAME_PLAYER_NEON_TARGET) && defined(__aarch64__)
  features |= cpu_has_neon;
#elif defined(FRAME_PLAYER_NEON_TARGET)
  if (getauxval(AT_HWCAP) & HWCAP_NEON)
    features |= cpu_has_neon;
#endif
  return features;
}

const RowConverterEntry &choose_row_converter(unsigned features) {
  int i = 0;
  // The last entry needs nothing, so the search ends there at the latest.
  while ((row_converters[i].needs & ~features) != 0)
    ++i;
  return row_converters[i];
}

int init_lcd() {
  fd_lcd = open(lcd_device, O_RDWR);
  if (fd_lcd == -1) {
    std::puts(open_failed_line);
    return -1;
  }
  void *screen = mmap(nullptr, lcd_bytes, PROT_WRITE, MAP_SHARED, fd_lcd, 0);
  if (screen == MAP_FAILED) {
    std::perror(map_error_text);
    return -1;
  }
  mmap_lcd = static_cast<std::uint32_t *>(screen);
  return 0;
}

bool is_regular_file(const char *path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

int open_frame_file(const char *path) {
  if (!is_regular_file(path))
    return -1;
  // Not blocking, in case a FIFO took the file's place since the stat.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat info;
  if (fd != -1 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    close(fd);
    return -1;
  }
  if (fd != -1)
    fcntl(fd, F_SETFL, 0);
  return fd;
}

int show(int x, int y, const char *path) {
  if (mmap_lcd == nullptr)
    return -1; // init_lcd has already said why
  const int fd = open_frame_file(path);
  if (fd == -1) {
    std::puts(open_failed_line);
    return -1;
  }
  const int result = show_open_file(fd, x, y);
  close(fd);
  return result;
}

void Exit_lcd() {
  free_kept_block();
  if (mmap_lcd != nullptr)
    munmap(mmap_lcd, lcd_bytes);
  if (fd_lcd != -1)
    close(fd_lcd);
  mmap_lcd = nullptr;
  fd_lcd = -1;
}
