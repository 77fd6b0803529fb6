#!/usr/bin/env bash
# Installs what is missing, builds the release configuration in
# build-release/, prepares its run folder and starts the client there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"
export CCACHE_BASEDIR="$root"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARDO_BUILD_TESTS=OFF
cmake --build build-release -j "$(nproc)"

client="$root/build-release/app/ardo-client"
if [ ! -x "$client" ]; then
  echo "build-release/run/ is prepared; there is no client executable yet."
  exit 0
fi

# Qt's own English texts, when Debian's translations package is there; the
# client starts without them otherwise.
qm=$(dpkg -L qttranslations5-l10n 2>/dev/null | grep '/qt_en\.qm$' | head -1 || true)
if [ -n "$qm" ] && [ -f "$qm" ]; then
  mkdir -p "$root/build-release/run/translations"
  cp -u "$qm" "$root/build-release/run/translations/"
fi

cd "$root/build-release/run"
export QT_QPA_PLATFORM=xcb
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$client" "$@"
fi
exec "$client" "$@"
