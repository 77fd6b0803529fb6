#!/bin/sh
# One intra corpus stream against FFmpeg: as a main stream (both thread
# types); --yuv output must equal FFmpeg's raw output byte for byte.
# usage: check-intra.sh H265DEC STREAM_DIR NAME
set -eu
export H265DEC=$1
file=$2/$3.hevc
here=$(dirname "$0")
"$here/check-main.sh" "$H265DEC" "$2" "$3"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ffmpeg -v error -threads 1 -i "$file" -f rawvideo -pix_fmt yuv420p "$tmp/ref.yuv"
"$H265DEC" --quiet --yuv "$tmp/out.yuv" "$file" >/dev/null
cmp "$tmp/ref.yuv" "$tmp/out.yuv"
echo "raw output identical"
