// frame-player-check: tells a board owner what keeps the frame player from
// working on this board (screen, touchscreen, frames, the player itself)
// and how to fix it. It only reads; see checker/README.md.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "check_frames.h"
#include "check_player.h"
#include "check_screen.h"
#include "check_touch.h"
#include "findings.h"
#include "frame_player_version.h"
#include "show_bmp.h"
#include "touch.h"

namespace {

constexpr int exit_all_passed = 0;
constexpr int exit_something_failed = 1;
constexpr int exit_usage = 2;

const char usage_text[] =
    "usage: frame-player-check [--touch | --frames DIR | --version]\n"
    "Checks what frame-player needs and prints one line per finding: ok,\n"
    "warn or FAIL, what was found and, unless ok, the fix. It only reads.\n"
    "  (no option)   on the board: the screen (/dev/fb0), the touchscreen\n"
    "                (/dev/input/event0), the frames (/mnt/udisk/4/3/\n"
    "                Frame0.bmp ... Frame81.bmp) and the running player\n"
    "  --touch       the same, then waits up to 10 s for a touch and a\n"
    "                release on /dev/input/event0 and reports what arrived\n"
    "                and whether the player would start and stop playback\n"
    "  --frames DIR  only the frames DIR/Frame0.bmp ... Frame81.bmp, e.g. on\n"
    "                a PC before copying them to the USB disk\n"
    "  --version     the version of the check\n"
    "  --help        this text\n"
    "Exit status: 0 nothing failed, 1 something failed, 2 wrong arguments.\n";

struct Options {
  bool touch = false;
  bool help = false;
  bool version = false;
  std::string frames_dir; // empty: check the whole board
  std::string problem;    // a wrong argument
};

Options parse_options(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc && options.problem.empty(); ++i) {
    const std::string option = argv[i];
    if (option == "--touch")
      options.touch = true;
    else if (option == "--help" || option == "-h")
      options.help = true;
    else if (option == "--version")
      options.version = true;
    else if (option == "--frames" && i + 1 < argc && argv[i + 1][0] != '\0')
      options.frames_dir = argv[++i];
    else if (option == "--frames")
      options.problem = "--frames needs a folder";
    else
      options.problem = "unknown argument " + option;
  }
  if (options.problem.empty() && options.touch && !options.frames_dir.empty())
    options.problem = "--touch checks the board, --frames only a folder";
  return options;
}

// Whether the player starts through frame-player-run, which gives it the
// board's own screen and touchscreen: installed beside this check (its
// sbin beside this bin), the init script and the unit use it.
bool player_viewed() {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
    return false;
  std::string dir = self;
  dir.erase(dir.rfind('/') + 1);
  return access((dir + "../sbin/frame-player-run").c_str(), X_OK) == 0;
}

void check_board(bool wait_for_touch, frame_check::Findings &findings) {
  // Started otherwise, the player opens the devices it names itself.
  const bool viewed = player_viewed();
  frame_check::check_screen(viewed ? frame_check::player_screen(findings)
                                   : lcd_device,
                            viewed, findings);
  frame_check::check_touch(viewed ? frame_check::player_touchscreen(findings)
                                  : touch_device,
                           wait_for_touch, findings);
  frame_check::check_board_frames(findings);
  frame_check::check_player(findings);
}

} // namespace

int main(int argc, char **argv) {
  // Lines must appear as they are found (printed as they are added): the
  // touch prompt above all.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options options = parse_options(argc, argv);
  if (!options.problem.empty()) {
    std::fprintf(stderr, "frame-player-check: %s\n%s", options.problem.c_str(),
                 usage_text);
    return exit_usage;
  }
  // The version heads the help, so that a pasted help says which it was.
  if (options.help || options.version) {
    std::puts("frame-player-check " FRAME_PLAYER_VERSION);
    if (options.help)
      std::fputs(usage_text, stdout);
    return exit_all_passed;
  }
  frame_check::Findings findings;
  findings.on_added = [](const frame_check::Finding &finding) {
    std::printf("%s\n", frame_check::format_finding(finding).c_str());
  };
  if (options.frames_dir.empty())
    check_board(options.touch, findings);
  else
    frame_check::check_frame_folder(options.frames_dir, findings);
  std::printf("%s\n", frame_check::tally_line(findings).c_str());
  return findings.count(frame_check::Level::fail) > 0 ? exit_something_failed
                                                      : exit_all_passed;
}
