#!/bin/sh
# Writes a hosted list of SUBSCRIBERS into SITE/lists and a SOUP packet for
# SITE/soup: a posting to the list, then subscribe and unsubscribe commands.
# usage: gen_list.sh SITE SUBSCRIBERS
set -e
site=$1
count=$2
mkdir -p "$site/lists" "$site/soup"
printf 'Welcome @YOURADDRESS@\n' > "$site/lists/welcome.txt"
printf 'Goodbye @YOURADDRESS@\n' > "$site/lists/bye.txt"
{
    printf 'ListName Big\nListAddress big@gate.example\nListArea BIG.LIST\n'
    printf 'Welcome lists/welcome.txt\nGoodBye lists/bye.txt\nListUsers\n'
    awk -v n="$count" 'BEGIN { for (i = 0; i < n; i++) printf "+\nuser%06d@host%d.example\nUser %d\n1\n\n", i, i % 97, i }'
} > "$site/lists/big.lst"
printf 'MAIL0001\tEmail\tmn\n' > "$site/soup/AREAS"
awk -v n="$count" 'BEGIN {
    env = "From x@y Mon Jan  1 00:00:00 2026"
    printf "%s\nFrom: user000042@host42.example\nTo: big@gate.example\nSubject: Hello\nMessage-ID: <p1@host>\n\nHi all.\n", env
    for (i = 0; i < n / 10; i++) {
        printf "%s\nFrom: new%04d@new.example\nTo: big@gate.example\nSubject: subscribe\n\nx\n", env, i
        printf "%s\nFrom: user%06d@host%d.example\nTo: big@gate.example\nSubject: unsubscribe\n\nx\n", env, i * 7, (i * 7) % 97
    } }' > "$site/soup/MAIL0001.msg"
