#!/usr/bin/env bash
# Takes pictures of the login dialog and of the main window from a real
# client in a throw-away run folder:
#   build/screenshots/login.png and build/screenshots/mainwindow.png
# Usage: scripts/screenshots.sh [build folder]   (default: build)
# Runs under Xvfb when no display is set. Needs xdotool and ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
client="$build/app/ardo-client"
out="$build/screenshots"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$build"
fi
[ -x "$client" ] || { echo "no client at $client; build first" >&2; exit 1; }

run=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT
cp -r "$build/seed/." "$run/"
mkdir -p "$out"
rm -f "$out/login.png" "$out/mainwindow.png"

# A running client of a developer keeps the machine-wide name.
export ARDO_INSTANCE_KEY="qzprys-400-shots-$$"
export QT_QPA_PLATFORM=xcb
(cd "$run" && exec "$client") >"$out/client.log" 2>&1 &
pid=$!

window() { # name -> window id, waiting up to 30 s
  local id=""
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
painted() { # id -> waits up to 20 s until the window shows more than black
  for _ in $(seq 100); do
    mean=$(import -window "$1" -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null || echo 0)
    awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }' && return 0
    sleep 0.2
  done
  return 1
}
geometry() { # id -> "x y w h"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$X $Y $WIDTH $HEIGHT"
}

login=$(window Login) || { echo "the login dialog did not appear" >&2; cat "$out/client.log" >&2; exit 1; }
# On a busy machine the window is mapped well before its first paint.
painted "$login" || { echo "the login dialog was never painted" >&2; exit 1; }
sleep 0.5
import -window root "$out/login.png"
geometry "$login" > "$out/login.geometry"

xdotool windowfocus --sync "$login"
xdotool type --delay 30 admin
xdotool key Tab
xdotool type --delay 30 admin
xdotool key Return

main=$(window "ARDO Client") || { echo "the main window did not appear" >&2; cat "$out/client.log" >&2; exit 1; }
painted "$main" || { echo "the main window was never painted" >&2; exit 1; }
sleep 1.5 # the clock has ticked
import -window root "$out/mainwindow.png"
read -r x y w h < <(geometry "$main")
echo "$x $y $w $h" > "$out/mainwindow.geometry"

# The title bar's close button ends the client.
xdotool mousemove --sync $((x + w - 24)) $((y + 14)) click 1
for _ in $(seq 200); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the client did not end after its close button" >&2
  exit 1
fi
wait "$pid"
pid=""
echo "wrote $out/login.png and $out/mainwindow.png"
