#include "check_screen.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/kd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <sys/ioctl.h>

#include "board_devices.h"
#include "check_player.h"
#include "show_bmp.h"

namespace frame_check {

namespace {

constexpr char area[] = "screen";
constexpr unsigned channel_bits = 8;

std::string pixels(unsigned width, unsigned height) {
  return std::to_string(width) + " × " + std::to_string(height);
}

// The layout the player draws in, as the lines name it.
std::string lcd_size() { return pixels(lcd_width, lcd_height); }
std::string lcd_bits() { return std::to_string(lcd_bytes_per_pixel * 8); }

Finding judge_size(const ScreenInfo &screen) {
  if (screen.xres == lcd_width && screen.yres == lcd_height)
    return ok_finding(area, lcd_size() + " pixels visible");
  const std::string mode =
      std::to_string(lcd_width) + " " + std::to_string(lcd_height) + " ";
  return {Level::fail, area,
          pixels(screen.xres, screen.yres) + " pixels visible, not " +
              lcd_size() + ": the player draws for " + lcd_size() + " only",
          "set the display to " + lcd_size() +
              " (the board's display settings or device tree; fbset -g " +
              mode + mode + lcd_bits() + " where the driver allows it)"};
}

bool channels_at(const ScreenInfo &screen, unsigned red, unsigned green,
                 unsigned blue) {
  return screen.red_offset == red && screen.green_offset == green &&
         screen.blue_offset == blue && screen.red_length == channel_bits &&
         screen.green_length == channel_bits &&
         screen.blue_length == channel_bits;
}

Finding judge_pixels(const ScreenInfo &screen) {
  const std::string bits =
      std::to_string(screen.bits_per_pixel) + " bits per pixel";
  const std::string order_fix = "set the display to RGB order (XRGB8888) in "
                                "its driver or device tree";
  if (screen.bits_per_pixel != lcd_bytes_per_pixel * 8)
    return {Level::fail, area,
            bits + ", not " + lcd_bits() + ": the picture will be garbled",
            "switch the screen to " + lcd_bits() +
                " bits per pixel (fbset "
                "-depth " +
                lcd_bits() + ", or the driver's settings)"};
  if (channels_at(screen, lcd_red_shift, lcd_green_shift, lcd_blue_shift))
    return ok_finding(area, bits + ", red/green/blue at bits " +
                                std::to_string(lcd_red_shift) + "/" +
                                std::to_string(lcd_green_shift) + "/" +
                                std::to_string(lcd_blue_shift));
  if (channels_at(screen, lcd_blue_shift, lcd_green_shift, lcd_red_shift))
    return {Level::fail, area,
            bits + " in BGR order (red at bit 0, blue at bit 16): colours "
                   "will be swapped",
            order_fix};
  return {Level::fail, area,
          bits + " with red/green/blue at bits " +
              std::to_string(screen.red_offset) + "/" +
              std::to_string(screen.green_offset) + "/" +
              std::to_string(screen.blue_offset) + ": colours will be wrong",
          order_fix};
}

Finding judge_rows(const ScreenInfo &screen) {
  const unsigned row_bytes = lcd_width * lcd_bytes_per_pixel;
  const std::string apart =
      "rows are " + with_thousands(screen.line_length) + " bytes apart";
  if (screen.line_length == row_bytes)
    return ok_finding(area, apart);
  return {Level::fail, area,
          apart + ", not " + with_thousands(row_bytes) + ": the picture shears",
          "give the screen a virtual width of " + std::to_string(lcd_width) +
              " pixels (fbset -vxres " + std::to_string(lcd_width) +
              ") or use a driver without row padding"};
}

Finding judge_memory(const ScreenInfo &screen) {
  const std::string memory =
      with_thousands(static_cast<long long>(screen.memory_bytes)) +
      " bytes of screen memory";
  if (screen.memory_bytes >= lcd_bytes)
    return ok_finding(area, memory + ", the player maps " +
                                with_thousands(lcd_bytes));
  return {Level::fail, area,
          "only " + memory + ": the player maps " + with_thousands(lcd_bytes) +
              " and stops with \"mmap: Invalid argument\"",
          "give the screen " + lcd_size() + " pixels of " + lcd_bits() +
              " bits (the driver's settings or device tree)"};
}

// A field of a kernel struct as the fixed-size text it is.
template <std::size_t size> std::string fixed_text(const char (&field)[size]) {
  std::string text(field, size);
  return printable(text.substr(0, text.find('\0')));
}

bool read_screen_info(int fd, ScreenInfo &screen, int &error) {
  fb_var_screeninfo variable{};
  fb_fix_screeninfo fixed{};
  if (ioctl(fd, FBIOGET_VSCREENINFO, &variable) == -1 ||
      ioctl(fd, FBIOGET_FSCREENINFO, &fixed) == -1) {
    error = errno;
    return false;
  }
  screen.id = fixed_text(fixed.id);
  screen.xres = variable.xres;
  screen.yres = variable.yres;
  screen.bits_per_pixel = variable.bits_per_pixel;
  screen.red_offset = variable.red.offset;
  screen.green_offset = variable.green.offset;
  screen.blue_offset = variable.blue.offset;
  screen.red_length = variable.red.length;
  screen.green_length = variable.green.length;
  screen.blue_length = variable.blue.length;
  screen.line_length = fixed.line_length;
  screen.memory_bytes = fixed.smem_len;
  return true;
}

std::string driver_fix(const std::string &path) {
  return "load the board's framebuffer driver, which makes " + path +
         " itself (dmesg shows why it is missing)";
}

// Whether the device at `path` opened as a framebuffer; reports if not.
bool open_framebuffer(const std::string &path, DeviceNode &node,
                      ScreenInfo &screen, Findings &out) {
  node = open_device(path, board_devices::framebuffer_major);
  if (node.state != NodeState::open) {
    out.add(Level::fail, area, node_problem(node, path, "a framebuffer"),
            node.state == NodeState::cannot_open ? run_as_root_fix
                                                 : driver_fix(path));
    return false;
  }
  int error = 0;
  if (!read_screen_info(node.fd, screen, error)) {
    out.add(Level::fail, area,
            path + " is not a framebuffer: it does not answer as one (" +
                error_text(error) + ")",
            driver_fix(path));
    return false;
  }
  return true;
}

// What the driver answers to the player's depth, asked without changing
// anything (FB_ACTIVATE_TEST).
DepthSwitch test_depth_switch(int fd, const ScreenInfo &screen) {
  fb_var_screeninfo mode{};
  if (ioctl(fd, FBIOGET_VSCREENINFO, &mode) == -1)
    return DepthSwitch::refused;
  mode.bits_per_pixel = lcd_bytes_per_pixel * 8;
  mode.red = {lcd_red_shift, channel_bits, 0};
  mode.green = {lcd_green_shift, channel_bits, 0};
  mode.blue = {lcd_blue_shift, channel_bits, 0};
  mode.transp = {24, 0, 0};
  mode.activate = FB_ACTIVATE_TEST;
  if (ioctl(fd, FBIOPUT_VSCREENINFO, &mode) == 0 &&
      mode.bits_per_pixel == unsigned(lcd_bytes_per_pixel * 8))
    return DepthSwitch::accepted;
  // A DRM driver's emulated framebuffer calls itself "…drmfb".
  const std::string suffix = "drmfb";
  const bool emulated =
      screen.id.size() >= suffix.size() &&
      screen.id.compare(screen.id.size() - suffix.size(), suffix.size(),
                        suffix) == 0;
  return emulated ? DepthSwitch::refused_emulated : DepthSwitch::refused;
}

// The display output a DRM driver shows on: the connected one, one that
// offers the player's size first ("card0-HDMI-A-1" gives "HDMI-A-1").
std::string drm_connector() {
  const std::string drm = "/sys/class/drm";
  std::vector<std::string> names;
  std::string found;
  if (!list_directory(drm, names))
    return found;
  std::sort(names.begin(), names.end());
  const std::string size =
      std::to_string(lcd_width) + "x" + std::to_string(lcd_height);
  for (const auto &name : names) {
    std::string status, modes;
    const auto dash = name.find('-');
    if (dash == std::string::npos ||
        !read_small_file(drm + "/" + name + "/status", status) ||
        first_line(status) != "connected")
      continue;
    read_small_file(drm + "/" + name + "/modes", modes);
    if (found.empty() || modes.find(size) != std::string::npos) {
      found = name.substr(dash + 1);
      if (modes.find(size) != std::string::npos)
        break;
    }
  }
  return found;
}

void check_holders(const struct stat &device, Findings &out) {
  const Holders holders = holders_of(device);
  std::vector<std::string> names;
  for (const pid_t pid : holders.pids)
    names.push_back(process_name(pid));
  out.add(judge_holders(holders, names));
}

// What draws on the screen besides the player: the kernel's text console,
// bound to the framebuffer, on the terminal shown now unless that
// terminal is in graphics mode or drawn on another screen.
ConsoleView read_console(int screen_fd) {
  ConsoleView view;
  std::vector<std::string> consoles;
  view.sysfs = list_directory("/sys/class", consoles);
  if (view.sysfs && list_directory("/sys/class/vtconsole", consoles))
    for (const auto &console : consoles) {
      const std::string dir = "/sys/class/vtconsole/" + console;
      std::string name, bind;
      if (read_small_file(dir + "/name", name) &&
          name.find("frame buffer") != std::string::npos &&
          read_small_file(dir + "/bind", bind) && first_line(bind) == "1")
        view.bound = true;
    }
  view.terminal = board_devices::shown_terminal();
  if (view.terminal <= 0)
    return view;
  // Another framebuffer's terminal: the map names another minor.
  const int drawn_on = board_devices::console_screen(screen_fd, view.terminal);
  struct stat node {};
  view.on_screen = drawn_on < 0 || fstat(screen_fd, &node) != 0 ||
                   drawn_on == int(minor(node.st_rdev));
  const std::string tty = "/dev/tty" + std::to_string(view.terminal);
  const int shown = open(tty.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  int mode = -1;
  if (shown != -1 && ioctl(shown, KDGETMODE, &mode) == 0)
    view.graphics = mode == KD_GRAPHICS ? 1 : 0;
  if (shown != -1)
    close(shown);
  return view;
}

} // namespace

Finding judge_depth_switch(const ScreenInfo &screen, DepthSwitch answer,
                           const std::string &connector) {
  const std::string bits =
      std::to_string(screen.bits_per_pixel) + " bits per pixel";
  if (answer == DepthSwitch::accepted)
    return ok_finding(area, bits + " now: frame-player-run switches it to " +
                                lcd_bits() + " as the player starts, and "
                                "back when it stops");
  const std::string stops =
      ", and its driver refuses " + lcd_bits() +
      ": the player stops with \"mmap: Invalid argument\"";
  if (answer == DepthSwitch::refused)
    return {Level::fail, area, bits + stops,
            "give the screen " + lcd_bits() +
                " bits per pixel in its driver's settings or device tree"};
  const std::string mode = std::to_string(lcd_width) + "x" +
                           std::to_string(lcd_height) + "M-" + lcd_bits();
  return {Level::fail, area,
          bits + " (a DRM driver's emulated framebuffer, whose depth is set "
                 "at boot)" +
              stops,
          "add video=" + (connector.empty() ? "CONNECTOR" : connector) + ":" +
              mode + " to the kernel command line" +
              (connector.empty()
                   ? " (CONNECTOR: the output's name in /sys/class/drm, "
                     "card0-NAME)"
                   : "") +
              " and reboot"};
}

std::vector<Finding> judge_screen(const ScreenInfo &screen) {
  return {judge_size(screen), judge_pixels(screen), judge_rows(screen),
          judge_memory(screen)};
}

Finding judge_holders(const Holders &holders,
                      const std::vector<std::string> &names) {
  if (!holders.listed)
    return {Level::fail, area,
            "cannot tell who holds the screen: /proc is not mounted",
            "mount it (mount -t proc proc /proc)"};
  std::string players, others;
  for (std::size_t i = 0; i < holders.pids.size(); ++i) {
    std::string &list = names[i] == player_name ? players : others;
    list += (list.empty() ? "" : ", ") + names[i] + " (pid " +
            std::to_string(holders.pids[i]) + ")";
  }
  if (!others.empty())
    return {Level::warn, area,
            std::string(lcd_device) + " is also held by " + others +
                ": it may draw over the picture",
            "stop it and keep it from starting at boot"};
  if (holders.hidden > 0)
    return {Level::warn, area,
            "cannot see the open files of " + std::to_string(holders.hidden) +
                " processes, so not who else holds " + lcd_device,
            "run the check as root"};
  if (!players.empty())
    return ok_finding(area,
                      std::string(lcd_device) + " is held only by " + players);
  return ok_finding(area, "no other program holds " + std::string(lcd_device));
}

Finding judge_console(const ConsoleView &view) {
  if (!view.sysfs)
    return {Level::warn, area,
            "cannot tell whether the text console draws on the screen: /sys "
            "is not mounted",
            "mount it (mount -t sysfs sysfs /sys)"};
  if (!view.bound)
    return ok_finding(area, "the text console is not bound to the framebuffer");
  const std::string tty = "tty" + std::to_string(view.terminal);
  if (view.terminal > 0 && !view.on_screen)
    return ok_finding(area, "the text console's " + tty +
                                " is drawn on another screen than the player's");
  if (view.graphics == 1)
    return ok_finding(area, "the text console is bound to the framebuffer, "
                            "but " + tty + " is in graphics mode: no console "
                            "text draws over the picture");
  if (view.graphics == 0)
    return {Level::warn, area,
            "the text console is bound to the framebuffer and " + tty +
                " is in text mode: its cursor and messages draw over the "
                "picture",
            "start the player through frame-player-run (the init script or "
            "the systemd units), which keeps the terminal in graphics mode "
            "while the player runs"};
  return {Level::warn, area,
          "the text console is bound to the framebuffer, and whether its "
          "terminal is in graphics mode cannot be told",
          "run the check as root"};
}

std::string player_screen(Findings &out) {
  const auto screens = board_devices::list_screens();
  const board_devices::ScreenNode *chosen = board_devices::choose_screen(screens);
  if (!chosen)
    return lcd_device; // its absence is the next line's
  return report_player_node(
      area, lcd_device, board_devices::device_path(*chosen), chosen->name, out);
}

void check_screen(const std::string &path, bool viewed, Findings &out) {
  DeviceNode node;
  ScreenInfo screen;
  if (!open_framebuffer(path, node, screen, out)) {
    close_device(node);
    return;
  }
  out.add(Level::ok, area, path + " is a framebuffer (\"" + screen.id + "\")");
  const bool other_depth =
      viewed && screen.bits_per_pixel != unsigned(lcd_bytes_per_pixel * 8);
  const DepthSwitch answer = other_depth ? test_depth_switch(node.fd, screen)
                                         : DepthSwitch::refused;
  // Size, pixels, rows, memory; at another depth the pixel line is the
  // switch's, and once the driver takes 32 bits, rows and memory are the
  // driver's business at that depth.
  const auto findings = judge_screen(screen);
  const std::size_t judged =
      other_depth && answer == DepthSwitch::accepted ? 2 : findings.size();
  for (std::size_t i = 0; i < judged; ++i)
    out.add(other_depth && i == 1
                ? judge_depth_switch(screen, answer, drm_connector())
                : findings[i]);
  const ConsoleView console = read_console(node.fd);
  close_device(node);
  check_holders(node.info, out);
  out.add(judge_console(console));
}

} // namespace frame_check
