#!/bin/sh
# One main-profile corpus stream against FFmpeg in display order, with the
# kernels this processor is given, on the caller's thread and with the
# threaded instance type, fed as whole access units and in random chunks; a
# stream without reordering also in decode order.
# usage: check-main.sh H265DEC STREAM_DIR NAME [order]
set -eu
export H265DEC=$1
file=$2/$3.hevc
here=$(dirname "$0")
# A stream tagged recon is checked against x265's own reconstruction.
if [ -f "$2/$3.recon.md5" ]; then
  export HEVC_REF_MD5="$2/$3.recon.md5"
fi
for threads in 0 1; do
  printf 'threads %s chunk au: ' "$threads"
  "$here/compare-ffmpeg.sh" "$file" --cpumask detect --threads "$threads" --chunk au
done
printf 'threads 0 chunk rand:1: '
"$here/compare-ffmpeg.sh" "$file" --cpumask detect --threads 0 --chunk rand:1
if [ "${4:-}" = order ]; then
  printf 'decode order: '
  "$here/compare-ffmpeg.sh" "$file" --cpumask detect --order decode --chunk au
fi
# No picture of a corpus stream carries the error flag.
if "$H265DEC" --quiet "$file" 2>&1 >/dev/null | grep -q "carries the error flag"; then
  echo "a picture of $3 carries the error flag"
  exit 1
fi
