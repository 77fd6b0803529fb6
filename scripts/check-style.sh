#!/usr/bin/env bash
# Style check: clang-format (the repository's .clang-format) over every
# tracked C/C++ file, and no trailing white space in any tracked text file.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
mapfile -t sources < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "style: run 'clang-format -i' on the files above" >&2
  status=1
fi

mapfile -t texts < <(git ls-files | grep -vE '\.(png|gif|jpg|jpeg|bmp|ico|ttf|otf|bin|xdt|logx|h264|h265|265|264|zmf|dat)$')
if trailing=$(grep -nIE '[[:space:]]+$' -- "${texts[@]}" 2>/dev/null); then
  echo "$trailing" | head -50 >&2
  echo "style: trailing white space in the lines above" >&2
  status=1
fi
exit $status
