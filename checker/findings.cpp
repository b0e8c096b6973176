#include "findings.h"

namespace frame_check {

namespace {

// The levels, worst first, by the word that begins their lines and counts
// them in the tally.
const struct {
  Level level;
  const char *word;
} level_words[] = {
    {Level::fail, "FAIL"}, {Level::warn, "warn"}, {Level::ok, "ok"}};
constexpr std::size_t level_word_width = 4; // the longest word's

std::string level_word(Level level) {
  std::string word;
  for (const auto &named : level_words)
    if (named.level == level)
      word = named.word;
  word.resize(level_word_width, ' ');
  return word;
}

} // namespace

void Findings::add(const Finding &finding) {
  lines.push_back(finding);
  if (on_added)
    on_added(finding);
}

void Findings::add(Level level, const std::string &area,
                   const std::string &text, const std::string &fix) {
  add(Finding{level, area, text, fix});
}

void Findings::detail(const std::string &text) {
  add(Finding{Level::ok, "", text, "", true});
}

int Findings::count(Level level) const {
  int found = 0;
  for (const Finding &line : lines)
    found += !line.detail && line.level == level;
  return found;
}

std::string format_finding(const Finding &finding) {
  if (finding.detail)
    return "     " + finding.text;
  std::string line = level_word(finding.level);
  line += " " + finding.area + ": " + finding.text;
  if (!finding.fix.empty())
    line += "; fix: " + finding.fix;
  return line;
}

std::string tally_line(const Findings &findings) {
  std::string line = "frame-player-check:";
  const char *separator = " ";
  for (const auto &named : level_words) {
    line += separator + std::to_string(findings.count(named.level)) + " " +
            named.word;
    separator = ", ";
  }
  return line;
}

std::string report_player_node(const std::string &area,
                               const std::string &player_path,
                               const std::string &path, const std::string &name,
                               Findings &out) {
  if (path != player_path)
    out.add(Level::ok, area,
            "the player's " + player_path + " is " + path + " \"" +
                printable(name) + "\"");
  return path;
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

} // namespace frame_check
