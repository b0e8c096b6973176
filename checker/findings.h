// Findings: the checker's output lines and its tally. Every finding is one
// line, "ok", "warn" or "FAIL", what was found and, unless ok, the fix.
#pragma once

#include <string>

enum class Level { ok, warn, fail };

struct Finding {
  Level level = Level::ok;
  std::string area; // screen, touch, frames or player
  std::string text; // what was found
  std::string fix;  // what to do about it; empty for ok
};

inline Finding ok_finding(const std::string &area, const std::string &text) {
  return {Level::ok, area, text, ""};
}

// "FAIL touch: TEXT; fix: FIX", the level padded so that texts line up.
std::string format_finding(const Finding &finding);
// Prints the finding and counts it.
void report(const Finding &finding);
void report(Level level, const std::string &area, const std::string &text,
            const std::string &fix = "");
// A line of detail under a finding (records seen, log lines), indented.
void report_detail(const std::string &text);

int findings_at(Level level);
void reset_findings();
// The last line: how many of each level were found.
std::string tally_line();

// 1536000 as "1,536,000".
std::string with_thousands(long long value);
// Text from a device or a file made printable: control bytes become '?'.
std::string printable(const std::string &text);
