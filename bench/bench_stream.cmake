# Without the test suites there is no device program target: point at where
# a build with tests puts it, and the bench says so when it is missing.
if(NOT TARGET devicesim_cli)
  target_link_libraries(bench_stream PRIVATE device)
  target_compile_definitions(bench_stream PRIVATE
    DEVICESIM_PROGRAM="${CMAKE_BINARY_DIR}/tests/devicesim/devicesim"
    MAKE_CLIPS="${CMAKE_SOURCE_DIR}/tests/devicesim/make-clips.sh")
  return()
endif()
target_link_libraries(bench_stream PRIVATE device)
target_compile_definitions(bench_stream PRIVATE
  DEVICESIM_PROGRAM="$<TARGET_FILE:devicesim_cli>"
  MAKE_CLIPS="${CMAKE_SOURCE_DIR}/tests/devicesim/make-clips.sh")
add_dependencies(bench_stream devicesim_cli)
