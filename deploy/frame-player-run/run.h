// frame-player-run: the one supervisor beside the player (frame-player-run(8)).
// Its pieces: the notes it writes, the state it keeps across its own death,
// the player's devices, what it changes on the board, and the player
// itself.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace run {

constexpr char me[] = "frame-player-run";
constexpr char frames_disk[] = "/mnt/udisk";
constexpr char devices_dir[] = "/dev/frame-player";

// ---- notes: one line each, dated when they go to a log file
extern bool dated_notes;
void note(const std::string &text);
void note_error(const std::string &text); // with strerror(errno)

// ---- the board's account files, read by the supervisor itself: a static
// program cannot rely on the C library's name services on every board.
// The colon-separated fields of NAME's line in FILE (/etc/passwd,
// /etc/group); none when it has no line.
std::vector<std::string> account_fields(const char *file,
                                        const std::string &name);

// ---- what must be put back even after a SIGKILL, one file each in
// /run/frame-player (/var/run/frame-player on boards without /run)
std::string state_file(const char *name);
bool read_state(const char *name, std::string &content);
bool has_state(const char *name); // whether NAME is kept, empty or not
void write_state(const char *name, const std::string &content);
void drop_state(const char *name);
// Removes the state folder once all is put back (it stays while not empty).
void forget_state();

// ---- the player's devices: DIR/fb0 and DIR/input/event0, nodes of the
// board's 800 × 480 screen and of its touchscreen, kept right as devices
// come and go
struct Owner {
  uid_t uid = 0;
  gid_t screen_group = 0, touch_group = 0;
  mode_t screen_mode = 0600, touch_mode = 0400;
};

struct Devices {
  std::string dir;
  Owner owner;
  dev_t screen = 0, touch = 0;
  int screen_number = -1;
  dev_t gone = 0;   // a touchscreen removed: its number is not taken again
                    // until the kernel adds a device under it
  int uevents = -1; // the kernel's device events (netlink), or -1
};

// Makes DIR and DIR/input and listens to the kernel's device events.
void open_devices(Devices &devices, const std::string &dir);
// Reads the pending device events; true when the devices should be looked
// at again. A removed touchscreen's node goes at once, before the kernel
// can give its number to another device.
bool read_uevents(Devices &devices);
// What one kernel event (ACTION@DEVPATH, then KEY=VALUE fields, each
// ended by a NUL) changes; true when it concerns the player's devices.
bool take_event(Devices &devices, const char *event, std::size_t size);
// Places the screen's and touchscreen's nodes as sysfs has them now.
void place_devices(Devices &devices);
// Revokes every input device the players hold but the touchscreen, so a
// keyboard that got a freed number is never read for more than a moment.
void take_strays(const Devices &devices, const std::vector<pid_t> &players);
// The processes running the player.
std::vector<pid_t> player_processes();
// Removes the nodes and folders made.
void close_devices(Devices &devices);

// ---- the watch: devices, mounts and signals, for either kind of board
struct Watch {
  int mounts = -1; // /proc/self/mountinfo, which polls when mounts change
  long long next_look_ms = 0;
};
bool stopping(); // SIGTERM, SIGINT or SIGHUP came
// Catches the signals, places the devices and keeps the console off them.
Watch start_watch(Devices &devices);
// Waits up to WAIT_MS for a device, mount or signal, looking at the
// devices whenever they change and every second or so; true when the
// mounts changed.
bool wait_for_change(Watch &watch, Devices &devices, int wait_ms);
// Puts the console and the depth back and removes the nodes.
void end_watch(Watch &watch, Devices &devices);

// ---- the board: each change is noted in the state first and put back
// by the restore, also by a later supervisor
void switch_depth(const Devices &devices); // to 32 bits per pixel
void restore_depth();
void keep_console(const Devices &devices); // the LCD's terminal: graphics
void restore_console();
void share_disk(); // the frame disk reaches the player's view
void restore_disk();
// The frame disk in the view of PLAYER follows no symbolic link.
void protect_disk_in(pid_t player);
void protect_disk(); // in this process's own view

// ---- the player (BusyBox boards)
constexpr off_t log_limit = off_t(1) << 20; // older lines move to LOG.1
// A log LOG (open as PATH) past log_limit: its lines move to PATH.1.
void trim_log(const std::string &path, int log);

struct Settings {
  std::string user = "frame-player";
  std::string log = "/var/log/frame-player.log";
  int wait_seconds = 30; // for the frames before the first start
  std::string pid_file;  // given: started in the background, pid there
  std::string program;
};
int supervise(const Settings &settings);

} // namespace run
