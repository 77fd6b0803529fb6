#!/usr/bin/env bash
# Fails when product code stops a thread with terminate(): threads end
# cooperatively (docs/conventions.md). Usage: check_threads.sh ROOT [FOLDER...]
# (default folders: every product folder of ROOT).
set -euo pipefail
root=$1
shift
folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then
  folders=(platform app hevc device media liveview playback devsettings localsettings bench)
fi

existing=()
for f in "${folders[@]}"; do
  [ -d "$root/$f" ] && existing+=("$root/$f")
done
[ ${#existing[@]} -eq 0 ] && { echo "no source folders under $root"; exit 0; }

# obj->terminate(), obj.terminate(), QThread::terminate, and a bare
# terminate() inside a thread's own member functions (std::terminate and
# other qualified names are not thread calls).
pattern='(->|\.)[[:space:]]*terminate[[:space:]]*\(|QThread[[:space:]]*::[[:space:]]*terminate\b|(^|[^:[:alnum:]_])terminate[[:space:]]*\([[:space:]]*\)[[:space:]]*;'
if hits=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.hpp' --include='*.cc' "$pattern" "${existing[@]}"); then
  echo "terminate() on a thread; stop it cooperatively instead:"
  echo "$hits"
  exit 1
fi
echo "no terminate() calls in ${#existing[@]} source folders"
