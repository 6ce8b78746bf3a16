#!/usr/bin/env bash
# The source folders include each other in one direction only, and nothing
# below the window's folder knows the window or Qt Widgets.
#   include_direction.sh <src>
set -euo pipefail
src=$1
declare -A allowed=(
  [platform]="platform"
  [tse]="platform tse"
  [core]="platform tse core"
  [jobs]="platform tse core jobs"
  [operator]="platform tse core jobs operator"
  [http]="platform http"
  [service]="platform tse core jobs operator http service"
  [shell]="platform tse core jobs operator http service shell"
)
widgets='^#include <(QWidget|QApplication|QGuiApplication|QMainWindow|QDialog|QMessageBox|QInputDialog|QLabel|QListWidget|QPushButton|QFrame|QPlainTextEdit|QStyle|QtWidgets|QtGui)'
fail=0
for folder in "${!allowed[@]}"; do
  [[ -d $src/$folder ]] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file includes from $target/, above $folder/" >&2
      fail=1
    fi
  done < <(grep -rnE '^#include "[a-z]+/' "$src/$folder" || true)
  if [[ $folder != shell ]]; then
    if grep -rnE "$widgets" "$src/$folder" >&2; then
      echo "Qt Widgets or the window outside src/shell (above)" >&2
      fail=1
    fi
  fi
done
exit $fail
