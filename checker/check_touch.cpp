#include "check_touch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "player_lines.h"
#include "system_files.h"

namespace frame_check {

namespace {

constexpr char area[] = "touch";
constexpr char input_dir[] = "/dev/input";
constexpr int watch_seconds = 10;
constexpr int records_shown = 20; // a moving finger sends hundreds

std::string link_fix() {
  return "start the player through frame-player-run (the init script and "
         "the unit do), which gives it that device as " +
         std::string(touch_device);
}
const char *const driver_fix =
    "use a panel driver (or driver setting) that also reports BTN_TOUCH "
    "with ABS_X and ABS_Y";

struct RecordName {
  unsigned type, code;
  const char *name;
};

const RecordName record_names[] = {
    {EV_KEY, BTN_TOUCH, "BTN_TOUCH"},
    {EV_KEY, BTN_LEFT, "BTN_LEFT"},
    {EV_KEY, BTN_TOOL_FINGER, "BTN_TOOL_FINGER"},
    {EV_ABS, ABS_X, "ABS_X"},
    {EV_ABS, ABS_Y, "ABS_Y"},
    {EV_ABS, ABS_PRESSURE, "ABS_PRESSURE"},
    {EV_ABS, ABS_MT_SLOT, "ABS_MT_SLOT"},
    {EV_ABS, ABS_MT_TOUCH_MAJOR, "ABS_MT_TOUCH_MAJOR"},
    {EV_ABS, ABS_MT_POSITION_X, "ABS_MT_POSITION_X"},
    {EV_ABS, ABS_MT_POSITION_Y, "ABS_MT_POSITION_Y"},
    {EV_ABS, ABS_MT_TRACKING_ID, "ABS_MT_TRACKING_ID"},
    {EV_ABS, ABS_MT_PRESSURE, "ABS_MT_PRESSURE"},
};

// Records of other codes by their type; a key or an axis is told by its
// code.
const struct {
  unsigned type;
  const char *name;
} type_names[] = {{EV_SYN, "EV_SYN"},
                  {EV_KEY, "EV_KEY"},
                  {EV_REL, "EV_REL"},
                  {EV_ABS, "EV_ABS"},
                  {EV_MSC, "EV_MSC"}};

std::string record_name(unsigned type, unsigned code) {
  for (const auto &known : record_names)
    if (known.type == type && known.code == code)
      return known.name;
  for (const auto &named : type_names)
    if (named.type == type)
      return type == EV_KEY || type == EV_ABS
                 ? named.name + (" code " + std::to_string(code))
                 : named.name;
  return "type " + std::to_string(type);
}

std::string kind_text(InputKind kind) {
  switch (kind) {
  case InputKind::touchscreen:
  case InputKind::touch_without_position:
    return "a touchscreen";
  case InputKind::multitouch_only:
    return "a panel that reports touches only as multi-touch slots and "
           "tracking IDs, never BTN_TOUCH, so the player can never start";
  case InputKind::pressure_only:
    return "a panel that signals touches only by pressure (ABS_PRESSURE), "
           "never BTN_TOUCH, so the player can never start";
  case InputKind::pointer:
    return "a pointer that clicks with BTN_LEFT, not BTN_TOUCH, so the "
           "player can never start";
  case InputKind::keyboard:
    return "a keyboard, not a touchscreen";
  case InputKind::buttons:
    return "buttons, not a touchscreen";
  case InputKind::mouse:
    return "a mouse, not a touchscreen";
  case InputKind::other:
    break;
  }
  return "not a touchscreen (no BTN_TOUCH)";
}

std::string range_text(const AxisRange &x, const AxisRange &y) {
  return std::to_string(x.minimum) + "–" + std::to_string(x.maximum) + " × " +
         std::to_string(y.minimum) + "–" + std::to_string(y.maximum);
}

Finding judge_ranges(const InputDevice &device) {
  const AxisRange panel_x{0, panel_width - 1}, panel_y{0, panel_height - 1};
  const std::string ranges = "positions " + range_text(device.x, device.y);
  if (device.x.minimum == panel_x.minimum &&
      device.x.maximum == panel_x.maximum &&
      device.y.minimum == panel_y.minimum &&
      device.y.maximum == panel_y.maximum)
    return ok_finding(area, ranges + ", as the player scales them");
  const AxisRange logged_x{scale_x(device.x.minimum),
                           scale_x(device.x.maximum)};
  const AxisRange logged_y{scale_y(device.y.minimum),
                           scale_y(device.y.maximum)};
  return {Level::warn, area,
          ranges + ", not " + range_text(panel_x, panel_y) +
              ": the log will print positions " +
              range_text(logged_x, logged_y) + " instead of " +
              range_text({scale_x(0), scale_x(panel_x.maximum)},
                         {scale_y(0), scale_y(panel_y.maximum)}) +
              " (the position does not steer playback)",
          "nothing to do for playback; calibrate the panel to " +
              range_text(panel_x, panel_y) + " for true positions in the log"};
}

bool read_bits(int fd, unsigned type, unsigned highest, Bits &bits) {
  bits.assign(highest / board_devices::bits_per_long + 1, 0);
  return ioctl(fd, EVIOCGBIT(type, bits.size() * sizeof(unsigned long)),
               bits.data()) >= 0;
}

bool read_range(int fd, unsigned axis, AxisRange &range) {
  input_absinfo info{};
  if (ioctl(fd, EVIOCGABS(axis), &info) == -1)
    return false;
  range = {info.minimum, info.maximum};
  return true;
}

// Whether the open node answers as an event device; fills `device`.
bool read_input_device(int fd, InputDevice &device) {
  int version = 0;
  if (ioctl(fd, EVIOCGVERSION, &version) == -1)
    return false;
  char name[256] = {};
  if (ioctl(fd, EVIOCGNAME(sizeof name - 1), name) < 0)
    name[0] = '\0';
  device.name = printable(name);
  const bool read = read_bits(fd, 0, EV_MAX, device.events) &&
                    read_bits(fd, EV_KEY, KEY_MAX, device.keys) &&
                    read_bits(fd, EV_ABS, ABS_MAX, device.axes);
  if (read && has_bit(device.axes, ABS_X) && has_bit(device.axes, ABS_Y))
    return read_range(fd, ABS_X, device.x) && read_range(fd, ABS_Y, device.y);
  return read;
}

// The device the player's rule takes, other than `skip`: "PATH ("NAME")".
std::string find_touchscreen(const std::string &skip) {
  auto inputs = board_devices::list_inputs();
  inputs.erase(std::remove_if(inputs.begin(), inputs.end(),
                              [&](const board_devices::InputNode &node) {
                                return board_devices::device_path(node) == skip;
                              }),
               inputs.end());
  const board_devices::InputNode *found =
      board_devices::choose_touchscreen(inputs);
  return found ? board_devices::device_path(*found) + " (\"" +
                     printable(found->name) + "\")"
               : "";
}

// The player tries a missing device again a few times a second.
const char *const waits_note =
    " (the player waits for it and plays once it appears)";

const char *const load_fix = "load the touchscreen's driver (cat "
                             "/proc/bus/input/devices lists the input "
                             "devices)";

// The FAIL line for an event0 the player cannot use: `found` (if any) is
// the touchscreen to link it to, else `own_fix` says what to do.
Finding unusable(const std::string &what, const std::string &own_fix,
                 const std::string &found) {
  if (!found.empty())
    return {Level::fail, area, what + "; the touchscreen is " + found,
            link_fix()};
  return {Level::fail, area,
          what + "; no other " + std::string(input_dir) +
              "/event* is a touchscreen the player can use",
          own_fix};
}

void report_unusable(const std::string &what, const std::string &path,
                     Findings &out) {
  out.add(unusable(what, load_fix, find_touchscreen(path)));
}

// Whether `path` opened as an event device; reports why if not.
bool open_input(const std::string &path, DeviceNode &node, InputDevice &device,
                Findings &out) {
  node = open_device(path, board_devices::input_major);
  if (node.state == NodeState::cannot_open)
    out.add(Level::fail, area, node_problem(node, path, ""), run_as_root_fix);
  else if (node.state == NodeState::missing)
    report_unusable(node_problem(node, path, "") + waits_note, path, out);
  else if (node.state != NodeState::open)
    report_unusable(node_problem(node, path, "an input device"), path, out);
  else if (!read_input_device(node.fd, device))
    report_unusable(path + " is not an event device (" + error_text(errno) +
                        ")",
                    path, out);
  else
    return true;
  return false;
}

void report_watch(const std::string &path, int fd, Findings &out) {
  out.detail("touch the screen and lift the finger (waiting up to " +
             std::to_string(watch_seconds) + " s on " + path + ")");
  out.add(
      judge_watch(watch_touch(fd, watch_seconds * 1000, out), watch_seconds));
}

} // namespace

InputKind classify_input(const InputDevice &device) {
  return board_devices::classify_input(
      {device.events, device.keys, device.axes});
}

std::vector<Finding> judge_touchscreen(const std::string &path,
                                       const InputDevice &device) {
  const std::string named_path = path + " is \"" + device.name + "\"";
  if (classify_input(device) == InputKind::touch_without_position)
    return {{Level::warn, area,
             named_path +
                 ", a touchscreen with BTN_TOUCH but no ABS_X and "
                 "ABS_Y: touches start and stop playback, but the "
                 "log prints " +
                 player_lines::quoted(player_lines::position_line(0, 0)),
             "nothing to do for playback"}};
  return {
      ok_finding(area, named_path +
                           ", a touchscreen with BTN_TOUCH, ABS_X and ABS_Y"),
      judge_ranges(device)};
}

Finding judge_not_touchscreen(const std::string &path,
                              const InputDevice &device,
                              const std::string &found) {
  const InputKind kind = classify_input(device);
  const bool panel = kind == InputKind::multitouch_only ||
                     kind == InputKind::pressure_only ||
                     kind == InputKind::pointer;
  return unusable(path + " is \"" + device.name + "\", " + kind_text(kind),
                  panel ? driver_fix : load_fix, found);
}

std::string act_on_record(const input_event &event, TouchWatch &watch) {
  const std::string name = record_name(event.type, event.code);
  const std::string value = name + " " + std::to_string(event.value);
  const bool x = event.code == ABS_X;
  if (event.type == EV_ABS && (x || event.code == ABS_Y)) {
    int &kept = x ? watch.last.x : watch.last.y;
    kept = x ? scale_x(event.value) : scale_y(event.value);
    ++watch.acted;
    return value + (x ? ": x = " : ": y = ") + std::to_string(kept);
  }
  const bool touch_key = event.type == EV_KEY && event.code == BTN_TOUCH;
  if (touch_key &&
      (event.value == touch_pressed || event.value == touch_released)) {
    ++watch.acted;
    const std::string line = player_lines::quoted(
        player_lines::position_line(watch.last.x, watch.last.y));
    if (event.value == touch_pressed) {
      if (!watch.touched)
        watch.touch_line = line;
      watch.touched = true;
      return value + ": the player prints " + line + " and starts playing";
    }
    watch.released = watch.released || watch.touched;
    return value + ": the player prints " + line + " and stops";
  }
  ++watch.ignored;
  if (std::find(watch.ignored_names.begin(), watch.ignored_names.end(), name) ==
      watch.ignored_names.end())
    watch.ignored_names.push_back(name);
  return "";
}

// Acts on the whole records in `pending`, printing the first ones acted
// on; stops at the release that ends the wait.
void act_on_records(std::vector<unsigned char> &pending, TouchWatch &watch,
                    Findings &out) {
  std::size_t used = 0;
  while (pending.size() - used >= sizeof(input_event) &&
         !(watch.touched && watch.released)) {
    input_event event;
    std::memcpy(&event, pending.data() + used, sizeof event);
    used += sizeof event;
    const std::string line = act_on_record(event, watch);
    if (!line.empty() && watch.acted <= records_shown)
      out.detail(line);
  }
  pending.erase(pending.begin(),
                pending.begin() + static_cast<std::ptrdiff_t>(used));
}

TouchWatch watch_touch(int fd, int timeout_ms, Findings &out) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  TouchWatch watch;
  std::vector<unsigned char> pending;
  while (!(watch.touched && watch.released) && !watch.vanished) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    pollfd ready{fd, POLLIN, 0};
    const int polled =
        left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled == -1 && errno == EINTR)
      continue;
    if (polled <= 0) {
      watch.vanished = polled == -1;
      break;
    }
    unsigned char chunk[64 * sizeof(input_event)];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got == -1 && (errno == EINTR || errno == EAGAIN))
      continue;
    watch.vanished = got <= 0;
    if (got > 0)
      pending.insert(pending.end(), chunk, chunk + got);
    act_on_records(pending, watch, out);
  }
  if (watch.acted > records_shown)
    out.detail("and " + std::to_string(watch.acted - records_shown) +
               " more records the player acts on");
  return watch;
}

Finding judge_watch(const TouchWatch &watch, int timeout_seconds) {
  const std::string within =
      " within " + std::to_string(timeout_seconds) + " s";
  std::string ignored;
  for (const auto &name : watch.ignored_names)
    ignored += (ignored.empty() ? "" : ", ") + name;
  if (watch.touched && watch.released)
    return ok_finding(
        area, "a touch and a release arrived: the player would print " +
                  watch.touch_line + ", start playback and stop it again" +
                  (ignored.empty() ? "" : " (it ignores " + ignored + ")"));
  if (watch.vanished)
    return {Level::fail, area, "the device went away while waiting",
            "check the panel's cable and driver (dmesg)"};
  if (watch.touched)
    return {Level::fail, area,
            "a touch arrived but no release" + within +
                ": playback would not stop",
            "lift the finger during the wait; if it was lifted, the panel "
            "never reports BTN_TOUCH 0"};
  if (watch.acted + watch.ignored > 0)
    return {Level::fail, area,
            std::to_string(watch.acted + watch.ignored) +
                " records arrived but no touch (BTN_TOUCH 1): the player "
                "would never start" +
                (ignored.empty() ? "" : "; it ignores " + ignored),
            "touch only after the prompt; if no touch ever comes, the "
            "panel's driver must report BTN_TOUCH"};
  return {Level::fail, area, "nothing arrived" + within,
          "touch the screen during the wait; if nothing ever arrives, this "
          "device is not the touchscreen"};
}

std::string player_touchscreen(Findings &out) {
  const auto inputs = board_devices::list_inputs();
  const board_devices::InputNode *chosen =
      board_devices::choose_touchscreen(inputs);
  if (!chosen) {
    out.add(Level::fail, area,
            "no input device can drive the player (BTN_TOUCH with ABS_X and "
            "ABS_Y)" +
                std::string(waits_note),
            load_fix);
    return "";
  }
  return report_player_node(area, touch_device,
                            board_devices::device_path(*chosen), chosen->name,
                            out);
}

void check_touch(const std::string &path, bool wait_for_touch, Findings &out) {
  if (path.empty()) {
    if (wait_for_touch)
      out.add(Level::fail, area, "cannot wait for a touch: no touchscreen",
              "see the line above");
    return;
  }
  DeviceNode node;
  InputDevice device;
  const bool input = open_input(path, node, device, out);
  if (input && drives_player(classify_input(device))) {
    for (const auto &finding : judge_touchscreen(path, device))
      out.add(finding);
  } else if (input) {
    out.add(judge_not_touchscreen(path, device, find_touchscreen(path)));
  }
  if (wait_for_touch && input)
    report_watch(path, node.fd, out);
  else if (wait_for_touch)
    out.add(Level::fail, area,
            "cannot wait for a touch: " + path + " is no event device",
            "see the line above");
  close_device(node);
}

} // namespace frame_check
