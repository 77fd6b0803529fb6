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

# The sanitizer build's client unwinds every allocation exactly (the leak
# suppressions need whole stacks): its main window takes seconds to build, and
# minutes on a machine loaded several times over. The polls are bounded in
# seconds for that machine, whatever each look costs.
bound=${ARDO_SHOTS_BOUND:-240}
window() { # name -> window id, once it is visible
  local id="" end=$((SECONDS + bound))
  while [ $SECONDS -lt $end ]; do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
gone() { # id -> once the window is no longer visible
  local end=$((SECONDS + bound))
  while [ $SECONDS -lt $end ]; do
    xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1" || return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
look() { # id -> a checksum of what the window shows, and its mean grey
  import -window "$1" -colorspace Gray -format '%#,%[fx:mean]' info: 2>/dev/null || echo "-,0"
}
painted() { # id -> once the window shows more than black
  local end=$((SECONDS + bound)) now
  while [ $SECONDS -lt $end ]; do
    now=$(look "$1")
    awk -v m="${now#*,}" 'BEGIN { exit !(m > 0.02) }' && return 0
    sleep 0.2
  done
  return 1
}
steady() { # id -> once two looks in a row agree (the paint is finished)
  local end=$((SECONDS + bound)) last="" now
  while [ $SECONDS -lt $end ]; do
    now=$(look "$1")
    [ "$now" = "$last" ] && return 0
    last=$now
    sleep 0.2
  done
  return 1
}
changed() { # id look -> once the window shows something else (its clock ticked)
  local end=$((SECONDS + bound))
  while [ $SECONDS -lt $end ]; do
    [ "$(look "$1")" != "$2" ] && return 0
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
steady "$login" || { echo "the login dialog's paint never settled" >&2; exit 1; }
import -window root "$out/login.png"
geometry "$login" > "$out/login.geometry"

xdotool windowfocus --sync "$login"
xdotool type --delay 30 admin
xdotool key Tab
xdotool type --delay 30 admin
xdotool key Return
# The dialog hides as soon as it takes the login; the main window is built
# after that.
gone "$login" || { echo "the typed login did not reach the login dialog" >&2; cat "$out/client.log" >&2; exit 1; }

main=$(window "ARDO Client") || { echo "the main window did not appear" >&2; cat "$out/client.log" >&2; exit 1; }
painted "$main" || { echo "the main window was never painted" >&2; exit 1; }
changed "$main" "$(look "$main")" || { echo "the main window's clock never ticked" >&2; exit 1; }
import -window root "$out/mainwindow.png"
read -r x y w h < <(geometry "$main")
echo "$x $y $w $h" > "$out/mainwindow.geometry"

# The title bar's close button ends the client; a click before the title bar
# takes clicks is lost, so it clicks again until the client has ended.
end=$((SECONDS + bound))
while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
  xdotool mousemove --sync $((x + w - 24)) $((y + 14)) click 1 2>/dev/null || true
  for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the client did not end after its close button" >&2
  exit 1
fi
wait "$pid"
pid=""
echo "wrote $out/login.png and $out/mainwindow.png"
