// Frame files come from a removable disk that anyone can fill: whatever
// their bytes, show must stay inside its buffers and the screen, refuse
// without drawing, and give back every descriptor it opens.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sanitizer/asan_interface.h>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "show_bmp.h"

std::atomic<std::int32_t> flag{0}; // defined by the program, not linked here

namespace {

// Draw writes 0x00RRGGBB, so a non-zero top byte can never be drawn.
constexpr std::uint32_t untouched = 0xA5C3E17Fu;
constexpr std::uint32_t guard = 0x5A3C1E87u;
constexpr std::size_t screen_words = std::size_t{lcd_width} * lcd_height;
// Four screen rows on each side: off-by-a-row writes land in them.
constexpr std::size_t guard_words = 4 * lcd_width;

struct Places {
  std::uint32_t *memory;  // guard, screen, guard
  std::uint32_t *clean;   // what the screen and guards should hold
  int frame_fd;           // the fuzz input as a file
  std::string frame_path; // its /proc/self/fd name
};
Places places;

const struct { int x, y; } offsets[] = {{0, 0}, {100, 50}, {799, 479}};

std::uint32_t *screen() { return places.memory + guard_words; }
std::uint32_t *guard_after() { return screen() + screen_words; }

// The guards are poisoned: a stray write there stops at once with a trace.
void poison_guards(bool on) {
  const std::size_t bytes = guard_words * 4;
  if (on) {
    ASAN_POISON_MEMORY_REGION(places.memory, bytes);
    ASAN_POISON_MEMORY_REGION(guard_after(), bytes);
  } else {
    ASAN_UNPOISON_MEMORY_REGION(places.memory, bytes);
    ASAN_UNPOISON_MEMORY_REGION(guard_after(), bytes);
  }
}

void check_guards() {
  poison_guards(false);
  const std::size_t bytes = guard_words * 4;
  if (std::memcmp(places.memory, places.clean, bytes) != 0 ||
      std::memcmp(guard_after(), places.clean + guard_words + screen_words,
                  bytes) != 0)
    fail("a guard around the screen was overwritten");
  poison_guards(true);
}

bool screen_untouched() {
  return std::memcmp(screen(), places.clean + guard_words, lcd_bytes) == 0;
}

void restore_screen() {
  std::memcpy(screen(), places.clean + guard_words, lcd_bytes);
}

void set_up_screen() {
  const std::size_t total = guard_words + screen_words + guard_words;
  places.memory = new std::uint32_t[total];
  places.clean = new std::uint32_t[total];
  for (std::size_t i = 0; i < total; ++i) {
    const bool in_screen = i >= guard_words && i < guard_words + screen_words;
    places.clean[i] = in_screen ? untouched : guard;
  }
  std::memcpy(places.memory, places.clean, total * 4);
  mmap_lcd = screen();
  poison_guards(true);
}

// show's console lines are not under test here and would slow it down.
void silence_stdout() {
  const int null = open("/dev/null", O_WRONLY);
  if (null == -1 || dup2(null, STDOUT_FILENO) == -1)
    fail("cannot redirect stdout to /dev/null");
  close(null);
}

void load_frame(const std::uint8_t *data, std::size_t size) {
  reset_memfd(places.frame_fd);
  write_all(places.frame_fd, data, size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  silence_stdout();
  set_up_screen();
  places.frame_fd = make_memfd("fuzz-frame");
  places.frame_path = "/proc/self/fd/" + std::to_string(places.frame_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  load_frame(data, size);
  const int next_descriptor = lowest_free_descriptor();
  int first_result = 0;
  for (const auto &at : offsets) {
    const int result = show(at.x, at.y, places.frame_path.c_str());
    check_guards();
    if (result != 0 && result != -1)
      fail("show returned neither 0 nor -1");
    if (&at == offsets)
      first_result = result;
    else if (result != first_result)
      fail("where a frame is drawn decided whether it was refused");
  }
  // Nothing is restored between the offsets, so a mark left by any of
  // three refusals is still there; the screen is compared (or restored) once
  // an input rather than after every call, the fuzzer's own main cost.
  if (first_result == -1 && !screen_untouched())
    fail("a refused frame changed the screen");
  if (first_result == 0)
    restore_screen();
  if (lowest_free_descriptor() != next_descriptor)
    fail("show left a descriptor open");
  return 0;
}
