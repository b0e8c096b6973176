# The version a build carries, worked out afresh at every build (a script
# run with cmake -P, so that a commit or an edit after configuring shows):
#   - in a git checkout with a release tag: `git describe --tags --dirty`,
#     e.g. 1.0.0, 1.0.0-4-g1a2b3c4 or 1.0.0-4-g1a2b3c4-dirty (a leading
#     "v" of the tag dropped);
#   - in a checkout without tags (a shallow clone), or where git is
#     missing: the project's VERSION, with -dirty when files differ from
#     the commit;
#   - in a copy without .git: the version recorded in its .tarball-version
#     (tools/build-package writes one), else the project's VERSION.
# Arguments (-D): SOURCE_DIR; VERSION (else read from project() in
# SOURCE_DIR/CMakeLists.txt); and OUTPUT_DIR, where it writes
# frame_player_version.h and version.txt when their text changes. Without
# OUTPUT_DIR it prints the version on standard output.

function(git_version out_var)
  set(${out_var} "" PARENT_SCOPE)
  find_program(GIT_COMMAND git)
  if(NOT EXISTS ${SOURCE_DIR}/.git OR NOT GIT_COMMAND)
    return()
  endif()
  execute_process(
    COMMAND ${GIT_COMMAND} -C ${SOURCE_DIR} describe --tags --dirty
            --match "v[0-9]*" --match "[0-9]*"
    OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0)
    string(REGEX REPLACE "^v" "" described "${described}")
    set(${out_var} "${described}" PARENT_SCOPE)
    return()
  endif()
  execute_process(
    COMMAND ${GIT_COMMAND} -C ${SOURCE_DIR} status --porcelain
            --untracked-files=no
    OUTPUT_VARIABLE changes RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND NOT changes STREQUAL "")
    set(${out_var} "${VERSION}-dirty" PARENT_SCOPE)
  elseif(status EQUAL 0)
    set(${out_var} "${VERSION}" PARENT_SCOPE)
  endif()
endfunction()

function(source_version out_var)
  git_version(version)
  if(version STREQUAL "" AND EXISTS ${SOURCE_DIR}/.tarball-version)
    file(STRINGS ${SOURCE_DIR}/.tarball-version version LIMIT_COUNT 1)
  endif()
  if(version STREQUAL "")
    set(version ${VERSION})
  endif()
  set(${out_var} "${version}" PARENT_SCOPE)
endfunction()

# Rewrites FILE only when TEXT differs, so that nothing rebuilds needlessly.
function(write_if_changed file text)
  set(old "")
  if(EXISTS ${file})
    file(READ ${file} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${file} "${text}")
  endif()
endfunction()

if(NOT DEFINED VERSION)
  file(STRINGS ${SOURCE_DIR}/CMakeLists.txt project_line
       REGEX "^project\\(.* VERSION [0-9.]+" LIMIT_COUNT 1)
  string(REGEX REPLACE ".* VERSION ([0-9.]+).*" "\\1" VERSION
                       "${project_line}")
endif()
source_version(version)
if(NOT DEFINED OUTPUT_DIR)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
  return()
endif()
write_if_changed(${OUTPUT_DIR}/version.txt "${version}\n")
string(CONCAT header "// Written at build time by cmake/version.cmake.\n"
       "#pragma once\n" "#define FRAME_PLAYER_VERSION \"${version}\"\n")
write_if_changed(${OUTPUT_DIR}/frame_player_version.h "${header}")
