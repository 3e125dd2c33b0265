# Test support shared by every folder.
#
# GoogleTest: the system's libgtest natively; for mingw it is built here from
# the system's GoogleTest sources, since no Windows build of it is packaged.
if(IXLUMO_TESTS)
  enable_testing()
  if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

# ix_add_test(<name> SOURCES ... [LIBS ...] [WORKING_DIRECTORY dir] [ENVIRONMENT k=v ...] [LABELS ...])
# One program, one ctest entry: under Wine every program start costs a second
# or more, so a test program groups a whole subsystem's cases.
function(ix_add_test name)
  cmake_parse_arguments(T "" "WORKING_DIRECTORY;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS" ${ARGN})
  # Several people work in one tree: a test whose sources are still being
  # written is left out rather than breaking everyone's configure.
  foreach(src ${T_SOURCES})
    if(NOT IS_ABSOLUTE ${src})
      set(src ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    endif()
    if(NOT EXISTS ${src})
      message(STATUS "test ${name} left out: ${src} does not exist yet")
      return()
    endif()
  endforeach()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# Under Wine a program that cannot run on this host (a 32-bit one where the
# kernel executes no 32-bit code) exits with 77 from scripts/wine-run: every
# test of a cross build reports that as skipped, never as passed.
if(CMAKE_CROSSCOMPILING)
  function(add_test)
    _add_test(${ARGV})
    if(ARGV0 STREQUAL "NAME")
      set_tests_properties(${ARGV1} PROPERTIES SKIP_RETURN_CODE 77)
    endif()
  endfunction()
endif()
