#include "checker_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sstream>

#include "findings.h"

ScratchFolder::ScratchFolder() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr ? base : "/tmp") + "/checker-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr)
    ADD_FAILURE() << "cannot make a scratch folder";
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  nftw(
      path_.c_str(),
      [](const char *path, const struct stat *, int, FTW *) {
        return std::remove(path);
      },
      16, FTW_DEPTH | FTW_PHYS);
}

void ScratchFolder::write(const std::string &name,
                          const byte_formats::Bytes &bytes) const {
  FILE *out = std::fopen(file(name).c_str(), "wb");
  ASSERT_NE(out, nullptr) << name;
  if (!bytes.empty()) {
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
  }
  std::fclose(out);
}

std::vector<std::string> printed_lines(const std::function<void()> &check) {
  reset_findings();
  testing::internal::CaptureStdout();
  check();
  std::fflush(stdout);
  std::istringstream text(testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);)
    lines.push_back(line);
  return lines;
}
