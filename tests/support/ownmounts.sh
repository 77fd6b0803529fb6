#!/usr/bin/env bash
# Runs PROGRAM in a mount namespace of its own where this is root with mount
# namespaces (as in CI), so that its tests may mount a second disk of their
# own (testsupport::SecondDisk) without touching the machine's mounts. The
# namespace is made here: one unshared by a thread of a running Qt process
# would not be seen by its other threads. Elsewhere PROGRAM runs as it is and
# the tests that need a second disk skip.
# Usage: ownmounts.sh PROGRAM [ARGS...]
set -u
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && unshare --mount true 2>/dev/null; then
  exec unshare --mount --propagation private -- env ARDO_OWN_MOUNTS=1 "$@"
fi
exec "$@"
