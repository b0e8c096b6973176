# GoogleTest for the unit tests. Debian installs it ready-built only for
# this machine's own architecture; other targets build it from the source
# Debian ships in /usr/src/googletest.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest)
endif()
if(NOT GTest_FOUND)
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
