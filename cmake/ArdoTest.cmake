# ardo_add_test(<ctest name> SOURCES ... [LIBS ...] [ENV VAR=value ...]
#               [RESOURCE_LOCK name ...] [TIMEOUT seconds] [LABELS ...]
#               [XCB] [OWN_DISPLAY])
#
# Every test of the project goes through here so that the sanitizer and Qt
# environment is the same everywhere. The executable is named after the test
# with dots turned into underscores (app.database -> tst_app_database).
# XCB marks a suite that needs a real X server (run-tests.sh runs ctest under
# Xvfb); every other suite runs on the offscreen platform.
# OWN_DISPLAY gives a suite a display of its own: an Xvfb started for it
# alone. Every suite that reads pixels back from the X server (XGetImage, a
# screenshot) or types into the focused window needs one: on the shared
# display another suite's window can cover its own or take the focus.
# OWN_DISPLAY implies XCB.
set(ARDO_TEST_ENV
  "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1"
  # LAN discovery never broadcasts from a test: it talks to a loopback
  # address unless a suite (inside its own network namespace) says otherwise.
  "ARDO_DISCOVERY_TARGET=127.0.0.1:9"
  "ARDO_DISCOVERY_LOCAL=127.0.0.1:0"
  # No session bus: without an address libdbus "autolaunches" one, forking
  # from a process whose other threads may hold the sanitizer allocator's
  # locks, and the child can hang for good with the window's constructor
  # waiting on it. The suites that test the bus start one of their own.
  "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/ardo-test-session-bus"
)

# xvfb-run sets DISPLAY and XAUTHORITY for the command, so the display of an
# outer xvfb-run (the one ctest runs under) is never seen; -a picks a free
# server number and tries the next one when two suites start at once.
find_program(ARDO_XVFB_RUN xvfb-run)
set(ARDO_OWN_DISPLAY_ARGS -a -s "-screen 0 1280x1024x24 -noreset")

function(_ardo_own_display_command out)
  if(NOT ARDO_XVFB_RUN)
    message(FATAL_ERROR "xvfb-run is needed for the suites with a display of their own (scripts/install-deps.sh)")
  endif()
  set(${out} ${ARDO_XVFB_RUN} ${ARDO_OWN_DISPLAY_ARGS} ${ARGN} PARENT_SCOPE)
endfunction()

function(ardo_add_test name)
  cmake_parse_arguments(T "XCB;OWN_DISPLAY" "TIMEOUT" "SOURCES;LIBS;ENV;RESOURCE_LOCK;LABELS" ${ARGN})
  string(REPLACE "." "_" exe "tst_${name}")
  add_executable(${exe} ${T_SOURCES})
  target_link_libraries(${exe} PRIVATE ${T_LIBS})
  if(T_OWN_DISPLAY)
    _ardo_own_display_command(command $<TARGET_FILE:${exe}>)
    add_test(NAME ${name} COMMAND ${command})
  else()
    add_test(NAME ${name} COMMAND ${exe})
  endif()
  set(env ${ARDO_TEST_ENV} ${T_ENV})
  if(T_XCB OR T_OWN_DISPLAY)
    list(APPEND env "QT_QPA_PLATFORM=xcb")
  else()
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# A test that runs a plain command (a script, a tool) with the same environment;
# OWN_DISPLAY as above.
function(ardo_add_command_test name)
  cmake_parse_arguments(T "OWN_DISPLAY" "TIMEOUT;WORKING_DIRECTORY"
                        "COMMAND;ENV;RESOURCE_LOCK;FIXTURES_REQUIRED;FIXTURES_SETUP;LABELS" ${ARGN})
  if(T_OWN_DISPLAY)
    _ardo_own_display_command(T_COMMAND ${T_COMMAND})
  endif()
  if(T_WORKING_DIRECTORY)
    add_test(NAME ${name} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  else()
    add_test(NAME ${name} COMMAND ${T_COMMAND})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARDO_TEST_ENV};QT_QPA_PLATFORM=offscreen;${T_ENV}" TIMEOUT ${T_TIMEOUT})
  foreach(prop RESOURCE_LOCK FIXTURES_REQUIRED FIXTURES_SETUP LABELS)
    if(T_${prop})
      set_tests_properties(${name} PROPERTIES ${prop} "${T_${prop}}")
    endif()
  endforeach()
endfunction()

# ardo_add_fuzz_target(<target> <ctest name> SOURCE file REGRESSIONS dir [LIBS ...])
#
# A libFuzzer target in the fuzz build (-DHEVC_FUZZ=ON, build-fuzz/), run by
# hand; in every other build a replay of the kept inputs in REGRESSIONS, run
# by ctest, which fails when any of them crashes or trips a sanitizer.
function(ardo_add_fuzz_target target name)
  cmake_parse_arguments(F "" "SOURCE;REGRESSIONS" "LIBS" ${ARGN})
  if(HEVC_FUZZ)
    add_executable(${target} ${F_SOURCE})
    target_link_libraries(${target} PRIVATE ${F_LIBS})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    return()
  endif()
  add_executable(${target}_replay ${F_SOURCE} ${CMAKE_SOURCE_DIR}/tests/hevc/fuzz/replay_main.cpp)
  target_link_libraries(${target}_replay PRIVATE ${F_LIBS})
  ardo_add_command_test(${name} COMMAND ${target}_replay ${F_REGRESSIONS})
endfunction()
