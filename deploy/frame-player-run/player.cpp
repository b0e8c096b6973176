// The player on a BusyBox board: started as its own user in a view whose
// /dev holds only its devices, started again 2 s after it exits, its lines
// in the log, and the board put back when the supervisor stops.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <grp.h> // setgroups
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "player_lines.h"
#include "run.h"

namespace run {

bool dated_notes = false;

void note(const std::string &text) {
  std::string line = std::string(me) + ": " + text + "\n";
  if (dated_notes) {
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S ",
                  std::localtime(&now));
    line = date + line;
  }
  // One write: the player writes to the same file.
  if (write(STDERR_FILENO, line.data(), line.size()) < 0)
    return;
}

void note_error(const std::string &text) {
  note(text + ": " + std::strerror(errno));
}

std::vector<std::string> account_fields(const char *file,
                                        const std::string &name) {
  std::ifstream in(file);
  std::string line, field;
  while (std::getline(in, line)) {
    std::istringstream text(line);
    std::vector<std::string> fields;
    while (std::getline(text, field, ':'))
      fields.push_back(field);
    if (!fields.empty() && fields[0] == name)
      return fields;
  }
  return {};
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto respawn_delay = std::chrono::seconds(2);
constexpr auto log_check_interval = std::chrono::seconds(60);
constexpr auto stop_grace = std::chrono::seconds(5);

// ---- users

struct Account {
  std::string name;
  unsigned id = 0, group = 0;
};

bool find_account(const std::string &name, Account &found) {
  const auto fields = account_fields("/etc/passwd", name);
  if (fields.size() < 4)
    return false;
  found = {name, unsigned(std::strtoul(fields[2].c_str(), nullptr, 10)),
           unsigned(std::strtoul(fields[3].c_str(), nullptr, 10))};
  return true;
}

// ---- the log

int open_log(const std::string &path) {
  mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

bool has_logger() {
  for (const char *dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"})
    if (access((std::string(dir) + "logger").c_str(), X_OK) == 0)
      return true;
  return false;
}

// The lines go to the system log through logger, fed by a pipe.
int start_logger() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) == -1)
    return -1;
  const pid_t logger = fork();
  if (logger == 0) {
    dup2(ends[0], STDIN_FILENO);
    execlp("logger", "logger", "-t", "frame-player",
           static_cast<char *>(nullptr));
    _exit(127);
  }
  close(ends[0]);
  if (logger == -1) {
    close(ends[1]);
    return -1;
  }
  return ends[1];
}

} // namespace

// The player writes with O_APPEND, so emptying the file in place is safe.
void trim_log(const std::string &path, int log) {
  struct stat now {};
  if (fstat(log, &now) == -1 || !S_ISREG(now.st_mode) ||
      now.st_size <= log_limit)
    return;
  const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open((path + ".1").c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  char block[65536];
  ssize_t size = in == -1 || out == -1 ? -1 : 0;
  while (size >= 0 && (size = read(in, block, sizeof block)) > 0)
    if (write(out, block, std::size_t(size)) != size)
      size = -1;
  if (size != 0 || ftruncate(log, 0) == -1)
    note_error("cannot move the log's older lines to " + path + ".1");
  for (const int fd : {in, out})
    if (fd != -1)
      close(fd);
}

namespace {

// ---- the player

// Its view: the board's mounts, following the board's (the frame disk),
// with /dev the devices folder; then its user, without groups or a way
// back to root; it ends with the supervisor.
[[noreturn]] void become_player(const Account &user, const Settings &settings,
                                pid_t supervisor) {
  if (unshare(CLONE_NEWNS) == -1 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == -1 ||
      mount(devices_dir, "/dev", nullptr, MS_BIND, nullptr) == -1 ||
      mount(nullptr, "/dev", nullptr,
            MS_BIND | MS_REMOUNT | MS_NOSUID | MS_NOEXEC, nullptr) == -1) {
    note_error("cannot make the player's view");
    _exit(1);
  }
  protect_disk();
  const int null = open("/dev/null", O_RDWR);
  if (null != -1)
    dup2(null, STDIN_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  if (chdir("/") == -1 ||
      (user.id != 0 && (setgroups(0, nullptr) == -1 ||
                        setgid(user.group) == -1 || setuid(user.id) == -1))) {
    note_error("cannot become " + user.name);
    _exit(1);
  }
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != supervisor)
    _exit(1);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execl(settings.program.c_str(), settings.program.c_str(),
        static_cast<char *>(nullptr));
  note_error("cannot run " + settings.program);
  _exit(127);
}

int exit_status(int status) {
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

struct Run {
  const Settings &settings;
  Account user;
  Devices devices;
  int log = -1;
  pid_t player = 0;
  Clock::time_point next_start, frames_deadline, next_log_check;
  bool told_no_frames = false, told_no_screen = false;
};

// The first start waits for the frames up to settings.wait_seconds.
bool frames_ready(Run &run) {
  struct stat folder {};
  if (stat(player_lines::frame_folder().c_str(), &folder) == 0)
    return true;
  if (Clock::now() < run.frames_deadline)
    return false;
  if (!run.told_no_frames)
    note("no " + player_lines::frame_folder() + " after " +
         std::to_string(run.settings.wait_seconds) + " s; starting anyway");
  run.told_no_frames = true;
  return true;
}

void start_player(Run &run) {
  if (run.devices.screen == 0) {
    if (!run.told_no_screen)
      note("no screen yet; the player starts once there is one");
    run.told_no_screen = true;
    return;
  }
  trim_log(run.settings.log, run.log);
  const pid_t supervisor = getpid();
  const pid_t player = fork();
  if (player == 0)
    become_player(run.user, run.settings, supervisor);
  if (player == -1) {
    note_error("cannot start the player");
    run.next_start = Clock::now() + respawn_delay;
    return;
  }
  run.player = player;
  run.frames_deadline = Clock::now(); // only the first start waits
  note("player started (pid " + std::to_string(player) + ")");
}

void reap_player(Run &run) {
  int status = 0;
  if (run.player == 0 || waitpid(run.player, &status, WNOHANG) != run.player)
    return;
  run.player = 0;
  run.next_start = Clock::now() + respawn_delay;
  note("player exited with status " + std::to_string(exit_status(status)) +
       "; restarting in 2 s");
}

void stop_player(Run &run) {
  if (run.player == 0)
    return;
  kill(run.player, SIGTERM);
  const auto deadline = Clock::now() + stop_grace;
  while (waitpid(run.player, nullptr, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(run.player, SIGKILL);
      waitpid(run.player, nullptr, 0);
      break;
    }
    usleep(50000);
  }
  run.player = 0;
}

// Where the lines go: the log file, else the system log, else nowhere.
bool open_output(Run &run) {
  run.log = open_log(run.settings.log);
  dated_notes = run.log != -1;
  if (run.log != -1)
    return true;
  const int output = has_logger() ? start_logger() : -1;
  note("cannot write " + run.settings.log + ", so the player's lines " +
       (output != -1 ? "go to the system log (tag frame-player)"
                     : "are not kept (no logger)"));
  run.log = output != -1 ? output : open("/dev/null", O_WRONLY | O_CLOEXEC);
  return run.log != -1;
}

// Leaves the caller once everything that can fail at the start is done:
// its status then says whether the player runs.
bool go_to_background(const Settings &settings) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == -1) {
    note_error("cannot start");
    return false;
  }
  if (child > 0) {
    std::ofstream(settings.pid_file) << child << "\n";
    _exit(0);
  }
  setsid();
  return true;
}

} // namespace

int supervise(const Settings &settings) {
  Run run{settings, {}, {}, -1, 0, {}, {}, {}};
  if (!find_account(settings.user, run.user)) {
    note("no user " + settings.user + " in /etc/passwd; not started");
    return 1;
  }
  if (!open_output(run) ||
      (!settings.pid_file.empty() && !go_to_background(settings)))
    return 1;
  const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  dup2(nothing, STDIN_FILENO);
  dup2(run.log, STDOUT_FILENO);
  dup2(run.log, STDERR_FILENO);
  run.devices.owner = {run.user.id, run.user.group, run.user.group, 0600, 0400};
  open_devices(run.devices, devices_dir);
  const std::string null = std::string(devices_dir) + "/null";
  if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == -1 &&
      errno != EEXIST)
    note_error("cannot make " + null);
  chmod(null.c_str(), 0666); // whatever the umask
  share_disk();
  const auto now = Clock::now();
  run.frames_deadline = now + std::chrono::seconds(settings.wait_seconds);
  run.next_log_check = now + log_check_interval;
  Watch watch = start_watch(run.devices);
  while (!stopping()) {
    if (wait_for_change(watch, run.devices, run.player ? 1000 : 250) &&
        run.player != 0)
      protect_disk_in(run.player);
    reap_player(run);
    if (run.player == 0 && Clock::now() >= run.next_start && frames_ready(run))
      start_player(run);
    if (Clock::now() >= run.next_log_check) {
      trim_log(settings.log, run.log);
      run.next_log_check = Clock::now() + log_check_interval;
    }
  }
  stop_player(run);
  end_watch(watch, run.devices);
  restore_disk();
  forget_state();
  if (!settings.pid_file.empty())
    unlink(settings.pid_file.c_str());
  note("stopped");
  return 0;
}

} // namespace run
