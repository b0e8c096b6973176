// Touchscreen for the test guest: a uinput device shaped like the boards'
// panel, driven by line commands from the host over a serial channel:
//   down X Y   finger on the panel at raw coordinates X, Y
//   up         finger lifted
//   destroy    the device disappears, as when the panel is unplugged
//   create     the device appears (again), as when it is plugged in
//   add KIND   another input device is plugged in: keyboard, powerkey
//              (only KEY_POWER, as a PMIC's power key) or touch
//   remove KIND  the last one added of KIND is unplugged
//   quit       the helper ends
// Every command done is acknowledged on stdout as "touch: COMMAND".
// At start it registers the input devices that the kernel parameter
// vm_inputs=KIND,... names, in that order (default: touch); the first
// "touch" among them is the panel the commands drive. With
// --keyboard-first, a keyboard comes before the touchscreen and takes
// event0, as a keypad or button driver does on some boards. With --late,
// there is no touchscreen until the first "create".
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <string>
#include <utility>
#include <vector>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "byte_formats.h"
#include "byte_io.h"
#include "touch.h"

namespace {

// The panel the player scales from (touch.h).
constexpr int panel_max_x = panel_width - 1;
constexpr int panel_max_y = panel_height - 1;
constexpr char device_name[] = "vm-touch";

bool emit(int fd, int type, int code, int value) {
  byte_formats::Bytes record;
  byte_formats::append_input_record(record, sizeof(input_event),
                                    static_cast<std::uint16_t>(type),
                                    static_cast<std::uint16_t>(code), value);
  return byte_io::write_all(fd, record.data(), record.size());
}

bool setup_axis(int fd, int code, int maximum) {
  uinput_abs_setup axis{};
  axis.code = static_cast<__u16>(code);
  axis.absinfo.maximum = maximum;
  return ioctl(fd, UI_SET_ABSBIT, code) == 0 &&
         ioctl(fd, UI_ABS_SETUP, &axis) == 0;
}

// A uinput device named `name` with the capabilities `enable` sets up on
// it; -1 if any step fails.
int create_device(const char *name, bool (*enable)(int fd)) {
  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd == -1)
    return -1;
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  std::strncpy(setup.name, name, UINPUT_MAX_NAME_SIZE - 1);
  if (enable(fd) && ioctl(fd, UI_DEV_SETUP, &setup) == 0 &&
      ioctl(fd, UI_DEV_CREATE) == 0)
    return fd;
  close(fd);
  return -1;
}

// A single-touch panel: BTN_TOUCH plus absolute X and Y, marked as a
// direct-input device so the kernel treats it as a touchscreen.
int create_touchscreen() {
  return create_device(device_name, [](int fd) {
    return ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 &&
           ioctl(fd, UI_SET_KEYBIT, BTN_TOUCH) == 0 &&
           ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0 &&
           setup_axis(fd, ABS_X, panel_max_x) &&
           setup_axis(fd, ABS_Y, panel_max_y) &&
           ioctl(fd, UI_SET_PROPBIT, INPUT_PROP_DIRECT) == 0;
  });
}

// A plain keyboard: a few letter keys and Enter.
int create_keyboard() {
  return create_device("vm-keyboard", [](int fd) {
    bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 &&
              ioctl(fd, UI_SET_KEYBIT, KEY_ENTER) == 0;
    for (const int key : {KEY_Q, KEY_W, KEY_E, KEY_A, KEY_S, KEY_D, KEY_Z})
      ok = ok && ioctl(fd, UI_SET_KEYBIT, key) == 0;
    return ok;
  });
}

// Only KEY_POWER, as a board's power management chip registers it.
int create_power_key() {
  return create_device("vm-powerkey", [](int fd) {
    return ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 &&
           ioctl(fd, UI_SET_KEYBIT, KEY_POWER) == 0;
  });
}

int create_input(const std::string &kind) {
  if (kind == "keyboard")
    return create_keyboard();
  if (kind == "powerkey")
    return create_power_key();
  if (kind == "touch")
    return create_touchscreen();
  return -1;
}

// vm_inputs=LIST of the kernel command line, or "touch".
std::string inputs_asked() {
  std::string line;
  if (FILE *cmdline = std::fopen("/proc/cmdline", "r")) {
    char text[4096] = {};
    if (std::fgets(text, sizeof text, cmdline))
      line = text;
    std::fclose(cmdline);
  }
  const std::string key = "vm_inputs=";
  const auto at = line.find(key);
  if (at == std::string::npos)
    return "touch";
  const auto from = at + key.size();
  return line.substr(from, line.find_first_of(" \n", from) - from);
}

// Registers each of LIST (kinds joined by commas); the touchscreen's
// descriptor, or -1 when the list has none or a device failed.
int register_inputs(const std::string &list, bool &failed) {
  int touchscreen = -1;
  std::size_t from = 0;
  while (from <= list.size()) {
    const auto comma = list.find(',', from);
    const std::string kind = list.substr(from, comma - from);
    const int fd = create_input(kind);
    failed = failed || fd == -1;
    if (kind == "touch" && touchscreen == -1)
      touchscreen = fd;
    if (comma == std::string::npos)
      break;
    from = comma + 1;
  }
  return touchscreen;
}

// The channel must pass bytes as they come: no echo back to the host and
// no line editing.
int open_channel(const char *path) {
  const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  termios mode{};
  if (fd != -1 && tcgetattr(fd, &mode) == 0) {
    cfmakeraw(&mode);
    tcsetattr(fd, TCSANOW, &mode);
  }
  return fd;
}

bool touch_down(int fd, int x, int y) {
  return emit(fd, EV_ABS, ABS_X, x) && emit(fd, EV_ABS, ABS_Y, y) &&
         emit(fd, EV_KEY, BTN_TOUCH, 1) && emit(fd, EV_SYN, SYN_REPORT, 0);
}

bool touch_up(int fd) {
  return emit(fd, EV_KEY, BTN_TOUCH, 0) && emit(fd, EV_SYN, SYN_REPORT, 0);
}

// The devices "add" plugged in, last last.
std::vector<std::pair<std::string, int>> added;

bool remove_input(const std::string &kind) {
  for (auto device = added.rbegin(); device != added.rend(); ++device)
    if (device->first == kind) {
      const bool done = ioctl(device->second, UI_DEV_DESTROY) == 0;
      close(device->second);
      added.erase(std::next(device).base());
      return done;
    }
  return false;
}

// Carries out one command; false for "quit".
bool run_command(const std::string &command, int &device) {
  int x = 0, y = 0;
  bool done = false;
  if (command == "quit")
    return false;
  if (std::sscanf(command.c_str(), "down %d %d", &x, &y) == 2)
    done = touch_down(device, x, y);
  else if (command == "up")
    done = touch_up(device);
  else if (command == "destroy" && device != -1) {
    done = ioctl(device, UI_DEV_DESTROY) == 0;
    close(device);
    device = -1;
  } else if (command == "create" && device == -1) {
    device = create_touchscreen();
    done = device != -1;
  } else if (command.compare(0, 4, "add ") == 0) {
    const int fd = create_input(command.substr(4));
    done = fd != -1;
    if (done)
      added.emplace_back(command.substr(4), fd);
  } else if (command.compare(0, 7, "remove ") == 0) {
    done = remove_input(command.substr(7));
  }
  std::printf(done ? "touch: %s\n" : "touch: failed: %s\n", command.c_str());
  return true;
}

} // namespace

int main(int argc, char **argv) {
  const char *const option = argc == 3 ? argv[2] : "";
  const bool keyboard_first = std::strcmp(option, "--keyboard-first") == 0;
  const bool late = std::strcmp(option, "--late") == 0;
  if (argc != 2 && !keyboard_first && !late) {
    std::fputs("usage: touch-helper CHANNEL [--keyboard-first|--late]\n",
               stderr);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  bool failed = false;
  int device = late ? -1
               : register_inputs(keyboard_first ? "keyboard,touch"
                                                : inputs_asked(),
                                 failed);
  if (failed) {
    std::perror("touch-helper: uinput");
    return 1;
  }
  const int channel = open_channel(argv[1]);
  if (channel == -1) {
    std::perror(argv[1]);
    return 1;
  }
  std::string line;
  char byte = 0;
  while (read(channel, &byte, 1) == 1) {
    if (byte == '\r')
      continue;
    if (byte != '\n') {
      line += byte;
      continue;
    }
    if (!run_command(line, device))
      return 0;
    line.clear();
  }
  return 0;
}
