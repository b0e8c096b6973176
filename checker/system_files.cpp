#include "system_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "byte_io.h"
#include "findings.h"

namespace frame_check {

namespace {

bool all_digits(const char *text) {
  if (*text == '\0')
    return false;
  for (; *text != '\0'; ++text)
    if (*text < '0' || *text > '9')
      return false;
  return true;
}

std::string proc_path(pid_t pid, const char *entry) {
  return "/proc/" + std::to_string(pid) + "/" + entry;
}

bool same_file(const struct stat &a, const struct stat &b) {
  if (S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode))
    return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) &&
           a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether process `pid` holds `target`; false with `hidden` set when its
// descriptors cannot be looked at (another user's, without root).
bool holds(pid_t pid, const struct stat &target, bool &hidden) {
  const std::string dir = proc_path(pid, "fd");
  DIR *listing = opendir(dir.c_str());
  hidden = listing == nullptr && (errno == EACCES || errno == EPERM);
  if (listing == nullptr)
    return false;
  bool found = false;
  while (const dirent *entry = readdir(listing)) {
    struct stat info;
    if (all_digits(entry->d_name) &&
        stat((dir + "/" + entry->d_name).c_str(), &info) == 0 &&
        same_file(info, target)) {
      found = true;
      break;
    }
  }
  closedir(listing);
  return found;
}

} // namespace

bool read_small_file(const std::string &path, std::string &text,
                     std::size_t limit) {
  text.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1)
    return false;
  struct stat info;
  if (fstat(fd, &info) == -1 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return false;
  }
  char chunk[1024];
  ssize_t got = 0;
  while (text.size() < limit &&
         (got = byte_io::retry_interrupted([&] {
            return read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
          })) > 0) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  const int error = errno;
  close(fd);
  errno = error;
  return got != -1;
}

std::string first_line(const std::string &text) {
  return text.substr(0, text.find('\n'));
}

std::string describe_file_type(const struct stat &info) {
  switch (info.st_mode & S_IFMT) {
  case S_IFREG:
    return "a regular file";
  case S_IFDIR:
    return "a folder";
  case S_IFIFO:
    return "a FIFO";
  case S_IFSOCK:
    return "a socket";
  case S_IFLNK:
    return "a symbolic link";
  case S_IFBLK:
    return "a block device";
  case S_IFCHR:
    return "a character device " + std::to_string(major(info.st_rdev)) + ":" +
           std::to_string(minor(info.st_rdev));
  }
  return "something unknown";
}

std::string error_text(int error) { return std::strerror(error); }

bool list_directory(const std::string &path, std::vector<std::string> &names) {
  names.clear();
  DIR *listing = opendir(path.c_str());
  if (listing == nullptr)
    return false;
  while (const dirent *entry = readdir(listing))
    if (std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  closedir(listing);
  return true;
}

bool list_processes(std::vector<pid_t> &pids) {
  std::vector<std::string> names;
  pids.clear();
  if (!list_directory("/proc", names))
    return false;
  for (const auto &name : names)
    if (all_digits(name.c_str()))
      pids.push_back(static_cast<pid_t>(std::atol(name.c_str())));
  std::sort(pids.begin(), pids.end());
  // /proc without a process directory is not the process file system.
  return !pids.empty();
}

std::string process_name(pid_t pid) {
  std::string text;
  read_small_file(proc_path(pid, "comm"), text, 64);
  return printable(first_line(text));
}

pid_t parent_from_stat(const std::string &stat_line) {
  // "PID (NAME) STATE PPID ...": the name may hold blanks and brackets.
  const auto name_end = stat_line.rfind(')');
  if (name_end == std::string::npos)
    return -1;
  char state = 0;
  long parent = -1;
  if (std::sscanf(stat_line.c_str() + name_end + 1, " %c %ld", &state,
                  &parent) != 2 ||
      parent < 0)
    return -1;
  return static_cast<pid_t>(parent);
}

pid_t parent_of(pid_t pid) {
  std::string text;
  if (!read_small_file(proc_path(pid, "stat"), text, 1024))
    return -1;
  return parent_from_stat(text);
}

std::string process_command(pid_t pid) {
  std::string text;
  read_small_file(proc_path(pid, "cmdline"), text, 4096);
  std::replace(text.begin(), text.end(), '\0', ' ');
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

std::string describe_process(pid_t pid) {
  const std::string name = process_name(pid);
  return (name.empty() ? "?" : name) + " (pid " + std::to_string(pid) + ")";
}

DeviceNode open_device(const std::string &path, unsigned major_number) {
  DeviceNode node;
  if (stat(path.c_str(), &node.info) == -1) {
    node.state = errno == ENOENT ? NodeState::missing : NodeState::cannot_open;
    node.what = error_text(errno);
    return node;
  }
  if (!S_ISCHR(node.info.st_mode) || major(node.info.st_rdev) != major_number) {
    node.state = NodeState::not_device;
    node.what = describe_file_type(node.info);
    return node;
  }
  node.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  node.state = node.fd == -1 ? NodeState::cannot_open : NodeState::open;
  if (node.fd == -1)
    node.what = error_text(errno);
  return node;
}

std::string node_problem(const DeviceNode &node, const std::string &path,
                         const std::string &kind) {
  switch (node.state) {
  case NodeState::missing:
    return "no " + path;
  case NodeState::not_device:
    return path + " is not " + kind + ": it is " + node.what;
  case NodeState::cannot_open:
    return "cannot open " + path + ": " + node.what;
  case NodeState::open:
    break;
  }
  return "";
}

void close_device(DeviceNode &node) {
  if (node.fd != -1)
    close(node.fd);
  node.fd = -1;
}

Holders holders_of(const struct stat &target) {
  Holders holders;
  std::vector<pid_t> pids;
  holders.listed = list_processes(pids);
  const pid_t self = getpid();
  for (const pid_t pid : pids) {
    bool hidden = false;
    if (pid != self && holds(pid, target, hidden))
      holders.pids.push_back(pid);
    holders.hidden += hidden;
  }
  return holders;
}

} // namespace frame_check
