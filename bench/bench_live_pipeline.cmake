# Needs the loopback device library, which exists only when the tests are
# configured (ARDO_BUILD_TESTS=ON, the default; run-client.sh turns it off).
find_package(Qt5 COMPONENTS Widgets Network REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(BENCH_FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
if(TARGET devicesim)
  target_link_libraries(${name} PRIVATE media devicesim Qt5::Widgets PkgConfig::BENCH_FFMPEG)
  target_compile_definitions(${name} PRIVATE ARDO_MAKE_CLIPS="${CMAKE_SOURCE_DIR}/tests/devicesim/make-clips.sh")
else()
  set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  message(STATUS "bench_live_pipeline not built: it needs the tests configured (ARDO_BUILD_TESTS=ON)")
endif()
