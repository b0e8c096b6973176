// The player's console lines as it prints them, made from its own formats
// and texts (show_bmp.h, touch.h), and its frames' folder and file names
// (main.h): what the tests expect and the board check quotes, never typed
// again.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "main.h"
#include "show_bmp.h"
#include "touch.h"

namespace player_lines {

// `format` with `values`, as printf renders it.
template <typename... Values>
std::string printed(const char *format, Values... values) {
  char line[160];
  const int length = std::snprintf(line, sizeof line, format, values...);
  return length < 0 ? std::string() : std::string(line);
}

// A plain line (open_failed_line, ...) with its newline.
inline std::string line(const char *text) { return std::string(text) + "\n"; }

inline std::string size_line(int width, int height) {
  return printed(size_line_format, width, height);
}
inline std::string pixels_read_line(int bytes) {
  return printed(pixels_read_format, bytes);
}
inline std::string position_line(int x, int y) {
  return printed(position_line_format, x, y);
}

// A line without its newline, as quoted inside another text.
inline std::string quoted(const std::string &line) {
  return line.substr(0, line.find('\n'));
}

// The folder the player reads its frames from ("/mnt/udisk/4/3").
inline std::string frame_folder() {
  return {frame_path_format, std::strrchr(frame_path_format, '/')};
}

// "Frame7.bmp", as the player names frame 7.
inline std::string frame_name(int number) {
  return printed(std::strrchr(frame_path_format, '/') + 1, number);
}

} // namespace player_lines
