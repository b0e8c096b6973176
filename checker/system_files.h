// Reading the system without changing it: small files of /proc and /sys,
// the process list, and device nodes opened only once they are what they
// claim to be. Nothing here writes, and nothing waits on a device.
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace frame_check {

// At most `limit` bytes of a small file; false, with errno, if it cannot
// be read. A FIFO or device at the path is refused rather than waited on.
bool read_small_file(const std::string &path, std::string &text,
                     std::size_t limit = 4096);
std::string first_line(const std::string &text);
// "a regular file", "a folder", "a FIFO", "a character device 1:3", ...
std::string describe_file_type(const struct stat &info);
std::string error_text(int error);

// Entry names of a folder, in no particular order; false if unlistable.
bool list_directory(const std::string &path, std::vector<std::string> &names);

// The process ids in /proc; false when /proc cannot be listed.
bool list_processes(std::vector<pid_t> &pids);
std::string process_name(pid_t pid); // "" once it has gone
// The parent named in a /proc/PID/stat line; -1 if it is malformed.
pid_t parent_from_stat(const std::string &stat_line);
pid_t parent_of(pid_t pid);
std::string process_command(pid_t pid); // arguments joined by blanks
// "frame-player (pid 12)"
std::string describe_process(pid_t pid);

enum class NodeState { missing, not_device, cannot_open, open };

struct DeviceNode {
  NodeState state = NodeState::missing;
  int fd = -1;
  std::string what; // not_device: what is there; cannot_open: the reason
  struct stat info {};
};

// Opens `path` read-only and non-blocking if it is a character device
// with major number `major_number`; anything else is described, not opened.
DeviceNode open_device(const std::string &path, unsigned major_number);
void close_device(DeviceNode &node);
// What is wrong with a node that did not open as the device: "no PATH",
// "PATH is not KIND: it is WHAT" or "cannot open PATH: REASON".
std::string node_problem(const DeviceNode &node, const std::string &path,
                         const std::string &kind);
constexpr char run_as_root_fix[] = "run the check (and the player) as root";

// Other processes that hold the file `target` open.
struct Holders {
  bool listed = false; // false: /proc could not be listed
  std::vector<pid_t> pids;
  int hidden = 0; // processes whose descriptors could not be looked at
};
Holders holders_of(const struct stat &target);

} // namespace frame_check
