# ardo_add_test(<ctest name> SOURCES ... [LIBS ...] [ENV VAR=value ...]
#               [RESOURCE_LOCK name ...] [TIMEOUT seconds] [LABELS ...] [XCB])
#
# Every test of the project goes through here so that the sanitizer and Qt
# environment is the same everywhere. The executable is named after the test
# with dots turned into underscores (app.database -> tst_app_database).
# XCB marks a suite that needs a real X server (run-tests.sh runs ctest under
# Xvfb); every other suite runs on the offscreen platform.
set(ARDO_TEST_ENV
  "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1"
  # LAN discovery never broadcasts from a test: it talks to a loopback
  # address unless a suite (inside its own network namespace) says otherwise.
  "ARDO_DISCOVERY_TARGET=127.0.0.1:9"
  "ARDO_DISCOVERY_LOCAL=127.0.0.1:0"
)

function(ardo_add_test name)
  cmake_parse_arguments(T "XCB" "TIMEOUT" "SOURCES;LIBS;ENV;RESOURCE_LOCK;LABELS" ${ARGN})
  string(REPLACE "." "_" exe "tst_${name}")
  add_executable(${exe} ${T_SOURCES})
  target_link_libraries(${exe} PRIVATE ${T_LIBS})
  add_test(NAME ${name} COMMAND ${exe})
  set(env ${ARDO_TEST_ENV} ${T_ENV})
  if(T_XCB)
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

# A test that runs a plain command (a script, a tool) with the same environment.
function(ardo_add_command_test name)
  cmake_parse_arguments(T "" "TIMEOUT;WORKING_DIRECTORY" "COMMAND;ENV;RESOURCE_LOCK;FIXTURES_REQUIRED;FIXTURES_SETUP" ${ARGN})
  if(T_WORKING_DIRECTORY)
    add_test(NAME ${name} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  else()
    add_test(NAME ${name} COMMAND ${T_COMMAND})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARDO_TEST_ENV};QT_QPA_PLATFORM=offscreen;${T_ENV}" TIMEOUT ${T_TIMEOUT})
  foreach(prop RESOURCE_LOCK FIXTURES_REQUIRED FIXTURES_SETUP)
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
