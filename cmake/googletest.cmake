# GoogleTest for the unit tests: the target's own when it has one (found
# through the toolchain's search roots, so a cross build never takes this
# machine's), else built from the source Debian ships in /usr/src/googletest,
# which is how the board presets get it: Debian installs it ready-built only
# for this machine's own architecture.
find_package(GTest)
if(NOT GTest_FOUND)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "The tests need GoogleTest: install libgtest-dev "
                        "(tools/install-deps) or pass -DBUILD_TESTING=OFF")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
endif()

# Listing a target's tests at build time would need the emulator in every
# build; list them when the tests run instead.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
