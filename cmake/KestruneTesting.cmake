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
endif()
include(GoogleTest)

# Simulators for the tests that talk to one over the network, started by
# ctest itself as test fixtures (cmake/sim-fixture.sh) and stopped when the
# last test that needs them ends. A test program names the fixtures it needs
# (kestrune_add_test FIXTURES) and runs through cmake/test-env.sh, which hands
# it their addresses. The Windows programs under Wine talk to a simulator
# running natively, built by the native preset.
if(CMAKE_CROSSCOMPILING)
  set(KESTRUNE_NATIVE_SIM "${CMAKE_SOURCE_DIR}/build/native/sim/kestrune-sim"
      CACHE FILEPATH "The native kestrune-sim that the Windows tests under Wine talk to")
  set(kestrune_fixture_sim "${KESTRUNE_NATIVE_SIM}")
else()
  set(kestrune_fixture_sim "$<TARGET_FILE:kestrune-sim>")
endif()

# kestrune_sim_fixture(NAME DIRECTORY [ARGS...]): the fixture NAME, a
# simulator started with ARGS that leaves its address and log in
# test-fixtures/DIRECTORY (where test-env.sh looks).
function(kestrune_sim_fixture name directory)
  set(fixture_dir "${KESTRUNE_TEST_FIXTURES_DIR}/${directory}")
  add_test(NAME ${name}_start
           COMMAND "${CMAKE_SOURCE_DIR}/cmake/sim-fixture.sh" start "${fixture_dir}"
                   "${kestrune_fixture_sim}" ${ARGN})
  add_test(NAME ${name}_stop
           COMMAND "${CMAKE_SOURCE_DIR}/cmake/sim-fixture.sh" stop "${fixture_dir}")
  set_tests_properties(${name}_start PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 60)
  set_tests_properties(${name}_stop PROPERTIES FIXTURES_CLEANUP ${name} TIMEOUT 60)
endfunction()

# The plain simulator: KESTRUNE_TEST_SIM, KESTRUNE_TEST_SIM_LOG.
kestrune_sim_fixture(kestrune_sim sim)
# A simulator with a hundred instances in cn-shanghai, for replies of
# thousands of rows: KESTRUNE_TEST_FLEET_SIM. It starts with the plain one
# (a test program names one list of fixtures for all its cases).
kestrune_sim_fixture(kestrune_sim_fleet sim-fleet --instances 100@cn-shanghai)
set_tests_properties(kestrune_sim_fleet_start PROPERTIES FIXTURES_SETUP "kestrune_sim_fleet;kestrune_sim")
set_tests_properties(kestrune_sim_fleet_stop PROPERTIES FIXTURES_CLEANUP "kestrune_sim_fleet;kestrune_sim")
if(CMAKE_CROSSCOMPILING)
  # Ends the Wine processes the tests left in the prefix (cmake/wine-run.sh).
  add_test(NAME kestrune_wine_stop
           COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-run.sh" "${CMAKE_BINARY_DIR}/wineprefix"
                   --end-session)
  set_tests_properties(kestrune_wine_stop PROPERTIES FIXTURES_CLEANUP kestrune_sim TIMEOUT 60)
endif()
# The TLS simulator: KESTRUNE_TEST_TLS, KESTRUNE_TEST_TLS_CA,
# KESTRUNE_TEST_TLS_OTHER_CA. Added once the simulator can serve TLS with a
# CA of its own making (it prints the CA's path on its second line).
file(STRINGS "${CMAKE_SOURCE_DIR}/sim/command_line.cc" sim_tls_option REGEX "tls-self-signed")
if(sim_tls_option)
  kestrune_sim_fixture(kestrune_sim_tls sim-tls --lines 2 --tls-self-signed
                       "${KESTRUNE_TEST_FIXTURES_DIR}/sim-tls/certs")
endif()

# kestrune_add_test(name SOURCES ... LIBS ... [LABELS ...] [FIXTURES ...]
#                   [PROPERTIES ...] [NATIVE_ONLY])
# One GoogleTest executable; each test case is its own ctest entry, natively
# and under Wine alike, so a skipped case shows as skipped. FIXTURES names the
# simulators its tests talk to (kestrune_sim, kestrune_sim_tls); PROPERTIES
# are further ctest properties of every case.
function(kestrune_add_test name)
  cmake_parse_arguments(ARG "NATIVE_ONLY" "" "SOURCES;LIBS;LABELS;FIXTURES;PROPERTIES" ${ARGN})
  if(ARG_NATIVE_ONLY AND CMAKE_CROSSCOMPILING)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kestrune_options ${ARG_LIBS} GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING AND NOT ARG_FIXTURES)
    # Every Windows test within the fixture whose cleanup ends the Wine
    # session, so that cleanup waits for all of them.
    set(ARG_FIXTURES kestrune_sim)
  endif()
  set(properties ${ARG_PROPERTIES})
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(ARG_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED "${ARG_FIXTURES}")
    if(NOT CMAKE_CROSSCOMPILING)
      # Under Wine every program runs through test-env.sh already.
      set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
                   "${CMAKE_SOURCE_DIR}/cmake/test-env.sh;${KESTRUNE_TEST_FIXTURES_DIR}")
      add_dependencies(${name} kestrune-sim)
    endif()
  endif()
  if(CMAKE_CROSSCOMPILING)
    # A Wine start costs about a second; listing the cases may also have to
    # make the Wine prefix first.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 600
                         PROPERTIES TIMEOUT 300 ${properties})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120 ${properties})
  endif()
endfunction()
