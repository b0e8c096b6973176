// The emulated board: runs the unmodified frame player in a private mount
// namespace with a file for a screen, a FIFO for a touchscreen and a frames
// directory of the caller's choice, and does what the step interpreter
// (tests/steps) asks on its standard input.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <linux/input.h>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "touch.h"

constexpr int exit_setup_failed = 2;
constexpr int exit_no_namespaces = 77; // CTest's SKIP_RETURN_CODE

struct RigOptions {
  std::vector<std::string> command; // the player, after its emulator if any
  std::string frames_dir;           // empty: an empty frames directory
  std::string out_dir = "board-out";
  std::string record_name; // in out_dir; empty: no recording
  int record_fps = 25;
  int input_event_size = sizeof(input_event); // the player's own layout
  bool screen = true;
  bool touch = true;
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

// player.cpp: the player process and everything it printed, each line
// passed on to the interpreter.
struct Player {
  pid_t pid = -1;
  std::mutex mutex; // guards the fields below and the rig's standard output
  int open_streams = 0;
  bool ended = false;
  int wait_status = 0;
  std::vector<std::thread> threads;
};

// Starts `command` with captured output; false (having said why) if it
// cannot be run. Must be called while the rig has no other thread.
bool start_player(const std::vector<std::string> &command, Player &player);
// A line to the interpreter, whole among the player's.
void tell(Player &player, const std::string &text);
// Sends `signal` unless the player has ended; false if it had.
bool signal_player(Player &player, int signal);
// Kills the player if still running and collects all of its output.
void finish_player(Player &player);
std::string describe_end(int wait_status);

// screen.cpp: reading the screen, and ffmpeg for pictures and recordings.
using Screen = std::vector<std::uint32_t>;

bool read_screen(int screen_fd, Screen &screen);
// "TOP ROWS BELOW": the frame on top and how far down it reaches, and
// what shows below it; each a frame number, "blank" or "unknown".
std::string screen_layers(const Screen &screen);
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
