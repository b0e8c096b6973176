# Included before any target exists when FRAME_PLAYER_FUZZ is on: the
# product modules are then built with coverage feedback and the address and
# undefined-behaviour checks, so the fuzzers see inside them. Only the fuzz
# targets themselves link libFuzzer's driver.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "FRAME_PLAYER_FUZZ needs clang's libFuzzer: "
                      "use the fuzz preset (cmake --preset fuzz)")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                    -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
