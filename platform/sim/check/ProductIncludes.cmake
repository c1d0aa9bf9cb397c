# cmake -DSOURCE_DIR=<tree> -P ProductIncludes.cmake
#
# Fails when a product source includes one of the simulator's controls
# (cesim/...), SQLite, or the platform's private sources. Product sources are
# the .cpp and .h files of every top-level folder that is not listed below,
# so a new subsystem folder is checked from its first file; tests (any
# "tests" folder) may use the simulator's controls.
cmake_minimum_required(VERSION 3.25)

set(_not_product platform tools standins testkit bench fuzz resources docs scripts cmake)
set(_refused "(^|/)cesim/|(^|/)sqlite3\\.h$|platform/src/|platform/sim/")

file(GLOB _top LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(_offences "")
foreach(_dir IN LISTS _top)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${_dir} OR _dir MATCHES "^(\\.|build)" OR _dir IN_LIST _not_product)
    continue()
  endif()
  file(GLOB_RECURSE _srcs RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${_dir}/*.cpp ${SOURCE_DIR}/${_dir}/*.h)
  foreach(_src IN LISTS _srcs)
    if(_src MATCHES "(^|/)tests/")
      continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${_src} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(_line IN LISTS _includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" _header "${_line}")
      if(_header MATCHES "${_refused}")
        string(APPEND _offences "\n  ${_src}: ${_header}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_offences)
  message(FATAL_ERROR "Product code must use the device API (ce/) only; these includes are the "
                      "simulator's or the platform's own:${_offences}")
endif()
message(STATUS "Product sources include none of the simulator's controls")
