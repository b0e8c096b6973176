#include "bench_support.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "byte_formats.h"
#include "show_bmp.h"

namespace {

// Varied bytes, so that no step can profit from uniform data.
std::uint32_t scrambled_colour(int row, int col) {
  return (static_cast<std::uint32_t>(row) * 2654435761u ^
          static_cast<std::uint32_t>(col) * 40503u) &
         0x00FFFFFFu;
}

bool read_whole_file(const std::string &path, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd == -1)
    return false;
  const ssize_t got = read(fd, bytes.data(), size);
  close(fd);
  return got == static_cast<ssize_t>(size);
}

// The mapping with every page written (so none faults in later), or null
// if the mapping failed.
std::uint32_t *cleared_or_null(void *screen) {
  if (screen == MAP_FAILED)
    return nullptr;
  std::memset(screen, 0, lcd_bytes);
  return static_cast<std::uint32_t *>(screen);
}

} // namespace

bool write_frame_file(const std::string &path, int width, int height) {
  const std::vector<unsigned char> bytes =
      byte_formats::bmp_file(width, height, scrambled_colour);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd == -1)
    return false;
  const ssize_t written = write(fd, bytes.data(), bytes.size());
  close(fd);
  return written == static_cast<ssize_t>(bytes.size()) &&
         read_whole_file(path, bytes.size());
}

std::uint32_t *map_anonymous_screen() {
  return cleared_or_null(mmap(nullptr, lcd_bytes, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
}

std::uint32_t *map_tmpfs_screen() {
  char name[] = "/dev/shm/frame-bench-screen-XXXXXX";
  const int fd = mkstemp(name);
  if (fd == -1)
    return nullptr;
  unlink(name);
  void *screen = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(lcd_bytes)) == 0)
    screen =
        mmap(nullptr, lcd_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return cleared_or_null(screen);
}

void unmap_screen(std::uint32_t *screen) {
  if (screen != nullptr)
    munmap(screen, lcd_bytes);
}

int silence_stdout() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
  return saved;
}

void restore_stdout(int saved) {
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}
