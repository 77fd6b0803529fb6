target_link_libraries(bench_stream PRIVATE device)
target_compile_definitions(bench_stream PRIVATE
  DEVICESIM_PROGRAM="$<TARGET_FILE:devicesim_cli>"
  MAKE_CLIPS="${CMAKE_SOURCE_DIR}/tests/devicesim/make-clips.sh")
add_dependencies(bench_stream devicesim_cli)
