#!/usr/bin/env bash
# Makes the decoder's test streams with ffmpeg and x265 (or, for the shapes
# x265 cannot make, with our own stream writer h265gen, named by $H265GEN),
# and FFmpeg's reference files for each: NAME.hevc, NAME.md5 (framemd5), NAME.trace
# (header trace) and NAME.order (display order as access-unit indexes and
# picture types). A stream tagged recon also gets NAME.recon.md5: the MD5 of
# each picture x265 itself reconstructed, in display order, the reference its
# checks use instead of FFmpeg's. A stream whose files were made from the same manifest line
# is kept.
#   make-corpus.sh OUTDIR [NAME...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-corpus.sh OUTDIR [NAME...]}
shift
mkdir -p "$out"
out=$(cd "$out" && pwd)
list="$here/streams.list"

make_one() {
  local line=$1
  local name input frames opts tags
  IFS='|' read -r name input frames opts tags _ <<< "$line"
  name=$(echo $name); frames=$(echo $frames); tags=$(echo $tags)
  opts=${opts//@CORPUS@/$here}
  read -r src size fmt <<< "$input"
  local hash
  # A written stream changes with the writer too.
  hash=$( { printf '%s' "$line"; if [ "$src" = G ]; then cat "${H265GEN:?H265GEN names h265gen}"; fi; } |
    sha1sum | cut -c1-40)
  if [ -f "$out/$name.hash" ] && [ "$(cat "$out/$name.hash")" = "$hash" ] &&
     [ -s "$out/$name.hevc" ] && [ -f "$out/$name.order" ]; then
    return 0
  fi
  rm -f "$out/$name".*
  if [ "$src" = G ]; then
    # "G PRESET [WxH]": h265gen writes the stream; the options are its own.
    # shellcheck disable=SC2086
    if ! "$H265GEN" --preset "$size" ${fmt:+--size $fmt} --frames "$frames" $opts "$out/$name.hevc"; then
      echo "make-corpus: $name: h265gen failed" >&2
      rm -f "$out/$name.hevc"
      return 1
    fi
  else
    make_encoded "$name" "$src" "$size" "$fmt" "$frames" "$opts" "$tags" || return 1
  fi
  references "$name"
  echo "$hash" > "$out/$name.hash"
}

# Encodes a lavfi source with x265 (and keeps x265's reconstruction for a
# stream tagged recon).
make_encoded() {
  local name=$1 src=$2 size=$3 fmt=$4 frames=$5 opts=$6 tags=$7
  fmt=${fmt:-yuv420p}
  local base="testsrc2=size=$size:rate=25" filter
  case $src in
    T) filter=$base ;;
    N) filter="$base,noise=alls=30:allf=t" ;;
    C) filter="$base,noise=alls=6:allf=t" ;;
    M) filter="mandelbrot=size=$size:rate=25" ;;
    F) filter="$base,fade=in:0:8,fade=out:12:8" ;;
    *) echo "make-corpus: $name: unknown input $src" >&2; return 1 ;;
  esac
  local recon=()
  case " $tags " in
    *" recon "*) recon=(--recon "$out/$name.recon.yuv") ;;
  esac
  # x265 3.5 now and then crashes or hangs on start: try again.
  local try ok=0
  for try in 1 2 3; do
    # shellcheck disable=SC2086
    if timeout 120 ffmpeg -nostdin -v error -f lavfi -i "$filter" -frames:v "$frames" -pix_fmt "$fmt" \
         -f yuv4mpegpipe - 2>/dev/null |
       timeout 120 x265 --input - --y4m --frame-threads 1 --no-progress --log-level error $opts \
         "${recon[@]}" -o "$out/$name.hevc" 2>/dev/null; then
      ok=1
      break
    fi
  done
  if [ $ok = 0 ]; then
    echo "make-corpus: $name: x265 failed" >&2
    rm -f "$out/$name.hevc"
    return 1
  fi
  if [ ${#recon[@]} -gt 0 ]; then
    # x265 writes each picture at its place in display order.
    python3 - "$out/$name.recon.yuv" "${size%x*}" "${size#*x}" > "$out/$name.recon.md5" <<'PY' || return 1
import hashlib, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = open(path, 'rb').read()
size = w * h * 3 // 2
if not data or len(data) % size:
    sys.exit('%s: %d bytes, not whole %dx%d pictures' % (path, len(data), w, h))
for i in range(0, len(data), size):
    print(hashlib.md5(data[i:i + size]).hexdigest())
PY
    rm -f "$out/$name.recon.yuv"
  fi
}

# FFmpeg's reference files of one stream.
references() {
  local name=$1
  timeout 120 ffmpeg -nostdin -v error -threads 1 -i "$out/$name.hevc" -fps_mode passthrough \
    -f framemd5 - > "$out/$name.md5" || true
  timeout 120 ffmpeg -nostdin -v trace -i "$out/$name.hevc" -c copy -bsf:v trace_headers -f null - 2>&1 |
    grep '^\[trace_headers' > "$out/$name.trace" || true
  timeout 120 ffprobe -v error -threads 1 -show_packets -show_entries packet=pos -of default=nw=1 \
    "$out/$name.hevc" > "$out/$name.packets" || true
  timeout 120 ffprobe -v error -threads 1 -show_frames -show_entries frame=pkt_pos,pict_type -of default=nw=1 \
    "$out/$name.hevc" > "$out/$name.frames" || true
  python3 "$here/order.py" "$out/$name.packets" "$out/$name.frames" > "$out/$name.order"
  rm -f "$out/$name.packets" "$out/$name.frames"
}
export -f make_one make_encoded references
export out here H265GEN

if [ $# -gt 0 ]; then
  pattern=$(printf '%s|' "$@"); pattern="^(${pattern%|})[[:space:]]*\\|"
  lines=$(grep -E "$pattern" "$list")
else
  lines=$(grep -v '^[[:space:]]*#' "$list" | grep -v '^[[:space:]]*$')
fi
# Large streams first so that they overlap with the many small ones.
{ grep -E '\| *[A-Z] [0-9]+x1080' <<< "$lines" || true; grep -vE '\| *[A-Z] [0-9]+x1080' <<< "$lines" || true; } |
  tr '\n' '\0' | xargs -0 -P "$(nproc)" -I{} bash -c 'make_one "$1"' _ {}

# Fuzzing seeds: every stream under 64 KB behind a control byte (serial
# decoding, display order) as the fuzz target reads its input.
mkdir -p "$out/fuzz-seeds"
for f in "$out"/*.hevc; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 65536 ] || continue
  { printf '\002'; cat "$f"; } > "$out/fuzz-seeds/$(basename "$f" .hevc)"
done
