# 64-bit ARM boards with Debian's g++-aarch64-linux-gnu; tests run under
# qemu-aarch64-static.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(board_triple aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
