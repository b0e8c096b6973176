// Builds the board inside a private mount namespace. Nothing done here is
// visible outside the rig's own processes, and it all vanishes with them.
#include "rig.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame_pattern.h"
#include "player_lines.h"

namespace {

bool fail(const std::string &what) {
  std::fprintf(stderr, "board-rig: %s: %s\n", what.c_str(),
               std::strerror(errno));
  return false;
}

bool write_file(const char *path, const std::string &text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  const bool ok = fd != -1 && write(fd, text.data(), text.size()) ==
                                  static_cast<ssize_t>(text.size());
  if (fd != -1)
    close(fd);
  return ok;
}

// Without root, a user namespace grants the right to mount in a new mount
// namespace; the rig keeps its own ids inside it.
bool enter_user_namespace() {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) == -1)
    return false;
  const std::string uid_map = std::to_string(uid) + " " + std::to_string(uid);
  const std::string gid_map = std::to_string(gid) + " " + std::to_string(gid);
  return write_file("/proc/self/setgroups", "deny") &&
         write_file("/proc/self/uid_map", uid_map + " 1\n") &&
         write_file("/proc/self/gid_map", gid_map + " 1\n");
}

// 0, or exit_no_namespaces when this machine offers neither way.
int enter_namespace() {
  if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0)
    return 0;
  if (enter_user_namespace())
    return 0;
  std::fprintf(stderr,
               "board-rig: cannot emulate the board here: needs root or "
               "user namespaces (unshare: %s)\n",
               std::strerror(errno));
  return exit_no_namespaces;
}

bool is_directory(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes `path` an existing directory without touching the host: a fresh
// tmpfs covers the deepest directory that exists, and the rest is made in it.
bool make_mount_point(const std::string &path) {
  std::string existing = "/";
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    const std::string prefix = path.substr(0, end);
    if (!is_directory(prefix))
      break;
    existing = prefix;
  }
  if (existing == path)
    return true;
  if (existing == "/") {
    errno = ENOENT;
    return fail("cannot make " + path + " without hiding /");
  }
  if (mount("board-mnt", existing.c_str(), "tmpfs", MS_NOSUID, "mode=0755") ==
      -1)
    return fail("mount tmpfs on " + existing);
  for (end = existing.size(); end != std::string::npos;) {
    end = path.find('/', end + 1);
    if (mkdir(path.substr(0, end).c_str(), 0755) == -1)
      return fail("mkdir " + path.substr(0, end));
  }
  return true;
}

// The player's frame folder: `frames_fd`'s folder bound there, or an empty
// one.
bool mount_frames(int frames_fd) {
  const std::string folder = player_lines::frame_folder();
  if (!make_mount_point(folder))
    return false;
  if (frames_fd == -1) {
    if (mount("board-frames", folder.c_str(), "tmpfs", MS_NOSUID,
              "mode=0755") == -1)
      return fail("mount an empty frames directory");
    return true;
  }
  const std::string source = "/proc/self/fd/" + std::to_string(frames_fd);
  if (mount(source.c_str(), folder.c_str(), nullptr, MS_BIND | MS_REC,
            nullptr) == -1)
    return fail("bind the frames directory");
  return true;
}

bool make_screen(Board &board) {
  board.screen_fd =
      open("/dev/fb0", O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (board.screen_fd == -1 || fchmod(board.screen_fd, 0666) == -1 ||
      ftruncate(board.screen_fd, frame_pattern::screen_bytes) == -1)
    return fail("make /dev/fb0");
  return true;
}

bool build_devices(const RigOptions &options, Board &board) {
  if (mount("board-dev", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC,
            "mode=0755,size=16m") == -1)
    return fail("mount tmpfs on /dev");
  return (!options.screen || make_screen(board)) &&
         (!options.touch || make_touchscreen(board));
}

} // namespace

// The rig holds both ends of the FIFO: the player's open does not wait for
// a writer, its reads block until the rig sends, and they only see the end
// of the stream when the rig lets go.
bool make_touchscreen(Board &board) {
  if ((mkdir(touch_node_dir, 0755) == -1 && errno != EEXIST) ||
      mkfifo(touch_node, 0666) == -1 || chmod(touch_node, 0666) == -1)
    return fail(std::string("make ") + touch_node);
  board.touch_fd = open(touch_node, O_RDWR | O_CLOEXEC);
  if (board.touch_fd == -1)
    return fail(std::string("open ") + touch_node);
  return true;
}

bool remove_touchscreen(Board &board) {
  close(board.touch_fd);
  board.touch_fd = -1;
  return unlink(touch_node) == 0 || fail(std::string("remove ") + touch_node);
}

int enter_board(const RigOptions &options, Board &board) {
  const int entered = enter_namespace();
  if (entered != 0)
    return entered;
  // Private propagation keeps every mount below out of the host's view.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == -1) {
    fail("make mounts private");
    return exit_setup_failed;
  }
  // Opened in the new namespace (a bind source must belong to it) but
  // before any mount, so it stays reachable if a tmpfs hides where it lives.
  int frames_fd = -1;
  if (!options.frames_dir.empty()) {
    frames_fd =
        open(options.frames_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (frames_fd == -1) {
      fail("--frames " + options.frames_dir);
      return exit_setup_failed;
    }
  }
  const bool built = build_devices(options, board) && mount_frames(frames_fd);
  if (frames_fd != -1)
    close(frames_fd);
  return built ? 0 : exit_setup_failed;
}
