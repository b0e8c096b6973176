// Player: whether frame-player runs, as whom, what started it, and the
// last lines of its log.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "findings.h"

namespace frame_check {

constexpr char player_name[] = "frame-player"; // its process name

struct Ancestor {
  pid_t pid;
  std::string name, command;
};

// What started a player, given its ancestors (parent first) and its
// /proc/PID/cgroup: "the init script (S99frame-player)", "systemd
// (frame-player.service)" or "NAME (pid N)" of its parent.
std::string started_by(const std::vector<Ancestor> &ancestors,
                       const std::string &cgroup);

// The real user id in the text of /proc/PID/status; -1 if there is none.
long uid_from_status(const std::string &status);
// "root", "NAME (uid N)" with the name from `dynamic_name` (a user systemd
// made) or the text of /etc/passwd, or "uid N" when neither names it.
std::string describe_user(unsigned long uid, const std::string &passwd,
                          const std::string &dynamic_name);

struct RunningPlayer {
  pid_t pid;
  std::string user; // as describe_user says
  std::string started_by;
};

// `listed` false: /proc could not be listed. The two flags say whether
// the init script or the systemd unit is installed.
Finding judge_players(bool listed, const std::vector<RunningPlayer> &players,
                      bool init_script, bool systemd_unit);
// The last `count` complete lines of `text`.
std::vector<std::string> last_lines(const std::string &text, std::size_t count);

// The last lines of the log at `path`, if it exists; reads only its end.
void report_log_tail(const std::string &path, Findings &out);

void check_player(Findings &out);

} // namespace frame_check
