// The emulated board: runs the unmodified frame player in a private mount
// namespace with a file for a screen, a FIFO for a touchscreen and a frames
// directory of the caller's choice, and drives it from a touch script.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <linux/input.h>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "touch.h"

constexpr int exit_steps_passed = 0;
constexpr int exit_step_failed = 1;
constexpr int exit_setup_failed = 2;
constexpr int exit_no_namespaces = 77; // CTest's SKIP_RETURN_CODE

struct RigOptions {
  std::vector<std::string> emulator; // words run before the player, if any
  std::string player;
  std::string frames_dir; // empty: an empty frames directory
  std::string out_dir = "board-out";
  std::string script_file;
  std::vector<std::string> steps; // given on the command line
  std::string record_name;        // in out_dir; empty: no recording
  int record_fps = 25;
  int input_event_size = sizeof(input_event); // the player's own layout
  double timeout_seconds = 30;
  bool screen = true;
  bool touch = true;
  bool quiet = false;
};

// board.cpp: the namespace and its devices, as the rig sees them.
struct Board {
  int screen_fd = -1; // /dev/fb0, or -1 with --no-screen
  int touch_fd = -1;  // the rig's own end of /dev/input/event0
};

// Enters a private mount namespace and builds the devices in it. Returns
// 0, exit_no_namespaces or exit_setup_failed, having said why.
int enter_board(const RigOptions &options, Board &board);

constexpr char touch_node_dir[] = "/dev/input";
constexpr const char *touch_node = touch_device;
// The touchscreen appears (a FIFO the rig holds), or vanishes as a device
// node does when its device is unplugged. False, having said why, on
// failure.
bool make_touchscreen(Board &board);
bool remove_touchscreen(Board &board);

// player.cpp: the player process and everything it printed.
struct PlayerLine {
  double seconds; // since the player started, taken on the rig's side
  bool error_stream;
  std::string text;
};

struct Player {
  pid_t pid = -1;
  std::chrono::steady_clock::time_point start;
  std::mutex mutex; // guards the fields below
  std::vector<PlayerLine> lines;
  int open_streams = 0;
  bool ended = false;
  int wait_status = 0;
  FILE *log = nullptr; // every line, time-stamped
  bool echo = true;    // copy lines to the rig's standard output
  std::vector<std::thread> threads;
};

// Starts `command` with captured output; false (having said why) if it
// cannot be run. Must be called while the rig has no other thread.
bool start_player(const std::vector<std::string> &command, Player &player);
// A time-stamped line of the rig's own in the log and on the console.
void note(Player &player, const std::string &text);
// Sends `signal` unless the player has ended; false if it had.
bool signal_player(Player &player, int signal);
// Kills the player if still running and collects all of its output.
void finish_player(Player &player);
double seconds_since_start(const Player &player);
std::string describe_end(int wait_status);

// screen.cpp: reading the screen, and ffmpeg for pictures and recordings.
using Screen = std::vector<std::uint32_t>;

bool read_screen(int screen_fd, Screen &screen);
// "frame N", "blank", "frame N drawn over frame M down to row R" or "not a
// test frame" (any picture not made by frame-gen).
std::string describe_screen(const Screen &screen);
// Writes NAME (".png" added if missing) in the directory `dir_fd`.
bool save_png(const Screen &screen, int dir_fd, const std::string &name);

struct Recorder {
  pid_t encoder = -1;
  int pipe_fd = -1;
  std::atomic<bool> stop{false};
  std::thread sampler;
};

bool start_recording(Recorder &recorder, int screen_fd, int dir_fd,
                     const std::string &name, int fps);
bool finish_recording(Recorder &recorder);

// script.cpp: the touch script.
struct Rig {
  RigOptions options;
  Board board;
  int out_fd = -1;
  Player player;
  std::size_t line_cursor = 0; // lines before it are matched already
  int noted_fds = -1;
  long noted_rss_kb = -1;
};

// Whether every step is one the rig knows; says which is not.
bool check_script(const std::vector<std::string> &lines);
// Runs the steps in order; false at the first one that fails.
bool run_script(Rig &rig, const std::vector<std::string> &lines);
