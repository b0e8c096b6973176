// Findings: the checker's output lines as a value. Every finding is one
// line, "ok", "warn" or "FAIL", what was found and, unless ok, the fix.
// Each check adds its findings to a Findings; the program prints them and
// the tally from it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace frame_check {

enum class Level { ok, warn, fail };

struct Finding {
  Level level = Level::ok;
  std::string area;    // screen, touch, frames or player
  std::string text;    // what was found
  std::string fix;     // what to do about it; empty for ok
  bool detail = false; // an indented line under a finding, counted as none
};

inline Finding ok_finding(const std::string &area, const std::string &text) {
  return {Level::ok, area, text, ""};
}

// The lines of a check in the order found.
struct Findings {
  std::vector<Finding> lines;
  // Told of each line as it is added, so that a line shows before a check
  // waits (the touch prompt); may be empty.
  std::function<void(const Finding &)> on_added;

  void add(const Finding &finding);
  void add(Level level, const std::string &area, const std::string &text,
           const std::string &fix = "");
  // A line of detail under a finding (records seen, log lines).
  void detail(const std::string &text);
  int count(Level level) const;
};

// "FAIL touch: TEXT; fix: FIX", the level padded so that texts line up; a
// detail is its text, indented.
std::string format_finding(const Finding &finding);
// The last line: how many of each level were found.
std::string tally_line(const Findings &findings);

// Returns `path`, the node the player's `player_path` is on this board;
// where the two differ, an ok line of `area` says so, with the node's name.
std::string report_player_node(const std::string &area,
                               const std::string &player_path,
                               const std::string &path, const std::string &name,
                               Findings &out);

// 1536000 as "1,536,000".
std::string with_thousands(long long value);
// Text from a device or a file made printable: control bytes become '?'.
std::string printable(const std::string &text);

} // namespace frame_check
