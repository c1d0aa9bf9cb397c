include(GoogleTest)

# quilmo_add_tests(NAME DIR LIBS...): one GoogleTest program from every
# *.cpp in DIR, registered with ctest through gtest_discover_tests. Test
# sources are named test_*.cpp; other sources in DIR are the tests' helpers.
function(quilmo_add_tests name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  foreach(_src IN LISTS _srcs)
    get_filename_component(_file ${_src} NAME)
    if(NOT _file MATCHES "^test_")
      file(STRINGS ${_src} _cases REGEX "^TEST(_F|_P)?\\(")
      if(_cases)
        message(FATAL_ERROR "${_src} holds tests: name it test_*.cpp")
      endif()
    endif()
  endforeach()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE QUILMO_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                             QUILMO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# quilmo_glob_library(NAME DIR LIBS...): a static library of every *.cpp in
# DIR (an interface library while the folder holds none yet).
function(quilmo_glob_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# quilmo_add_resources(TARGET [SOURCE.xml] [DEVICE_NAME name] [VERSION 1.2.3.4])
# Appends a resource container to TARGET after every link (rescomp
# --append). The container always holds a version resource: the source's
# <version> (missing values filled in), or one made from DEVICE_NAME (default
# TARGET.exe, or TARGET.dll for a library) and VERSION (default the project
# version, else 1.0.0.0).
function(quilmo_add_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DEVICE_NAME;VERSION" "")
  set(_src "")
  if(ARG_UNPARSED_ARGUMENTS)
    list(GET ARG_UNPARSED_ARGUMENTS 0 _src)
    get_filename_component(_src "${_src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${_src}")
  endif()
  if(NOT ARG_DEVICE_NAME)
    get_target_property(_type ${target} TYPE)
    if(_type STREQUAL "EXECUTABLE")
      set(ARG_DEVICE_NAME "${target}.exe")
    else()
      set(ARG_DEVICE_NAME "${target}.dll")
    endif()
  endif()
  if(NOT ARG_VERSION)
    if(PROJECT_VERSION)
      set(ARG_VERSION "${PROJECT_VERSION}")
    else()
      set(ARG_VERSION "1.0.0.0")
    endif()
  endif()
  add_dependencies(${target} rescomp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:rescomp> --append $<TARGET_FILE:${target}>
            --default-version ${ARG_VERSION} --default-name "${ARG_DEVICE_NAME}" ${_src}
    COMMENT "Appending resources to ${target}"
    VERBATIM)
endfunction()
