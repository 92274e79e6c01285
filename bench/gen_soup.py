#!/usr/bin/env python3
"""Writes a SOUP packet of generated mail and news for the import benchmark.

usage: gen_soup.py DIR MESSAGES
Half the messages are mail (binary and mailbox framing), half news (rnews
and binary framing); each is a few kilobytes of header and text.
"""
import os
import random
import sys

def message(i, news):
    rnd = random.Random(i)
    lines = []
    lines.append("Path: news.example!feed!not-for-mail" if news else
                 "Received: from mx.example by gw.example; Mon, 7 Dec 2026 10:00:00 +0000")
    lines.append("From: Writer %d <writer%d@net.example>" % (i % 977, i % 977))
    if news:
        lines.append("Newsgroups: comp.misc.tw,alt.bench.%d" % (i % 13))
    else:
        lines.append("To: sysop@tarnwick.example.org")
        lines.append("Cc: other%d@net.example" % (i % 31))
    lines.append("Subject: Benchmark message number %d about things" % i)
    lines.append("Date: Mon, 07 Dec 2026 %02d:%02d:%02d +0000" % (i % 24, i % 60, (i * 7) % 60))
    lines.append("Message-ID: <bench%d@net.example>" % i)
    lines.append("References: <bench%d@net.example>" % max(0, i - 1))
    lines.append("")
    words = ["gateway", "packet", "fidonet", "internet", "message", "tosser", "mailer", "area",
             "netmail", "echo", "sysop", "node", "point", "zone", "origin", "kludge"]
    for n in range(40 + rnd.randrange(40)):
        lines.append(" ".join(rnd.choice(words) for _ in range(6 + rnd.randrange(8))))
        if n % 9 == 8:
            lines.append("")
    return ("\n".join(lines) + "\n").encode()

def main():
    out, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    per = count // 4
    areas = [("MAILB", "Email", "bn", False, "binary"),
             ("MAILM", "Email", "mn", False, "mbox"),
             ("NEWSU", "comp.misc.tw", "un", True, "rnews"),
             ("NEWSB", "comp.misc.tw", "Bn", True, "binary")]
    with open(os.path.join(out, "AREAS"), "w") as idx:
        n = 0
        for prefix, name, kind, news, framing in areas:
            idx.write("%s\t%s\t%s\n" % (prefix, name, kind))
            with open(os.path.join(out, prefix + ".MSG"), "wb") as f:
                for _ in range(per):
                    m = message(n, news)
                    n += 1
                    if framing == "binary":
                        f.write(len(m).to_bytes(4, "big") + m)
                    elif framing == "rnews":
                        f.write(b"#! rnews %d\n" % len(m) + m)
                    else:
                        f.write(b"From writer@net.example Mon Dec  7 10:00:00 2026\n" + m)

if __name__ == "__main__":
    main()
