#include "frame_methods.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "byte_formats.h"
#include "show_bmp.h"

namespace {

constexpr std::size_t bmp_header_bytes = pixel_data_offset;

// Holds a whole frame file and a screenful, allocated once and page
// aligned so that the limit pays for nothing but the read and the copy, and
// the kernel copies between equally aligned addresses (its fastest case).
struct FreeDeleter {
  void operator()(unsigned char *bytes) const { std::free(bytes); }
};
std::unique_ptr<unsigned char, FreeDeleter> limit_buffer;
std::size_t limit_buffer_bytes = 0;

bool allocate_limit_buffer(std::size_t largest_file) {
  constexpr std::size_t page = 4096;
  limit_buffer_bytes =
      (std::max(largest_file, lcd_bytes) + page - 1) & ~(page - 1);
  limit_buffer.reset(static_cast<unsigned char *>(
      std::aligned_alloc(page, limit_buffer_bytes)));
  if (!limit_buffer)
    return false;
  std::memset(limit_buffer.get(), 0, limit_buffer_bytes);
  return true;
}

void decode_bottom_up(const unsigned char *data, int width, int height,
                      std::uint32_t *image) {
  const int stride = (3 * width + 3) & ~3;
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col)
      image[row * width + col] =
          bgr_to_pixel(data + (height - 1 - row) * stride + 3 * col);
}

} // namespace

std::string frame_label(const FrameSize &size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string frame_path(const std::string &dir, const FrameSize &size) {
  return dir + "/Frame" + frame_label(size) + ".bmp";
}

namespace {

bool write_frames(const std::string &dir) {
  std::size_t largest_file = 0;
  for (const FrameSize &size : frame_sizes) {
    const std::string path = frame_path(dir, size);
    if (!write_frame_file(path, size.width, size.height)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
    largest_file = std::max<std::size_t>(
        largest_file,
        bmp_header_bytes + pixel_data_size(size.width, size.height));
  }
  if (allocate_limit_buffer(largest_file))
    return true;
  std::perror("limit buffer");
  return false;
}

} // namespace

int with_frames(int (*body)(const std::string &dir)) {
  char dir[] = "/tmp/frame-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const int status = write_frames(dir) ? body(dir) : 1;
  for (const FrameSize &size : frame_sizes)
    unlink(frame_path(dir, size).c_str());
  rmdir(dir);
  return status;
}

bool show_frame(const char *path) { return show(0, 0, path) == 0; }

bool limit_frame(const char *path) {
  const int fd = open(path, O_RDONLY);
  if (fd == -1)
    return false;
  const ssize_t got = read(fd, limit_buffer.get(), limit_buffer_bytes);
  std::memcpy(mmap_lcd, limit_buffer.get(), lcd_bytes);
  close(fd);
  return got > 0;
}

bool two_pass_frame(const char *path) {
  const int fd = open(path, O_RDONLY);
  if (fd == -1)
    return false;
  unsigned char header[bmp_header_bytes];
  std::int32_t width = 0, height = 0;
  if (read(fd, header, sizeof header) == sizeof header) {
    std::memcpy(&width, header + bmp_width_at, 4);
    std::memcpy(&height, header + bmp_height_at, 4);
  }
  const std::size_t size = std::size_t((3 * width + 3) & ~3) * height;
  std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
  const bool complete = read(fd, data.get(), size) == ssize_t(size);
  close(fd);
  if (!complete || width <= 0 || height <= 0)
    return false;
  std::unique_ptr<std::uint32_t[]> image(
      new std::uint32_t[std::size_t(width) * height]);
  decode_bottom_up(data.get(), width, height, image.get());
  for (int row = 0; row < lcd_height; ++row)
    for (int col = 0; col < lcd_width; ++col)
      if (row < height && col < width)
        mmap_lcd[row * lcd_width + col] = image[row * width + col];
  return true;
}

bool draws_like_show(const char *label, DrawFn draw, const std::string &path,
                     std::uint32_t *screen) {
  mmap_lcd = screen;
  std::memset(screen, 0, lcd_bytes);
  const int saved_stdout = silence_stdout();
  const bool shown = show_frame(path.c_str());
  restore_stdout(saved_stdout);
  const std::vector<std::uint32_t> expected(screen, screen + lcd_bytes / 4);
  std::memset(screen, 0, lcd_bytes);
  const bool drawn = draw(path.c_str());
  mmap_lcd = nullptr;
  if (shown && drawn && std::equal(expected.begin(), expected.end(), screen))
    return true;
  std::fprintf(stderr, "%s draws %s differently from show\n", label,
               path.c_str());
  return false;
}
