#!/usr/bin/env python3
"""Writes stored netmail (*.MSG) for the gateway 2:280/1.

usage: gen_netmail.py DIR MESSAGES
Each message is from Fred Fido (2:280/100) to UUCP, a dozen lines of text
for ann@example.com.
"""
import os
import sys


def header(subject, attr):
    b = bytearray(190)
    for at, n, s in ((0, 36, b"Fred Fido"), (36, 36, b"UUCP"), (72, 72, subject), (144, 20, b"09 Dec 26  10:00:00")):
        b[at:at + len(s[:n - 1])] = s[:n - 1]
    for at, v in ((166, 1), (168, 100), (172, 280), (174, 280), (186, attr)):
        b[at:at + 2] = v.to_bytes(2, "little")
    return bytes(b)


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    text = (b"To: ann@example.com\r\r" + b"A line of an ordinary netmail message, as FTN users write them.\r" * 12) + b"\0"
    for i in range(count):
        with open(os.path.join(out, "%08X.MSG" % i), "wb") as f:
            f.write(header(b"Message %d" % i, 0) + text)


if __name__ == "__main__":
    main()
