// The touch script, in the step language of tests/README.md: the player's
// lines by name, their texts from its headers. Touch steps write records
// into the FIFO; expect steps observe the player's output, screen and
// descriptors, waiting for a state up to the timeout, not assuming a speed.
#include "rig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "byte_formats.h"
#include "frame_pattern.h"
#include "main.h"
#include "player_lines.h"
#include "show_bmp.h"
#include "touch.h"

namespace {

using Clock = std::chrono::steady_clock;
using frame_pattern::frame_count;

struct StepError {
  std::string message;
};

// ---- arguments

std::string trim(const std::string &text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos)
    return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool starts_with(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A text argument: "quoted" exactly (for trailing spaces), or else the rest
// of the line. `rest` is left with what follows a quoted text.
std::string take_text(std::string &rest) {
  if (rest.empty() || rest[0] != '"') {
    std::string text = trim(rest);
    rest.clear();
    return text;
  }
  const auto close = rest.find('"', 1);
  if (close == std::string::npos)
    throw StepError{"unterminated quote"};
  std::string text = rest.substr(1, close - 1);
  rest = trim(rest.substr(close + 1));
  return text;
}

long to_number(const std::string &word) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || errno != 0)
    throw StepError{"not a number: '" + word + "'"};
  return value;
}

std::vector<long> numbers(const std::string &rest, std::size_t count) {
  std::istringstream words(rest);
  std::vector<long> values;
  for (std::string word; words >> word;)
    values.push_back(to_number(word));
  if (values.size() != count)
    throw StepError{"needs " + std::to_string(count) + " number(s)"};
  return values;
}

// ---- the player's lines, by the names of tests/README.md

struct LineName {
  const char *name;
  const char *text;    // the player's format, or its whole line
  bool reason = false; // on standard error as "TEXT: REASON"
};

const LineName line_names[] = {
    {"position", position_line_format},
    {"size", size_line_format},
    {"drawn", pixels_read_format},
    {"open-failed", open_failed_line},
    {"read-failed", read_failed_line},
    {"bad-size", bad_size_line},
    {"touch-missing", open_error_text, true},
    {"touch-lost", read_error_text, true},
    {"touch-back", touch_back_line},
};

// How every line printed from `format` begins, whatever its values.
std::string format_prefix(const std::string &format) {
  return format.substr(0, format.find_first_of("%\n"));
}

std::string kind_prefix(const LineName &name) {
  return name.reason ? name.text + std::string(": ") : format_prefix(name.text);
}

const LineName &take_line_name(std::string &rest) {
  const std::string word = rest.substr(0, rest.find(' '));
  rest = trim(rest.substr(word.size()));
  for (const auto &name : line_names)
    if (word == name.name)
      return name;
  throw StepError{"no line is named '" + word + "' (quote any other line)"};
}

// The line `name` with the values in `rest`, printed as the player does.
std::string with_values(const LineName &name, const std::string &rest) {
  if (name.reason && rest.empty())
    throw StepError{std::string(name.name) + " needs a REASON"};
  if (name.reason)
    return kind_prefix(name) + rest;
  const std::string format = name.text;
  auto values = numbers(rest, std::count(format.begin(), format.end(), '%'));
  values.resize(2); // no line has more values
  return player_lines::quoted(
      player_lines::printed(name.text, int(values[0]), int(values[1])));
}

// A LINE argument: a line name with its values, or "TEXT".
std::string take_line(std::string &rest) {
  if (rest.empty() || rest[0] != '"')
    return with_values(take_line_name(rest), rest);
  return take_text(rest);
}

// A KIND argument, as the prefix its lines share: a line name without
// values, or "PREFIX".
std::string take_kind(std::string &rest) {
  if (rest.empty() || rest[0] != '"')
    return kind_prefix(take_line_name(rest));
  return take_text(rest);
}

// ---- observing the player

std::vector<PlayerLine> lines_of(Rig &rig) {
  std::lock_guard<std::mutex> lock(rig.player.mutex);
  return rig.player.lines;
}

// Ended, with every line it printed collected: nothing will change.
bool player_done(Rig &rig) {
  std::lock_guard<std::mutex> lock(rig.player.mutex);
  return rig.player.ended && rig.player.open_streams == 0;
}

// Counted in place: a long run holds hundreds of thousands of lines, too
// many to copy at every poll.
long count_now(Rig &rig, const std::string &prefix) {
  std::lock_guard<std::mutex> lock(rig.player.mutex);
  return std::count_if(rig.player.lines.begin(), rig.player.lines.end(),
                       [&prefix](const PlayerLine &line) {
                         return starts_with(line.text, prefix);
                       });
}

// The passes of the frame loop, as tests/README.md counts them for
// `last-drawn`: pass n shows frame n mod 82 (the loop's 1, 2, ... 81, 0).
struct Passes {
  long count = 0;
  long drawing = 0;   // passes with a drawn line
  long last_drew = 0; // the number of the last of them; 0: none
};

Passes passes_now(Rig &rig) {
  const std::string size_prefix = format_prefix(size_line_format);
  const std::string drawn_prefix = format_prefix(pixels_read_format);
  std::lock_guard<std::mutex> lock(rig.player.mutex);
  Passes passes;
  bool sized = false; // the pass has its size line, and no end yet
  for (const auto &line : rig.player.lines) {
    const std::string &text = line.text;
    const bool size = starts_with(text, size_prefix);
    if (size || text == open_failed_line ||
        (!sized && text == read_failed_line)) {
      ++passes.count;
      sized = size;
    } else if (sized && starts_with(text, drawn_prefix)) {
      ++passes.drawing;
      passes.last_drew = passes.count;
      sized = false;
    } else if (text == bad_size_line || text == read_failed_line) {
      sized = false;
    }
  }
  return passes;
}

int frame_of_pass(long pass) {
  return pass == 0 ? frame_pattern::blank
                   : static_cast<int>(pass % frame_count);
}

// Polls `check` until it holds, the timeout passes, or the player has
// ended and so nothing can change any more. `seen` says what was found.
bool wait_for(Rig &rig, const std::function<bool(std::string &)> &check,
              std::string &seen) {
  const auto deadline =
      Clock::now() + std::chrono::duration<double>(rig.options.timeout_seconds);
  for (;;) {
    const bool done = player_done(rig);
    if (check(seen))
      return true;
    if (done || Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void wait_or_fail(Rig &rig, const std::function<bool(std::string &)> &check) {
  std::string seen;
  if (!wait_for(rig, check, seen))
    throw StepError{seen};
}

Screen screen_now(Rig &rig) {
  Screen screen;
  if (rig.board.screen_fd == -1 || !read_screen(rig.board.screen_fd, screen))
    throw StepError{"no screen to read"};
  return screen;
}

// The targets of the player's open descriptors.
std::vector<std::string> open_files(Rig &rig) {
  std::vector<std::string> targets;
  const std::string dir = "/proc/" + std::to_string(rig.player.pid) + "/fd";
  DIR *listing = opendir(dir.c_str());
  if (listing == nullptr)
    throw StepError{"cannot list " + dir + ": " + std::strerror(errno)};
  while (const dirent *entry = readdir(listing)) {
    if (entry->d_name[0] == '.')
      continue;
    char target[4096];
    const std::string link = dir + "/" + entry->d_name;
    const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
    targets.emplace_back(target, size > 0 ? static_cast<std::size_t>(size) : 0);
  }
  closedir(listing);
  return targets;
}

// ---- touch steps

// Sends records in one write, as a driver delivers a report at once.
void send(Rig &rig, std::initializer_list<byte_formats::InputRecord> events) {
  if (rig.board.touch_fd == -1)
    throw StepError{"there is no touch device"};
  const auto bytes = byte_formats::input_records(
      static_cast<std::size_t>(rig.options.input_event_size), events);
  if (write(rig.board.touch_fd, bytes.data(), bytes.size()) !=
      static_cast<ssize_t>(bytes.size()))
    throw StepError{std::string("write: ") + std::strerror(errno)};
}

// A position report, with the touch key pressed for `down`.
void send_position(Rig &rig, std::string &rest, bool down) {
  const auto xy = numbers(rest, 2);
  const byte_formats::InputRecord x{EV_ABS, ABS_X, std::int32_t(xy[0])};
  const byte_formats::InputRecord y{EV_ABS, ABS_Y, std::int32_t(xy[1])};
  if (down)
    send(rig, {x, y, {EV_KEY, BTN_TOUCH, 1}, {EV_SYN, SYN_REPORT, 0}});
  else
    send(rig, {x, y, {EV_SYN, SYN_REPORT, 0}});
}

void step_down(Rig &rig, std::string &rest) { send_position(rig, rest, true); }

void step_move(Rig &rig, std::string &rest) { send_position(rig, rest, false); }

void step_up(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  send(rig, {{EV_KEY, BTN_TOUCH, 0}, {EV_SYN, SYN_REPORT, 0}});
}

void step_close_touch(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  if (rig.board.touch_fd == -1)
    throw StepError{"there is no touch device"};
  if (!remove_touchscreen(rig.board))
    throw StepError{"cannot remove the touch device"};
}

// The touchscreen comes back after close-touch, or appears late after
// --no-touch-device.
void step_open_touch(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  if (rig.board.touch_fd != -1)
    throw StepError{"the touch device is there already"};
  if (!make_touchscreen(rig.board))
    throw StepError{"cannot make the touch device"};
}

// ---- timing steps

void step_wait(Rig &, std::string &rest) {
  std::this_thread::sleep_for(std::chrono::milliseconds(numbers(rest, 1)[0]));
}

// Waits until the player has printed nothing for MS milliseconds.
void step_settle(Rig &rig, std::string &rest) {
  const auto quiet = std::chrono::milliseconds(numbers(rest, 1)[0]);
  std::size_t count = lines_of(rig).size();
  auto quiet_since = Clock::now();
  wait_or_fail(rig, [&](std::string &seen) {
    const std::size_t now_count = lines_of(rig).size();
    if (now_count != count) {
      count = now_count;
      quiet_since = Clock::now();
    }
    seen = "the player kept printing";
    return Clock::now() - quiet_since >= quiet;
  });
}

// ---- output steps

// The first unmatched line that is LINE; with `next`, the very next one.
void expect_line(Rig &rig, std::string &rest, bool next) {
  const std::string text = take_line(rest);
  wait_or_fail(rig, [&](std::string &seen) {
    const auto lines = lines_of(rig);
    for (std::size_t i = rig.line_cursor; i < lines.size(); ++i) {
      if (lines[i].text == text) {
        rig.line_cursor = i + 1;
        return true;
      }
      if (next)
        throw StepError{"the next line is '" + lines[i].text + "'"};
    }
    seen = next ? "no further line" : "not printed";
    return false;
  });
}

void step_expect_line(Rig &rig, std::string &rest) {
  expect_line(rig, rest, false);
}

void step_expect_next_line(Rig &rig, std::string &rest) {
  expect_line(rig, rest, true);
}

// wait-count KIND N: at least N lines so far are of KIND; with +N, N more
// than when the step began.
void step_wait_count(Rig &rig, std::string &rest) {
  const std::string prefix = take_kind(rest);
  const bool more = starts_with(rest, "+");
  long target = to_number(more ? rest.substr(1) : rest);
  if (more)
    target += count_now(rig, prefix);
  wait_or_fail(rig, [&](std::string &seen) {
    const long count = count_now(rig, prefix);
    seen = std::to_string(count) + " such lines";
    return count >= target;
  });
}

// expect-count KIND N: exactly N lines so far are of KIND.
void step_expect_count(Rig &rig, std::string &rest) {
  const std::string prefix = take_kind(rest);
  const long expected = to_number(rest);
  const long count = count_now(rig, prefix);
  if (count != expected)
    throw StepError{std::to_string(count) + " such lines"};
}

// ---- screen steps

// A frame number, "blank", or "last-drawn" (read from the log each time).
std::function<int()> frame_argument(Rig &rig, std::string &rest) {
  const std::string word = trim(rest);
  if (word == "last-drawn")
    return [&rig] { return frame_of_pass(passes_now(rig).last_drew); };
  const int number =
      word == "blank" ? frame_pattern::blank : int(to_number(word));
  if (number >= frame_count)
    throw StepError{"frames go from 0 to 81"};
  return [number] { return number; };
}

std::string expected_name(int frame) {
  return frame == frame_pattern::blank ? "blank"
                                       : "frame " + std::to_string(frame);
}

// Waits until `shows(screen, wanted)` holds for the frame named by the
// step's argument (read afresh each time: "last-drawn" moves on).
void wait_for_screen(
    Rig &rig, std::string &rest,
    const std::function<bool(const Screen &, int wanted)> &shows) {
  const auto expected = frame_argument(rig, rest);
  wait_or_fail(rig, [&](std::string &seen) {
    const Screen screen = screen_now(rig);
    const int want = expected();
    seen = "expected " + expected_name(want) + ", the screen shows " +
           describe_screen(screen);
    return shows(screen, want);
  });
}

// The screen shows exactly the given frame.
void step_expect_frame(Rig &rig, std::string &rest) {
  wait_for_screen(rig, rest, [](const Screen &screen, int want) {
    return frame_pattern::identify_screen(screen.data()) == want;
  });
}

// How the screen looks when the player is stopped at any instant after
// printing frame N's drawn line: still all the frame before (N is read
// but not yet drawn), N being drawn from the top over it (or over a blank
// screen), or all N.
void step_expect_drawing(Rig &rig, std::string &rest) {
  wait_for_screen(rig, rest, [](const Screen &screen, int want) {
    const auto layers = frame_pattern::read_layers(screen.data());
    const int before = (want + frame_count - 1) % frame_count;
    const bool not_begun =
        layers.top_rows == frame_pattern::screen_height && layers.top == before;
    return want >= 0 &&
           (not_begun || (layers.top == want &&
                          (layers.below == want || layers.below == before ||
                           layers.below == frame_pattern::blank)));
  });
}

// Notes what the picture shows and, for any frames, which file the log
// says was drawn last.
void step_snap(Rig &rig, std::string &rest) {
  const std::string name = take_text(rest);
  const Screen screen = screen_now(rig);
  const Passes passes = passes_now(rig);
  if (!save_png(screen, rig.out_fd, name))
    throw StepError{"could not save the picture"};
  std::string seen = "snap " + name + ": " + describe_screen(screen);
  if (passes.drawing > 0)
    seen += "; " + std::to_string(passes.drawing) + " frames drawn, the last " +
            player_lines::frame_name(frame_of_pass(passes.last_drew));
  note(rig.player, seen);
}

// ---- process steps

void step_expect_open(Rig &rig, std::string &rest) {
  const std::string path = take_text(rest);
  wait_or_fail(rig, [&](std::string &seen) {
    seen = "the player does not hold it open";
    for (const auto &target : open_files(rig))
      if (target == path)
        return true;
    return false;
  });
}

std::string joined(const std::vector<std::string> &files) {
  std::string list;
  for (const auto &file : files)
    list += " " + file;
  return list;
}

void step_note_fds(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  const auto files = open_files(rig);
  rig.noted_fds = static_cast<int>(files.size());
  note(rig.player, "the player holds " + std::to_string(rig.noted_fds) +
                       " descriptors:" + joined(files));
}

// Waits like the other expect steps: a frame just drawn may still have its
// file open for a moment.
void step_expect_fds_unchanged(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  if (rig.noted_fds < 0)
    throw StepError{"no note-fds before"};
  wait_or_fail(rig, [&](std::string &seen) {
    const auto files = open_files(rig);
    seen = "noted " + std::to_string(rig.noted_fds) + ", now " +
           std::to_string(files.size()) + ":" + joined(files);
    return static_cast<int>(files.size()) == rig.noted_fds;
  });
}

// The player's resident set (VmRSS) in kB; under --emulator, the
// emulator's.
long resident_kb(Rig &rig) {
  const std::string path =
      "/proc/" + std::to_string(rig.player.pid) + "/status";
  std::ifstream status(path);
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0 && line.size() > 9 &&
        line.compare(line.size() - 3, 3, " kB") == 0)
      return to_number(trim(line.substr(6, line.size() - 9)));
  throw StepError{"no resident set in " + path + " (has the player ended?)"};
}

void step_note_rss(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  rig.noted_rss_kb = resident_kb(rig);
  note(rig.player, "the player's resident set is " +
                       std::to_string(rig.noted_rss_kb) + " kB");
}

// expect-rss-within KB: at most KB more than at the last note-rss. Notes
// the size either way, so that a long run's log shows its course.
void step_expect_rss_within(Rig &rig, std::string &rest) {
  const long margin = numbers(rest, 1)[0];
  if (rig.noted_rss_kb < 0)
    throw StepError{"no note-rss before"};
  const long now = resident_kb(rig);
  note(rig.player, "the player's resident set is " + std::to_string(now) +
                       " kB (noted " + std::to_string(rig.noted_rss_kb) +
                       " kB)");
  if (now > rig.noted_rss_kb + margin)
    throw StepError{"grew by " + std::to_string(now - rig.noted_rss_kb) +
                    " kB, more than " + std::to_string(margin) + " kB"};
}

int signal_number(const std::string &name) {
  for (int number = 1; number < NSIG; ++number) {
    const char *abbrev = sigabbrev_np(number);
    if (abbrev != nullptr && name == abbrev)
      return number;
  }
  throw StepError{"unknown signal '" + name + "'"};
}

void step_kill(Rig &rig, std::string &rest) {
  const std::string name = rest.empty() ? "KILL" : rest;
  if (!signal_player(rig.player, signal_number(name)))
    throw StepError{"the player has already ended"};
}

// expect-exit STATUS or expect-exit SIGNAL (e.g. KILL), once the player
// has ended and all its output is in.
void step_expect_exit(Rig &rig, std::string &rest) {
  const std::string word = trim(rest);
  const bool by_signal = !word.empty() && !std::isdigit(word[0]);
  const int wanted = by_signal ? signal_number(word) : int(to_number(word));
  wait_or_fail(rig, [&](std::string &seen) {
    seen = "the player is still running";
    return player_done(rig);
  });
  const int status = rig.player.wait_status;
  const bool matches = by_signal
                           ? WIFSIGNALED(status) && WTERMSIG(status) == wanted
                           : WIFEXITED(status) && WEXITSTATUS(status) == wanted;
  if (!matches)
    throw StepError{"the player " + describe_end(status)};
}

void step_expect_running(Rig &rig, std::string &rest) {
  numbers(rest, 0);
  std::lock_guard<std::mutex> lock(rig.player.mutex);
  if (rig.player.ended)
    throw StepError{"the player " + describe_end(rig.player.wait_status)};
}

struct StepKind {
  const char *verb;
  void (*run)(Rig &, std::string &);
};

const StepKind step_kinds[] = {
    {"down", step_down},
    {"move", step_move},
    {"up", step_up},
    {"close-touch", step_close_touch},
    {"open-touch", step_open_touch},
    {"wait", step_wait},
    {"settle", step_settle},
    {"snap", step_snap},
    {"expect-line", step_expect_line},
    {"expect-next-line", step_expect_next_line},
    {"wait-count", step_wait_count},
    {"expect-count", step_expect_count},
    {"expect-frame", step_expect_frame},
    {"expect-drawing", step_expect_drawing},
    {"expect-open", step_expect_open},
    {"note-fds", step_note_fds},
    {"expect-fds-unchanged", step_expect_fds_unchanged},
    {"note-rss", step_note_rss},
    {"expect-rss-within", step_expect_rss_within},
    {"kill", step_kill},
    {"expect-exit", step_expect_exit},
    {"expect-running", step_expect_running},
};

const StepKind *step_kind(const std::string &line) {
  const std::string verb = line.substr(0, line.find(' '));
  for (const auto &kind : step_kinds)
    if (verb == kind.verb)
      return &kind;
  return nullptr;
}

bool is_step(const std::string &line) {
  return !line.empty() && line[0] != '#';
}

void run_step(Rig &rig, const std::string &line) {
  const auto space = line.find(' ');
  std::string rest =
      space == std::string::npos ? "" : trim(line.substr(space + 1));
  step_kind(line)->run(rig, rest);
}

// The player's last lines, for a failure report read without the log.
void print_last_lines(Rig &rig) {
  const auto lines = lines_of(rig);
  const std::size_t shown = std::min<std::size_t>(lines.size(), 8);
  if (shown == 0)
    return;
  std::fprintf(stderr, "board-rig: last %zu of %zu player lines:\n", shown,
               lines.size());
  for (std::size_t i = lines.size() - shown; i < lines.size(); ++i)
    std::fprintf(stderr, "%9.3f %s %s\n", lines[i].seconds,
                 lines[i].error_stream ? "err" : "out", lines[i].text.c_str());
}

// Keeps the screen as it was at the failure, for frame-gen identify.
void save_failure_screen(Rig &rig) {
  Screen screen;
  if (rig.board.screen_fd == -1 || !read_screen(rig.board.screen_fd, screen))
    return;
  const int fd = openat(rig.out_fd, "failure-screen.raw",
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd == -1)
    return;
  const auto bytes = screen.size() * sizeof screen[0];
  if (write(fd, screen.data(), bytes) != static_cast<ssize_t>(bytes))
    std::perror("board-rig: failure-screen.raw");
  close(fd);
}

} // namespace

bool check_script(const std::vector<std::string> &lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string line = trim(lines[i]);
    if (is_step(line) && step_kind(line) == nullptr) {
      std::fprintf(stderr, "board-rig: step %zu: unknown step: %s\n", i + 1,
                   line.c_str());
      return false;
    }
  }
  return true;
}

bool run_script(Rig &rig, const std::vector<std::string> &lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string line = trim(lines[i]);
    if (!is_step(line))
      continue;
    note(rig.player, "step " + std::to_string(i + 1) + ": " + line);
    try {
      run_step(rig, line);
    } catch (const StepError &error) {
      std::fprintf(stderr, "board-rig: step %zu failed: %s: %s\n", i + 1,
                   line.c_str(), error.message.c_str());
      note(rig.player,
           "step " + std::to_string(i + 1) + " failed: " + error.message);
      print_last_lines(rig);
      save_failure_screen(rig);
      return false;
    }
  }
  return true;
}
