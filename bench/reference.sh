#!/bin/sh
# Output checksums of the benchmark inputs: every packet, reply file,
# REPLIES, list file and stored message a run writes, under a fixed clock.
# A change that should only make the gateway faster must keep them all.
# usage: bench/reference.sh build/tarnwick [SAVED]
#   without SAVED, prints the checksums; with it, compares against them
#   (exit 1 on any difference). Inputs are generated once into
#   $TMPDIR/tarnwick-ref-inputs and reused.
set -e
bin=$(cd "$(dirname "${1:-build/tarnwick}")" && pwd)/$(basename "${1:-build/tarnwick}")
saved=${2:+$(cd "$(dirname "$2")" && pwd)/$(basename "$2")}
here=$(cd "$(dirname "$0")" && pwd)
inputs=${TMPDIR:-/tmp}/tarnwick-ref-inputs
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-ref-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$inputs"
cc -O2 -shared -fPIC -o "$work/fixtime.so" "$here/fixtime.c"
for n in 10000 100000; do
    [ -f "$inputs/soup$n/AREAS" ] || python3 "$here/gen_soup.py" "$inputs/soup$n" "$n"
    [ -d "$inputs/pk$n" ] || python3 "$here/gen_outbound.py" "$inputs/pk$n" "$n"
done
[ -f "$inputs/attach30/AREAS" ] || python3 "$here/gen_attach_soup.py" "$inputs/attach30" 30
[ -d "$inputs/net2000" ] || python3 "$here/gen_netmail.py" "$inputs/net2000" 2000

site() {  # site NAME: a fresh site directory, config from stdin
    mkdir -p "$work/$1/in" "$work/$1/out" "$work/$1/soup" "$work/$1/tmp" "$work/$1/net"
    cat > "$work/$1/tarnwick.cfg"
    ln -s "$bin" "$work/$1/tarnwick"  # the configuration lies beside the program
}
run() {  # run NAME ARGS...
    name=$1
    shift
    if ! (cd "$work/$name" && TZ=UTC LD_PRELOAD="$work/fixtime.so" ./tarnwick "$@" > run.log 2>&1); then
        tail -5 "$work/$name/run.log" >&2
        echo "$name: the run failed" >&2
        exit 1
    fi
    rm -f "$work/$name/run.log" "$work/$name/tarnwick.cfg" "$work/$name/tarnwick"
}
import_cfg='FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
AreaMap TW.TALK comp.misc.tw
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/'
export_cfg='FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
MapFidoOrg Yes
AreaMap TW.TALK comp.misc.tw
CharSetMap LATIN-1#2 iso-8859-1
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/
UseQP Yes
LineWidth 72'
for n in 10000 100000; do
    echo "$import_cfg" | site "import$n"
    cp -r "$inputs/soup$n/." "$work/import$n/soup/"
    run "import$n" import
    printf '%s\nSeparateMSG No\n' "$export_cfg" | site "export$n"
    cp -r "$inputs/pk$n" "$work/export$n/pk"
    run "export$n" export /pkt=pk/
done
echo "$import_cfg" | site attach
cp -r "$inputs/attach30/." "$work/attach/soup/"
run attach import
# Stored netmail, one reply file per message: the many-files case.
printf 'FidoAddr 2:280/1\nAddrMap 2:280/100 sysop@example.com Fred Fido\nMailerType ArcMail\nNetmailDir net/\nInboundDir in/\nSoupDir soup/\nTempDir tmp/\nSeparateMSG Yes\n' | site netmail
cp -r "$inputs/net2000/." "$work/netmail/net/"
run netmail export
# A hosted list: a posting to it, then commands.
printf '%s\nListConfig lists/big.lst\n' "$import_cfg" | site lists
sh "$here/gen_list.sh" "$work/lists" 2000
run lists import

cd "$work"
find . -type f ! -name fixtime.so ! -name sums ! -name diff.out ! -name .tarnwick.lock | LC_ALL=C sort | xargs sha256sum > sums
echo "$(wc -l < sums) output files" >&2
if [ -z "$saved" ]; then
    cat sums
elif diff "$saved" sums > diff.out; then
    echo "all outputs identical to $saved" >&2
else
    head -20 diff.out >&2
    echo "outputs differ from $saved" >&2
    exit 1
fi
