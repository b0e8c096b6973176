#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <stdexcept>
#include <unistd.h>

TempFile::TempFile(const Bytes &bytes) {
  char name[] = "/tmp/frame-test-XXXXXX";
  const int fd = mkstemp(name);
  if (fd == -1)
    throw std::runtime_error("mkstemp failed");
  path_ = name;
  const ssize_t written = write(fd, bytes.data(), bytes.size());
  close(fd);
  if (written != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("short write of test file");
}

TempFile::~TempFile() { unlink(path_.c_str()); }

bool FakeScreen::all_untouched() const {
  return std::all_of(words_.begin(), words_.end(),
                     [](std::uint32_t w) { return w == untouched; });
}

int open_descriptor_count() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr)
    return -1;
  int count = 0;
  while (readdir(dir) != nullptr)
    ++count;
  closedir(dir);
  return count;
}
