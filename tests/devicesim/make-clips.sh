#!/usr/bin/env bash
# Makes the short test clips (H.264, H.265 and audio) with Debian's ffmpeg.
# Usage: make-clips.sh OUTDIR [bench]. Nothing is redone when the set is
# complete. With "bench" the live-pipeline benchmark's clips are made too.
set -euo pipefail
out=${1:?usage: make-clips.sh OUTDIR [bench]}
mkdir -p "$out"

V="-hide_banner -loglevel error -y -f lavfi"
x264_360="-i testsrc2=s=640x360:r=25 -c:v libx264 -g 25 -x264-params scenecut=0 -f h264"
mk() { local file=$1; shift; ffmpeg $V "$@" "$out/$file.tmp" && mv "$out/$file.tmp" "$out/$file"; }

# The benchmark's clips: a busy pattern at a camera's bit rate (sub 640x360
# at 512 kbit/s, main 1920x1080 at 4 Mbit/s, 25 fps, a key picture every
# second, 10 s) with the frame number in the top 16 rows as 16 blocks, black
# for 0 and white for 1, lowest bit at the left.
strip() {
  local w=$1
  local f="drawbox=x=0:y=0:w=$w:h=16:color=black:t=fill" k
  for k in $(seq 0 15); do
    f="$f,drawbox=x=$((k * w / 16)):y=0:w=$((w / 16)):h=16:color=white:t=fill:enable='bitand(n,$((1 << k)))'"
  done
  echo "$f"
}
if [ "${2:-}" = bench ] && [ ! -f "$out/.bench-v1" ]; then
  busy="-c:v libx264 -preset veryfast -g 25 -bf 0 -x264-params scenecut=0 -t 10 -f h264"
  mk bench-sub.h264 -i "testsrc2=s=640x360:r=25,noise=alls=12:allf=t+u,$(strip 640)" \
     -b:v 512k -maxrate 512k -bufsize 512k $busy &
  mk bench-main.h264 -i "testsrc2=s=1920x1080:r=25,noise=alls=12:allf=t+u,$(strip 1920)" \
     -b:v 4M -maxrate 4M -bufsize 4M $busy &
  wait
  for f in bench-sub.h264 bench-main.h264; do
    [ -s "$out/$f" ] || { echo "make-clips: $f was not made" >&2; exit 1; }
  done
  touch "$out/.bench-v1"
fi

stamp="$out/.complete-v6"
[ -f "$stamp" ] && exit 0

mk h264-360p25.h264 $x264_360 -t 4 -profile:v high -bf 0 &
mk h264-360p-baseline.h264 $x264_360 -t 1 -profile:v baseline -bf 0 &
mk h264-360p-main.h264 $x264_360 -t 1 -profile:v main -bf 2 &
mk h264-240p25.h264 -i testsrc2=s=320x240:r=25 -t 2 -c:v libx264 -g 25 -bf 0 -f h264 &
mk h264-1080p25.h264 -i testsrc2=s=1920x1080:r=25 -t 1 -c:v libx264 -preset veryfast -g 25 -bf 0 -f h264 &
mk h264-avci50.h264 -i testsrc2=s=1440x1080:r=25 -frames:v 2 -pix_fmt yuv420p10le -c:v libx264 \
   -x264-params avcintra-class=50 -f h264 &
wait
mk h265-360p25.h265 -i testsrc2=s=640x360:r=25 -t 4 -c:v libx265 \
   -x265-params keyint=25:min-keyint=25:scenecut=0:bframes=0:log-level=error -f hevc &
mk h265-360p-tl.h265 -i testsrc2=s=640x360:r=25 -frames:v 10 -c:v libx265 \
   -x265-params temporal-layers=1:log-level=error -f hevc &
mk h265-odd.h265 -i testsrc2=s=630x350:r=25 -frames:v 2 -c:v libx265 -x265-params log-level=error -f hevc &
# As a camera sends it (one reference picture), and one that needs four.
mk h265-360p-ref1.h265 -i testsrc2=s=640x360:r=25 -t 2 -c:v libx265 \
   -x265-params keyint=25:min-keyint=25:scenecut=0:bframes=0:ref=1:log-level=error -f hevc &
mk h265-240p-ref4.h265 -i testsrc2=s=320x240:r=25 -frames:v 60 -c:v libx265 \
   -x265-params keyint=20:min-keyint=20:scenecut=0:bframes=0:ref=4:log-level=error -f hevc &
mk tone-mulaw-8k.raw -i sine=frequency=1000:sample_rate=8000 -t 4 -c:a pcm_mulaw -f mulaw &
mk tone-alaw-8k.raw -i sine=frequency=1000:sample_rate=8000 -t 4 -c:a pcm_alaw -f alaw &
mk tone-s16le-48k.raw -i sine=frequency=1000:sample_rate=48000 -t 4 -f s16le &
mk tone-s16le-8k.raw -i sine=frequency=1000:sample_rate=8000 -t 4 -f s16le &
mk tone-aac-48k.adts -i sine=frequency=1000:sample_rate=48000 -t 4 -c:a aac -f adts &
mk tone-mp2-44k.mp2 -i sine=frequency=1000:sample_rate=44100 -t 2 -ac 1 -c:a mp2 -b:a 64k -f mp2 &
mk h264-444.h264 -i testsrc2=s=640x360:r=25 -t 1 -pix_fmt yuv444p -c:v libx264 -profile:v high444 -g 25 -bf 0 -f h264 &
mk tone-g726-8k.raw -i sine=frequency=1000:sample_rate=8000 -t 4 -c:a g726 -b:a 32k -f g726 &
# One solid colour per device with a white bar moving across, so that
# consecutive pictures differ while a colour check stays robust (drawbox's
# t is its thickness, not the time, so the bar is an overlay).
for c in red green lime blue yellow cyan magenta white; do
  mk colour-$c-sub.h264 -i "color=c=$c:s=640x360:r=25[bg];color=c=white:s=40x360:r=25[bar];[bg][bar]overlay=x='mod(t*160,600)':y=0:shortest=1" \
     -t 4 -c:v libx264 -preset veryfast -g 25 -bf 0 -x264-params scenecut=0 -f h264 &
  mk colour-$c-main.h264 -i "color=c=$c:s=1280x720:r=25[bg];color=c=white:s=80x720:r=25[bar];[bg][bar]overlay=x='mod(t*320,1200)':y=0:shortest=1" \
     -t 4 -c:v libx264 -preset veryfast -g 25 -bf 0 -x264-params scenecut=0 -f h264 &
done
wait
# The devices' own JPEG snapshots: one frame of the colour with its bar, and
# the test pattern for a device without a colour.
for c in red green lime blue yellow cyan magenta white; do
  mk snap-$c.jpg -i "color=c=$c:s=1280x720[bg];color=c=white:s=80x720[bar];[bg][bar]overlay=x=200:y=0" \
     -frames:v 1 -q:v 3 -f mjpeg &
done
mk snap-test.jpg -i testsrc2=s=1280x720 -frames:v 1 -q:v 3 -f mjpeg &
wait
colours=""
for c in red green lime blue yellow cyan magenta white; do colours="$colours colour-$c-sub.h264 colour-$c-main.h264 snap-$c.jpg"; done
for f in h264-360p25.h264 h264-360p-baseline.h264 h264-360p-main.h264 h264-240p25.h264 h264-1080p25.h264 \
         h264-avci50.h264 h265-360p25.h265 h265-360p-tl.h265 h265-odd.h265 h265-360p-ref1.h265 \
         h265-240p-ref4.h265 tone-mulaw-8k.raw tone-alaw-8k.raw \
         tone-s16le-48k.raw tone-s16le-8k.raw tone-aac-48k.adts tone-g726-8k.raw \
         tone-mp2-44k.mp2 h264-444.h264 snap-test.jpg $colours; do
  [ -s "$out/$f" ] || { echo "make-clips: $f was not made" >&2; exit 1; }
done
touch "$stamp"
