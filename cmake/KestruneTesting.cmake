# Test support: GoogleTest from the distribution. Natively the packaged
# library is used; cross builds compile Debian's GoogleTest sources with the
# cross compiler.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest "${CMAKE_BINARY_DIR}/googletest"
                   EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# kestrune_add_test(name SOURCES ... LIBS ... [LABELS ...] [NATIVE_ONLY])
# One GoogleTest executable; natively each test case is its own ctest entry,
# under Wine the executable runs as one entry.
function(kestrune_add_test name)
  cmake_parse_arguments(ARG "NATIVE_ONLY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(ARG_NATIVE_ONLY AND CMAKE_CROSSCOMPILING)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kestrune_options ${ARG_LIBS} GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES TIMEOUT 120 LABELS "${ARG_LABELS}")
  endif()
endfunction()
