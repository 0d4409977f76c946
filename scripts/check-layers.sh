#!/usr/bin/env bash
# The layer rules the include folders cannot enforce alone (run by ctest as layer_check):
#  - core code (a subsystem's files outside ui/) names no Qt GUI or widget header, not even
#    through the module folder (<QtGui/...>, <QtWidgets/...>), which Qt's include root would find;
#  - no relative include ("../") reaches into another subsystem, past its include folder.
# Prints each offending line and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"
status=0
while IFS= read -r -d '' file; do
  case "$file" in
    */ui/*|app/*) ;;
    *)
      if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]Qt(Gui|Widgets)/' "$file" /dev/null; then
        status=1
      fi
      ;;
  esac
  own="${file%%/*}"
  while IFS= read -r hit; do
    line="${hit%%:*}"
    target="$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"${hit#*:}")"
    resolved="$(realpath -m --relative-to=. "$(dirname "$file")/$target")"
    if [ "${resolved%%/*}" != "$own" ]; then
      echo "$file:$line: includes $target across subsystems"
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\.\./' "$file" || true)
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | tr '\n' '\0')
if [ "$status" -ne 0 ]; then
  echo "layer check failed: core code takes no QtGui/QtWidgets header; includes go through the layer include folders"
fi
exit "$status"
