#include "fuzz_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "byte_io.h"

void fail(const char *what) {
  // Straight to descriptor 2: the stdio stderr may be a capture just now.
  const std::string line = std::string("fuzz property broken: ") + what + "\n";
  if (write(STDERR_FILENO, line.data(), line.size()) < 0)
    std::abort(); // nowhere to say it
  std::abort();
}

int make_memfd(const char *name) {
  const int fd = memfd_create(name, 0);
  if (fd == -1)
    fail("memfd_create");
  return fd;
}

void reset_memfd(int fd) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
    fail("cannot reset a memfd");
}

std::string memfd_contents(int fd) {
  const off_t size = lseek(fd, 0, SEEK_END);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size > 0 && pread(fd, text.data(), text.size(), 0) != size)
    fail("cannot read back a memfd");
  return text;
}

void write_all(int fd, const unsigned char *bytes, std::size_t size) {
  if (!byte_io::write_all(fd, bytes, size))
    fail("short write");
}

int lowest_free_descriptor() {
  const int fd = dup(STDERR_FILENO);
  if (fd == -1)
    fail("dup");
  close(fd);
  return fd;
}
