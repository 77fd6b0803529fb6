#!/usr/bin/env bash
# A recording that runs into a really full disk: a 32 MiB tmpfs mounted in a
# mount namespace of the test's own, so the kernel answers ENOSPC. The mount
# is made here: a namespace unshared by one thread of a running Qt process
# would not be seen by its other threads. Needs root; exit 77 skips.
# Usage: diskfull.sh PROGRAM ZMFDUMP
set -u
. "$(dirname "$0")/../../support/mountns.sh"
unshare --mount --propagation private -- sh -c 'mount -t tmpfs -o size=32m ardo-diskfull "$1" && exec "$2" "$1" "$3"' \
  sh "$tmp" "$1" "$2"
