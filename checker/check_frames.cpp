#include "check_frames.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_io.h"
#include "main.h"
#include "show_bmp.h"
#include "system_files.h"

namespace frame_check {

namespace {

constexpr char area[] = "frames";
constexpr int frame_count = last_frame_number + 1;

constexpr int bits_per_pixel = 24;
constexpr std::uint32_t bitfields_compression = 3;

const char *const garbled = " (the picture will be garbled)";

std::string pixels(long long width, long long height) {
  return std::to_string(width) + " × " + std::to_string(height);
}

// What a file that is not a BMP is, judged from its first two bytes.
std::string not_bmp_text(const unsigned char *header) {
  if (header[0] == 0x89 && header[1] == 'P')
    return "not a BMP file but a PNG";
  if (header[0] == 0xFF && header[1] == 0xD8)
    return "not a BMP file but a JPEG";
  if (header[0] == 'G' && header[1] == 'I')
    return "not a BMP file but a GIF";
  return "not a BMP file (no \"BM\" at its start)";
}

std::string compression_name(std::uint32_t compression) {
  switch (compression) {
  case 1:
    return "RLE8";
  case 2:
    return "RLE4";
  case bitfields_compression:
    return "bit fields";
  case 4:
    return "JPEG";
  case 5:
    return "PNG";
  }
  return "method " + std::to_string(compression);
}

// Where the player's fixed reading position lands in this file, and how
// its pixels are stored; true when they are stored as the player reads.
bool judge_layout(const unsigned char *header, FrameVerdict &verdict) {
  const std::uint32_t info_size = byte_io::le32(header + bmp_info_size_at);
  const long long shift =
      static_cast<long long>(byte_io::le32(header + bmp_data_offset_at)) -
      static_cast<long long>(pixel_data_offset);
  const std::string shifted = " (the picture will be shifted by " +
                              std::to_string(std::llabs(shift)) + " bytes)";
  if (info_size != info_header_bytes)
    verdict.reasons.push_back({Level::fail, FrameFault::format,
                               std::to_string(info_size) + "-byte info header" +
                                   (shift != 0 ? shifted : "")});
  else if (shift != 0)
    verdict.reasons.push_back(
        {Level::fail, FrameFault::format,
         "pixels at byte " + std::to_string(pixel_data_offset + shift) +
             ", not " + std::to_string(pixel_data_offset) + shifted});
  const std::uint16_t bits = byte_io::le16(header + bmp_bit_count_at);
  const std::uint32_t compression = byte_io::le32(header + bmp_compression_at);
  if (bits != bits_per_pixel)
    verdict.reasons.push_back(
        {Level::fail, FrameFault::format,
         std::to_string(bits) + " bits per pixel" + garbled});
  // Bit fields come with 32-bit pixels, already named above.
  if (compression != 0 &&
      !(compression == bitfields_compression && bits != bits_per_pixel))
    verdict.reasons.push_back(
        {Level::fail, FrameFault::format,
         "compressed with " + compression_name(compression) + garbled});
  return bits == bits_per_pixel && compression == 0;
}

// Sizes the player refuses; false when it draws the frame.
bool judge_refused(int width, int height, FrameVerdict &verdict) {
  const std::int64_t size = pixel_data_size(width, height);
  std::string text;
  if (height < 0)
    text = "rows stored top-down, height " + std::to_string(height);
  else if (width <= 0 || height == 0)
    text =
        "width " + std::to_string(width) + ", height " + std::to_string(height);
  else if (size > max_pixel_data_bytes)
    text = pixels(width, height) + " pixels, " + with_thousands(size) +
           " bytes, more than " + std::to_string(max_pixel_data_bytes >> 20) +
           " MiB";
  if (!text.empty())
    verdict.reasons.push_back(
        {Level::fail, FrameFault::format, text + refused_by_player()});
  return !text.empty();
}

void judge_size(int width, int height, FrameVerdict &verdict) {
  if (width == lcd_width && height == lcd_height)
    return;
  std::string effects;
  if (width > lcd_width || height > lcd_height)
    effects = "only the top-left " +
              pixels(std::min(width, lcd_width), std::min(height, lcd_height)) +
              " shows";
  if (width < lcd_width || height < lcd_height)
    effects += std::string(effects.empty() ? "" : "; ") +
               "the rest of the screen keeps the previous frame";
  verdict.reasons.push_back(
      {Level::warn, FrameFault::size,
       pixels(width, height) + " pixels (" + effects + ")"});
}

// The player reads the pixels from byte 54 to the size the header gives
// and draws what the file lacks black. Rows are stored bottom-up, so the
// missing rows are the top ones; a row counts when a byte that shows (one
// of its first 800 pixels, not its padding) is missing.
void judge_length(int width, int height, long long file_size,
                  FrameVerdict &verdict) {
  const std::int64_t wanted = pixel_data_size(width, height);
  const std::int64_t present = std::max<std::int64_t>(
      0, file_size - static_cast<std::int64_t>(pixel_data_offset));
  if (present >= wanted)
    return;
  const std::int64_t row_bytes = wanted / height;
  const std::int64_t shown_bytes =
      std::int64_t{bits_per_pixel / 8} * std::min(width, lcd_width);
  const std::int64_t partial = present % row_bytes;
  const std::int64_t rows =
      height - present / row_bytes - (partial >= shown_bytes ? 1 : 0);
  const std::int64_t black = std::min<std::int64_t>(rows, lcd_height);
  const std::string lacks = "cut short: " + with_thousands(present) +
                            " of its " + with_thousands(wanted) +
                            " bytes of pixels";
  if (black == 0)
    verdict.reasons.push_back({Level::warn, FrameFault::cut_short,
                               lacks + " (what is missing never shows)"});
  else
    verdict.reasons.push_back({Level::fail, FrameFault::cut_short,
                               lacks + " (the top " + std::to_string(black) +
                                   (black == 1 ? " row" : " rows") +
                                   " will be black)"});
}

std::string fix_for(FrameFault fault, const std::string &name,
                    const std::string &other_spelling) {
  switch (fault) {
  case FrameFault::missing:
    return other_spelling.empty() ? "copy " + name + " into the folder"
                                  : "rename " + other_spelling + " to " + name;
  case FrameFault::unreadable:
    return "make it readable (chmod a+r) or copy it again";
  case FrameFault::not_a_file:
    return "put the frame file there instead";
  case FrameFault::cut_short:
    return "copy it again: the copy is incomplete";
  case FrameFault::format:
    break;
  case FrameFault::size:
    return "scale it to " + pixels(lcd_width, lcd_height) +
           " (tools/make-frames does)";
  }
  return "save it as a " + std::to_string(bits_per_pixel) + "-bit BMP with a " +
         std::to_string(info_header_bytes) +
         "-byte info header and rows bottom-up (tools/make-frames writes "
         "such frames)";
}

// Numbers of frames that are missing, each with a file that looks meant
// to be it; only looked for once some frame is missing.
std::map<int, std::string> other_spellings(const std::string &dir) {
  std::map<int, std::string> spellings;
  std::vector<std::string> names;
  if (list_directory(dir, names))
    for (const auto &name : names) {
      const int number = frame_number_of(name);
      if (number >= 0 && name != frame_name(number) &&
          spellings.count(number) == 0)
        spellings[number] = printable(name);
    }
  return spellings;
}

// Blanks and the like appear in /proc/mounts as octal escapes: "\\040".
std::string unescape(const std::string &field) {
  std::string plain;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::strspn(field.c_str() + i + 1, "01234567") >= 3) {
      plain += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      plain += field[i];
    }
  }
  return plain;
}

std::string all_frames() {
  return frame_name(0) + " ... " + frame_name(last_frame_number);
}

// Opens `dir` as the frame folder; reports why not.
int open_folder(const std::string &dir, Findings &out) {
  struct stat info;
  if (stat(dir.c_str(), &info) == -1) {
    out.add(Level::fail, area, "no folder " + dir,
            "put " + all_frames() + " in the folder " + dir);
    return -1;
  }
  if (!S_ISDIR(info.st_mode)) {
    out.add(Level::fail, area,
            dir + " is not a folder: it is " + describe_file_type(info),
            "make it the folder of the frames");
    return -1;
  }
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1)
    out.add(Level::fail, area,
            "cannot open the folder " + dir + ": " + error_text(errno),
            "make it readable (chmod a+rx) or run the check as root");
  return fd;
}

void report_summary(int good, Level worst, Findings &out) {
  out.add(worst, area,
          std::to_string(good) + " of " + std::to_string(frame_count) +
              " frames ok",
          worst == Level::ok ? "" : "see the lines above");
}

} // namespace

std::string player_prints(const char *line) {
  return std::string(" (the player prints \"") + line + "\")";
}

std::string refused_by_player() {
  return std::string(" (the player refuses it: \"") + bad_size_line + "\")";
}

std::string missing_frame_text() {
  return std::string("missing (the player prints \"") + open_failed_line +
         "\" and keeps the previous frame)";
}

Level FrameVerdict::level() const {
  Level worst = Level::ok;
  for (const auto &reason : reasons)
    worst = std::max(worst, reason.level);
  return worst;
}

FrameVerdict judge_frame_header(const unsigned char *header, std::size_t got,
                                long long file_size) {
  FrameVerdict verdict;
  if (got < pixel_data_offset) {
    verdict.reasons.push_back({Level::fail, FrameFault::cut_short,
                               "only " + std::to_string(file_size) +
                                   " bytes: its headers are cut short" +
                                   player_prints(read_failed_line)});
    return verdict;
  }
  if (header[0] != 'B' || header[1] != 'M') {
    verdict.reasons.push_back(
        {Level::fail, FrameFault::format, not_bmp_text(header)});
    return verdict;
  }
  // Another pixel format gives another file size: only a frame stored as
  // the player reads it can be judged cut short.
  const bool plain_pixels = judge_layout(header, verdict);
  const int width = byte_io::le32_signed(header + bmp_width_at);
  const int height = byte_io::le32_signed(header + bmp_height_at);
  if (judge_refused(width, height, verdict))
    return verdict;
  judge_size(width, height, verdict);
  if (plain_pixels)
    judge_length(width, height, file_size, verdict);
  return verdict;
}

FrameVerdict check_frame_file(int dir_fd, const std::string &name) {
  FrameVerdict verdict;
  const int fd = openat(dir_fd, name.c_str(),
                        O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd == -1) {
    const bool missing = errno == ENOENT;
    verdict.reasons.push_back(
        {Level::fail, missing ? FrameFault::missing : FrameFault::unreadable,
         missing ? missing_frame_text()
                 : "cannot be opened: " + error_text(errno) +
                       player_prints(open_failed_line)});
    return verdict;
  }
  struct stat info;
  unsigned char header[pixel_data_offset];
  ssize_t got = 0;
  if (fstat(fd, &info) == -1)
    verdict.reasons.push_back({Level::fail, FrameFault::unreadable,
                               "cannot be read: " + error_text(errno)});
  else if (!S_ISREG(info.st_mode))
    verdict.reasons.push_back(
        {Level::fail, FrameFault::not_a_file,
         "not a file: it is " + describe_file_type(info)});
  else if ((got = byte_io::pread_all(fd, header, sizeof header, 0)) == -1)
    verdict.reasons.push_back({Level::fail, FrameFault::unreadable,
                               "cannot be read: " + error_text(errno)});
  else
    verdict =
        judge_frame_header(header, static_cast<std::size_t>(got), info.st_size);
  close(fd);
  return verdict;
}

Finding frame_finding(const std::string &name, const FrameVerdict &verdict,
                      const std::string &other_spelling) {
  std::string text;
  for (const auto &reason : verdict.reasons)
    text += (text.empty() ? "" : ", ") + reason.text;
  if (!other_spelling.empty())
    text += "; there is " + other_spelling;
  const Level level = verdict.level();
  if (level == Level::ok)
    return ok_finding(area, name + " ok");
  const auto first = std::find_if(
      verdict.reasons.begin(), verdict.reasons.end(),
      [level](const FrameReason &reason) { return reason.level == level; });
  return {level, area, name + ": " + text,
          fix_for(first->fault, name, other_spelling)};
}

int frame_number_of(const std::string &name) {
  std::string lower = name;
  for (char &c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string prefix = "frame", suffix = ".bmp";
  if (lower.size() <= prefix.size() + suffix.size() ||
      lower.compare(0, prefix.size(), prefix) != 0 ||
      lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0)
    return -1;
  std::string digits =
      lower.substr(prefix.size(), lower.size() - prefix.size() - suffix.size());
  if (!digits.empty() && (digits[0] == '_' || digits[0] == '-' ||
                          digits[0] == ' ' || digits[0] == '.'))
    digits.erase(0, 1);
  if (digits.empty() || digits.size() > 6 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const int number = std::atoi(digits.c_str());
  return number <= last_frame_number ? number : -1;
}

std::vector<MountEntry> parse_mounts(const std::string &text) {
  std::vector<MountEntry> mounts;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    char source[256], point[1024], type[64];
    const std::string line = text.substr(start, end - start);
    if (std::sscanf(line.c_str(), "%255s %1023s %63s", source, point, type) ==
        3)
      mounts.push_back({unescape(source), unescape(point), unescape(type)});
    start = end + 1;
  }
  return mounts;
}

const MountEntry *mount_holding(const std::vector<MountEntry> &mounts,
                                const std::string &path) {
  const MountEntry *holder = nullptr;
  for (const auto &mount : mounts) {
    const std::string &point = mount.point;
    const bool contains =
        point == "/" || path == point ||
        (path.compare(0, point.size(), point) == 0 &&
         path.size() > point.size() && path[point.size()] == '/');
    if (contains && (holder == nullptr || point.size() >= holder->point.size()))
      holder = &mount;
  }
  return holder;
}

Finding judge_disk(const MountEntry *mount, bool folder_exists) {
  const std::string disk = frame_disk;
  const bool on_disk =
      mount != nullptr && mount->point.compare(0, disk.size(), disk) == 0 &&
      (mount->point.size() == disk.size() || mount->point[disk.size()] == '/');
  if (on_disk)
    return ok_finding(area, mount->point + " is mounted (" + mount->type +
                                " from " + mount->source + ")");
  // Not an fstab line: such a mount is not made again once the disk has
  // been pulled out, and the boot waits for a missing disk.
  const std::string mount_fix =
      "mount the USB disk at " + disk +
      " when it is plugged in (frame-player-udisk and its mdev or udev rule "
      "do it: docs/board.md)";
  if (!folder_exists)
    return {Level::fail, area, disk + " is not mounted: no USB disk there",
            "plug in the disk and " + mount_fix};
  const std::string under =
      mount == nullptr ? "" : " " + mount->point + " (" + mount->type + ")";
  return {Level::warn, area,
          disk + " is not mounted: the frames come from" + under,
          mount_fix + ", unless the frames are meant to live there"};
}

void check_frame_folder(const std::string &dir, Findings &out) {
  const int dir_fd = open_folder(dir, out);
  if (dir_fd == -1)
    return;
  std::vector<FrameVerdict> verdicts;
  int missing = 0, good = 0;
  Level worst = Level::ok;
  for (int number = 0; number < frame_count; ++number) {
    verdicts.push_back(check_frame_file(dir_fd, frame_name(number)));
    const auto &reasons = verdicts.back().reasons;
    missing += !reasons.empty() && reasons[0].fault == FrameFault::missing;
    good += reasons.empty();
    worst = std::max(worst, verdicts.back().level());
  }
  close(dir_fd);
  const auto spellings =
      missing > 0 ? other_spellings(dir) : std::map<int, std::string>{};
  if (missing == frame_count && spellings.empty())
    out.add(Level::fail, area,
            "no frame files in " + dir + " (" + all_frames() + ")",
            "put the frames there (tools/make-frames makes them)");
  else
    for (int number = 0; number < frame_count; ++number) {
      const auto spelling = spellings.find(number);
      const bool named =
          spelling != spellings.end() && !verdicts[number].reasons.empty() &&
          verdicts[number].reasons[0].fault == FrameFault::missing;
      if (verdicts[number].level() != Level::ok)
        out.add(frame_finding(frame_name(number), verdicts[number],
                              named ? spelling->second : ""));
    }
  report_summary(good, worst, out);
}

void check_board_frames(Findings &out) {
  std::string text;
  struct stat info;
  const std::string dir = player_lines::frame_folder();
  const bool folder_exists = stat(dir.c_str(), &info) == 0;
  if (read_small_file("/proc/mounts", text, 1 << 20)) {
    const auto mounts = parse_mounts(text);
    out.add(judge_disk(mount_holding(mounts, dir), folder_exists));
  } else {
    out.add(Level::fail, area, "cannot read /proc/mounts: " + error_text(errno),
            "mount /proc (mount -t proc proc /proc)");
  }
  check_frame_folder(dir, out);
}

} // namespace frame_check
