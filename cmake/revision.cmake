# Writes the source revision (git describe of the source tree, "unknown" outside a git
# checkout, as in a tarball) into OUT, touching it only when the text changes so that a
# rebuild recompiles nothing when the revision is the same.
set(rev "unknown")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SRC}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" describe --always --dirty --tags
                  OUTPUT_VARIABLE out RESULT_VARIABLE res ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(res EQUAL 0 AND NOT out STREQUAL "")
    set(rev "${out}")
  endif()
endif()
set(text "// Made by cmake/revision.cmake at build time.\n#define ZELK_REVISION \"${rev}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
