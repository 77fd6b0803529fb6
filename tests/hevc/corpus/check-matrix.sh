#!/bin/sh
# One corpus stream under every processor mask the machine has, both thread
# types and both ways of cutting the input: every run must match FFmpeg, so
# they all match each other.
# usage: check-matrix.sh H265DEC STREAM_DIR NAME
set -eu
export H265DEC=$1
file=$2/$3.hevc
here=$(dirname "$0")
# A stream tagged recon is checked against x265's own reconstruction.
if [ -f "$2/$3.recon.md5" ]; then
  export HEVC_REF_MD5="$2/$3.recon.md5"
fi
masks="portable sse2 sse41"
if grep -qw avx /proc/cpuinfo; then
  masks="$masks avx"
else
  echo "no AVX on this processor: the avx mask is left out"
fi
for mask in $masks; do
  for threads in 0 1; do
    for chunk in au rand:1; do
      printf '%s threads %s chunk %s: ' "$mask" "$threads" "$chunk"
      "$here/compare-ffmpeg.sh" "$file" --cpumask "$mask" --threads "$threads" --chunk "$chunk"
    done
  done
done
