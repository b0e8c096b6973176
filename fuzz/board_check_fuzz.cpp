// The board check reads frame files from a disk anyone can fill, and
// /proc and /sys text it does not control: whatever the bytes, judging
// them must stay in bounds, give a line that agrees with its level, and
// give back every descriptor it opens.
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "check_frames.h"
#include "check_player.h"
#include "fuzz_support.h"
#include "system_files.h"

using namespace frame_check;

namespace {

struct Places {
  int frame_fd = -1; // the fuzz input as a file
  int fd_dir = -1;   // /proc/self/fd, where it has a name
  std::string frame_name;
};
Places places;

void setup() {
  places.frame_fd = make_memfd("Frame7.bmp");
  places.fd_dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (places.fd_dir == -1)
    fail("no /proc/self/fd");
  places.frame_name = std::to_string(places.frame_fd);
}

void check_frame(const std::uint8_t *data, std::size_t size) {
  reset_memfd(places.frame_fd);
  write_all(places.frame_fd, data, size);
  const int free_before = lowest_free_descriptor();
  const FrameVerdict verdict =
      check_frame_file(places.fd_dir, places.frame_name);
  if (lowest_free_descriptor() != free_before)
    fail("a descriptor was left open");
  const Finding line = frame_finding("Frame7.bmp", verdict);
  if ((line.level == Level::ok) != verdict.reasons.empty() ||
      (line.level == Level::ok) != line.fix.empty())
    fail("the line's level, reasons and fix disagree");
  if (line.text.find('\n') != std::string::npos)
    fail("a frame line spans lines");
}

// The same bytes as the text of /proc/mounts, a log and a stat line.
void check_texts(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const std::string path = "/mnt/udisk/4/3";
  const auto mounts = parse_mounts(text);
  const MountEntry *holder = mount_holding(mounts, path);
  if (holder != nullptr && holder->point != "/" &&
      path.compare(0, holder->point.size(), holder->point) != 0)
    fail("the holding mount does not contain the folder");
  judge_disk(holder, true);
  for (const auto &line : last_lines(text, 5))
    if (line.find('\n') != std::string::npos)
      fail("a log line holds a newline");
  if (last_lines(text, 5).size() > 5)
    fail("more log lines than asked for");
  parent_from_stat(text);
  const int number = frame_number_of(text);
  if (number < -1 || number > 81)
    fail("a frame number out of range");
  for (const char c : printable(text))
    if (static_cast<unsigned char>(c) < 0x20)
      fail("a control byte was left printable");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (places.frame_fd == -1)
    setup();
  check_frame(data, size);
  check_texts(data, size);
  return 0;
}
