// frame-player-run: gives the player the board's own screen and
// touchscreen under the names it opens, wherever the board put them, and
// runs it as a user of its own.
//   frame-player-run USER PROGRAM   (BusyBox init) PROGRAM runs as USER in
//       a mount namespace whose /dev holds only null, fb0 (the board's
//       800 × 480 screen) and input/event0 (its first touchscreen)
//   frame-player-run --devices DIR  (systemd) keeps DIR/fb0 and
//       DIR/input/event0 so, for the unit to bind over /dev/fb0 and
//       /dev/input, until stopped
// Either way it stays to follow the touchscreen when it is unplugged and
// plugged in again, also under another number, and switches a 16- or
// 24-bit screen to 32 bits for the player and back when it stops. The
// board's own /dev stays as the kernel made it. Needs root.
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h> // setgroups
#include <linux/fb.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board_devices.h"
#include "show_bmp.h"
#include "touch.h"

#ifndef MS_NOSYMFOLLOW
#define MS_NOSYMFOLLOW 256 // Linux 5.10
#endif

namespace {

constexpr char me[] = "frame-player-run";
constexpr char frames_disk[] = "/mnt/udisk";
constexpr int watch_ms = 250; // the touchscreen comes back within this

volatile std::sig_atomic_t stopping = 0;

struct Owner {
  uid_t uid = 0;
  gid_t screen_group = 0, touch_group = 0;
  mode_t screen_mode = 0600, touch_mode = 0400;
};

// The nodes the player opens, under ROOT ("" for /dev itself, or DIR).
struct View {
  std::string screen, touch;
  Owner owner;
  dev_t screen_device = 0, touch_device = 0;
};

void note(const std::string &text) {
  std::fprintf(stderr, "%s: %s\n", me, text.c_str());
}

void note_error(const std::string &text) {
  note(text + ": " + std::strerror(errno));
}

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

std::string named(const std::string &path, const std::string &name) {
  return path + " (\"" + name + "\")";
}

// The screen: chosen once, as screens do not come and go.
void place_screen(View &view) {
  const auto screens = board_devices::list_screens();
  const board_devices::ScreenNode *screen = board_devices::choose_screen(screens);
  view.screen_device = screen ? screen->device : 0;
  place_node(view.screen, view.screen_device, view.owner.uid,
             view.owner.screen_group, view.owner.screen_mode);
  if (screen && screen->number != 0)
    note("the player's " + std::string(lcd_device) + " is " +
         named(board_devices::screen_path(screen->number), screen->name));
}

// The touchscreen, again whenever the board's input devices change.
void place_touch(View &view) {
  const auto inputs = board_devices::list_inputs();
  const board_devices::InputNode *touch = board_devices::choose_touchscreen(inputs);
  const dev_t device = touch ? touch->device : 0;
  if (device == view.touch_device)
    return;
  view.touch_device = device;
  place_node(view.touch, device, view.owner.uid, view.owner.touch_group,
             view.owner.touch_mode);
  if (touch && touch->number != 0)
    note("the player's " + std::string(touch_device) + " is " +
         named(board_devices::event_path(touch->number), touch->name));
}

// ---- the screen's depth

struct SavedMode {
  bool changed = false;
  fb_var_screeninfo mode{};
};

void set_channels(fb_var_screeninfo &mode) {
  mode.bits_per_pixel = lcd_bytes_per_pixel * 8;
  mode.red = {lcd_red_shift, 8, 0};
  mode.green = {lcd_green_shift, 8, 0};
  mode.blue = {lcd_blue_shift, 8, 0};
  mode.transp = {24, 0, 0};
  mode.activate = FB_ACTIVATE_NOW;
}

// A screen of fewer bits per pixel is switched to the player's 32 where
// the driver allows it; a driver that refuses leaves it as it was (the
// board check names the fix).
SavedMode switch_depth(const std::string &path) {
  SavedMode saved;
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd == -1 || ioctl(fd, FBIOGET_VSCREENINFO, &saved.mode) == -1 ||
      saved.mode.bits_per_pixel == lcd_bytes_per_pixel * 8) {
    if (fd != -1)
      close(fd);
    return saved;
  }
  fb_var_screeninfo wanted = saved.mode;
  set_channels(wanted);
  fb_var_screeninfo now{};
  if (ioctl(fd, FBIOPUT_VSCREENINFO, &wanted) == 0 &&
      ioctl(fd, FBIOGET_VSCREENINFO, &now) == 0 &&
      now.bits_per_pixel == wanted.bits_per_pixel) {
    saved.changed = true;
    note("switched the screen from " + std::to_string(saved.mode.bits_per_pixel) +
         " to 32 bits per pixel");
  } else {
    fb_var_screeninfo back = saved.mode;
    back.activate = FB_ACTIVATE_NOW;
    ioctl(fd, FBIOPUT_VSCREENINFO, &back);
    note("the screen's driver keeps it at " +
         std::to_string(saved.mode.bits_per_pixel) +
         " bits per pixel (frame-player-check names the fix)");
  }
  close(fd);
  return saved;
}

void restore_depth(const std::string &path, SavedMode &saved) {
  if (!saved.changed)
    return;
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  saved.mode.activate = FB_ACTIVATE_NOW;
  if (fd == -1 || ioctl(fd, FBIOPUT_VSCREENINFO, &saved.mode) == -1)
    note_error("cannot put the screen back to its own depth");
  if (fd != -1)
    close(fd);
}

// ---- the frames disk

struct MountEntry {
  std::string point, options, tags;
};

// The mounts as this namespace sees them.
std::vector<MountEntry> read_mounts() {
  std::vector<MountEntry> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, number, root, point, options, tags, field;
    fields >> id >> parent >> number >> root >> point >> options;
    while (fields >> field && field != "-")
      tags += field + " ";
    mounts.push_back({point, options, tags});
  }
  return mounts;
}

bool has_option(const std::string &options, const std::string &name) {
  return ("," + options + ",").find("," + name + ",") != std::string::npos;
}

// The disk mounted later at /mnt/udisk must reach the player's namespace:
// the mount that holds the mount point propagates unless the board left it
// private, as BusyBox boards do.
void share_disk_parent() {
  std::string parent;
  bool propagates = false;
  for (const auto &mount : read_mounts()) {
    const std::string &point = mount.point;
    const bool holds = point == "/" ||
                       (std::string(frames_disk).compare(0, point.size() + 1,
                                                         point + "/") == 0);
    if (holds && point.size() >= parent.size()) {
      parent = point;
      propagates = mount.tags.find("shared:") != std::string::npos ||
                   mount.tags.find("master:") != std::string::npos;
    }
  }
  if (!parent.empty() && !propagates &&
      mount(nullptr, parent.c_str(), nullptr, MS_SHARED, nullptr) == -1)
    note_error("cannot let " + std::string(frames_disk) + " reach the player");
}

// In the player's view the frame disk follows no symbolic link, so a
// frame name cannot lead the player to a file of the board. Kernels
// before 5.10 lack the flag: then nothing is tried again.
void protect_disk(bool &supported) {
  if (!supported)
    return;
  for (const auto &mount : read_mounts()) {
    if (mount.point != frames_disk || has_option(mount.options, "nosymfollow"))
      continue;
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_NOSYMFOLLOW;
    const std::pair<const char *, unsigned long> known[] = {
        {"ro", MS_RDONLY},     {"nosuid", MS_NOSUID},
        {"nodev", MS_NODEV},   {"noexec", MS_NOEXEC},
        {"noatime", MS_NOATIME}, {"nodiratime", MS_NODIRATIME},
        {"relatime", MS_RELATIME}};
    for (const auto &[name, flag] : known)
      if (has_option(mount.options, name))
        flags |= flag;
    if (::mount(nullptr, frames_disk, nullptr, flags, nullptr) == -1)
      supported = errno != EINVAL;
  }
}

// ---- the watch

void on_stop(int) { stopping = 1; }

void catch_stop() {
  struct sigaction action {};
  action.sa_handler = on_stop;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signal, &action, nullptr);
}

// Until stopped: the touchscreen again every watch_ms, and the frame disk
// whenever the mounts change.
void watch(View &view, bool guard_disk) {
  const int mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  bool nosymfollow = guard_disk;
  protect_disk(nosymfollow);
  while (!stopping) {
    pollfd changed{mounts, POLLPRI, 0};
    if (poll(&changed, mounts == -1 ? 0 : 1, watch_ms) > 0 &&
        (changed.revents & POLLPRI))
      protect_disk(nosymfollow);
    place_touch(view);
  }
  if (mounts != -1)
    close(mounts);
}

// ---- users and groups, read from the files themselves: a static program
// cannot rely on the C library's name services on every board

struct Account {
  std::string name;
  unsigned id = 0, group = 0; // a group's own id in both
};

// NAME's line of /etc/passwd (NAME:x:UID:GID:…) or /etc/group (NAME:x:GID:…).
bool find_account(const char *file, const std::string &name, Account &found) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field, password, id, group;
    if (std::getline(fields, field, ':') && field == name &&
        std::getline(fields, password, ':') && std::getline(fields, id, ':')) {
      std::getline(fields, group, ':');
      found.name = name;
      found.id = unsigned(std::strtoul(id.c_str(), nullptr, 10));
      found.group = unsigned(std::strtoul(
          (group.empty() ? id : group).c_str(), nullptr, 10));
      return true;
    }
  }
  return false;
}

// ---- BusyBox: the player in a view of its own

bool enter_view(View &view) {
  share_disk_parent();
  if (unshare(CLONE_NEWNS) == -1 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == -1 ||
      mount("frame-player", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC,
            "mode=0755,size=64k") == -1) {
    note_error("cannot make the player's view");
    return false;
  }
  place_node("/dev/null", makedev(1, 3), 0, 0, 0666);
  mkdir("/dev/input", 0755);
  view.screen = lcd_device;
  view.touch = touch_device;
  place_screen(view);
  place_touch(view);
  return true;
}

// The player, as USER without groups or a way back to root.
[[noreturn]] void become_player(const Account &user, const char *program) {
  if (user.id != 0 &&
      (setgroups(0, nullptr) == -1 || setgid(user.group) == -1 ||
       setuid(user.id) == -1)) {
    note_error("cannot become " + user.name);
    _exit(1);
  }
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  execl(program, program, static_cast<char *>(nullptr));
  note_error(std::string("cannot run ") + program);
  _exit(127);
}

// The process that stays, as root, beside the player, ends with it and
// puts the screen's depth back then.
void keep_view(View &view, SavedMode &saved, pid_t player) {
  catch_stop();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == player)
    watch(view, true);
  restore_depth(view.screen, saved);
}

int run_player(const char *user_name, const char *program) {
  Account player;
  if (!find_account("/etc/passwd", user_name, player)) {
    note(std::string("no user ") + user_name + " in /etc/passwd");
    return 1;
  }
  View view;
  view.owner.uid = player.id;
  view.owner.screen_group = view.owner.touch_group = player.group;
  if (!enter_view(view))
    return 1;
  // The depth first: the player maps the screen as soon as it starts.
  SavedMode saved = switch_depth(view.screen);
  const pid_t parent = getpid();
  const pid_t keeper = fork();
  if (keeper == -1) {
    note_error("cannot fork");
    return 1;
  }
  if (keeper == 0) {
    keep_view(view, saved, parent);
    _exit(0);
  }
  become_player(player, program);
}

// ---- systemd: the nodes for the unit to bind

gid_t group_id(const char *name) {
  Account found;
  return find_account("/etc/group", name, found) ? found.id : 0;
}

// Tells systemd the nodes are there (Type=notify), when it asks.
void notify_ready() {
  const char *path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path || std::strlen(path) >= sizeof(sockaddr_un::sun_path))
    return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  if (address.sun_path[0] == '@')
    address.sun_path[0] = '\0';
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const char ready[] = "READY=1";
  sendto(fd, ready, sizeof ready - 1, 0,
         reinterpret_cast<const sockaddr *>(&address),
         offsetof(sockaddr_un, sun_path) + std::strlen(path));
  close(fd);
}

int keep_devices(const std::string &dir) {
  View view;
  view.owner.screen_group = group_id("video");
  view.owner.touch_group = group_id("input");
  view.owner.screen_mode = 0660;
  view.owner.touch_mode = 0640;
  view.screen = dir + "/fb0";
  view.touch = dir + "/input/event0";
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/input").c_str(), 0755);
  catch_stop();
  place_screen(view);
  place_touch(view);
  SavedMode saved = switch_depth(view.screen);
  notify_ready();
  watch(view, false);
  restore_depth(view.screen, saved);
  for (const auto &path : {view.touch, dir + "/input", view.screen, dir})
    remove(path.c_str());
  return 0;
}

int usage() {
  std::fprintf(stderr, "usage: %s USER PROGRAM, or %s --devices DIR\n", me, me);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3)
    return usage();
  if (geteuid() != 0) {
    note("needs root to prepare the player's devices");
    return 1;
  }
  if (std::strcmp(argv[1], "--devices") == 0)
    return keep_devices(argv[2]);
  return run_player(argv[1], argv[2]);
}
