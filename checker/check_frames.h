// Frames: the disk and folder the player reads them from, and every frame
// file judged from its headers and size exactly as the player will read
// and draw it. Pixel data are never read.
#pragma once

#include <string>
#include <vector>

#include "findings.h"
#include "player_lines.h"

namespace frame_check {

// What is wrong with a frame, for choosing the fix.
enum class FrameFault {
  missing,
  unreadable,
  not_a_file,
  cut_short,
  format,
  size
};

struct FrameReason {
  Level level;
  FrameFault fault;
  std::string text;
};

// Everything wrong with one frame; no reasons: the frame is fine.
struct FrameVerdict {
  std::vector<FrameReason> reasons;
  Level level() const;
};

// How a frame's reason quotes the player: " (the player prints \"LINE\")"
// for one of its plain lines (open_failed_line, read_failed_line).
std::string player_prints(const char *line);
// The same for a size the player refuses (bad_size_line).
std::string refused_by_player();
// The reason of a frame that is not in the folder.
std::string missing_frame_text();

// Judges a frame from its first `got` bytes (the player reads the first
// pixel_data_offset of them as headers) and the file's size.
FrameVerdict judge_frame_header(const unsigned char *header, std::size_t got,
                                long long file_size);
// Opens frame `name` in the folder `dir_fd` and judges it.
FrameVerdict check_frame_file(int dir_fd, const std::string &name);
// The line for frame `name`; `other_spelling` is a file that looks meant
// to be it ("frame07.BMP" for Frame7.bmp), if any.
Finding frame_finding(const std::string &name, const FrameVerdict &verdict,
                      const std::string &other_spelling = "");

using player_lines::frame_name;
// The frame number a differently spelt name stands for ("frame_07.BMP" is
// 7), or -1.
int frame_number_of(const std::string &name);

struct MountEntry {
  std::string source, point, type;
};
// The lines of /proc/mounts, with their octal escapes undone.
std::vector<MountEntry> parse_mounts(const std::string &text);
// The mount that holds `path`: the longest mount point containing it, the
// latest when several are stacked. Null when none does.
const MountEntry *mount_holding(const std::vector<MountEntry> &mounts,
                                const std::string &path);
// Whether the frame disk is mounted, given the mount holding the folder.
Finding judge_disk(const MountEntry *mount, bool folder_exists);

// Checks every frame in `dir`, one line per bad frame and a summary.
void check_frame_folder(const std::string &dir, Findings &out);
// The board's frames: the disk, the folder and every frame.
void check_board_frames(Findings &out);

} // namespace frame_check
