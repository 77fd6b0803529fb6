#!/usr/bin/env bash
# Installs what is missing, checks the style, builds the test configurations
# and runs their tests:
#   build/      Debug, AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   build-opt/  RelWithDebInfo (what ships, optimised), every target; its tests
#               run too, except the corpus-wide decoder entries and the fuzz and
#               ThreadSanitizer entries, which build/ runs already
#   build-tsan/ ThreadSanitizer, the decoder thread suites (run from build/)
#   build-fuzz/ clang + libFuzzer, the decoder's fuzz target (run from build/)
# Every build treats warnings as errors. Arguments go to both ctest runs
# (for example -R '^media\.'). ARDO_JOBS lowers the parallelism on a shared
# machine. A summary of the time each stage took closes the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=${ARDO_JOBS:-$(nproc)}
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_BASEDIR="$root"
# A clone in another folder (CI) hits the same cache: paths are relative to
# the root, and the build folder's own path stays out of the hash.
export CCACHE_NOHASHDIR=1

timings=()
summary() {
  [ ${#timings[@]} -gt 0 ] || return 0
  echo "== stage times (${jobs} jobs)"
  printf '%s\n' "${timings[@]}"
}
trap summary EXIT
stage() { # name command... ; records the time the command took, returns its status
  local name=$1 start=$SECONDS rc=0
  shift
  echo "== $name"
  "$@" || rc=$?
  timings+=("$(printf '  %-11s %5d s%s' "$name" $((SECONDS - start)) "$([ $rc = 0 ] || echo ' (failed)')")")
  return $rc
}

stage deps "$root/scripts/install-deps.sh"
stage style "$root/scripts/check-style.sh"

build_asan() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DARDO_SANITIZE=ON -DARDO_WERROR=ON \
    -DARDO_TSAN_DEVICE="${ARDO_TSAN_DEVICE:-0}" -DARDO_TSAN_MEDIA="${ARDO_TSAN_MEDIA:-0}" &&
    cmake --build build -j "$jobs"
}
stage build build_asan

# The optimised build: GCC's warnings that need the optimiser's data flow
# (-Warray-bounds, -Wstringop-overflow, -Wmaybe-uninitialized) only show here,
# and its allocator hands freed memory out again at once, which the
# sanitizer's quarantine hides.
build_opt() {
  cmake -S . -B build-opt -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARDO_WERROR=ON >/dev/null &&
    cmake --build build-opt -j "$jobs"
}
stage build-opt build_opt

# The ThreadSanitizer and libFuzzer builds: only the targets that build/'s
# hevc.tsan.* and hevc.fuzz.* entries run are built. ARDO_TSAN_DEVICE=1 adds
# the two-way audio group (device.tsan.talk), the live page's requests with
# the P2P table walk (liveview.tsan.requests), the settings schedule page
# (devsettings.tsan.schedule) and the preview renderer with the stream
# player's Direct3D half (media.tsan.preview);
# ARDO_TSAN_MEDIA=1 the recorder, disk guard and snapshot
# suites (media.tsan.recording): more files to compile, a few minutes on two
# cores, so they are check runs on request.
build_tsan() {
  local targets="h265dec tst_hevc_threads tst_hevc_jobs"
  if [ "${ARDO_TSAN_DEVICE:-0}" = 1 ]; then
    targets="$targets tst_device_talk tst_liveview_requests tst_media_streamunit tst_devsettings_schedule"
    targets="$targets tst_media_d3drender tst_media_streamplayer"
  fi
  if [ "${ARDO_TSAN_MEDIA:-0}" = 1 ]; then
    targets="$targets tst_media_recorder tst_media_diskguard tst_media_snapshot"
  fi
  cmake -S . -B build-tsan -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEVC_TSAN=ON -DARDO_WERROR=ON \
    >/dev/null &&
    cmake --build build-tsan -j "$jobs" --target $targets
}
stage build-tsan build_tsan

# The parsers of device input have fuzz targets too; they are built so that
# they keep compiling; each is fuzzed on request (new inputs go to the first
# folder, the kept ones are read only), e.g.
#   mkdir -p /tmp/alarm-corpus && build-fuzz/tests/device/alarm/alarm_fuzz -max_total_time=300 \
#     /tmp/alarm-corpus tests/device/alarm/fuzz-regressions
build_fuzz() {
  cmake -S . -B build-fuzz -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DHEVC_FUZZ=ON -DARDO_WERROR=ON >/dev/null &&
    cmake --build build-fuzz -j "$jobs" --target h265d_fuzz alarm_fuzz xmlhelper_fuzz cgireply_fuzz
}
stage build-fuzz build_fuzz

if [ -x "$root/scripts/pre-test.sh" ]; then
  "$root/scripts/pre-test.sh"
fi

# GUI suites that need a real window switch to xcb themselves; Xvfb gives
# them a display even on a machine without one. -noreset: Xvfb would otherwise
# reset, refusing connections meanwhile, whenever its last client leaves.
# Suites that read pixels back start a display of their own (OWN_DISPLAY in
# cmake/ArdoTest.cmake). Both runs go to the end; the script fails if either
# failed.
# Many suites mostly wait on sockets and timers, so twice as many run at
# once as there are processors.
run_ctest() {
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest -j "$((jobs * 2))" --timeout 120 --output-on-failure "$@"
}
status=0
stage tests run_ctest --test-dir build "$@" || status=1
stage tests-opt run_ctest --test-dir build-opt -LE '^(corpus|fuzz|tsan)$' "$@" || status=1
exit $status
