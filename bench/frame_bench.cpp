// Frame-rate benchmark: show() against the cost of merely reading a frame
// file and copying a screenful, the obvious two-pass decoder, and a widely
// used image decoder. Prints a median table at the end.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <map>
#include <stb/stb_image.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "frame_methods.h"
#include "show_bmp.h"

namespace {

// A general decoder as a user would reach for it: decode to top-down RGB,
// then convert the visible part to screen words.
bool stb_image_frame(const char *path) {
  int width = 0, height = 0, channels = 0;
  unsigned char *rgb = stbi_load(path, &width, &height, &channels, 3);
  if (rgb == nullptr)
    return false;
  const int rows = std::min(height, lcd_height);
  const int cols = std::min(width, lcd_width);
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < cols; ++col) {
      const unsigned char *p = rgb + 3 * (std::size_t(row) * width + col);
      mmap_lcd[row * lcd_width + col] =
          std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    }
  stbi_image_free(rgb);
  return true;
}

void draw_frames(benchmark::State &state, DrawFn draw, const std::string &path,
                 std::uint32_t *screen) {
  mmap_lcd = screen;
  // show() prints two lines a frame; the console must not set the pace.
  const int saved_stdout = silence_stdout();
  bool ok = true;
  for (auto _ : state) {
    ok = draw(path.c_str()) && ok;
    benchmark::ClobberMemory();
  }
  restore_stdout(saved_stdout);
  mmap_lcd = nullptr;
  if (!ok)
    state.SkipWithError("a frame could not be drawn");
  state.counters["fps"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

struct Entry {
  std::string name, frame, screen, method, limit_name;
};

struct Times {
  double real_us, cpu_us;
};

// The library reports through a reporter object; this one keeps the
// console output and remembers each benchmark's median (with a single
// repetition, its only run).
class MedianTable : public benchmark::ConsoleReporter {
public:
  using ConsoleReporter::ConsoleReporter;
  std::map<std::string, Times> times;
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      const Times t{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      const std::string &name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        times[name] = t;
      else if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times.emplace(name, t);
    }
  }
};

void print_table(const std::vector<Entry> &entries,
                 const std::map<std::string, Times> &times) {
  std::printf("\n| frame | screen | method | µs/frame | fps | × limit (wall) "
              "| × limit (CPU) |\n|---|---|---|---:|---:|---:|---:|\n");
  for (const Entry &e : entries) {
    const auto found = times.find(e.name);
    const auto limit = times.find(e.limit_name);
    if (found == times.end())
      continue;
    const Times &t = found->second;
    std::printf("| %s | %s | %s | %.0f | %.0f |", e.frame.c_str(),
                e.screen.c_str(), e.method.c_str(), t.real_us, 1e6 / t.real_us);
    if (limit == times.end())
      std::printf(" – | – |\n");
    else
      std::printf(" %.2f | %.2f |\n", t.real_us / limit->second.real_us,
                  t.cpu_us / limit->second.cpu_us);
  }
}

std::vector<Entry> register_all(const std::string &dir,
                                std::uint32_t *anonymous,
                                std::uint32_t *tmpfs) {
  const struct {
    const char *label;
    std::uint32_t *memory;
  } screens[] = {{"anonymous", anonymous}, {"tmpfs shared", tmpfs}};
  const struct {
    const char *label;
    DrawFn draw;
  } methods[] = {{"limit", limit_frame},
                 {"show", show_frame},
                 {"two-pass", two_pass_frame},
                 {"stb_image", stb_image_frame}};
  std::vector<Entry> entries;
  for (const FrameSize &size : frame_sizes)
    for (const auto &screen : screens)
      for (const auto &method : methods) {
        const std::string frame = frame_label(size);
        const std::string prefix = frame + "/" + screen.label + "/";
        const std::string path = frame_path(dir, size);
        Entry e{prefix + method.label, frame, screen.label, method.label,
                prefix + "limit"};
        benchmark::RegisterBenchmark(e.name.c_str(), draw_frames, method.draw,
                                     path, screen.memory)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        entries.push_back(e);
      }
  return entries;
}

// Everything between writing the frames and removing them.
int benchmark_frames(const std::string &dir) {
  std::uint32_t *anonymous = map_anonymous_screen();
  std::uint32_t *tmpfs = map_tmpfs_screen();
  if (anonymous == nullptr || tmpfs == nullptr) {
    std::perror("screen memory");
    return 1;
  }
  for (const FrameSize &size : frame_sizes)
    if (!draws_like_show("two-pass", two_pass_frame, frame_path(dir, size),
                         anonymous) ||
        !draws_like_show("stb_image", stb_image_frame, frame_path(dir, size),
                         anonymous))
      return 1;

  const std::vector<Entry> entries = register_all(dir, anonymous, tmpfs);
  // Colours only for a terminal, as the library's own reporter does.
  MedianTable table(isatty(STDOUT_FILENO) ? MedianTable::OO_Defaults
                                          : MedianTable::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  print_table(entries, table.times);
  unmap_screen(anonymous);
  unmap_screen(tmpfs);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  // As the program itself does, so that show() writes as it does there.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;

  return with_frames(benchmark_frames);
}
