// Reading the system: mounts, process files, the player's log, and the
// shape of every line.
#include <gtest/gtest.h>

#include "check_frames.h"
#include "check_player.h"
#include "checker_test_support.h"
#include "findings.h"
#include "system_files.h"

using namespace frame_check;

TEST(Mounts, TheFramesDiskIsTheMountHoldingTheFolder) {
  const auto mounts = parse_mounts("/dev/root / ext4 rw,relatime 0 0\n"
                                   "proc /proc proc rw 0 0\n"
                                   "/dev/sda1 /mnt/udisk vfat rw,relatime 0 0\n"
                                   "/dev/sdb1 /mnt/udiskette ext2 rw 0 0\n"
                                   "/dev/sdc1 /media/my\\040disk vfat rw 0 0\n"
                                   "broken line\n");
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[4].point, "/media/my disk");
  const std::pair<const char *, const char *> holders[] = {
      {"/mnt/udisk/4/3", "/mnt/udisk"},
      {"/mnt/udisk", "/mnt/udisk"},
      {"/mnt/udiskette/4/3", "/mnt/udiskette"},
      {"/mnt/other", "/"},
      {"/media/my disk/4", "/media/my disk"}};
  for (const auto &[path, point] : holders) {
    const MountEntry *mount = mount_holding(mounts, path);
    ASSERT_NE(mount, nullptr) << path;
    EXPECT_EQ(mount->point, point) << path;
  }
  EXPECT_EQ(mount_holding({}, "/mnt/udisk"), nullptr);

  // A disk mounted over another one at the same place: the latest counts.
  const auto stacked = parse_mounts("/dev/sda1 /mnt/udisk vfat rw 0 0\n"
                                    "/dev/sdb1 /mnt/udisk exfat rw 0 0\n");
  EXPECT_EQ(mount_holding(stacked, "/mnt/udisk/4/3")->type, "exfat");
}

TEST(Mounts, AnUnmountedDiskIsAWarningWithFramesAndAFailureWithout) {
  const MountEntry disk{"/dev/sda1", "/mnt/udisk", "vfat"};
  const MountEntry folder{"/dev/sdb1", "/mnt/udisk/4/3", "ext4"};
  const MountEntry root{"/dev/root", "/", "ext4"};
  const MountEntry lookalike{"/dev/sdb1", "/mnt/udiskette", "ext2"};
  EXPECT_EQ(format_finding(judge_disk(&disk, true)),
            "ok   frames: /mnt/udisk is mounted (vfat from /dev/sda1)");
  EXPECT_EQ(judge_disk(&folder, true).level, Level::ok);
  EXPECT_EQ(format_finding(judge_disk(&root, true)),
            "warn frames: /mnt/udisk is not mounted: the frames come from / "
            "(ext4); fix: mount the USB disk at /mnt/udisk when it is "
            "plugged in (frame-player-udisk and its mdev or udev rule do it: "
            "docs/board.md), unless the frames are meant to live there");
  EXPECT_EQ(judge_disk(&lookalike, true).level, Level::warn);
  EXPECT_EQ(judge_disk(&root, false).level, Level::fail);
  EXPECT_EQ(judge_disk(nullptr, false).level, Level::fail);
}

TEST(Processes, ParentsAndStartersAreReadFromProcFiles) {
  EXPECT_EQ(parent_from_stat("812 (frame-player) S 790 812 790 0 -1"), 790);
  EXPECT_EQ(parent_from_stat("9 (a) b (c) R 1 9 9"), 1);
  EXPECT_EQ(parent_from_stat("9 (unfinished"), -1);
  EXPECT_EQ(parent_from_stat(""), -1);

  const std::vector<Ancestor> by_script = {
      {790, "S99frame-player", "/bin/sh /etc/init.d/S99frame-player start"},
      {1, "init", "init"}};
  const std::vector<Ancestor> by_hand = {{700, "sh", "-sh"}, {1, "init", ""}};
  EXPECT_EQ(started_by(by_script, ""), "the init script (S99frame-player)");
  // Once the script has ended, the supervisor it started is the parent.
  const std::vector<Ancestor> by_supervisor = {
      {791, "frame-player-ru",
       "/usr/sbin/frame-player-run --pidfile /var/run/frame-player.pid "
       "/usr/bin/frame-player"},
      {1, "init", "init"}};
  EXPECT_EQ(started_by(by_supervisor, ""), "the init script (S99frame-player)");
  EXPECT_EQ(started_by(by_hand, "0::/system.slice/frame-player.service\n"),
            "systemd (frame-player.service)");
  EXPECT_EQ(started_by(by_hand, "0::/user.slice\n"), "sh (pid 700)");
  EXPECT_EQ(started_by({}, ""), "an unknown process");
}

TEST(Processes, TheUserIsNamed) {
  EXPECT_EQ(uid_from_status("Name:\tframe-player\nUid:\t63557\t63557\t63557"
                            "\t63557\nGid:\t63557\n"),
            63557);
  EXPECT_EQ(uid_from_status("Uid:\t0\t0\t0\t0\n"), 0);
  EXPECT_EQ(uid_from_status("Name:\tx\nGid:\t5\n"), -1);
  EXPECT_EQ(uid_from_status("Uid:\t\n"), -1);
  const std::string passwd = "root:x:0:0:root:/root:/bin/sh\n"
                             "player:x:1000:1000::/home/player:/bin/sh\n"
                             "broken\n";
  EXPECT_EQ(describe_user(0, passwd, ""), "root");
  EXPECT_EQ(describe_user(1000, passwd, ""), "player (uid 1000)");
  EXPECT_EQ(describe_user(63557, passwd, "frame-player"),
            "frame-player (uid 63557)");
  EXPECT_EQ(describe_user(100, passwd, ""), "uid 100");
  EXPECT_EQ(describe_user(10, "a:x:100:1\n", ""), "uid 10");
}

TEST(Processes, ThePlayerShouldRunOnce) {
  EXPECT_EQ(
      format_finding(judge_players(
          true, {{812, "player (uid 1000)", "sh (pid 700)"}}, false, false)),
      "ok   player: frame-player is running (pid 812) as player (uid "
      "1000), started by sh (pid 700)");
  EXPECT_EQ(format_finding(judge_players(
                true, {{812, "root", "a"}, {813, "root", "b"}}, true, false)),
            "FAIL player: 2 copies of frame-player are running (pids 812, "
            "813): they draw over each other; fix: stop all but one (e.g. "
            "/etc/init.d/S99frame-player restart)");
  EXPECT_EQ(judge_players(true, {}, true, false).fix,
            "start it: /etc/init.d/S99frame-player start");
  EXPECT_EQ(judge_players(true, {}, false, true).fix,
            "start it: systemctl start frame-player");
  EXPECT_EQ(judge_players(true, {}, false, false).text,
            "frame-player is not running, and nothing starts it at boot");
  EXPECT_EQ(judge_players(false, {}, false, false).level, Level::fail);
}

TEST(LogTail, KeepsTheLastWholeLines) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(last_lines("a\nb\nc\n", 2), (Lines{"b", "c"}));
  EXPECT_EQ(last_lines("a\nb\nc", 5), (Lines{"a", "b", "c"}));
  EXPECT_EQ(last_lines("\n\nx\n", 3), (Lines{"", "", "x"}));
  EXPECT_EQ(last_lines("", 3), Lines{});
}

TEST(LogTail, ReadsOnlyTheEndOfALongLogAndShowsItPrintably) {
  ScratchFolder folder;
  std::string log(10000, 'x'); // one long line that the tail starts within
  log += "\nframe 7 drawn\nbell\a and escape\x1b[2J\nlast line\n";
  folder.write("player.log", byte_formats::Bytes(log.begin(), log.end()));
  EXPECT_EQ(
      lines_after(report_log_tail, folder.file("player.log")),
      (std::vector<std::string>{
          "ok   player: " + folder.file("player.log") + ", its last lines:",
          "     | frame 7 drawn", "     | bell? and escape?[2J",
          "     | last line"}));
  folder.write("empty.log", {});
  EXPECT_EQ(lines_after(report_log_tail, folder.file("empty.log")),
            std::vector<std::string>{
                "ok   player: " + folder.file("empty.log") + " is empty"});
  EXPECT_TRUE(lines_after(report_log_tail, folder.file("none.log")).empty());
}

TEST(Lines, LevelsLineUpAndNumbersAreGrouped) {
  EXPECT_EQ(format_finding({Level::ok, "frames", "fine", ""}),
            "ok   frames: fine");
  EXPECT_EQ(format_finding({Level::warn, "touch", "odd", "do this"}),
            "warn touch: odd; fix: do this");
  EXPECT_EQ(format_finding({Level::fail, "screen", "bad", "that"}),
            "FAIL screen: bad; fix: that");
  Findings findings;
  findings.add(Level::fail, "screen", "bad", "that");
  findings.detail("not counted");
  findings.add(Level::ok, "frames", "fine");
  findings.add(Level::fail, "touch", "worse", "this");
  EXPECT_EQ(tally_line(findings), "frame-player-check: 2 FAIL, 0 warn, 1 ok");
  EXPECT_EQ(with_thousands(0), "0");
  EXPECT_EQ(with_thousands(999), "999");
  EXPECT_EQ(with_thousands(1536000), "1,536,000");
  EXPECT_EQ(with_thousands(-1234), "-1,234");
  EXPECT_EQ(printable(std::string("a\tb\x1b[2Jc\0d", 10)), "a?b?[2Jc?d");
}
