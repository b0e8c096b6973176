// Frame player: numbering and naming of the frames it plays.
#pragma once

#include <cstddef>

constexpr int last_frame_number = 81;
// Frame N is this path with N in decimal: Frame0.bmp ... Frame81.bmp in
// the folder 4/3 of the USB disk mounted at frame_disk.
constexpr char frame_path_format[] = "/mnt/udisk/4/3/Frame%d.bmp";
constexpr char frame_disk[] = "/mnt/udisk";
constexpr std::size_t frame_path_size = 128;

// The number shown after `current`: 1, 2, ..., 81, then 0 again.
int next_frame_number(int current);
// Writes the path of frame `number` into `path` (frame_path_size bytes).
void format_frame_path(char *path, int number);
