// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <string>

// Reports a broken property and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char *what);

// An anonymous in-memory file; aborts if the kernel has none to give.
int make_memfd(const char *name);
// Empties a memfd and puts its offset back to the start.
void reset_memfd(int fd);
// Everything written to a memfd so far.
std::string memfd_contents(int fd);
// The number the next open would get. open takes the lowest free number,
// so a descriptor left open by the code under test changes it.
int lowest_free_descriptor();
// Writes all of `bytes`, however the descriptor takes them.
void write_all(int fd, const unsigned char *bytes, std::size_t size);
