#!/usr/bin/env bash
# Installs what is missing, builds the test configuration in build/
# (Debug, AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"

# ARDO_JOBS lowers the parallelism on a shared machine.
jobs=${ARDO_JOBS:-$(nproc)}
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_BASEDIR="$root"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DARDO_SANITIZE=ON -DARDO_TSAN_DEVICE="${ARDO_TSAN_DEVICE:-0}" \
  -DARDO_TSAN_MEDIA="${ARDO_TSAN_MEDIA:-0}"
cmake --build build -j "$jobs"

# The ThreadSanitizer and libFuzzer builds: only the targets that build/'s
# hevc.tsan.* and hevc.fuzz.* entries run are built. ARDO_TSAN_DEVICE=1 adds
# the two-way audio group (device.tsan.talk), the live page's requests with
# the P2P table walk (liveview.tsan.requests) and the settings schedule page
# (devsettings.tsan.schedule): more files to compile, a few minutes on two
# cores, so it is a check run on request.
tsan_targets="h265dec tst_hevc_threads tst_hevc_jobs"
if [ "${ARDO_TSAN_DEVICE:-0}" = 1 ]; then
  tsan_targets="$tsan_targets tst_device_talk tst_liveview_requests tst_media_streamunit tst_devsettings_schedule"
fi
# ARDO_TSAN_MEDIA=1 adds the recorder and disk guard suites (media.tsan.recording).
if [ "${ARDO_TSAN_MEDIA:-0}" = 1 ]; then
  tsan_targets="$tsan_targets tst_media_recorder tst_media_diskguard"
fi
cmake -S . -B build-tsan -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEVC_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target $tsan_targets
cmake -S . -B build-fuzz -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DHEVC_FUZZ=ON >/dev/null
# The parsers of device input have fuzz targets too; they are built so that
# they keep compiling; each is fuzzed on request (new inputs go to the first
# folder, the kept ones are read only), e.g.
#   mkdir -p /tmp/alarm-corpus && build-fuzz/tests/device/alarm/alarm_fuzz -max_total_time=300 \
#     /tmp/alarm-corpus tests/device/alarm/fuzz-regressions
cmake --build build-fuzz -j "$jobs" --target h265d_fuzz alarm_fuzz xmlhelper_fuzz cgireply_fuzz

if [ -x "$root/scripts/pre-test.sh" ]; then
  "$root/scripts/pre-test.sh"
fi

# GUI suites that need a real window switch to xcb themselves; Xvfb gives
# them a display even on a machine without one. -noreset: Xvfb would otherwise
# reset, refusing connections meanwhile, whenever its last client leaves.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  ctest --test-dir build -j "$jobs" --timeout 120 --output-on-failure "$@"
