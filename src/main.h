// Frame player: numbering and naming of the frames it plays.
#pragma once

#include <cstddef>

constexpr int last_frame_number = 81;
constexpr std::size_t frame_path_size = 128;

// The number shown after `current`: 1, 2, ..., 81, then 0 again.
int next_frame_number(int current);
// Writes the path of frame `number` into `path` (frame_path_size bytes).
void format_frame_path(char *path, int number);
