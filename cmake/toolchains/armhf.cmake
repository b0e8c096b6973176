# 32-bit ARM boards (ARMv7, hard float) with Debian's
# g++-arm-linux-gnueabihf; tests run under qemu-arm-static.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(board_triple arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
