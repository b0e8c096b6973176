// The player process: started with its output on pipes, every line passed
// on to the interpreter as it comes, and its end reported.
#include "rig.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "byte_io.h"

namespace {

void tell_locked(const std::string &text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void add_line(Player &player, bool error_stream, const std::string &text) {
  std::lock_guard<std::mutex> lock(player.mutex);
  tell_locked((error_stream ? "err " : "out ") + text);
}

// The end goes to the interpreter once every line has gone before it.
void tell_end_if_done(Player &player) {
  if (player.ended && player.open_streams == 0)
    tell_locked("end " + describe_end(player.wait_status));
}

// Splits one output stream into lines until the player closes it.
void capture(Player &player, int fd, bool error_stream) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t got = byte_io::retry_interrupted(
        [&] { return read(fd, buffer, sizeof buffer); });
    if (got <= 0)
      break;
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      add_line(player, error_stream, pending.substr(0, newline));
      pending.erase(0, newline + 1);
    }
  }
  if (!pending.empty())
    add_line(player, error_stream, pending); // a last line without newline
  close(fd);
  std::lock_guard<std::mutex> lock(player.mutex);
  --player.open_streams;
  tell_end_if_done(player);
}

// Waits without reaping first, so that the pid cannot be reused while the
// rig may still signal it: see signal_player.
void reap(Player &player) {
  siginfo_t info;
  byte_io::retry_interrupted([&] {
    return waitid(P_PID, static_cast<id_t>(player.pid), &info,
                  WEXITED | WNOWAIT);
  });
  std::lock_guard<std::mutex> lock(player.mutex);
  waitpid(player.pid, &player.wait_status, 0);
  player.ended = true;
  tell_end_if_done(player);
}

// In the child: the player must not outlive the rig, or it would spin on a
// core forever with nobody to touch it.
[[noreturn]] void exec_player(const std::vector<std::string> &command,
                              int out_fd, int err_fd, int status_fd,
                              pid_t rig) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != rig)
    _exit(127);
  std::vector<char *> argv;
  for (const auto &word : command)
    argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  // Only the standard streams go on: whatever else the rig's own caller
  // left open would distort the player's descriptor counts.
  if (dup2(out_fd, STDOUT_FILENO) != -1 && dup2(err_fd, STDERR_FILENO) != -1 &&
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
    execvp(argv[0], argv.data());
  const int error = errno;
  ssize_t ignored = write(status_fd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

// Whether the child reached exec; if not, says why.
bool exec_succeeded(int status_fd, const std::string &program) {
  int error = 0;
  const ssize_t got = byte_io::retry_interrupted(
      [&] { return read(status_fd, &error, sizeof error); });
  close(status_fd);
  if (got <= 0)
    return true; // closed by exec
  std::fprintf(stderr, "board-rig: cannot run %s: %s\n", program.c_str(),
               std::strerror(error));
  return false;
}

} // namespace

void tell(Player &player, const std::string &text) {
  std::lock_guard<std::mutex> lock(player.mutex);
  tell_locked(text);
}

std::string describe_end(int wait_status) {
  if (WIFEXITED(wait_status))
    return "exited with status " + std::to_string(WEXITSTATUS(wait_status));
  if (WIFSIGNALED(wait_status)) {
    const char *name = sigabbrev_np(WTERMSIG(wait_status));
    return std::string("killed by signal ") +
           (name != nullptr ? name : std::to_string(WTERMSIG(wait_status)));
  }
  return "stopped";
}

bool start_player(const std::vector<std::string> &command, Player &player) {
  int out[2], err[2], status[2];
  if (pipe2(out, O_CLOEXEC) == -1 || pipe2(err, O_CLOEXEC) == -1 ||
      pipe2(status, O_CLOEXEC) == -1) {
    std::perror("board-rig: pipe");
    return false;
  }
  std::fflush(nullptr);
  const pid_t rig = getpid();
  player.pid = fork();
  if (player.pid == -1) {
    std::perror("board-rig: fork");
    return false;
  }
  if (player.pid == 0)
    exec_player(command, out[1], err[1], status[1], rig);
  close(out[1]);
  close(err[1]);
  close(status[1]);
  const bool started = exec_succeeded(status[0], command[0]);
  player.open_streams = 2;
  player.threads.emplace_back(capture, std::ref(player), out[0], false);
  player.threads.emplace_back(capture, std::ref(player), err[0], true);
  player.threads.emplace_back(reap, std::ref(player));
  return started;
}

bool signal_player(Player &player, int signal) {
  std::lock_guard<std::mutex> lock(player.mutex);
  return !player.ended && kill(player.pid, signal) == 0;
}

void finish_player(Player &player) {
  if (player.pid == -1)
    return;
  signal_player(player, SIGKILL); // a player still running is stopped here
  for (auto &thread : player.threads)
    thread.join();
  player.threads.clear();
}
