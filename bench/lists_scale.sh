#!/bin/sh
# Scale check of the hosted lists: a list of 100,000 subscribers gets one
# posting (its copy carries all of them in its Bcc line), then one import run
# with 1,000 subscribe and 1,000 unsubscribe commands.
#   bench/lists_scale.sh build/tarnwick
set -e
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
cd "$work"
mkdir in out soup tmp lists
ln -s "$bin" tarnwick
cat > tarnwick.cfg <<CFG
FidoAddr 2:280/1
AddrMap 2:280/1.1 joe@example.com Joe Sysop
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/
SeparateMSG No
ListConfig lists/big.lst
CFG
printf 'Welcome @YOURADDRESS@\n' > lists/welcome.txt
printf 'Goodbye @YOURADDRESS@\n' > lists/bye.txt
{
    printf 'ListName Big\nListAddress big@gate.example\nListArea BIG.LIST\n'
    printf 'Welcome lists/welcome.txt\nGoodBye lists/bye.txt\nListUsers\n'
    awk 'BEGIN { for (i = 0; i < 100000; i++) printf "+\nuser%06d@host%d.example\nUser %d\n1\n\n", i, i % 97, i }'
} > lists/big.lst

envelope='From x@y Mon Jan  1 00:00:00 2026'
timed() {
    start=$(date +%s.%N)
    "$@" > /dev/null 2> run.err || { cat run.err; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f s\n", b - a }'
}

printf 'MAIL0001\tEmail\tmn\n' > soup/AREAS
printf '%s\nFrom: user000042@host42.example\nTo: big@gate.example\nSubject: Hello\nMessage-ID: <p1@host>\n\nHi all.\n' \
    "$envelope" > soup/MAIL0001.msg
printf 'posting to 100,000 subscribers: '
timed ./tarnwick import
copy=$(ls soup/MAIL*.MSG)
printf '  copy %s bytes, %s Bcc addresses\n' "$(wc -c < "$copy")" "$(grep -ao '<user' "$copy" | wc -l)"
rm -f soup/REPLIES soup/MAIL*.MSG in/*

printf 'MAIL0001\tEmail\tmn\n' > soup/AREAS
awk -v env="$envelope" 'BEGIN {
    for (i = 0; i < 1000; i++) {
        printf "%s\nFrom: new%04d@new.example\nTo: big@gate.example\nSubject: subscribe\n\nx\n", env, i
        printf "%s\nFrom: user%06d@host%d.example\nTo: big@gate.example\nSubject: unsubscribe\n\nx\n", env, i * 97, (i * 97) % 97
    } }' > soup/MAIL0001.msg
printf '1,000 subscribes and 1,000 unsubscribes in one run: '
timed ./tarnwick import
grep 'listcmd' run.err
printf '  replies: %s, file %s bytes\n' "$(grep -ac '^Welcome\|^Goodbye' soup/MAIL*.MSG)" "$(wc -c < lists/big.lst)"
printf 'pack: '
timed ./tarnwick pack
grep -e "-->" -A1 run.err; echo
cd /
rm -rf "$work"
