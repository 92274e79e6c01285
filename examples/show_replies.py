#!/usr/bin/env python3
"""Shows a SOUP reply packet: the REPLIES index, then every message of the
reply files it names (each a 4-byte length and the message text).
usage: show_replies.py SOUPDIR"""
import os
import sys

soup = sys.argv[1]
names = {n.lower(): n for n in os.listdir(soup)}
index = names.get("replies")
if not index:
    print("(no REPLIES)")
    sys.exit(0)
lines = open(os.path.join(soup, index), "rb").read().decode("latin-1").splitlines()
print("REPLIES:")
for line in lines:
    print("  " + line.replace("\t", " <tab> "))
for line in lines:
    prefix = line.split("\t")[0]
    path = os.path.join(soup, names.get((prefix + ".msg").lower(), prefix + ".MSG"))
    data = open(path, "rb").read()
    pos, n = 0, 0
    while pos + 4 <= len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        n += 1
        print("---- %s, message %d (%d bytes)" % (os.path.basename(path), n, length))
        sys.stdout.write(data[pos + 4:pos + 4 + length].decode("latin-1"))
        pos += 4 + length
