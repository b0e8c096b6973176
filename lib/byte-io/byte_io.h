// Byte helpers for the programs around the player (the board check, the
// emulated board, the test tools): little-endian fields of a buffer, and
// reads and writes carried on across signals and short transfers. The
// player keeps its own (src/).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

namespace byte_io {

inline std::uint16_t le16(const unsigned char *bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t le32(const unsigned char *bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
         std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
}

inline std::int32_t le32_signed(const unsigned char *bytes) {
  return static_cast<std::int32_t>(le32(bytes));
}

// `call()` (a read, a write, a wait) again for as long as a signal
// interrupts it.
template <typename Call> auto retry_interrupted(const Call &call) {
  decltype(call()) result;
  while ((result = call()) == -1 && errno == EINTR) {
  }
  return result;
}

// Repeats `transfer(done)`, a read or write of what is left after `done`
// bytes, until all `size` bytes are through or the file ends: the bytes
// through, or -1 (with errno) when a transfer fails.
template <typename Transfer>
ssize_t transfer_all(std::size_t size, const Transfer &transfer) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t moved = retry_interrupted([&] { return transfer(done); });
    if (moved == -1)
      return -1;
    if (moved == 0)
      break;
    done += static_cast<std::size_t>(moved);
  }
  return static_cast<ssize_t>(done);
}

// Whether all `size` bytes were written.
inline bool write_all(int fd, const void *data, std::size_t size) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  return transfer_all(size, [&](std::size_t done) {
           return write(fd, bytes + done, size - done);
         }) == static_cast<ssize_t>(size);
}

// Up to `size` bytes from `offset` on: fewer where the file ends, -1 on a
// failure.
inline ssize_t pread_all(int fd, void *data, std::size_t size, off_t offset) {
  auto *bytes = static_cast<unsigned char *>(data);
  return transfer_all(size, [&](std::size_t done) {
    return pread(fd, bytes + done, size - done,
                 offset + static_cast<off_t>(done));
  });
}

} // namespace byte_io
