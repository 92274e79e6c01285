"""Reads a SOUP reply packet as a mail reader would: every message must parse
with Python's email package without defects, carry From, Date and
Message-ID, and have a Date that email.utils understands. Writes, per
message in REPLIES order, "DATE <ISO date>\\n", the decoded text body and a
NUL byte, so that the caller can compare the text with what was written in
FTN. Exit code 1 and a reason on stderr when a message fails."""
import email
import email.policy
import email.utils
import os
import sys


def messages(soup):
    with open(os.path.join(soup, "REPLIES"), "rb") as f:
        index = f.read()
    for line in index.split(b"\n"):
        if not line:
            continue
        name = line.split(b"\t")[0].decode("ascii")
        with open(os.path.join(soup, name + ".MSG"), "rb") as f:
            data = f.read()
        at = 0
        while at + 4 <= len(data):
            n = int.from_bytes(data[at:at + 4], "big")
            yield name, data[at + 4:at + 4 + n]
            at += 4 + n


def text_part(msg):
    if not msg.is_multipart():
        return msg
    return msg.get_payload(0)


def main():
    out = sys.stdout.buffer
    for name, raw in messages(sys.argv[1]):
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        problems = list(msg.defects)
        for key, value in msg.items():
            problems += getattr(value, "defects", [])
        for key in ("From", "Date", "Message-ID"):
            if msg[key] is None:
                problems.append("no " + key)
        if problems:
            sys.stderr.write("%s: %r\n%r\n" % (name, problems, raw[:2000]))
            return 1
        date = email.utils.parsedate_to_datetime(str(msg["Date"]))
        body = text_part(msg).get_payload(decode=True)
        out.write(b"DATE " + date.isoformat().encode() + b"\n" + body + b"\0")
    return 0


sys.exit(main())
