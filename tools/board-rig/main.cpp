// board-rig: runs the frame player on an emulated board and drives it
// with a touch script. See tools/board-rig/README.md.
#include "rig.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char usage_text[] =
    "usage: board-rig [OPTION...] [STEP...]\n"
    "  --player PATH          frame-player binary (default: the one built\n"
    "                         beside this rig)\n"
    "  --emulator 'CMD ARGS'  run the player as CMD ARGS PLAYER\n"
    "  --input-event-size N   touch record size of the player's ABI (16 on\n"
    "                         32-bit ARM; default: this machine's)\n"
    "  --frames DIR           mounted as /mnt/udisk/4/3 (default: empty)\n"
    "  --no-screen            no /dev/fb0\n"
    "  --no-touch-device      no /dev/input/event0\n"
    "  --out DIR              pictures, recording and player.log (default:\n"
    "                         board-out)\n"
    "  --script FILE          steps, one a line ('-': standard input)\n"
    "  --record NAME          record the screen into DIR/NAME (.gif, .mp4)\n"
    "  --record-fps N         samples a second (default 25)\n"
    "  --timeout SECONDS      longest wait of an expect step (default 30)\n"
    "  --quiet                no console copy of the player's lines\n"
    "Steps: down X Y, move X Y, up, close-touch, open-touch, wait MS,\n"
    "settle MS, snap NAME, expect-line TEXT, expect-next-line TEXT,\n"
    "wait-count PREFIX [+]N, expect-count PREFIX N, expect-frame\n"
    "N|blank|last-drawn, expect-drawing N|last-drawn, expect-open PATH,\n"
    "note-fds, expect-fds-unchanged, note-rss, expect-rss-within KB, kill\n"
    "[SIGNAL], expect-exit STATUS|SIGNAL, expect-running. Exit: 0 passed,\n"
    "1 a step failed, 2 setup error, 77 no namespaces here.\n";

[[noreturn]] void usage(const std::string &problem) {
  std::fprintf(stderr, "board-rig: %s\n%s", problem.c_str(), usage_text);
  std::exit(exit_setup_failed);
}

std::vector<std::string> split_words(const std::string &text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
    const auto end = text.find(' ', at);
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

int positive(const std::string &option, const char *value) {
  char *end = nullptr;
  const long number = std::strtol(value, &end, 10);
  if (*end != '\0' || number <= 0 || number > INT_MAX)
    usage(option + " needs a positive number");
  return static_cast<int>(number);
}

std::string built_player() {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
    return "frame-player";
  std::string path = self;
  path.erase(path.rfind('/'));
  return path + "/../../frame-player";
}

RigOptions parse_options(int argc, char **argv) {
  RigOptions options;
  options.player = built_player();
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc)
        usage(option + " needs a value");
      return argv[++i];
    };
    if (option == "--player")
      options.player = value();
    else if (option == "--emulator")
      options.emulator = split_words(value());
    else if (option == "--input-event-size")
      options.input_event_size = positive(option, value());
    else if (option == "--frames")
      options.frames_dir = value();
    else if (option == "--no-screen")
      options.screen = false;
    else if (option == "--no-touch-device")
      options.touch = false;
    else if (option == "--out")
      options.out_dir = value();
    else if (option == "--script")
      options.script_file = value();
    else if (option == "--record")
      options.record_name = value();
    else if (option == "--record-fps")
      options.record_fps = positive(option, value());
    else if (option == "--timeout")
      options.timeout_seconds = positive(option, value());
    else if (option == "--quiet")
      options.quiet = true;
    else if (option == "--help")
      usage("runs the frame player on an emulated board");
    else if (option.rfind("--", 0) == 0)
      usage("unknown option " + option);
    else
      options.steps.push_back(option);
  }
  if (options.input_event_size != 16 && options.input_event_size != 24)
    usage("--input-event-size is 16 or 24");
  if (!options.record_name.empty() && !options.screen)
    usage("--record needs a screen");
  return options;
}

std::vector<std::string> script_lines(const RigOptions &options) {
  std::vector<std::string> lines;
  if (!options.script_file.empty()) {
    std::ifstream file;
    if (options.script_file != "-")
      file.open(options.script_file);
    std::istream &in = options.script_file == "-" ? std::cin : file;
    if (!in)
      usage("cannot read " + options.script_file);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
  }
  lines.insert(lines.end(), options.steps.begin(), options.steps.end());
  return lines;
}

// Opened before the board's mounts, so later writes go to the right place
// even if the path lies under /dev or /mnt.
int open_out_dir(const std::string &dir) {
  for (std::size_t end = 1; end != std::string::npos;) {
    end = dir.find('/', end + 1);
    if (mkdir(dir.substr(0, end).c_str(), 0755) == -1 && errno != EEXIST)
      break;
  }
  const int fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) {
    std::fprintf(stderr, "board-rig: --out %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    std::exit(exit_setup_failed);
  }
  return fd;
}

FILE *open_log(int dir_fd) {
  const int fd = openat(dir_fd, "player.log",
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FILE *log = fd == -1 ? nullptr : fdopen(fd, "w");
  if (log == nullptr)
    std::perror("board-rig: player.log");
  return log;
}

std::vector<std::string> player_command(const RigOptions &options) {
  char resolved[PATH_MAX];
  if (realpath(options.player.c_str(), resolved) == nullptr) {
    std::fprintf(stderr, "board-rig: --player %s: %s\n", options.player.c_str(),
                 std::strerror(errno));
    std::exit(exit_setup_failed);
  }
  std::vector<std::string> command = options.emulator;
  command.push_back(resolved);
  return command;
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN); // a dead ffmpeg is reported, not fatal
  Rig rig;
  rig.options = parse_options(argc, argv);
  const auto lines = script_lines(rig.options);
  if (!check_script(lines))
    return exit_setup_failed;
  const auto command = player_command(rig.options);
  rig.out_fd = open_out_dir(rig.options.out_dir);
  const int board = enter_board(rig.options, rig.board);
  if (board != 0)
    return board;

  rig.player.echo = !rig.options.quiet;
  rig.player.log = open_log(rig.out_fd);
  if (!start_player(command, rig.player)) {
    finish_player(rig.player);
    return exit_setup_failed;
  }
  Recorder recorder;
  bool passed =
      rig.options.record_name.empty() ||
      start_recording(recorder, rig.board.screen_fd, rig.out_fd,
                      rig.options.record_name, rig.options.record_fps);
  passed = passed && run_script(rig, lines);
  finish_player(rig.player);
  passed = finish_recording(recorder) && passed;
  std::fflush(stdout);
  return passed ? exit_steps_passed : exit_step_failed;
}
