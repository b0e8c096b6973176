// Frame files, screen memory and a quiet stdout for the benchmark and the
// instruction-count driver.
#pragma once

#include <cstdint>
#include <string>

// Writes a width x height 24-bit BMP with varied pixels to `path` and reads
// it back once so that it sits in the page cache. Returns false on failure.
bool write_frame_file(const std::string &path, int width, int height);

// lcd_bytes of private anonymous memory, every page already touched.
std::uint32_t *map_anonymous_screen();
// A shared mapping of an lcd_bytes file on tmpfs, the nearest thing to a
// framebuffer mapping without a device; the file is unlinked at once.
std::uint32_t *map_tmpfs_screen();
void unmap_screen(std::uint32_t *screen);

// Points fd 1 at /dev/null and returns the old fd 1, for restore_stdout.
int silence_stdout();
void restore_stdout(int saved);
