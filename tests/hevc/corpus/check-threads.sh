#!/bin/sh
# One corpus stream through a threaded instance: random chunks (and decode
# order for a stream without reordering) must give
# FFmpeg's pictures (x265's own for a stream tagged recon), and the path counters must show the way the pictures
# were decoded.
# usage: check-threads.sh H265DEC STREAM_DIR NAME [order]
set -u
dec=$1
file=$2/$3.hevc
name=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A stream tagged recon is checked against x265's own reconstruction.
ref=FFmpeg
if [ -f "$2/$3.recon.md5" ]; then
  ref=x265
  cp "$2/$3.recon.md5" "$tmp/ref.md5"
elif ! ffmpeg -nostdin -v error -threads 1 -i "$file" -fps_mode passthrough -f framemd5 "$tmp/ref" 2>"$tmp/ffmpeg.err"; then
  cat "$tmp/ffmpeg.err" >&2
  exit 2
else
  grep -v '^#' "$tmp/ref" | awk -F', *' '{print $6}' >"$tmp/ref.md5"
fi
run() {
  "$dec" --quiet --threads 1 "$@" "$file" 2>"$tmp/err" | awk -F', *' '{print $6}' >"$tmp/out.md5"
  if ! cmp -s "$tmp/ref.md5" "$tmp/out.md5"; then
    echo "$name with --threads 1 $*: pictures differ from $ref's"
    diff "$tmp/ref.md5" "$tmp/out.md5" | head -5
    cat "$tmp/err"
    exit 1
  fi
}
# Whole access units through the threaded instance are checked with the main
# stream checks.
run --chunk rand:1
if [ "${4:-}" = order ]; then
  run --chunk au --order decode
fi
paths=$("$dec" --quiet --threads 1 --paths "$file" 2>&1 >/dev/null | grep '^paths:')
echo "$name: $paths"
count() { echo "$paths" | sed -n "s/.* $1 \([0-9]*\).*/\1/p"; }
fail() {
  echo "$name: $1 ($paths)"
  exit 1
}
case $name in
  m_default | m_nowpp | m_256 | m_1080 | m_weighted | m_wide | m_wide1)
    [ "$(count row)" -gt 0 ] && [ "$(count gathered-serial)" -eq 0 ] && [ "$(count fallbacks)" -eq 0 ] ||
      fail "single-slice pictures must all go to row jobs" ;;
  # Row jobs of a wavefront picture start at its entry points: one that
  # missed would send the picture back to the serial path.
  g_wpp | g_p_wpp | g_pcm_lf | g_p_merge | g_p_64)
    [ "$(count row)" -gt 0 ] && [ "$(count gathered-serial)" -eq 0 ] && [ "$(count fallbacks)" -eq 0 ] ||
      fail "single-slice pictures must all go to row jobs" ;;
  m_slices | m_slices_p | i_slices)
    [ "$(count slice)" -gt 0 ] && [ "$(count gathered-serial)" -eq 0 ] && [ "$(count row)" -eq 0 ] ||
      fail "pictures of several slices, each starting a CTB row, must all go to slice-row jobs" ;;
  # Each slice segment starts a CTB row, dependent ones too.
  g_rows_dep | g_rows_dep_wpp | g_p_rows_dep | g_p_rows_lf)
    [ "$(count slice)" -gt 0 ] && [ "$(count gathered-serial)" -eq 0 ] && [ "$(count row)" -eq 0 ] ||
      fail "pictures of segments that each start a CTB row must all go to slice-row jobs" ;;
  g_tiles_uniform | g_tiles_explicit | g_tiles_nolf | g_tiles_64 | g_pcm_nolf | g_p_tiles)
    [ "$(count tile)" -gt 0 ] && [ "$(count gathered-serial)" -eq 0 ] && [ "$(count fallbacks)" -eq 0 ] ||
      fail "pictures of one slice segment over tiles must all go to tile jobs" ;;
  g_tiles_slices | g_p_merge_tiles | g_p_longterm)
    [ "$(count fallbacks)" -eq 1 ] && [ "$(count tile)" -eq 0 ] || fail "several segments with tiles: one fallback for good" ;;
  # A segment starting inside a CTB row sends its picture to the serial
  # path, and only that picture.
  g_slices_midrow | g_dep_slices)
    [ "$(count gathered-serial)" -gt 0 ] && [ "$(count fallbacks)" -eq 0 ] ||
      fail "segments inside CTB rows: the serial path picture by picture, no fallback" ;;
  m_3ctb | i_narrow | i_narrow_nowpp | m_narrow)
    [ "$(count fallbacks)" -eq 1 ] && [ "$(count row)" -eq 0 ] || fail "three CTBs wide or less: one fallback for good" ;;
esac
[ "$(count serial)" -eq 0 ] || fail "a threaded instance never decodes ungathered"
