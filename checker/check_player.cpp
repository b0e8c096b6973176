#include "check_player.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "system_files.h"

namespace frame_check {

namespace {

constexpr char area[] = "player";
constexpr char init_script_name[] = "S99frame-player";
const std::string init_script = std::string("/etc/init.d/") + init_script_name;
constexpr char supervisor_name[] = "frame-player-run ";
constexpr char unit_name[] = "frame-player.service";
const std::string unit_paths[] = {
    std::string("/etc/systemd/system/") + unit_name,
    std::string("/lib/systemd/system/") + unit_name};
constexpr char log_path[] = "/var/log/frame-player.log";
constexpr std::size_t log_tail_bytes = 4096; // the log may hold a megabyte
constexpr std::size_t log_lines_shown = 5;
constexpr int ancestors_followed = 8;

bool exists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<Ancestor> ancestors_of(pid_t pid) {
  std::vector<Ancestor> ancestors;
  for (int i = 0; i < ancestors_followed; ++i) {
    pid = parent_of(pid);
    if (pid <= 0)
      break;
    ancestors.push_back({pid, process_name(pid), process_command(pid)});
  }
  return ancestors;
}

// Whether `pid` sees the same mounts, and so the same devices and frames,
// as this check; a player in a container or an emulated board elsewhere on
// the machine does not. Assumed when it cannot be told.
bool shares_mounts(pid_t pid) {
  char own[64] = {}, its[64] = {};
  const std::string path = "/proc/" + std::to_string(pid) + "/ns/mnt";
  return readlink("/proc/self/ns/mnt", own, sizeof own - 1) <= 0 ||
         readlink(path.c_str(), its, sizeof its - 1) <= 0 ||
         std::strcmp(own, its) == 0;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

// The unit's sandbox gives the player a mount namespace of its own, which
// still receives this system's mounts (the frame disk among them).
bool in_this_systems_unit(const std::string &cgroup) {
  const std::string unit = std::string(":/system.slice/") + unit_name;
  for (const auto &line : lines_of(cgroup))
    if (line.size() >= unit.size() &&
        line.compare(line.size() - unit.size(), unit.size(), unit) == 0)
      return true;
  return false;
}

// Field `index` (from 0) of a line of colon-separated fields.
std::string colon_field(const std::string &line, int index) {
  std::size_t start = 0;
  for (int i = 0; i < index && start != std::string::npos; ++i) {
    start = line.find(':', start);
    start = start == std::string::npos ? start : start + 1;
  }
  return start == std::string::npos
             ? ""
             : line.substr(start, line.find(':', start) - start);
}

// The user a process runs as, named from /etc/passwd or systemd's record
// of the users it makes for a unit (DynamicUser=).
std::string user_of(pid_t pid) {
  std::string status, passwd, dynamic;
  read_small_file("/proc/" + std::to_string(pid) + "/status", status);
  const long uid = uid_from_status(status);
  if (uid < 0)
    return "an unknown user";
  read_small_file("/etc/passwd", passwd, 1 << 20);
  char name[256] = {};
  const std::string record =
      "/run/systemd/dynamic-uid/direct:" + std::to_string(uid);
  if (readlink(record.c_str(), name, sizeof name - 1) > 0)
    dynamic = name;
  return describe_user(static_cast<unsigned long>(uid), passwd, dynamic);
}

std::vector<RunningPlayer> running_players(const std::vector<pid_t> &pids) {
  std::vector<RunningPlayer> players;
  for (const pid_t pid : pids) {
    if (process_name(pid) != player_name)
      continue;
    std::string cgroup;
    read_small_file("/proc/" + std::to_string(pid) + "/cgroup", cgroup);
    const std::string by = started_by(ancestors_of(pid), cgroup);
    // The init script's player runs in a view of its own (frame-player-run).
    if (shares_mounts(pid) || in_this_systems_unit(cgroup) ||
        by.find(init_script_name) != std::string::npos)
      players.push_back({pid, user_of(pid), by});
  }
  return players;
}

// The end of the log, without reading all of it.
bool read_log_tail(const std::string &path, std::string &text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info;
  bool read_it = fd != -1 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (read_it) {
    const off_t from =
        std::max<off_t>(0, info.st_size - static_cast<off_t>(log_tail_bytes));
    text.resize(log_tail_bytes);
    const ssize_t got = pread(fd, &text[0], text.size(), from);
    read_it = got >= 0;
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // A tail that starts within a line shows only whole lines.
    if (from > 0)
      text.erase(0, std::min(text.size(), text.find('\n') + 1));
  }
  const int error = errno;
  if (fd != -1)
    close(fd);
  errno = error;
  return read_it;
}

} // namespace

std::string started_by(const std::vector<Ancestor> &ancestors,
                       const std::string &cgroup) {
  if (cgroup.find(std::string("/") + unit_name) != std::string::npos)
    return std::string("systemd (") + unit_name + ")";
  // The init script starts the supervisor, which stays as the player's
  // parent once the script has ended.
  for (const auto &ancestor : ancestors)
    if (ancestor.command.find(init_script_name) != std::string::npos ||
        ancestor.command.find(supervisor_name) != std::string::npos)
      return std::string("the init script (") + init_script_name + ")";
  if (ancestors.empty())
    return "an unknown process";
  return ancestors[0].name + " (pid " + std::to_string(ancestors[0].pid) + ")";
}

long uid_from_status(const std::string &status) {
  const std::string key = "\nUid:";
  const std::size_t at = ("\n" + status).find(key);
  if (at == std::string::npos)
    return -1;
  char *end = nullptr;
  const char *digits = status.c_str() + at + key.size() - 1;
  errno = 0;
  const long uid = std::strtol(digits, &end, 10);
  return end == digits || errno != 0 || uid < 0 ? -1 : uid;
}

std::string describe_user(unsigned long uid, const std::string &passwd,
                          const std::string &dynamic_name) {
  const std::string id = std::to_string(uid);
  std::string name = dynamic_name;
  for (const auto &line : lines_of(passwd)) // NAME:PASSWORD:UID:...
    if (name.empty() && colon_field(line, 2) == id)
      name = colon_field(line, 0);
  if (name.empty())
    return "uid " + id;
  return uid == 0 ? name : name + " (uid " + id + ")";
}

Finding judge_players(bool listed, const std::vector<RunningPlayer> &players,
                      bool init_script_installed, bool systemd_unit) {
  const std::string player = player_name;
  if (!listed)
    return {Level::fail, area,
            "cannot tell whether " + player + " runs: /proc is not mounted",
            "mount it (mount -t proc proc /proc)"};
  if (players.size() == 1)
    return ok_finding(area, player + " is running (pid " +
                                std::to_string(players[0].pid) + ") as " +
                                players[0].user + ", started by " +
                                players[0].started_by);
  if (players.size() > 1) {
    std::string pids;
    for (const auto &running : players)
      pids += (pids.empty() ? "" : ", ") + std::to_string(running.pid);
    return {Level::fail, area,
            std::to_string(players.size()) + " copies of " + player +
                " are running (pids " + pids + "): they draw over each other",
            "stop all but one (e.g. " + init_script + " restart)"};
  }
  if (init_script_installed)
    return {Level::warn, area, player + " is not running",
            "start it: " + init_script + " start"};
  if (systemd_unit)
    return {Level::warn, area, player + " is not running",
            "start it: systemctl start frame-player"};
  return {Level::warn, area,
          player + " is not running, and nothing starts it at boot",
          "install deploy/S99frame-player or deploy/frame-player.service "
          "(docs/board.md)"};
}

std::vector<std::string> last_lines(const std::string &text,
                                    std::size_t count) {
  std::vector<std::string> lines;
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n')
    --end;
  while (!text.empty() && lines.size() < count) {
    const std::size_t start =
        end == 0 ? std::string::npos : text.rfind('\n', end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    lines.insert(lines.begin(), text.substr(from, end - from));
    if (start == std::string::npos)
      break;
    end = start;
  }
  return lines;
}

void report_log_tail(const std::string &path, Findings &out) {
  if (!exists(path))
    return;
  std::string text;
  if (!read_log_tail(path, text)) {
    out.add(Level::warn, area, "cannot read " + path + ": " + error_text(errno),
            "run the check as root");
    return;
  }
  const auto lines = last_lines(text, log_lines_shown);
  out.add(Level::ok, area,
          path + (lines.empty() ? " is empty" : ", its last lines:"));
  for (const auto &line : lines)
    out.detail("| " + printable(line));
}

void check_player(Findings &out) {
  std::vector<pid_t> pids;
  const bool listed = list_processes(pids);
  const bool unit = exists(unit_paths[0]) || exists(unit_paths[1]);
  out.add(
      judge_players(listed, running_players(pids), exists(init_script), unit));
  report_log_tail(log_path, out);
}

} // namespace frame_check
