#!/usr/bin/env python3
"""Writes FTN packets of generated netmail and echomail for the gateway
2:280/464, for the export benchmark.

usage: gen_outbound.py DIR MESSAGES
Half the messages are netmail to UUCP with To: and Copy: lines, half
echomail in TW.TALK; each is a few kilobytes of kludges and text, with
quoted lines longer than the line width and some 8-bit text. 500 messages
a packet, each packet named NNNNNNNN.pkt.
"""
import os
import random
import struct
import sys

WORDS = ["gateway", "packet", "fidonet", "internet", "message", "tosser", "mailer", "area",
         "netmail", "echo", "sysop", "node", "point", "zone", "origin", "kludge", "caf\xe9"]


def header():
    return (struct.pack("<12H", 7, 464, 2026, 11, 7, 10, 0, 0, 0, 2, 280, 280) + b"\0\0" + b"\0" * 8
            + struct.pack("<3H", 2, 2, 0) + b"\0\x01\x01\0" + struct.pack("<5H", 1, 2, 2, 0, 0) + b"\0" * 4)


def message(i):
    rnd = random.Random(i)
    news = i % 2 == 1
    lines = []
    if news:
        lines.append("AREA:TW.TALK")
    else:
        lines.append("\x01INTL 2:280/464 2:280/7")
    lines.append("\x01MSGID: 2:280/7 %08x" % i)
    if i > 0:
        lines.append("\x01REPLY: 2:280/7 %08x" % (i - 1))
    lines.append("\x01PID: bench")
    lines.append("\x01CHRS: LATIN-1 2")
    if not news:
        lines.append("To: reader%d@net.example" % (i % 977))
        lines.append("Copy: other%d@net.example" % (i % 31))
        lines.append("")
    for n in range(40 + rnd.randrange(40)):
        words = " ".join(rnd.choice(WORDS) for _ in range(6 + rnd.randrange(14)))
        lines.append((" AB> " + words) if n % 5 == 4 else words)
        if n % 9 == 8:
            lines.append("")
    lines.append("--- bench tosser")
    if news:
        lines.append(" * Origin: Benchmark node (2:280/7)")
        lines.append("SEEN-BY: 280/7 464")
        lines.append("\x01PATH: 280/7")
    text = "".join(l + "\r" for l in lines)
    fixed = struct.pack("<7H", 2, 7, 464, 280, 280, 0 if news else 1, 0)
    fields = ["07 Dec 26  %02d:%02d:%02d" % (i % 24, i % 60, (i * 7) % 60),
              "All" if news else "UUCP", "Writer %d" % (i % 977),
              "Benchmark message number %d about things" % i, text]
    return fixed + b"".join(f.encode("latin-1") + b"\0" for f in fields)


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    per = 500
    for p in range((count + per - 1) // per):
        with open(os.path.join(out, "%08x.pkt" % p), "wb") as f:
            f.write(header())
            for i in range(p * per, min(count, (p + 1) * per)):
                f.write(message(i))
            f.write(b"\0\0")


if __name__ == "__main__":
    main()
