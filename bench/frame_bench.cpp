// Frame-rate benchmark: show() against the cost of merely reading a frame
// file and copying a screenful, the obvious two-pass decoder, and a widely
// used image decoder. Prints a median table at the end.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <stb/stb_image.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "show_bmp.h"

namespace {

constexpr std::size_t bmp_header_bytes = 54;

struct FrameSize {
  int width, height;
};
constexpr FrameSize frame_sizes[] = {{800, 480}, {1024, 600}};

// Holds a whole frame file and a screenful, allocated once and page
// aligned so that the limit pays for nothing but the read and the copy, and
// the kernel copies between equally aligned addresses (its fastest case).
struct FreeDeleter {
  void operator()(unsigned char *bytes) const { std::free(bytes); }
};
std::unique_ptr<unsigned char, FreeDeleter> limit_buffer;
std::size_t limit_buffer_bytes = 0;

using DrawFn = bool (*)(const char *path);

std::string frame_label(const FrameSize &size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string frame_path(const std::string &dir, const FrameSize &size) {
  return dir + "/Frame" + frame_label(size) + ".bmp";
}

bool show_frame(const char *path) { return show(0, 0, path) == 0; }

// The least any method must do: get the file's bytes and fill the screen.
bool limit_frame(const char *path) {
  const int fd = open(path, O_RDONLY);
  if (fd == -1)
    return false;
  const ssize_t got = read(fd, limit_buffer.get(), limit_buffer_bytes);
  std::memcpy(mmap_lcd, limit_buffer.get(), lcd_bytes);
  close(fd);
  return got > 0;
}

void decode_bottom_up(const unsigned char *data, int width, int height,
                      std::uint32_t *image) {
  const int stride = (3 * width + 3) & ~3;
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col)
      image[row * width + col] =
          bgr_to_pixel(data + (height - 1 - row) * stride + 3 * col);
}

// The straightforward way: decode the whole image into its own buffer,
// then copy it to the screen in a second pass over every screen position.
bool two_pass_frame(const char *path) {
  const int fd = open(path, O_RDONLY);
  if (fd == -1)
    return false;
  unsigned char header[bmp_header_bytes];
  std::int32_t width = 0, height = 0;
  if (read(fd, header, sizeof header) == sizeof header) {
    std::memcpy(&width, header + 18, 4);
    std::memcpy(&height, header + 22, 4);
  }
  const std::size_t size = std::size_t((3 * width + 3) & ~3) * height;
  std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
  const bool complete = read(fd, data.get(), size) == ssize_t(size);
  close(fd);
  if (!complete || width <= 0 || height <= 0)
    return false;
  std::unique_ptr<std::uint32_t[]> image(
      new std::uint32_t[std::size_t(width) * height]);
  decode_bottom_up(data.get(), width, height, image.get());
  for (int row = 0; row < lcd_height; ++row)
    for (int col = 0; col < lcd_width; ++col)
      if (row < height && col < width)
        mmap_lcd[row * lcd_width + col] = image[row * width + col];
  return true;
}

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

// A comparison is only fair if every method draws the same picture.
bool draws_like_show(const char *label, DrawFn draw, const std::string &path,
                     std::uint32_t *screen) {
  mmap_lcd = screen;
  std::memset(screen, 0, lcd_bytes);
  const int saved_stdout = silence_stdout();
  const bool shown = show_frame(path.c_str());
  restore_stdout(saved_stdout);
  const std::vector<std::uint32_t> expected(screen, screen + lcd_bytes / 4);
  std::memset(screen, 0, lcd_bytes);
  const bool drawn = draw(path.c_str());
  mmap_lcd = nullptr;
  if (shown && drawn && std::equal(expected.begin(), expected.end(), screen))
    return true;
  std::fprintf(stderr, "%s draws %s differently from show\n", label,
               path.c_str());
  return false;
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

// Everything between making the frame folder and removing it.
int benchmark_frames(const std::string &dir) {
  std::size_t largest_file = 0;
  for (const FrameSize &size : frame_sizes) {
    const std::string path = frame_path(dir, size);
    if (!write_frame_file(path, size.width, size.height)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    largest_file = std::max<std::size_t>(
        largest_file,
        bmp_header_bytes + pixel_data_size(size.width, size.height));
  }
  constexpr std::size_t page = 4096;
  limit_buffer_bytes =
      (std::max(largest_file, lcd_bytes) + page - 1) & ~(page - 1);
  limit_buffer.reset(static_cast<unsigned char *>(
      std::aligned_alloc(page, limit_buffer_bytes)));
  std::uint32_t *anonymous = map_anonymous_screen();
  std::uint32_t *tmpfs = map_tmpfs_screen();
  if (!limit_buffer || anonymous == nullptr || tmpfs == nullptr) {
    std::perror("memory");
    return 1;
  }
  std::memset(limit_buffer.get(), 0, limit_buffer_bytes);
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

  char dir[] = "/tmp/frame-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const int status = benchmark_frames(dir);
  for (const FrameSize &size : frame_sizes)
    unlink(frame_path(dir, size).c_str());
  rmdir(dir);
  return status;
}
