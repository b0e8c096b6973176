#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "run.h"

namespace {

// A kernel event as netlink brings it: fields ended by NULs.
std::string uevent(const std::string &action, const std::string &subsystem,
                   int major_number, int minor_number) {
  std::string event = action + "@/devices/virtual/input/input7/event0";
  for (const std::string &field : {"ACTION=" + action, "SUBSYSTEM=" + subsystem,
                                   "MAJOR=" + std::to_string(major_number),
                                   "MINOR=" + std::to_string(minor_number)})
    event += '\0' + field;
  return event + '\0';
}

bool take(run::Devices &devices, const std::string &event) {
  return run::take_event(devices, event.data(), event.size());
}

struct Folder {
  std::string path;
  Folder() {
    char name[] = "/tmp/supervisor-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~Folder() { std::system(("rm -rf " + path).c_str()); }
};

// The race a hub reset makes: the touchscreen's number is freed and given
// to a keyboard at once. Its node must go on the removal itself, and that
// number must not be taken for a touchscreen again until the kernel adds
// a device under it.
TEST(DeviceEvents, RemovedTouchscreenNodeGoesAtOnce) {
  Folder folder;
  run::Devices devices;
  devices.dir = folder.path;
  mkdir((folder.path + "/input").c_str(), 0755);
  const std::string node = folder.path + "/input/event0";
  std::ofstream(node) << "";
  devices.touch = makedev(13, 66);

  EXPECT_FALSE(take(devices, uevent("remove", "block", 13, 66)));
  EXPECT_EQ(0, access(node.c_str(), F_OK)) << "another subsystem's event";
  EXPECT_TRUE(take(devices, uevent("remove", "input", 13, 67)));
  EXPECT_EQ(0, access(node.c_str(), F_OK)) << "another input device";

  EXPECT_TRUE(take(devices, uevent("remove", "input", 13, 66)));
  EXPECT_NE(0, access(node.c_str(), F_OK));
  EXPECT_EQ(0u, devices.touch);
  EXPECT_EQ(makedev(13, 66), devices.gone);

  EXPECT_TRUE(take(devices, uevent("add", "input", 13, 66)));
  EXPECT_EQ(0u, devices.gone);
  // Cut short or without numbers: looked at, never past its end.
  const std::string event = uevent("remove", "input", 13, 66);
  EXPECT_TRUE(take(devices, event.substr(0, event.size() - 4)));
  EXPECT_FALSE(run::take_event(devices, "", 0));
}

TEST(Log, OlderLinesMoveAsideOnlyPastTheLimit) {
  Folder folder;
  const std::string path = folder.path + "/frame-player.log";
  const int log = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  ASSERT_NE(-1, log);
  const std::string line(99, 'x');
  for (off_t size = 0; size <= run::log_limit - 100; size += 100)
    ASSERT_EQ(100, write(log, (line + "\n").data(), 100));
  struct stat kept {};
  run::trim_log(path, log);
  ASSERT_EQ(0, stat(path.c_str(), &kept));
  EXPECT_LE(kept.st_size, run::log_limit);
  EXPECT_GT(kept.st_size, run::log_limit - 100);
  EXPECT_NE(0, access((path + ".1").c_str(), F_OK));

  ASSERT_EQ(100, write(log, (line + "\n").data(), 100));
  const off_t before = lseek(log, 0, SEEK_END);
  run::trim_log(path, log);
  struct stat older {};
  ASSERT_EQ(0, stat((path + ".1").c_str(), &older));
  EXPECT_EQ(before, older.st_size);
  ASSERT_EQ(0, stat(path.c_str(), &kept));
  EXPECT_EQ(0, kept.st_size);
  // The next line goes to the start of the emptied log.
  ASSERT_EQ(100, write(log, (line + "\n").data(), 100));
  ASSERT_EQ(0, stat(path.c_str(), &kept));
  EXPECT_EQ(100, kept.st_size);
  close(log);
}

} // namespace
