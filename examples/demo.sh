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

# ---- the way back: FTN mail for the gateway becomes Internet mail and news ----
echo "== FTN mail waiting in the outbound for the gateway 2:280/464 (outbound/011801d0.out)"
python3 "$here/ftn_packet.py" outbound/011801d0.out
python3 "$here/show_packets.py" outbound/011801d0.out
echo "== tarnwick export /verbose"
./tarnwick export /verbose
echo "== outbound after the export (the packet is gone once its mail is in the reply packet)"
ls outbound
echo "== reply packet: REPLIES and the Internet messages"
python3 "$here/show_replies.py" soup
echo "== run log (tarnwick.log)"
cat tarnwick.log
# The Internet client takes the reply packet away before the next cycle.
mkdir -p sent
mv soup/REPLIES soup/MAIL*.MSG soup/NEWS*.MSG sent/ 2>/dev/null || true

# ---- hosted list: a newcomer subscribes, a member posts, then pack ----
echo "== hosted list: subscribe and a posting to talk@tarnwick.example.org"
printf 'MAIL0001\tEmail\tmn\n' > soup/AREAS
cat > soup/MAIL0001.msg <<'MBOX'
From nina@example.net Mon Jan  1 00:00:00 2026
From: Nina Newcomer <nina@example.net>
To: talk@tarnwick.example.org
Subject: subscribe
Message-ID: <sub-1@example.net>

subscribe
From jane.doe@mail.example.net Mon Jan  1 00:00:00 2026
From: Jane Doe <jane.doe@mail.example.net>
To: talk@tarnwick.example.org
Subject: Meeting on Friday
Message-ID: <meet-1@mail.example.net>
Date: Tue, 08 Dec 2026 11:22:36 +0100

Shall we meet on Friday at eight?
MBOX
./tarnwick import /verbose
echo "== reply packet (REPLIES and the messages; length bytes shown by cat -v)"
cat soup/REPLIES
cat -v soup/MAIL*.MSG
echo
echo "== subscriber section of lists/talk.lst"
sed -n '/^ListUsers/,$p' lists/talk.lst
echo "== tarnwick pack"
./tarnwick pack /verbose
