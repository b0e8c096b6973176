#include "checker_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <gtest/gtest.h>

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

std::vector<std::string> lines_of(const frame_check::Findings &findings) {
  std::vector<std::string> lines;
  for (const frame_check::Finding &line : findings.lines)
    lines.push_back(frame_check::format_finding(line));
  return lines;
}
