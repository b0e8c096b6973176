// The player's screen and touchscreen as nodes in a folder of their own,
// which its view has for /dev.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "board_devices.h"
#include "run.h"
#include "touch.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434 // the same number on every architecture
#endif
#ifndef SYS_pidfd_getfd
#define SYS_pidfd_getfd 438
#endif

namespace run {
namespace {

using board_devices::input_major;

// Makes PATH the node of DEVICE (none when 0), unless it is so already.
void place_node(const std::string &path, dev_t device, uid_t uid, gid_t gid,
                mode_t mode) {
  struct stat now {};
  const bool there = lstat(path.c_str(), &now) == 0;
  if (there && S_ISCHR(now.st_mode) && now.st_rdev == device && device != 0)
    return;
  if (there)
    unlink(path.c_str());
  if (device == 0)
    return;
  if (mknod(path.c_str(), S_IFCHR | mode, device) == -1 ||
      chown(path.c_str(), uid, gid) == -1 || chmod(path.c_str(), mode) == -1)
    note_error("cannot make " + path);
}

std::string screen_node(const Devices &devices) { return devices.dir + "/fb0"; }
std::string touch_node(const Devices &devices) {
  return devices.dir + "/input/event0";
}

std::string named(const std::string &path, const std::string &name) {
  return path + " (\"" + name + "\")";
}

// Makes PATH the node of CHOSEN (none when null), unless PLACED is its
// device already, and notes a board node other than number 0 as the
// player's PLAYER_PATH; false when it was so.
template <typename Node>
bool place_chosen(const Node *chosen, dev_t &placed, const std::string &path,
                  uid_t uid, gid_t gid, mode_t mode, const char *player_path) {
  const dev_t device = chosen ? chosen->device : 0;
  if (device == placed)
    return false;
  placed = device;
  place_node(path, device, uid, gid, mode);
  if (chosen && chosen->number != 0)
    note("the player's " + std::string(player_path) + " is " +
         named(board_devices::device_path(*chosen), chosen->name));
  return true;
}

void place_screen(Devices &devices) {
  const auto screens = board_devices::list_screens();
  const board_devices::ScreenNode *screen =
      board_devices::choose_screen(screens);
  if (!place_chosen(screen, devices.screen, screen_node(devices),
                    devices.owner.uid, devices.owner.screen_group,
                    devices.owner.screen_mode, lcd_device))
    return;
  devices.screen_number = screen ? screen->number : -1;
  if (screen)
    switch_depth(devices);
}

void place_touch(Devices &devices) {
  auto inputs = board_devices::list_inputs();
  // sysfs may still list a device whose removal has been announced.
  inputs.erase(std::remove_if(inputs.begin(), inputs.end(),
                              [&](const board_devices::InputNode &node) {
                                return node.device == devices.gone;
                              }),
               inputs.end());
  place_chosen(board_devices::choose_touchscreen(inputs), devices.touch,
               touch_node(devices), devices.owner.uid,
               devices.owner.touch_group, devices.owner.touch_mode,
               touch_device);
}

// The value of KEY in one kernel event, or "".
std::string field(const char *event, std::size_t size, const char *key) {
  const std::size_t key_size = std::strlen(key);
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = strnlen(event + at, size - at);
    if (length > key_size && event[at + key_size] == '=' &&
        std::strncmp(event + at, key, key_size) == 0)
      return std::string(event + at + key_size + 1, length - key_size - 1);
    at += length + 1;
  }
  return "";
}

} // namespace

bool take_event(Devices &devices, const char *event, std::size_t size) {
  const std::string subsystem = field(event, size, "SUBSYSTEM");
  if (subsystem != "input" && subsystem != "graphics")
    return false;
  const std::string action = field(event, size, "ACTION");
  const std::string major = field(event, size, "MAJOR");
  const std::string minor = field(event, size, "MINOR");
  if (major.empty() || minor.empty())
    return true;
  const dev_t device = makedev(std::strtoul(major.c_str(), nullptr, 10),
                               std::strtoul(minor.c_str(), nullptr, 10));
  if (action == "remove" && device == devices.touch && device != 0) {
    unlink(touch_node(devices).c_str());
    devices.touch = 0;
    devices.gone = device;
  } else if (action == "add" && device == devices.gone) {
    devices.gone = 0;
  }
  return true;
}

namespace {

// Whether the descriptor FD of process PID is an input device other than
// the touchscreen.
bool is_stray(pid_t pid, const std::string &fd, dev_t touch) {
  struct stat node {};
  const std::string path = "/proc/" + std::to_string(pid) + "/fd/" + fd;
  return stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) &&
         major(node.st_rdev) == input_major && node.st_rdev != touch;
}

// The player sees ENODEV on its next read and opens its node again.
void revoke(pid_t pid, int pidfd, const std::string &fd, dev_t touch) {
  const int copy =
      pidfd == -1
          ? -1
          : int(syscall(SYS_pidfd_getfd, pidfd, std::atoi(fd.c_str()), 0));
  if (copy == -1) {
    if (pidfd == -1 || errno == ENOSYS || errno == EPERM) {
      // Kernels before 5.6: a new player opens the right node.
      note("the player holds an input device that is not its touchscreen; "
           "stopping it");
      kill(pid, SIGTERM);
    }
    return;
  }
  struct stat held {};
  // The number may have been closed and reused since it was looked at.
  if (fstat(copy, &held) == 0 && S_ISCHR(held.st_mode) &&
      major(held.st_rdev) == input_major && held.st_rdev != touch &&
      ioctl(copy, EVIOCREVOKE, 0) == 0)
    note("took an input device away from the player: it is not its "
         "touchscreen");
  close(copy);
}

volatile std::sig_atomic_t stop_signal = 0;
void on_stop(int) { stop_signal = 1; }
void on_child(int) {} // only ends the wait

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Where the kernel says when devices come and go, a look every second
// catches only what it could not say; else one every quarter second.
void look(Watch &watch, Devices &devices) {
  place_devices(devices);
  take_strays(devices, player_processes());
  keep_console(devices);
  watch.next_look_ms = now_ms() + (devices.uevents != -1 ? 1000 : 250);
}

} // namespace

bool stopping() { return stop_signal != 0; }

Watch start_watch(Devices &devices) {
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigset_t caught;
  sigemptyset(&caught);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
    action.sa_handler = signal == SIGCHLD ? on_child : on_stop;
    sigaction(signal, &action, nullptr);
    sigaddset(&caught, signal);
  }
  // Caught only while waiting, so that none slips in before the wait.
  sigprocmask(SIG_BLOCK, &caught, nullptr);
  signal(SIGPIPE, SIG_IGN); // a logger that ended fails writes instead
  Watch watch;
  watch.mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  look(watch, devices);
  return watch;
}

bool wait_for_change(Watch &watch, Devices &devices, int wait_ms) {
  pollfd changes[] = {{devices.uevents, POLLIN, 0}, {watch.mounts, POLLPRI, 0}};
  const long long left = std::max(
      0LL, std::min<long long>(wait_ms, watch.next_look_ms - now_ms()));
  const timespec timeout{time_t(left / 1000), long(left % 1000) * 1000000L};
  sigset_t none;
  sigemptyset(&none);
  const int ready = ppoll(changes, 2, &timeout, &none);
  const bool mounts = ready > 0 && (changes[1].revents & POLLPRI);
  if ((ready > 0 && (changes[0].revents & POLLIN) && read_uevents(devices)) ||
      now_ms() >= watch.next_look_ms)
    look(watch, devices);
  return mounts;
}

void end_watch(Watch &watch, Devices &devices) {
  restore_console();
  restore_depth();
  close_devices(devices);
  if (watch.mounts != -1)
    close(watch.mounts);
}

void open_devices(Devices &devices, const std::string &dir) {
  devices.dir = dir;
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/input").c_str(), 0755);
  devices.uevents =
      socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK,
             NETLINK_KOBJECT_UEVENT);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1; // the kernel's own events
  if (devices.uevents != -1 &&
      bind(devices.uevents, reinterpret_cast<sockaddr *>(&address),
           sizeof address) == -1) {
    close(devices.uevents);
    devices.uevents = -1;
  }
}

bool read_uevents(Devices &devices) {
  bool changed = false;
  char event[8192];
  ssize_t size = 0;
  while (devices.uevents != -1 &&
         (size = recv(devices.uevents, event, sizeof event, 0)) > 0)
    changed |= take_event(devices, event, std::size_t(size));
  // Events lost to a full queue: look again.
  return changed || (size == -1 && errno == ENOBUFS);
}

void place_devices(Devices &devices) {
  place_screen(devices);
  place_touch(devices);
}

std::vector<pid_t> player_processes() {
  std::vector<pid_t> players;
  for (const int pid : board_devices::numbered_entries("/proc", "")) {
    if (board_devices::read_line("/proc/" + std::to_string(pid) + "/comm") ==
        "frame-player")
      players.push_back(pid);
  }
  return players;
}

void take_strays(const Devices &devices, const std::vector<pid_t> &players) {
  for (const pid_t pid : players) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *listing = opendir(fds.c_str());
    if (!listing)
      continue;
    int pidfd = -1;
    while (const dirent *entry = readdir(listing)) {
      if (entry->d_name[0] == '.' ||
          !is_stray(pid, entry->d_name, devices.touch))
        continue;
      if (pidfd == -1)
        pidfd = int(syscall(SYS_pidfd_open, pid, 0));
      if (pidfd == -1 && errno == ESRCH)
        break; // it has exited meanwhile
      revoke(pid, pidfd, entry->d_name, devices.touch);
    }
    closedir(listing);
    if (pidfd != -1)
      close(pidfd);
  }
}

void close_devices(Devices &devices) {
  for (const auto &path :
       {touch_node(devices), devices.dir + "/input", screen_node(devices),
        devices.dir + "/null", devices.dir})
    remove(path.c_str());
  if (devices.uevents != -1)
    close(devices.uevents);
  devices.uevents = -1;
}

} // namespace run
