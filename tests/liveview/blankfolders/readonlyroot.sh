#!/usr/bin/env bash
# Runs PROGRAM with the file system's root read-only and a fresh tmpfs as its
# temporary folder, in a mount namespace of its own: a test of folders that
# must never land at the root can then fail without touching the real one.
# Needs root; exit 77 skips.
# Usage: readonlyroot.sh PROGRAM [ARGS...]
set -u
. "$(dirname "$0")/../../support/mountns.sh"
unshare --mount --propagation private -- sh -c \
  'mount -t tmpfs ardo-tmp "$1" && mount -o remount,bind,ro / && shift && TMPDIR="$0" ARDO_READONLY_ROOT=1 exec "$@"' \
  "$tmp" "$tmp" "$@"
