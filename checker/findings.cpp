#include "findings.h"

#include <cstdio>

namespace {

int counts[3] = {};

const char *level_word(Level level) {
  switch (level) {
  case Level::ok:
    return "ok  ";
  case Level::warn:
    return "warn";
  case Level::fail:
    break;
  }
  return "FAIL";
}

} // namespace

std::string format_finding(const Finding &finding) {
  std::string line = level_word(finding.level);
  line += " " + finding.area + ": " + finding.text;
  if (!finding.fix.empty())
    line += "; fix: " + finding.fix;
  return line;
}

void report(const Finding &finding) {
  ++counts[static_cast<int>(finding.level)];
  std::printf("%s\n", format_finding(finding).c_str());
}

void report(Level level, const std::string &area, const std::string &text,
            const std::string &fix) {
  report(Finding{level, area, text, fix});
}

void report_detail(const std::string &text) {
  std::printf("     %s\n", text.c_str());
}

int findings_at(Level level) { return counts[static_cast<int>(level)]; }

void reset_findings() { counts[0] = counts[1] = counts[2] = 0; }

std::string tally_line() {
  return "frame-player-check: " + std::to_string(findings_at(Level::fail)) +
         " FAIL, " + std::to_string(findings_at(Level::warn)) + " warn, " +
         std::to_string(findings_at(Level::ok)) + " ok";
}

std::string with_thousands(long long value) {
  const bool negative = value < 0;
  unsigned long long magnitude =
      negative ? 0ULL - static_cast<unsigned long long>(value)
               : static_cast<unsigned long long>(value);
  std::string digits;
  int placed = 0;
  do {
    if (placed > 0 && placed % 3 == 0)
      digits.insert(digits.begin(), ',');
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
    ++placed;
  } while (magnitude > 0);
  return negative ? "-" + digits : digits;
}

std::string printable(const std::string &text) {
  std::string shown = text;
  for (char &c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  return shown;
}
