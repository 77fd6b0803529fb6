#!/usr/bin/env bash
# Runs each suite through run-tsan.sh; the first failure (or skip) decides.
# Usage: run-recording.sh RUN_TSAN SUITE...
set -u
runner=$1
shift
for suite in "$@"; do
  "$runner" "$suite" || exit $?
done
