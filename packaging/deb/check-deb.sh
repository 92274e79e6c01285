#!/bin/sh
# The package as a sysop meets it: lintian finds no error, apt-get installs
# it, the installed gateway checks a copy of the installed example site and
# tarnwick-dump reads its SOUP packet, and the package removes cleanly.
# Needs root (apt-get). Usage: check-deb.sh OUTDIR (where build-deb.sh put it)
set -eu
out=$(cd "${1:?output directory}" && pwd)
deb=$(ls "$out"/tarnwick_*.deb | head -n 1)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT

if command -v lintian >/dev/null; then
    # Errors fail; warnings and notes are shown.
    lintian --fail-on error --tag-display-limit 0 "$deb" || { echo "deb: lintian reports errors"; exit 1; }
else
    echo "deb: lintian is not installed; skipped it"
fi

if dpkg -s tarnwick >/dev/null 2>&1; then
    # CI machines may keep one from an earlier run; a developer's stays alone.
    [ "${CI:-}" = true ] || { echo "deb: tarnwick is installed already; not touching it"; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarnwick >/dev/null
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }
dpkg -L tarnwick >"$work/files"
cp -R /usr/share/doc/tarnwick/examples/site "$work/site"
status=0
(cd "$work/site" && tarnwick check) >"$work/check.log" 2>&1 || status=1
grep -q "Configuration checked. Nothing more to do." "$work/check.log" || status=1
[ $status = 0 ] || cat "$work/check.log"
tarnwick-dump "$work/site/soup" >"$work/dump.log" 2>&1 || { status=1; cat "$work/dump.log"; }
man -w tarnwick.cfg >/dev/null 2>&1 || { status=1; echo "deb: man cannot find tarnwick.cfg(5)"; }

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarnwick >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
left=$(while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done <"$work/files")
if [ -n "$left" ] || dpkg -s tarnwick >/dev/null 2>&1; then
    echo "deb: files left after removal:"; echo "$left"; exit 1
fi
[ $status = 0 ] || exit 1
echo "deb: $(basename "$deb") installs, checks the example site, shows its SOUP packet, removes cleanly"
