// Input devices decoded from their capabilities, and touch records read as
// the player acts on them.
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "check_touch.h"
#include "checker_test_support.h"
#include "player_lines.h"

using namespace frame_check;

namespace {

// The player's position line for (x, y), as the check quotes it.
std::string position(int x, int y) {
  return player_lines::quoted(player_lines::position_line(x, y));
}

Bits bits_of(std::initializer_list<unsigned> set) {
  constexpr unsigned per_long = sizeof(unsigned long) * CHAR_BIT;
  Bits bits(KEY_MAX / per_long + 1, 0);
  for (const unsigned bit : set)
    bits[bit / per_long] |= 1UL << (bit % per_long);
  return bits;
}

InputDevice device(const char *name, std::initializer_list<unsigned> events,
                   std::initializer_list<unsigned> keys,
                   std::initializer_list<unsigned> axes,
                   AxisRange x = {0, 1023}, AxisRange y = {0, 599}) {
  return {name, bits_of(events), bits_of(keys), bits_of(axes), x, y};
}

struct KindCase {
  InputDevice device;
  InputKind kind;
};

std::ostream &operator<<(std::ostream &out, const KindCase &c) {
  return out << c.device.name;
}

} // namespace

class InputKinds : public testing::TestWithParam<KindCase> {};

TEST_P(InputKinds, FollowFromTheCapabilities) {
  EXPECT_EQ(classify_input(GetParam().device), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, InputKinds,
    testing::Values(
        KindCase{device("single-touch panel", {EV_KEY, EV_ABS}, {BTN_TOUCH},
                        {ABS_X, ABS_Y}),
                 InputKind::touchscreen},
        KindCase{device("multi-touch panel with pointer emulation",
                        {EV_KEY, EV_ABS}, {BTN_TOUCH, BTN_TOOL_FINGER},
                        {ABS_X, ABS_Y, ABS_MT_SLOT, ABS_MT_POSITION_X,
                         ABS_MT_POSITION_Y, ABS_MT_TRACKING_ID}),
                 InputKind::touchscreen},
        KindCase{device("touch key only", {EV_KEY}, {BTN_TOUCH}, {}),
                 InputKind::touch_without_position},
        KindCase{device("multi-touch only", {EV_ABS}, {},
                        {ABS_MT_SLOT, ABS_MT_POSITION_X, ABS_MT_POSITION_Y,
                         ABS_MT_TRACKING_ID}),
                 InputKind::multitouch_only},
        KindCase{
            device("pressure only", {EV_ABS}, {}, {ABS_X, ABS_Y, ABS_PRESSURE}),
            InputKind::pressure_only},
        KindCase{device("tablet", {EV_KEY, EV_ABS}, {BTN_LEFT, BTN_RIGHT},
                        {ABS_X, ABS_Y}),
                 InputKind::pointer},
        KindCase{device("keyboard", {EV_KEY, EV_REP, EV_LED},
                        {KEY_ESC, KEY_A, KEY_Z, KEY_ENTER}, {}),
                 InputKind::keyboard},
        KindCase{device("power button", {EV_KEY}, {KEY_POWER}, {}),
                 InputKind::buttons},
        KindCase{device("mouse", {EV_KEY, EV_REL}, {BTN_LEFT}, {}),
                 InputKind::mouse},
        KindCase{device("nothing", {EV_SYN}, {}, {}), InputKind::other}));

TEST(TouchFindings, RangesSayWhatTheLogWillPrint) {
  const auto exact = judge_touchscreen(
      "/dev/input/event0",
      device("vm-touch", {EV_KEY, EV_ABS}, {BTN_TOUCH}, {ABS_X, ABS_Y}));
  ASSERT_EQ(exact.size(), 2u);
  EXPECT_EQ(format_finding(exact[0]),
            "ok   touch: /dev/input/event0 is \"vm-touch\", a touchscreen with "
            "BTN_TOUCH, ABS_X and ABS_Y");
  EXPECT_EQ(format_finding(exact[1]),
            "ok   touch: positions 0–1023 × 0–599, as the player scales them");

  const std::pair<AxisRange, AxisRange> ranges[] = {
      {{0, 4095}, {0, 4095}}, {{0, 799}, {0, 479}}, {{-100, 1023}, {0, 599}}};
  const char *const logged[] = {"0–3199 × 0–3276", "0–624 × 0–383",
                                "-78–799 × 0–479"};
  for (int i = 0; i < 3; ++i) {
    const auto findings = judge_touchscreen(
        "/dev/input/event0",
        device("panel", {EV_KEY, EV_ABS}, {BTN_TOUCH}, {ABS_X, ABS_Y},
               ranges[i].first, ranges[i].second));
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[1].level, Level::warn);
    EXPECT_NE(findings[1].text.find("the log will print positions " +
                                    std::string(logged[i]) +
                                    " instead of 0–799 × 0–479"),
              std::string::npos)
        << findings[1].text;
  }

  const auto no_position = judge_touchscreen(
      "/dev/input/event0", device("keys", {EV_KEY}, {BTN_TOUCH}, {}));
  ASSERT_EQ(no_position.size(), 1u);
  EXPECT_EQ(no_position[0].level, Level::warn);
  EXPECT_NE(no_position[0].text.find(position(0, 0)), std::string::npos);
}

TEST(TouchFindings, AnUnusableDeviceNamesTheTouchscreenToUseOrTheReason) {
  const InputDevice keyboard =
      device("vm-keyboard", {EV_KEY, EV_REP}, {KEY_A, KEY_ENTER}, {});
  const Finding linked = judge_not_touchscreen(
      "/dev/input/event0", keyboard, "/dev/input/event1 (\"vm-touch\")");
  EXPECT_EQ(format_finding(linked),
            "FAIL touch: /dev/input/event0 is \"vm-keyboard\", a keyboard, "
            "not a touchscreen; the touchscreen is /dev/input/event1 "
            "(\"vm-touch\"); fix: start the player through frame-player-run "
            "(the init script and the unit do), which gives it that device as "
            "/dev/input/event0");

  const Finding panel = judge_not_touchscreen(
      "/dev/input/event0",
      device("mt", {EV_ABS}, {}, {ABS_MT_SLOT, ABS_MT_TRACKING_ID}), "");
  EXPECT_EQ(format_finding(panel),
            "FAIL touch: /dev/input/event0 is \"mt\", a panel that reports "
            "touches only as multi-touch slots and tracking IDs, never "
            "BTN_TOUCH, so the player can never start; no other "
            "/dev/input/event* is a touchscreen the player can use; fix: use "
            "a panel driver (or driver setting) that also reports BTN_TOUCH "
            "with ABS_X and ABS_Y");
}

namespace {

// A bitmap as the kernel prints it to this process: longs of the reader's
// own width (a 32-bit reader on a 64-bit kernel gets 32-bit words), the
// highest non-zero one first.
std::string printed(const Bits &bits) {
  std::string text;
  for (auto word = bits.rbegin(); word != bits.rend(); ++word)
    if (*word != 0 || !text.empty() || word + 1 == bits.rend()) {
      char hex[24];
      std::snprintf(hex, sizeof hex, "%s%lx", text.empty() ? "" : " ", *word);
      text += hex;
    }
  return text;
}

// A board's sysfs as the player's rule reads it.
struct FakeSysfs {
  ScratchFolder root;
  void put(const std::string &path, const std::string &text) const {
    const std::string file = root.file(path);
    std::filesystem::create_directories(file.substr(0, file.rfind('/')));
    std::ofstream(file) << text << "\n";
  }
  // eventN: its name, node number, physical place and capabilities.
  void input(int number, const std::string &name, const std::string &place,
             std::initializer_list<unsigned> ev,
             std::initializer_list<unsigned> key,
             std::initializer_list<unsigned> abs) const {
    const std::string dir = "class/input/event" + std::to_string(number);
    put(dir + "/dev", "13:" + std::to_string(64 + number));
    put(dir + "/device/name", name);
    put(dir + "/device/capabilities/ev", printed(bits_of(ev)));
    put(dir + "/device/capabilities/key", printed(bits_of(key)));
    put(dir + "/device/capabilities/abs", printed(bits_of(abs)));
    if (!place.empty()) {
      put(place + "/uevent", "");
      std::filesystem::create_directory_symlink(
          root.file(place), root.file(dir + "/device/device"));
    }
  }
};

} // namespace

// The helper and the check pick the same devices: by capabilities, then
// by where the hardware sits, never by the kernel's numbering.
TEST(PlayerDevices, TheFirstTouchscreenByPlaceAndThe800x480Screen) {
  FakeSysfs sys;
  // A keyboard and a power key registered first, then two touchscreens
  // numbered against their places, and one without positions.
  const std::initializer_list<unsigned> keys = {EV_SYN, EV_KEY},
                                        touches = {EV_SYN, EV_KEY, EV_ABS};
  sys.input(0, "keyboard", "", keys, {KEY_ESC, KEY_Q, KEY_A, KEY_ENTER}, {});
  sys.input(1, "power key", "devices/pmic", keys, {KEY_POWER}, {});
  sys.input(2, "panel B", "devices/i2c-2/panel", touches, {BTN_TOUCH},
            {ABS_X, ABS_Y});
  sys.input(3, "panel A", "devices/i2c-1/panel", touches, {BTN_TOUCH},
            {ABS_X, ABS_Y});
  sys.input(4, "touch key", "devices/i2c-0/key", keys, {BTN_TOUCH}, {});
  auto inputs = board_devices::list_inputs(sys.root.path());
  ASSERT_EQ(inputs.size(), 5u);
  EXPECT_EQ(inputs[0].kind, InputKind::keyboard);
  EXPECT_EQ(inputs[1].kind, InputKind::buttons);
  const auto *touch = board_devices::choose_touchscreen(inputs);
  ASSERT_NE(touch, nullptr);
  EXPECT_EQ(touch->name, "panel A");
  EXPECT_EQ(touch->device, makedev(13, 67));
  inputs.erase(inputs.begin() + 2, inputs.begin() + 4);
  EXPECT_EQ(board_devices::choose_touchscreen(inputs)->name, "touch key");
  inputs.pop_back();
  EXPECT_EQ(board_devices::choose_touchscreen(inputs), nullptr);

  sys.put("class/graphics/fb0/dev", "29:0");
  sys.put("class/graphics/fb0/virtual_size", "1024,768");
  sys.put("class/graphics/fb1/dev", "29:1");
  sys.put("class/graphics/fb1/modes", "U:800x480p-0");
  sys.put("class/graphics/fb1/virtual_size", "800,960");
  const auto screens = board_devices::list_screens(sys.root.path());
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(board_devices::choose_screen(screens)->number, 1);
  EXPECT_EQ(board_devices::choose_screen({screens[0]})->number, 0);
}

namespace {

// A record in this machine's own layout, as the kernel writes it.
input_event record(std::uint16_t type, std::uint16_t code, int value) {
  input_event event;
  std::memcpy(
      &event,
      byte_formats::input_records(sizeof event, {{type, code, value}}).data(),
      sizeof event);
  return event;
}

} // namespace

TEST(TouchRecords, AreActedOnAsThePlayerDoes) {
  const std::pair<input_event, std::string> records[] = {
      {record(EV_KEY, BTN_TOUCH, 1), "BTN_TOUCH 1: the player prints " +
                                         position(0, 0) +
                                         " and starts playing"},
      {record(EV_ABS, ABS_X, 512), "ABS_X 512: x = 400"},
      {record(EV_ABS, ABS_Y, 300), "ABS_Y 300: y = 240"},
      {record(EV_SYN, SYN_REPORT, 0), ""},
      {record(EV_ABS, ABS_MT_POSITION_X, 9), ""},
      {record(EV_KEY, BTN_TOUCH, 2), ""},
      {record(EV_KEY, BTN_LEFT, 1), ""},
      {record(EV_ABS, ABS_X, -1), "ABS_X -1: x = 0"},
      {record(EV_KEY, BTN_TOUCH, 0),
       "BTN_TOUCH 0: the player prints " + position(0, 240) + " and stops"},
  };
  TouchWatch watch;
  for (const auto &[event, line] : records)
    EXPECT_EQ(act_on_record(event, watch), line);
  EXPECT_TRUE(watch.touched);
  EXPECT_TRUE(watch.released);
  EXPECT_EQ(watch.touch_line, position(0, 0));
  EXPECT_EQ(watch.acted, 5);
  EXPECT_EQ(watch.ignored, 4);
  EXPECT_EQ(watch.ignored_names,
            (std::vector<std::string>{"EV_SYN", "ABS_MT_POSITION_X",
                                      "BTN_TOUCH", "BTN_LEFT"}));
}

// Those the player's reader ignores, named as known records, keys and
// axes by their codes, or by their type.
TEST(TouchRecords, TheIgnoredAreNamedOnceEach) {
  TouchWatch watch;
  for (const auto &ignored : byte_formats::ignored_records)
    EXPECT_EQ(
        act_on_record(record(ignored.type, ignored.code, ignored.value), watch),
        "");
  EXPECT_EQ(watch.acted, 0);
  EXPECT_EQ(watch.ignored, int(byte_formats::ignored_records.size()));
  EXPECT_EQ(watch.ignored_names,
            (std::vector<std::string>{"BTN_TOUCH", "BTN_LEFT", "ABS_PRESSURE",
                                      "ABS_MT_POSITION_X", "EV_SYN", "EV_REL",
                                      "EV_MSC", "EV_KEY code 30",
                                      "EV_ABS code 3", "type 21"}));
}

namespace {

// A pipe standing in for the event device: records written to one end
// (split anywhere), read from the other.
struct RecordPipe {
  int ends[2] = {-1, -1};
  RecordPipe() { EXPECT_EQ(pipe(ends), 0); }
  ~RecordPipe() {
    close(ends[0]);
    if (ends[1] != -1)
      close(ends[1]);
  }
  void send(std::initializer_list<byte_formats::InputRecord> records,
            std::size_t split = 0) {
    const byte_formats::Bytes bytes =
        byte_formats::input_records(sizeof(input_event), records);
    const std::size_t first = split == 0 ? bytes.size() : split;
    EXPECT_EQ(write(ends[1], bytes.data(), first), ssize_t(first));
    EXPECT_EQ(write(ends[1], bytes.data() + first, bytes.size() - first),
              ssize_t(bytes.size() - first));
  }
  void close_writer() {
    close(ends[1]);
    ends[1] = -1;
  }
};

Finding watched(RecordPipe &pipe, std::vector<std::string> &lines) {
  Findings found;
  const TouchWatch watch = watch_touch(pipe.ends[0], 200, found);
  lines = lines_of(found);
  return judge_watch(watch, 10);
}

} // namespace

TEST(TouchWatching, ATouchAndReleaseInPiecesEndTheWaitAtOnce) {
  RecordPipe pipe;
  pipe.send({{EV_ABS, ABS_X, 1023},
             {EV_ABS, ABS_Y, 599},
             {EV_KEY, BTN_TOUCH, 1},
             {EV_SYN, 0, 0},
             {EV_KEY, BTN_TOUCH, 0},
             {EV_SYN, 0, 0}},
            sizeof(input_event) + 5);
  std::vector<std::string> lines;
  const Finding finding = watched(pipe, lines);
  const std::string corner = position(799, 479);
  EXPECT_EQ(format_finding(finding),
            "ok   touch: a touch and a release arrived: the player would "
            "print " +
                corner +
                ", start playback and stop it again (it ignores EV_SYN)");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "     ABS_X 1023: x = 799", "     ABS_Y 599: y = 479",
                       "     BTN_TOUCH 1: the player prints " + corner +
                           " and starts playing",
                       "     BTN_TOUCH 0: the player prints " + corner +
                           " and stops"}));
}

TEST(TouchWatching, EveryWayOfNotGettingATouchIsAFailure) {
  std::vector<std::string> lines;
  {
    RecordPipe quiet;
    EXPECT_EQ(watched(quiet, lines).text, "nothing arrived within 10 s");
  }
  {
    RecordPipe multitouch;
    multitouch.send({{EV_ABS, ABS_MT_TRACKING_ID, 4},
                     {EV_ABS, ABS_MT_POSITION_X, 9},
                     {EV_SYN, 0, 0}});
    EXPECT_EQ(watched(multitouch, lines).text,
              "3 records arrived but no touch (BTN_TOUCH 1): the player "
              "would never start; it ignores ABS_MT_TRACKING_ID, "
              "ABS_MT_POSITION_X, EV_SYN");
  }
  {
    // A finger already down when the wait began: its release comes first.
    RecordPipe held;
    held.send({{EV_KEY, BTN_TOUCH, 0}, {EV_KEY, BTN_TOUCH, 1}});
    EXPECT_EQ(watched(held, lines).text,
              "a touch arrived but no release within 10 s: playback would "
              "not stop");
  }
  {
    RecordPipe unplugged;
    unplugged.send({{EV_KEY, BTN_TOUCH, 1}});
    unplugged.close_writer();
    const Finding finding = watched(unplugged, lines);
    EXPECT_EQ(finding.level, Level::fail);
    EXPECT_EQ(finding.text, "the device went away while waiting");
  }
}
