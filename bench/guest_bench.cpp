// Instructions per frame on the boards' processors. Runs inside a QEMU
// guest started by bench/board-instructions with -icount shift=0,sleep=off,
// where the monotonic clock advances by one nanosecond per executed guest
// instruction: the time a call takes is the number of instructions it
// executed, the kernel's work for it included.
//
// Times each method on each frame in interleaved rounds and prints, for the
// host to tabulate, the converter that show uses and the fewest
// instructions each method took:
//   frame-bench: converter NAME
//   frame-bench: FRAME METHOD... INSTRUCTIONS
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "byte_formats.h"
#include "frame_methods.h"
#include "show_bmp.h"

namespace {

// A call's own instructions are the same every time; the timer interrupts
// that fall into it only ever add (one per 4 million instructions on
// Debian's kernels, some thousands each). The round length can stay in
// step with the timer, so that every other round of a call is hit, and a
// median then flips between two values from boot to boot: the fewest of
// many calls is the count without them.
constexpr int rounds = 41;

struct Frame {
  FrameSize size;
  std::string path;
  std::vector<unsigned char> pixels; // the file's pixel rows, read once
};

struct Method {
  std::string name;
  std::function<bool(const Frame &)> run;
};

std::int64_t clock_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

bool read_pixels(Frame &frame) {
  frame.pixels.resize(static_cast<std::size_t>(
      pixel_data_size(frame.size.width, frame.size.height)));
  const int fd = open(frame.path.c_str(), O_RDONLY);
  if (fd == -1)
    return false;
  const ssize_t got = pread(fd, frame.pixels.data(), frame.pixels.size(),
                            static_cast<off_t>(pixel_data_offset));
  close(fd);
  return got == static_cast<ssize_t>(frame.pixels.size());
}

// Converting and drawing alone, on pixel rows already in memory: what show
// spends beyond opening and reading the file. The loop is show's own for a
// frame at 0, 0 that covers the screen, as both frames do.
Method conversion(const RowConverterEntry &converter) {
  return {std::string("conversion (") + converter.name + ")",
          [&converter](const Frame &frame) {
            const int width = frame.size.width, height = frame.size.height;
            const std::size_t stride = 3 * width + row_padding(width);
            for (int i = 0; i < lcd_height; ++i)
              converter.convert(frame.pixels.data() + (height - 1 - i) * stride,
                                mmap_lcd + i * lcd_width, lcd_width);
            return true;
          }};
}

// show as it is, and show drawing with the word converter, as it did on
// every ARM board before it had a NEON one.
Method show_with(const RowConverterEntry &converter, const char *name) {
  return {name, [&converter](const Frame &frame) {
            row_converter_in_use = converter.convert;
            return show_frame(frame.path.c_str());
          }};
}

std::vector<Method> methods(const RowConverterEntry &chosen) {
  const RowConverterEntry &words = row_converters[row_converter_count - 1];
  std::vector<Method> all = {
      {"limit", [](const Frame &f) { return limit_frame(f.path.c_str()); }},
      show_with(chosen, "show"),
      {"two-pass",
       [](const Frame &f) { return two_pass_frame(f.path.c_str()); }},
      conversion(chosen)};
  if (&chosen != &words) {
    all.push_back(conversion(words));
    all.push_back(show_with(words, "show (words)"));
  }
  return all;
}

std::int64_t fewest(const std::vector<std::int64_t> &counts) {
  return *std::min_element(counts.begin(), counts.end());
}

// counts[f][m]: instructions of each timed call of method m on frame f.
using Counts = std::vector<std::vector<std::vector<std::int64_t>>>;

// For each frame in turn, one warm-up round, then `rounds` rounds of every
// method. One frame size at a time, as a board plays a series of frames of
// one size: show keeps its buffer for the next frame of the same size.
bool count_rounds(const std::vector<Frame> &frames,
                  const std::vector<Method> &all, Counts &counts) {
  counts.assign(frames.size(), std::vector<std::vector<std::int64_t>>(
                                   all.size(), std::vector<std::int64_t>()));
  bool ok = true;
  for (std::size_t f = 0; f < frames.size(); ++f)
    for (int round = 0; round <= rounds; ++round)
      for (std::size_t m = 0; m < all.size(); ++m) {
        const std::int64_t start = clock_ns();
        ok = all[m].run(frames[f]) && ok;
        const std::int64_t end = clock_ns();
        if (round > 0)
          counts[f][m].push_back(end - start);
      }
  return ok;
}

int count_frames(const std::string &dir) {
  std::uint32_t *screen = map_anonymous_screen();
  if (screen == nullptr) {
    std::perror("screen memory");
    return 1;
  }
  std::vector<Frame> frames;
  for (const FrameSize &size : frame_sizes) {
    frames.push_back({size, frame_path(dir, size), {}});
    if (!read_pixels(frames.back())) {
      std::fprintf(stderr, "cannot read %s\n", frames.back().path.c_str());
      return 1;
    }
    if (!draws_like_show("two-pass", two_pass_frame, frames.back().path,
                         screen))
      return 1;
  }
  const RowConverterEntry &chosen = choose_row_converter(cpu_features());
  const std::vector<Method> all = methods(chosen);

  Counts counts;
  mmap_lcd = screen;
  // show() prints two lines a frame, as on the board; keep them off the
  // console, whose emulated serial port would add its own cost.
  const int saved_stdout = silence_stdout();
  const bool ok = count_rounds(frames, all, counts);
  restore_stdout(saved_stdout);
  mmap_lcd = nullptr;
  unmap_screen(screen);
  if (!ok) {
    std::fputs("frame-bench: a frame could not be drawn\n", stderr);
    return 1;
  }
  std::printf("frame-bench: converter %s\n", chosen.name);
  for (std::size_t f = 0; f < frames.size(); ++f)
    for (std::size_t m = 0; m < all.size(); ++m)
      std::printf("frame-bench: %s %s %lld\n",
                  frame_label(frames[f].size).c_str(), all[m].name.c_str(),
                  static_cast<long long>(fewest(counts[f][m])));
  return 0;
}

} // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0); // as the program does
  return with_frames(count_frames);
}
