#!/usr/bin/env python3
"""Writes the FTN mail that the example site's tosser left for the gateway:
a Type 2+ packet from the points of 2:280/464 to the gateway, holding a
netmail to UUCP with To: and Copy: lines and an echomail in TARNWICK.TALK.
usage: ftn_packet.py OUTFILE"""
import struct
import sys


def header(orig, dest, password=b""):
    oz, onet, onode, opoint = orig
    dz, dnet, dnode, dpoint = dest
    return (struct.pack("<12H", onode, dnode, 2026, 11, 8, 10, 11, 12, 0, 2, onet, dnet)
            + b"\0\0" + password.ljust(8, b"\0")[:8]
            + struct.pack("<3H", oz, dz, 0) + b"\0\x01\x01\0"
            + struct.pack("<5H", 1, oz, dz, opoint, dpoint) + b"\0" * 4)


def message(orig, dest, attribute, to, frm, subject, lines):
    text = "".join(line + "\r" for line in lines)
    fixed = struct.pack("<7H", 2, orig[2], dest[2], orig[1], dest[1], attribute, 0)
    fields = ["08 Dec 26  10:11:12", to, frm, subject, text]
    return fixed + b"".join(f.encode("latin-1") + b"\0" for f in fields)


gate = (2, 280, 464, 0)
jane = (2, 280, 464, 2)
sam = (2, 280, 464, 1)
netmail = message(jane, gate, 0x0001, "UUCP", "Jane Doe", "Friday's meeting", [
    "\x01INTL 2:280/464 2:280/464",
    "\x01FMPT 2",
    "\x01MSGID: 2:280/464.2 6a1e0001",
    "To: nina@example.net",
    "Copy: bob@example.com",
    "",
    "Hello Nina, hello Bob,",
    "",
    "the meeting is on Friday at eight, in the back room of the station"
    " cafe as always. Bring the minutes of last time, please.",
    "",
    "Jane",
])
echomail = message(sam, gate, 0x0000, "All", "Sam Sysop", "Gateway is up", [
    "AREA:TARNWICK.TALK",
    "\x01MSGID: 2:280/464.1 6a1e0002",
    "\x01CHRS: LATIN-1 2",
    "Hi all,",
    "",
    "the gateway now carries this echo to comp.misc.tarnwick. Gr\xfc\xdfe!",
    "",
    "--- Tarnwick example tosser",
    " * Origin: Tarnwick example node (2:280/464.1)",
    "SEEN-BY: 280/464",
    "\x01PATH: 280/464",
])
with open(sys.argv[1], "wb") as f:
    f.write(header(sam, gate, b"TARNWICK") + netmail + echomail + b"\0\0")
