#!/bin/sh
# Parses the slice data of one corpus stream without reconstructing: every
# slice must end exactly at its end_of_slice_segment_flag, with no error and
# no slice that runs to the end of the picture without that flag.
# usage: check-parse.sh H265DEC STREAM_DIR NAME
set -u
dec=$1
file=$2/$3.hevc
log=$("$dec" --parse-only "$file" 2>&1 >/dev/null)
rc=$?
bad=$(printf '%s\n' "$log" | grep -E '^E: |^error 0x|iCtbAddrTs is' || true)
if [ $rc -ne 0 ] || [ -n "$bad" ]; then
  printf '%s\n' "$log" | grep -v 'Lens of user data' | head -20
  echo "parse of $3 failed (exit $rc)"
  exit 1
fi
echo "parsed $3"
