// board-rig: runs the frame player on an emulated board and does what the
// step interpreter (tests/steps/rig.py) asks, one command a line on its
// standard input. See tools/board-rig/README.md.
#include "rig.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "byte_formats.h"
#include "byte_io.h"

namespace {

// Run by tests/steps/rig.py, whose usage and README say more.
[[noreturn]] void usage(const std::string &problem) {
  std::fprintf(stderr,
               "board-rig: %s\nusage: board-rig [--input-event-size N] "
               "[--frames DIR] [--no-screen] [--no-touch-device] [--out DIR] "
               "[--record NAME] [--record-fps N] -- PLAYER-COMMAND...\n",
               problem.c_str());
  std::exit(exit_setup_failed);
}

int positive(const std::string &option, const char *value) {
  char *end = nullptr;
  const long number = std::strtol(value, &end, 10);
  if (*end != '\0' || number <= 0 || number > INT_MAX)
    usage(option + " needs a positive number");
  return static_cast<int>(number);
}

RigOptions parse_options(int argc, char **argv) {
  RigOptions options;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc)
        usage(option + " needs a value");
      return argv[++i];
    };
    if (option == "--input-event-size")
      options.input_event_size = positive(option, value());
    else if (option == "--frames")
      options.frames_dir = value();
    else if (option == "--no-screen")
      options.screen = false;
    else if (option == "--no-touch-device")
      options.touch = false;
    else if (option == "--out")
      options.out_dir = value();
    else if (option == "--record")
      options.record_name = value();
    else if (option == "--record-fps")
      options.record_fps = positive(option, value());
    else
      usage("unknown option " + option);
  }
  options.command.assign(argv + std::min(i + 1, argc), argv + argc);
  if (options.command.empty())
    usage("no player command after --");
  if (options.input_event_size != 16 && options.input_event_size != 24)
    usage("--input-event-size is 16 or 24");
  if (!options.record_name.empty() && !options.screen)
    usage("--record needs a screen");
  return options;
}

// Opened before the board's mounts, so later writes go to the right place
// even if the path lies under /dev or /mnt.
int open_out_dir(const std::string &dir) {
  const int fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) {
    std::fprintf(stderr, "board-rig: --out %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    std::exit(exit_setup_failed);
  }
  return fd;
}

struct Rig {
  RigOptions options;
  Board board;
  int out_fd = -1;
  Player player;
};

std::string failed(const std::string &what) {
  return "no " + what + ": " + std::strerror(errno);
}

// Sends records in one write, as a driver delivers a report at once.
std::string send(Rig &rig,
                 std::initializer_list<byte_formats::InputRecord> records) {
  const auto bytes = byte_formats::input_records(
      static_cast<std::size_t>(rig.options.input_event_size), records);
  if (write(rig.board.touch_fd, bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size()))
    return failed("write");
  return "ok";
}

// down X Y, move X Y, up: a report of the position, with the touch key
// pressed or released.
std::string touch(Rig &rig, const std::string &verb, std::istream &args) {
  if (rig.board.touch_fd == -1)
    return "no there is no touch device";
  const byte_formats::InputRecord syn{EV_SYN, SYN_REPORT, 0};
  if (verb == "up")
    return send(rig, {{EV_KEY, BTN_TOUCH, 0}, syn});
  int x = 0, y = 0;
  if (!(args >> x >> y))
    return "no " + verb + " needs X Y";
  const byte_formats::InputRecord at_x{EV_ABS, ABS_X, x},
      at_y{EV_ABS, ABS_Y, y};
  if (verb == "move")
    return send(rig, {at_x, at_y, syn});
  return send(rig, {at_x, at_y, {EV_KEY, BTN_TOUCH, 1}, syn});
}

// "screen [FILE]": the screen's layers, and with FILE its raw words kept
// there; "snap NAME": NAME.png.
std::string screen(Rig &rig, const std::string &verb, const std::string &name) {
  Screen screen;
  if (rig.board.screen_fd == -1 || !read_screen(rig.board.screen_fd, screen))
    return "no there is no screen to read";
  if (verb == "snap")
    return save_png(screen, rig.out_fd, name) ? "ok" : "no could not save it";
  if (!name.empty()) {
    const int fd = openat(rig.out_fd, name.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written =
        fd != -1 &&
        byte_io::write_all(fd, screen.data(), screen.size() * sizeof screen[0]);
    if (fd != -1)
      close(fd);
    if (!written)
      return failed(name);
  }
  return "ok " + screen_layers(screen);
}

std::string kill_player(Rig &rig, const std::string &name) {
  for (int number = 1; number < NSIG; ++number) {
    const char *abbrev = sigabbrev_np(number);
    if (abbrev != nullptr && name == abbrev)
      return signal_player(rig.player, number)
                 ? "ok"
                 : "no the player has already ended";
  }
  return "no unknown signal '" + name + "'";
}

// One command of the interpreter's: its answer, "ok ..." or "no REASON".
std::string answer(Rig &rig, const std::string &line) {
  std::istringstream args(line);
  std::string verb, rest;
  args >> verb;
  std::getline(args >> std::ws, rest);
  if (verb == "down" || verb == "move" || verb == "up") {
    std::istringstream numbers(rest);
    return touch(rig, verb, numbers);
  }
  if (verb == "destroy") {
    if (rig.board.touch_fd == -1)
      return "no there is no touch device";
    return remove_touchscreen(rig.board) ? "ok" : failed("remove");
  }
  if (verb == "create") {
    if (rig.board.touch_fd != -1)
      return "no the touch device is there already";
    return make_touchscreen(rig.board) ? "ok" : failed("make");
  }
  if (verb == "screen" || verb == "snap")
    return screen(rig, verb, rest);
  if (verb == "kill")
    return kill_player(rig, rest);
  return "no unknown command '" + verb + "'";
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN); // a dead ffmpeg is reported, not fatal
  Rig rig;
  rig.options = parse_options(argc, argv);
  rig.out_fd = open_out_dir(rig.options.out_dir);
  const int board = enter_board(rig.options, rig.board);
  if (board != 0)
    return board;

  if (!start_player(rig.options.command, rig.player)) {
    finish_player(rig.player);
    return exit_setup_failed;
  }
  Recorder recorder;
  if (!rig.options.record_name.empty() &&
      !start_recording(recorder, rig.board.screen_fd, rig.out_fd,
                       rig.options.record_name, rig.options.record_fps)) {
    finish_player(rig.player);
    return 1;
  }
  tell(rig.player, "ready " + std::to_string(rig.player.pid));
  for (std::string line; std::getline(std::cin, line);)
    tell(rig.player, answer(rig, line));
  finish_player(rig.player);
  return finish_recording(recorder) ? 0 : 1;
}
