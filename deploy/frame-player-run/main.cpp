// frame-player-run: the one supervisor beside the player, on every board.
//   frame-player-run [--user USER] [--log FILE] [--wait SECONDS]
//                    [--pidfile FILE] PROGRAM        (BusyBox init)
//       runs PROGRAM as USER in a view whose /dev holds only null, fb0
//       (the board's 800 × 480 screen) and input/event0 (its
//       touchscreen), starts it again 2 s after it exits, and writes its
//       lines to FILE; with --pidfile, it goes to the background once it
//       runs and notes its pid there
//   frame-player-run --devices DIR                   (systemd)
//       keeps DIR/fb0 and DIR/input/event0 for the player's unit to bind
// Either way, until stopped, it follows the devices as they come and go,
// switches a 16- or 24-bit screen to 32 bits, keeps the console's text off
// the LCD, and puts all of it back when it stops (frame-player-run(8)).
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "run.h"

namespace {

using namespace run;

gid_t group_id(const char *name) {
  const auto fields = account_fields("/etc/group", name);
  return fields.size() < 3
             ? 0
             : gid_t(std::strtoul(fields[2].c_str(), nullptr, 10));
}

// Tells systemd the nodes are there (Type=notify), when it asks.
void notify_ready() {
  const char *path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path || std::strlen(path) >= sizeof(sockaddr_un::sun_path))
    return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  if (address.sun_path[0] == '@')
    address.sun_path[0] = '\0';
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const char ready[] = "READY=1";
  sendto(fd, ready, sizeof ready - 1, 0,
         reinterpret_cast<const sockaddr *>(&address),
         offsetof(sockaddr_un, sun_path) + std::strlen(path));
  close(fd);
}

int keep_devices(const std::string &dir) {
  Devices devices;
  devices.owner = {0, group_id("video"), group_id("input"), 0660, 0640};
  open_devices(devices, dir);
  Watch watch = start_watch(devices);
  notify_ready();
  while (!stopping())
    wait_for_change(watch, devices, 1000);
  end_watch(watch, devices);
  forget_state();
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: %s [--user USER] [--log FILE] [--wait SECONDS] "
               "[--pidfile FILE] PROGRAM\n       %s --devices DIR\n",
               me, me);
  return 2;
}

// The options of the BusyBox form; false on a mistake.
bool read_settings(int argc, char **argv, Settings &settings) {
  int at = 1;
  for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
    const std::string option = argv[at], value = argv[at + 1];
    if (option == "--user")
      settings.user = value;
    else if (option == "--log")
      settings.log = value;
    else if (option == "--pidfile")
      settings.pid_file = value;
    else if (option == "--wait" &&
             value.find_first_not_of("0123456789") == std::string::npos &&
             !value.empty() && value.size() < 6)
      settings.wait_seconds = std::atoi(value.c_str());
    else
      return false;
  }
  if (at != argc - 1 || argv[at][0] != '/')
    return false;
  settings.program = argv[at];
  return true;
}

} // namespace

int main(int argc, char **argv) {
  Settings settings;
  const bool devices = argc == 3 && std::strcmp(argv[1], "--devices") == 0;
  if (!devices && !read_settings(argc, argv, settings))
    return usage();
  if (geteuid() != 0) {
    note("needs root to prepare the player's devices");
    return 1;
  }
  return devices ? keep_devices(argv[2]) : supervise(settings);
}
