// Frame files and folders as they are found on a disk: whatever sits in
// the folder, the check only reads headers and never waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "check_frames.h"
#include "checker_test_support.h"

using namespace frame_check;

namespace {

// A complete 800 x 480 frame without writing its pixels: the header, then
// a hole up to the full size.
void write_sparse_frame(const ScratchFolder &folder, const std::string &name) {
  folder.write(name, byte_formats::bmp_header(800, 480));
  ASSERT_EQ(truncate(folder.file(name).c_str(), 54 + 800 * 480 * 3), 0);
}

void write_all_frames(const ScratchFolder &folder) {
  for (int number = 0; number <= 81; ++number)
    write_sparse_frame(folder, frame_name(number));
}

std::string first_reason(const ScratchFolder &folder, const std::string &name) {
  const int dir = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
  const FrameVerdict verdict = check_frame_file(dir, name);
  close(dir);
  return verdict.reasons.empty() ? "ok" : verdict.reasons[0].text;
}

} // namespace

TEST(FrameFiles, WhateverStandsInTheFolderGivesOneReasonAndNeverBlocks) {
  ScratchFolder folder;
  write_sparse_frame(folder, "Frame0.bmp");
  ASSERT_EQ(mkfifo(folder.file("Frame1.bmp").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(folder.file("Frame2.bmp").c_str(), 0755), 0);
  folder.write("Frame3.bmp", {});
  ASSERT_EQ(symlink("Frame4.bmp", folder.file("Frame4.bmp").c_str()), 0);
  ASSERT_EQ(symlink("nowhere.bmp", folder.file("Frame5.bmp").c_str()), 0);
  ASSERT_EQ(symlink("Frame0.bmp", folder.file("Frame6.bmp").c_str()), 0);

  EXPECT_EQ(first_reason(folder, "Frame0.bmp"), "ok");
  EXPECT_EQ(first_reason(folder, "Frame1.bmp"), "not a file: it is a FIFO");
  EXPECT_EQ(first_reason(folder, "Frame2.bmp"), "not a file: it is a folder");
  EXPECT_EQ(first_reason(folder, "Frame3.bmp"),
            "only 0 bytes: its headers are cut short" +
                player_prints(read_failed_line));
  EXPECT_EQ(first_reason(folder, "Frame4.bmp"),
            "cannot be opened: Too many levels of symbolic links" +
                player_prints(open_failed_line));
  const std::string missing = missing_frame_text();
  EXPECT_EQ(first_reason(folder, "Frame5.bmp"), missing);
  EXPECT_EQ(first_reason(folder, "Frame6.bmp"), "ok"); // links are followed
  EXPECT_EQ(first_reason(folder, "Frame7.bmp"), missing);
}

TEST(FrameFolder, AllGoodGivesOnlyTheSummary) {
  ScratchFolder folder;
  write_all_frames(folder);
  EXPECT_EQ(lines_after(check_frame_folder, folder.path()),
            std::vector<std::string>{"ok   frames: 82 of 82 frames ok"});
}

TEST(FrameFolder, NamesEachBadFrameOnItsOwnLine) {
  ScratchFolder folder;
  write_all_frames(folder);
  unlink(folder.file("Frame33.bmp").c_str());
  ASSERT_EQ(rename(folder.file("Frame40.bmp").c_str(),
                   folder.file("frame040.BMP").c_str()),
            0);
  folder.write("Frame7.bmp", byte_formats::bmp_header(640, 480));
  ASSERT_EQ(truncate(folder.file("Frame7.bmp").c_str(), 54 + 640 * 480 * 3), 0);
  const auto lines = lines_after(check_frame_folder, folder.path());
  const std::vector<std::string> expected = {
      "warn frames: Frame7.bmp: 640 × 480 pixels (the rest of the screen "
      "keeps the previous frame); fix: scale it to 800 × 480 "
      "(tools/make-frames does)",
      "FAIL frames: Frame33.bmp: " + missing_frame_text() +
          "; fix: copy Frame33.bmp into the folder",
      "FAIL frames: Frame40.bmp: " + missing_frame_text() +
          "; there is frame040.BMP; fix: rename frame040.BMP to Frame40.bmp",
      "FAIL frames: 79 of 82 frames ok; fix: see the lines above"};
  EXPECT_EQ(lines, expected);
}

TEST(FrameFolder, AnEmptyOrMissingFolderIsOneLine) {
  ScratchFolder folder;
  EXPECT_EQ(lines_after(check_frame_folder, folder.path()),
            (std::vector<std::string>{
                "FAIL frames: no frame files in " + folder.path() +
                    " (Frame0.bmp ... Frame81.bmp); fix: put the frames there "
                    "(tools/make-frames makes them)",
                "FAIL frames: 0 of 82 frames ok; fix: see the lines above"}));
  const std::string gone = folder.file("gone");
  EXPECT_EQ(lines_after(check_frame_folder, gone),
            std::vector<std::string>{
                "FAIL frames: no folder " + gone +
                "; fix: put Frame0.bmp ... Frame81.bmp in the folder " + gone});
  folder.write("file", {});
  EXPECT_EQ(lines_after(check_frame_folder, folder.file("file")),
            std::vector<std::string>{
                "FAIL frames: " + folder.file("file") +
                " is not a folder: it is a regular file; fix: make it the "
                "folder of the frames"});
}
