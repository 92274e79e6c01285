#!/usr/bin/env python3
"""Writes a SOUP mail area for the attachment benchmark.

usage: gen_attach_soup.py DIR MESSAGES
Every third message carries a 1 MB file as a base64 MIME part (built by
Python's e-mail package); the others are a few kilobytes of plain text.
"""
import os
import random
import sys
from email.message import EmailMessage


def message(i, payload):
    m = EmailMessage()
    m["From"] = "Writer %d <writer%d@net.example>" % (i % 97, i % 97)
    m["To"] = "sysop@tarnwick.example.org"
    m["Subject"] = "Benchmark message number %d" % i
    m["Date"] = "Mon, 07 Dec 2026 10:%02d:%02d +0000" % (i % 60, (i * 7) % 60)
    m["Message-ID"] = "<attach%d@net.example>" % i
    rnd = random.Random(i)
    words = ["gateway", "packet", "fidonet", "internet", "message", "tosser", "attachment", "file"]
    text = "\n".join(" ".join(rnd.choice(words) for _ in range(10)) for _ in range(40)) + "\n"
    m.set_content(text)
    if i % 3 == 0:
        m.add_attachment(payload, maintype="application", subtype="octet-stream", filename="file%d.bin" % i)
    return m.as_bytes().replace(b"\r\n", b"\n")


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    payload = os.urandom(1024 * 1024)
    with open(os.path.join(out, "AREAS"), "w") as idx:
        idx.write("MAIL\tEmail\tbn\n")
    with open(os.path.join(out, "MAIL.MSG"), "wb") as f:
        for i in range(count):
            m = message(i, payload)
            f.write(len(m).to_bytes(4, "big") + m)


if __name__ == "__main__":
    main()
