#!/usr/bin/env bash
# Installs the build into a scratch prefix, then configures and builds the
# example consumer against it: the CMake package, stblc_add_table() and the
# reader library must work from an install, and the table must be compiled
# again when a source changes.
# usage: run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d /tmp/stblc-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -r "$source/examples" "$work/examples"
cmake -S "$work/examples/consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null

show() { "$work/consumer/show_text" "$work/consumer/strings.stbl" "$1"; }
check() {
  local got
  got=$(show "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: $1 gave '$got', expected '$2'"
    exit 1
  fi
}
check MENU.QUIT "Leave Game"
check menu.title "Main Menu"

# A changed source makes the next build compile the table again.
sleep 1  # a newer modification time than the table's
printf '<KEY>menu.title</KEY><STR>Changed</STR>\n' >> "$work/examples/dialog.txt"
cmake --build "$work/consumer" >/dev/null
check menu.title "Changed"

for f in bin/stblc bin/stbldump share/man/man1/stblc.1 share/man/man1/stbldump.1 \
         include/stblc/stbl_reader.h include/stblc/stbl_format.h; do
  [ -e "$work/prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
echo "package: installed, found, built and rebuilt"
