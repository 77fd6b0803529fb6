#!/usr/bin/env bash
# Runs a binary of the ThreadSanitizer build; any report fails the run.
# Exits 77 (skipped) when that build is absent, as after a plain build of build/.
#   [TSAN_EXTRA_OPTIONS=...] run-tsan.sh BINARY [ARGS...]
set -uo pipefail
bin=$1
shift
if [ ! -x "$bin" ]; then
  echo "ThreadSanitizer build absent ($bin): skipped; ./scripts/run-tests.sh makes it"
  exit 77
fi
# Qt is not built with ThreadSanitizer: what its own threads do (QtTest's
# watchdog, say) is ordered by joins the tool cannot see, so only accesses
# from instrumented code count.
# A suite may add options (a suppression file, say) in TSAN_EXTRA_OPTIONS;
# later ones win.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:ignore_noninstrumented_modules=1${TSAN_EXTRA_OPTIONS:+:$TSAN_EXTRA_OPTIONS}"
# Offscreen unless the entry asks for a real display (xcb).
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Sanitizer options of the ASan build mean nothing here.
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
"$bin" "$@" >/dev/null
rc=$?
if [ $rc -eq 66 ]; then
  echo "ThreadSanitizer report from $bin $*"
fi
# Runs that damage the stream on purpose end with the decoder's errors (1).
if [ $rc -eq 1 ] && [ -n "${TSAN_ERRORS_EXPECTED:-}" ]; then
  exit 0
fi
exit $rc
