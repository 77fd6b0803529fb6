#!/bin/sh
# Decodes FILE with h265dec and with FFmpeg's hevc decoder and compares the
# per-picture MD5 sums. Extra arguments go to h265dec (--chunk, --threads...).
# usage: compare-ffmpeg.sh FILE [h265dec options...]
# H265DEC names the tool (default: build/hevc/tools/h265dec of this checkout).
# HEVC_REF_MD5, when set, names a file of per-picture MD5 sums (one a line, in
# display order) to compare against instead of FFmpeg's.
set -u
if [ $# -lt 1 ]; then
  echo "usage: compare-ffmpeg.sh FILE [h265dec options...]" >&2
  exit 2
fi
file=$1
shift
root=$(cd "$(dirname "$0")/../../.." && pwd)
dec=${H265DEC:-$root/build/hevc/tools/h265dec}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ref=ffmpeg
if [ -n "${HEVC_REF_MD5:-}" ]; then
  ref=x265
  cp "$HEVC_REF_MD5" "$tmp/ref.md5" || exit 2
# FFmpeg's own output format (full-range streams stay full range), every
# picture once.
elif ! ffmpeg -nostdin -v error -threads 1 -i "$file" -fps_mode passthrough -f framemd5 "$tmp/ref" 2>"$tmp/ffmpeg.err"; then
  cat "$tmp/ffmpeg.err" >&2
  echo "ffmpeg could not decode $file" >&2
  exit 2
else
  grep -v '^#' "$tmp/ref" | awk -F', *' '{print $6}' >"$tmp/ref.md5"
fi
"$dec" --quiet "$@" "$file" >"$tmp/out" 2>"$tmp/dec.err"
rc=$?
awk -F', *' '{print $6}' "$tmp/out" >"$tmp/out.md5"
n=$(wc -l <"$tmp/ref.md5" | tr -d ' ')
i=1
while [ "$i" -le "$n" ]; do
  a=$(sed -n "${i}p" "$tmp/ref.md5")
  b=$(sed -n "${i}p" "$tmp/out.md5")
  if [ "$a" != "$b" ]; then
    echo "picture $((i - 1)) differs: $ref $a, h265dec ${b:-missing}"
    cat "$tmp/dec.err" >&2
    exit 1
  fi
  i=$((i + 1))
done
m=$(wc -l <"$tmp/out.md5" | tr -d ' ')
if [ "$m" -ne "$n" ] || [ $rc -ne 0 ]; then
  echo "h265dec gave $m pictures (exit $rc), $ref $n"
  cat "$tmp/dec.err" >&2
  exit 1
fi
echo "identical, $n pictures"
