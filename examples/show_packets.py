#!/usr/bin/env python3
"""Lists the messages of FTN packets: area, from, to and subject."""
import sys

for path in sys.argv[1:]:
    data = open(path, "rb").read()
    print(path)
    pos = 58
    while pos + 14 <= len(data) and data[pos:pos + 2] == b"\x02\x00":
        pos += 14
        fields = []
        for _ in range(5):
            end = data.index(b"\0", pos)
            fields.append(data[pos:end].decode("latin-1"))
            pos = end + 1
        date, to, frm, subject, text = fields
        area = text[5:text.index("\r")] if text.startswith("AREA:") else "netmail"
        print("  %-16s %-20s -> %-16s %s" % (area, frm, to, subject))
