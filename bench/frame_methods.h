// The frames the benchmarks draw and the ways of drawing them that they
// compare, shared by the frame-rate benchmark on this machine and the
// instruction count in the ARM guests.
#pragma once

#include <cstdint>
#include <string>

struct FrameSize {
  int width, height;
};
constexpr FrameSize frame_sizes[] = {{800, 480}, {1024, 600}};

std::string frame_label(const FrameSize &size); // e.g. "800x480"
std::string frame_path(const std::string &dir, const FrameSize &size);

// Makes a folder under /tmp, writes a frame of each size into it (held in
// the page cache), allocates the limit's buffer, runs `body` on the folder
// and removes it again. Returns body's status, or 1 after saying on stderr
// what failed before it.
int with_frames(int (*body)(const std::string &dir));

// Each draws the frame at `path` onto mmap_lcd and says whether it could.
using DrawFn = bool (*)(const char *path);
// show(0, 0, path) as shipped.
bool show_frame(const char *path);
// The least any method must do: open, one read of the whole file into a
// page-aligned buffer allocated once, a memcpy of a screenful, close.
bool limit_frame(const char *path);
// The straightforward way: decode the whole image into its own buffer,
// then copy it to the screen in a second pass over every screen position.
bool two_pass_frame(const char *path);

// A comparison is only fair if every method draws the same picture: draws
// `path` with show and with `draw` onto `screen`, and says on stderr if
// they differ.
bool draws_like_show(const char *label, DrawFn draw, const std::string &path,
                     std::uint32_t *screen);
