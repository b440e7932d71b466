# Checks that the includes between folders run one way only: record I/O (kud/io) <- text
# helpers (kud/text) <- the rest of the library (kud/) <- the program (zelp/). Run as
#   cmake -DSOURCE_DIR=<tree> -P cmake/check_layers.cmake
# Fails with the offending lines.

# folder, then the include prefixes its files may not use
set(rules
  "kud/io|kud/text/,kud/fileio/,kud/reader/,kud/numeric/,kud/kud.hpp,zelp/"
  "kud/text|kud/fileio/,kud/reader/,kud/numeric/,kud/kud.hpp,zelp/"
  "kud|zelp/")
get_filename_component(root "${SOURCE_DIR}" ABSOLUTE)
set(violations "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 banned)
  string(REPLACE "," ";" banned "${banned}")
  file(GLOB_RECURSE files "${root}/${folder}/*.hpp" "${root}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^#include [\"<]")
    foreach(line IN LISTS includes)
      foreach(prefix IN LISTS banned)
        if(line MATCHES "^#include [\"<]${prefix}")
          file(RELATIVE_PATH shown "${root}" "${file}")
          string(APPEND violations "  ${shown}: ${line}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(violations)
  message(FATAL_ERROR "includes against the layering:\n${violations}")
endif()
message(STATUS "includes follow the layering")
