# One self-contained, stripped file per board: the boards' own C libraries
# vary and are often old, so the program carries its own.
add_link_options(-static -s)

# Before glibc 2.34 (and in uClibc, which also says it is glibc 2.2) the
# thread functions live in a separate libpthread. Linked statically, only
# the parts referenced by name would come along and the C++ runtime could
# take threads to be absent, so that archive is linked whole.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles(
  [[
#include <cstdio>
#if defined(__GLIBC__) && __GLIBC__ == 2 && __GLIBC_MINOR__ < 34
#error thread functions are in a separate libpthread
#endif
int main() { return 0; }
]]
  FRAME_PLAYER_LIBC_HAS_PTHREAD)
if(NOT FRAME_PLAYER_LIBC_HAS_PTHREAD)
  link_libraries(-Wl,--whole-archive -lpthread -Wl,--no-whole-archive)
endif()
