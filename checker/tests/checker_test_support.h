// Helpers for the board check's tests: a scratch folder and the printed
// output of a check.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "byte_formats.h"

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

// The lines a check printed, counts of findings reset before it runs.
std::vector<std::string> printed_lines(const std::function<void()> &check);
