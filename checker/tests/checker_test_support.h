// Helpers for the board check's tests: a scratch folder and the lines of a
// check.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "byte_formats.h"
#include "findings.h"

// A fresh folder under the temporary directory, removed with its files.
class ScratchFolder {
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  void write(const std::string &name, const byte_formats::Bytes &bytes) const;

private:
  std::string path_;
};

// The lines found, as the program prints them.
std::vector<std::string> lines_of(const frame_check::Findings &findings);

// The lines `check` adds, called with `given` and a fresh Findings.
template <typename... Args, typename... Given>
std::vector<std::string> lines_after(void (*check)(Args...), Given &&...given) {
  frame_check::Findings found;
  check(std::forward<Given>(given)..., found);
  return lines_of(found);
}
