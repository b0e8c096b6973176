// Which of a board's devices are the player's: its touchscreen is the
// first input device that can drive it, its screen the 800 × 480 one. Read
// from sysfs, so that deciding opens nothing; the board check and the
// device helper (frame-player-run) decide alike from this one rule, and
// ask alike where the text console draws.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fb.h>
#include <linux/input.h>
#include <linux/vt.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "show_bmp.h"

namespace board_devices {

// The kernel's major device numbers of event devices and framebuffers.
constexpr unsigned input_major = 13;
constexpr unsigned framebuffer_major = 29;

// Capability bitmaps as the kernel hands them out (arrays of longs).
using Bits = std::vector<unsigned long>;
constexpr unsigned bits_per_long = sizeof(unsigned long) * CHAR_BIT;

inline bool has_bit(const Bits &bits, unsigned bit) {
  const std::size_t word = bit / bits_per_long;
  return word < bits.size() && (bits[word] >> (bit % bits_per_long) & 1UL);
}

struct InputCaps {
  Bits events, keys, axes;
};

enum class InputKind {
  touchscreen,            // BTN_TOUCH with ABS_X and ABS_Y
  touch_without_position, // BTN_TOUCH only
  multitouch_only,        // slots and tracking IDs, no BTN_TOUCH
  pressure_only,          // ABS_PRESSURE, no BTN_TOUCH
  pointer,                // positions clicked with BTN_LEFT and the like
  keyboard,
  buttons,
  mouse,
  other,
};

inline bool has_any_key(const InputCaps &caps, unsigned first, unsigned last) {
  for (unsigned key = first; key <= last; ++key)
    if (has_bit(caps.keys, key))
      return true;
  return false;
}

inline InputKind classify_input(const InputCaps &caps) {
  const bool keys = has_bit(caps.events, EV_KEY);
  const bool axes = has_bit(caps.events, EV_ABS);
  const bool position =
      axes && has_bit(caps.axes, ABS_X) && has_bit(caps.axes, ABS_Y);
  if (keys && has_bit(caps.keys, BTN_TOUCH))
    return position ? InputKind::touchscreen
                    : InputKind::touch_without_position;
  if (axes && (has_bit(caps.axes, ABS_MT_SLOT) ||
               has_bit(caps.axes, ABS_MT_TRACKING_ID) ||
               has_bit(caps.axes, ABS_MT_POSITION_X)))
    return InputKind::multitouch_only;
  if (axes && has_bit(caps.axes, ABS_PRESSURE))
    return InputKind::pressure_only;
  if (position)
    return InputKind::pointer;
  if (has_bit(caps.events, EV_REL))
    return InputKind::mouse;
  if (keys &&
      (has_any_key(caps, KEY_Q, KEY_P) || has_any_key(caps, KEY_A, KEY_L)))
    return InputKind::keyboard;
  return keys ? InputKind::buttons : InputKind::other;
}

// Whether the player can start and stop on this kind of device.
inline bool drives_player(InputKind kind) {
  return kind == InputKind::touchscreen ||
         kind == InputKind::touch_without_position;
}

// A sysfs capability bitmap: hexadecimal longs, the most significant first
// ("120013" or "3 0 0 0"). The kernel prints them in the reader's own long
// width, also for a 32-bit program on a 64-bit kernel.
inline Bits parse_capabilities(const std::string &text) {
  std::istringstream words(text);
  std::vector<unsigned long> reversed;
  std::string word;
  while (words >> word)
    reversed.push_back(std::strtoul(word.c_str(), nullptr, 16));
  return Bits(reversed.rbegin(), reversed.rend());
}

inline std::string read_line(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The numbers N of the entries PREFIXN in `dir`, in order.
inline std::vector<int> numbered_entries(const std::string &dir,
                                         const std::string &prefix) {
  std::vector<int> numbers;
  if (DIR *listing = opendir(dir.c_str())) {
    while (const dirent *entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() > prefix.size() &&
          name.compare(0, prefix.size(), prefix) == 0 &&
          name.find_first_not_of("0123456789", prefix.size()) ==
              std::string::npos)
        numbers.push_back(std::atoi(name.c_str() + prefix.size()));
    }
    closedir(listing);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// "MAJOR:MINOR" as sysfs writes a node's number; 0 when unreadable.
inline dev_t parse_device_number(const std::string &text) {
  unsigned major_number = 0, minor_number = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &major_number, &minor_number) != 2)
    return 0;
  return makedev(major_number, minor_number);
}

struct InputNode {
  int number = -1; // eventN
  std::string name;
  dev_t device = 0;
  // Where the hardware sits (the physical device's sysfs path), which,
  // unlike N, stays the same from boot to boot.
  std::string place;
  InputKind kind = InputKind::other;
};

// The node's own name in /dev.
inline std::string device_path(const InputNode &node) {
  return "/dev/input/event" + std::to_string(node.number);
}

// What an input node's folder DIR says beyond its number, name and device.
inline void read_input(const std::string &dir, InputNode &node) {
  char place[PATH_MAX];
  if (realpath((dir + "/device/device").c_str(), place))
    node.place = place;
  const std::string caps = dir + "/device/capabilities/";
  node.kind = classify_input({parse_capabilities(read_line(caps + "ev")),
                              parse_capabilities(read_line(caps + "key")),
                              parse_capabilities(read_line(caps + "abs"))});
}

// Every PREFIXN of a sysfs class that has a device number: N, the name in
// the file NAME_FILE of its folder, the device number, and what
// READ(folder, node) adds.
template <typename Node, typename Reader>
std::vector<Node> list_class(const std::string &sys,
                             const std::string &class_name, const char *prefix,
                             const char *name_file, Reader read) {
  const std::string class_dir = sys + "/class/" + class_name;
  std::vector<Node> nodes;
  for (const int number : numbered_entries(class_dir, prefix)) {
    const std::string dir = class_dir + "/" + prefix + std::to_string(number);
    Node node;
    node.number = number;
    node.name = read_line(dir + name_file);
    node.device = parse_device_number(read_line(dir + "/dev"));
    read(dir, node);
    if (node.device != 0)
      nodes.push_back(node);
  }
  return nodes;
}

inline std::vector<InputNode> list_inputs(const std::string &sys = "/sys") {
  return list_class<InputNode>(sys, "input", "event", "/device/name",
                               read_input);
}

// The player's touchscreen: of the devices that can drive it, those with
// positions first, then by place, name and number, so that a board with two
// gets the same one at every boot. Null when there is none.
inline const InputNode *
choose_touchscreen(const std::vector<InputNode> &nodes) {
  const InputNode *chosen = nullptr;
  auto key = [](const InputNode &node) {
    return std::make_tuple(node.kind != InputKind::touchscreen, node.place,
                           node.name, node.number);
  };
  for (const auto &node : nodes)
    if (drives_player(node.kind) && (!chosen || key(node) < key(*chosen)))
      chosen = &node;
  return chosen;
}

struct ScreenNode {
  int number = -1; // fbN
  std::string name;
  dev_t device = 0;
  int width = 0, height = 0, bits_per_pixel = 0;
};

inline std::string device_path(const ScreenNode &node) {
  return "/dev/fb" + std::to_string(node.number);
}

// A framebuffer's size and depth, from its folder DIR.
inline void read_screen(const std::string &dir, ScreenNode &node) {
  // The visible size is the mode's ("U:800x480p-0"); a driver without
  // modes has only its virtual size, which is then the visible one.
  const std::string mode = read_line(dir + "/modes");
  const auto x = mode.find(':');
  if (x == std::string::npos || std::sscanf(mode.c_str() + x + 1, "%dx%d",
                                            &node.width, &node.height) != 2)
    std::sscanf(read_line(dir + "/virtual_size").c_str(), "%d,%d", &node.width,
                &node.height);
  node.bits_per_pixel = std::atoi(read_line(dir + "/bits_per_pixel").c_str());
}

inline std::vector<ScreenNode> list_screens(const std::string &sys = "/sys") {
  return list_class<ScreenNode>(sys, "graphics", "fb", "/name", read_screen);
}

inline bool player_sized(const ScreenNode &node) {
  return node.width == lcd_width && node.height == lcd_height;
}

// The player's screen: fb0 when it is 800 × 480 or no other is, else the
// first that is. Null when the board has no framebuffer.
inline const ScreenNode *choose_screen(const std::vector<ScreenNode> &nodes) {
  if (nodes.empty())
    return nullptr;
  for (const auto &node : nodes)
    if (player_sized(node))
      return &node;
  return &nodes.front();
}

// ---- the text console, which both ask whether it draws on the screen

// The virtual terminal the kernel shows now, or 0 when that cannot be told.
inline int shown_terminal() {
  const int fd = open("/dev/tty0", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  vt_stat state{};
  const bool known = fd != -1 && ioctl(fd, VT_GETSTATE, &state) == 0;
  if (fd != -1)
    close(fd);
  return known ? state.v_active : 0;
}

// The number of the framebuffer that TERMINAL's console draws on, asked
// through the framebuffer open as SCREEN_FD, or -1.
inline int console_screen(int screen_fd, int terminal) {
  fb_con2fbmap map{};
  map.console = unsigned(terminal);
  return ioctl(screen_fd, FBIOGET_CON2FBMAP, &map) == 0 ? int(map.framebuffer)
                                                        : -1;
}

} // namespace board_devices
