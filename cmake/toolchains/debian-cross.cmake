# Shared by the board toolchain files: Debian's cross compilers for
# `board_triple`, their libraries, and QEMU user mode for running the
# tests (QEMU names its emulators by CMAKE_SYSTEM_PROCESSOR's values). A
# compiler given with -DCMAKE_CXX_COMPILER (and -DCMAKE_C_COMPILER) or an
# emulator given with -DCMAKE_CROSSCOMPILING_EMULATOR wins.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${board_triple}-gcc CACHE FILEPATH "Board C compiler")
set(CMAKE_CXX_COMPILER ${board_triple}-g++ CACHE FILEPATH "Board C++ compiler")

# Headers and libraries come from the target's tree only, programs from
# this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${board_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L lets a dynamically linked test find the target's loader and libraries;
# the default static builds do not need it.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR}-static -L
    /usr/${board_triple} CACHE STRING "Runs target programs on this machine")
