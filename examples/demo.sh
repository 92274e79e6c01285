#!/bin/sh
# Runs a gateway cycle on a scratch copy of the example site.
set -e
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-demo-XXXXXX")
cp -R "$here/site/." "$work/"
ln -s "$bin" "$work/tarnwick"
cd "$work"
echo "== example site copied to $work"
echo "== tarnwick check"
./tarnwick check
echo "== SOUP packet: soup/AREAS"
cat soup/AREAS
echo "== tarnwick import"
./tarnwick import
echo "== packets in the FTN inbound"
python3 "$here/show_packets.py" inbound/*.pkt
echo "== run log (tarnwick.log)"
cat tarnwick.log
