// What the supervisor changes on the board, and puts back: the screen's
// depth, the LCD terminal's mode and the frame disk's mount. Each change
// is written to the state folder before it is made, so that a supervisor
// started after one that was killed still puts the board back.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/fb.h>
#include <linux/kd.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board_devices.h"
#include "run.h"
#include "show_bmp.h"

#ifndef MS_NOSYMFOLLOW
#define MS_NOSYMFOLLOW 256 // Linux 5.10
#endif
#ifndef SYS_open_tree
#define SYS_open_tree 428 // Linux 5.2, the same number everywhere
#endif
#ifndef SYS_move_mount
#define SYS_move_mount 429
#endif

namespace run {
namespace {

std::string state_dir() {
  struct stat run {};
  return stat("/run", &run) == 0 && S_ISDIR(run.st_mode)
             ? "/run/frame-player"
             : "/var/run/frame-player";
}

// ---- the screen's depth

void set_channels(fb_var_screeninfo &mode) {
  mode.bits_per_pixel = lcd_bytes_per_pixel * 8;
  mode.red = {lcd_red_shift, 8, 0};
  mode.green = {lcd_green_shift, 8, 0};
  mode.blue = {lcd_blue_shift, 8, 0};
  mode.transp = {24, 0, 0};
  mode.activate = FB_ACTIVATE_NOW;
}

std::string screen_path() { return std::string(devices_dir) + "/fb0"; }

// ---- the LCD's virtual terminal

std::string terminal(int number) { return "/dev/tty" + std::to_string(number); }

// Whether TERMINAL draws on the player's screen. Asked again only when
// either changes: the board check must not find the screen held by more
// than the player.
bool draws_on_screen(int terminal_number, const Devices &devices) {
  static int asked_terminal = -1;
  static dev_t asked_screen = 0;
  static bool answer = false;
  if (terminal_number == asked_terminal && devices.screen == asked_screen)
    return answer;
  asked_terminal = terminal_number;
  asked_screen = devices.screen;
  const int fd = open((devices.dir + "/fb0").c_str(), O_RDONLY | O_CLOEXEC);
  const int drawn_on =
      fd == -1 ? -1 : board_devices::console_screen(fd, terminal_number);
  if (fd != -1)
    close(fd);
  answer = drawn_on >= 0 && drawn_on == devices.screen_number;
  return answer;
}

bool set_mode(int terminal_number, int mode) {
  const int fd =
      open(terminal(terminal_number).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int now = -1;
  const bool done = fd != -1 && (ioctl(fd, KDGETMODE, &now) == 0 && now == mode
                                     ? true
                                     : ioctl(fd, KDSETMODE, mode) == 0);
  if (fd != -1)
    close(fd);
  return done;
}

// ---- the frame disk

struct MountEntry {
  std::string root, point, options, tags;
};

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
    mounts.push_back({root, point, options, tags});
  }
  return mounts;
}

bool has_option(const std::string &options, const std::string &name) {
  return ("," + options + ",").find("," + name + ",") != std::string::npos;
}

bool holds_disk_point(const std::string &point) {
  return point == "/" ||
         std::string(frames_disk).compare(0, point.size() + 1, point + "/") ==
             0;
}

// Whether a disk mounted at /mnt/udisk reaches other views already (the
// mount that holds the folder is shared, as systemd makes the root), and
// whether one is mounted there now.
void disk_mounts(bool &propagates, bool &mounted) {
  std::string holder;
  propagates = mounted = false;
  for (const auto &mount : read_mounts()) {
    if (mount.point == frames_disk)
      mounted = true;
    else if (holds_disk_point(mount.point) &&
             mount.point.size() >= holder.size()) {
      holder = mount.point;
      propagates = mount.tags.find("shared:") != std::string::npos;
    }
  }
}

int mounts_at_disk_point() {
  int count = 0;
  for (const auto &mount : read_mounts())
    count += mount.point == frames_disk;
  return count;
}

bool move_mount_point(const std::string &from, const std::string &to) {
  return mount(from.c_str(), to.c_str(), nullptr, MS_MOVE, nullptr) == 0;
}

// The folder bound onto itself, and a disk above it if there is one, put
// back as they were: the disk is cloned, the bind taken away beneath it
// and the clone mounted in its place (Linux 5.2).
bool unbind_disk_point() {
  int disk = -1;
  if (mounts_at_disk_point() > 1) {
    disk = int(syscall(SYS_open_tree, AT_FDCWD, frames_disk,
                       1 /* OPEN_TREE_CLONE */ | O_CLOEXEC));
    if (disk == -1 || umount2(frames_disk, MNT_DETACH) == -1) {
      if (disk != -1)
        close(disk);
      return false;
    }
  }
  const bool unbound =
      mount(nullptr, frames_disk, nullptr, MS_PRIVATE, nullptr) == 0 &&
      umount2(frames_disk, 0) == 0;
  if (disk != -1) {
    if (syscall(SYS_move_mount, disk, "", AT_FDCWD, frames_disk,
                4 /* MOVE_MOUNT_F_EMPTY_PATH */) == -1)
      note_error("cannot mount the frame disk at " + std::string(frames_disk) +
                 " again");
    close(disk);
  }
  return unbound;
}

} // namespace

// ---- state

std::string state_file(const char *name) { return state_dir() + "/" + name; }

bool read_state(const char *name, std::string &content) {
  std::ifstream in(state_file(name), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  content = text.str();
  return bool(in);
}

bool has_state(const char *name) {
  return bool(std::ifstream(state_file(name), std::ios::binary));
}

void write_state(const char *name, const std::string &content) {
  mkdir(state_dir().c_str(), 0755);
  const std::string path = state_file(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush())
    note_error("cannot keep " + path);
}

void drop_state(const char *name) { unlink(state_file(name).c_str()); }

void forget_state() { rmdir(state_dir().c_str()); }

// ---- depth

// A screen of fewer bits per pixel is switched to the player's 32 where the
// driver allows it; a driver that refuses leaves it as it was (the board
// check names the fix).
void switch_depth(const Devices &devices) {
  const int fd = open((devices.dir + "/fb0").c_str(), O_RDWR | O_CLOEXEC);
  fb_var_screeninfo own{};
  if (fd == -1 || ioctl(fd, FBIOGET_VSCREENINFO, &own) == -1 ||
      own.bits_per_pixel == lcd_bytes_per_pixel * 8) {
    if (fd != -1)
      close(fd);
    return;
  }
  if (!has_state("depth")) // else a killed supervisor's switch
    write_state("depth",
                std::string(reinterpret_cast<char *>(&own), sizeof own));
  fb_var_screeninfo wanted = own, now{};
  set_channels(wanted);
  if (ioctl(fd, FBIOPUT_VSCREENINFO, &wanted) == 0 &&
      ioctl(fd, FBIOGET_VSCREENINFO, &now) == 0 &&
      now.bits_per_pixel == wanted.bits_per_pixel) {
    note("switched the screen from " + std::to_string(own.bits_per_pixel) +
         " to 32 bits per pixel");
  } else {
    own.activate = FB_ACTIVATE_NOW;
    ioctl(fd, FBIOPUT_VSCREENINFO, &own);
    drop_state("depth");
    note("the screen's driver keeps it at " +
         std::to_string(own.bits_per_pixel) +
         " bits per pixel (frame-player-check names the fix)");
  }
  close(fd);
}

void restore_depth() {
  std::string kept;
  fb_var_screeninfo own{};
  if (!read_state("depth", kept) || kept.size() != sizeof own)
    return;
  std::memcpy(&own, kept.data(), sizeof own);
  own.activate = FB_ACTIVATE_NOW;
  const int fd = open(screen_path().c_str(), O_RDWR | O_CLOEXEC);
  if (fd == -1 || ioctl(fd, FBIOPUT_VSCREENINFO, &own) == -1)
    note_error("cannot put the screen back to its own depth");
  else
    drop_state("depth");
  if (fd != -1)
    close(fd);
}

// ---- console

// The terminal shown on the player's screen stays in graphics mode: the
// kernel then draws no text, cursor or blanking there, while every console
// keeps its log level. Again at every look, since a getty that starts on it
// sets text mode back.
void keep_console(const Devices &devices) {
  const int shown = board_devices::shown_terminal();
  std::string kept;
  read_state("console", kept);
  const int switched = std::atoi(kept.c_str());
  if (switched > 0 && switched != shown)
    restore_console();
  if (shown <= 0 || devices.screen == 0 || !draws_on_screen(shown, devices))
    return;
  if (switched != shown)
    write_state("console", std::to_string(shown));
  if (!set_mode(shown, KD_GRAPHICS) && switched != shown)
    note_error("cannot keep the console's text off the screen: " +
               terminal(shown));
}

void restore_console() {
  std::string kept;
  if (!read_state("console", kept))
    return;
  const int switched = std::atoi(kept.c_str());
  if (switched > 0 && !set_mode(switched, KD_TEXT))
    note_error("cannot give " + terminal(switched) + " its text back");
  drop_state("console");
}

// ---- frame disk

// A disk mounted later at /mnt/udisk must reach the player's view, which
// is a copy of the board's mounts. Where the board's mounts do not
// propagate (BusyBox boards), only /mnt/udisk is bound onto itself and made
// shared: a disk mounted there already is moved aside and back on top.
void share_disk() {
  bool propagates = false, mounted = false;
  disk_mounts(propagates, mounted);
  if (propagates || has_state("shared-disk"))
    return;
  const std::string aside = state_file("disk");
  mkdir(frames_disk, 0755);
  write_state("shared-disk", "");
  if (mounted)
    mkdir(aside.c_str(), 0700);
  if (mounted && !move_mount_point(frames_disk, aside)) {
    note_error("cannot let the frame disk reach the player");
    drop_state("shared-disk");
    rmdir(aside.c_str());
    return;
  }
  if (mount(frames_disk, frames_disk, nullptr, MS_BIND, nullptr) == -1 ||
      mount(nullptr, frames_disk, nullptr, MS_SHARED, nullptr) == -1) {
    note_error("cannot let the frame disk reach the player");
    drop_state("shared-disk");
  }
  if (mounted && !move_mount_point(aside, frames_disk))
    note_error("cannot mount the frame disk at " + std::string(frames_disk) +
               " again");
  rmdir(aside.c_str());
}

void restore_disk() {
  if (!has_state("shared-disk"))
    return;
  if (unbind_disk_point())
    drop_state("shared-disk");
  else
    note_error("cannot take the bind of " + std::string(frames_disk) +
               " away; it goes at the next stop without the disk");
}

// In the player's view the frame disk follows no symbolic link, so a frame
// name cannot lead it to a file of the board. Kernels before 5.10 lack the
// flag.
void protect_disk() {
  for (const auto &mount : read_mounts()) {
    if (mount.point != frames_disk || mount.root != "/" ||
        has_option(mount.options, "nosymfollow"))
      continue;
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_NOSYMFOLLOW;
    const std::pair<const char *, unsigned long> known[] = {
        {"ro", MS_RDONLY},        {"nosuid", MS_NOSUID},
        {"nodev", MS_NODEV},      {"noexec", MS_NOEXEC},
        {"noatime", MS_NOATIME},  {"nodiratime", MS_NODIRATIME},
        {"relatime", MS_RELATIME}};
    for (const auto &[name, flag] : known)
      if (has_option(mount.options, name))
        flags |= flag;
    ::mount(nullptr, frames_disk, nullptr, flags, nullptr);
  }
}

// A child enters the player's view, as the supervisor must stay in the
// board's own.
void protect_disk_in(pid_t player) {
  const int view = open(("/proc/" + std::to_string(player) + "/ns/mnt").c_str(),
                        O_RDONLY | O_CLOEXEC);
  if (view == -1)
    return;
  const pid_t child = fork();
  if (child == 0) {
    if (setns(view, CLONE_NEWNS) == 0)
      protect_disk();
    _exit(0);
  }
  close(view);
  if (child > 0)
    waitpid(child, nullptr, 0);
}

} // namespace run
