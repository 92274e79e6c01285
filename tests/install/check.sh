#!/bin/sh
# make install into a scratch DESTDIR: the installed files are exactly those
# of tests/install/files.txt, and the installed program checks a copy of the
# installed example site. Usage: check.sh BUILD_DIR
set -eu
build=${1:?build directory}
src=$(cd "$(dirname "$0")/../.." && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT

make -C "$src" --no-print-directory install BUILD="$build" PREFIX=/usr DESTDIR="$stage/root" >"$stage/install.log" 2>&1 ||
    { cat "$stage/install.log"; exit 1; }
(cd "$stage/root" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./|/|' | LC_ALL=C sort) >"$stage/files"
if ! diff -u "$src/tests/install/files.txt" "$stage/files"; then
    echo "install: the installed files differ from tests/install/files.txt (- expected, + installed)"
    exit 1
fi

cp -R "$stage/root/usr/share/doc/tarnwick/examples/site" "$stage/site"
(cd "$stage/site" && "$stage/root/usr/bin/tarnwick" check /config=./tarnwick.cfg) >"$stage/check.log" 2>&1 ||
    { cat "$stage/check.log"; exit 1; }
grep -q "Configuration checked. Nothing more to do." "$stage/check.log" || { cat "$stage/check.log"; exit 1; }
echo "install: $(wc -l <"$stage/files") files as listed; the installed program checks the example site"
