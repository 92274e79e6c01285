#!/bin/sh
# The example site as an ArcMail-style system: the mailer keeps netmail as
# *.MSG files, and a point of the gateway sends a file to the Internet.
set -e
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-demo-arcmail-XXXXXX")
cp -R "$here/site/." "$work/"
ln -s "$bin" "$work/tarnwick"
cd "$work"
echo
echo "== example site copied to $work, with MailerType ArcMail"
sed -i 's/^MailerType Binkley$/MailerType ArcMail/' tarnwick.cfg
grep -n '^MailerType\|^NetmailDir\|^AttachPath\|^QuickScan' tarnwick.cfg
printf 'Minutes of the meeting on Friday.\nAll present.\n' > inbound/MINUTES.TXT
# Jane Doe (2:280/464.2) writes to an Internet address; her editor stored
# the message with the file-attach bit and the file's path as its subject.
python3 - <<'PY'
def word(v): return v.to_bytes(2, "little")
def field(s, n): return s[:n - 1].ljust(n, b"\0")
head = (field(b"Jane Doe", 36) + field(b"UUCP", 36) + field(b"inbound/MINUTES.TXT", 72) +
        field(b"09 Dec 26  12:00:00", 20) + word(0) + word(464) + word(464) + word(0) + word(280) + word(280) +
        bytes(8) + word(0) + word(0x0001 | 0x0010 | 0x0080) + word(0))
text = (b"\x01INTL 2:280/464 2:280/464\r\x01FMPT 2\r\x01MSGID: 2:280/464.2 6574a1b2\r"
        b"To: bob@mail.example.net\r\rHello Bob,\r\rthe minutes are attached.\r\rJane\r")
open("netmail/1.MSG", "wb").write(head + text + b"\0")
PY
# The site's SOUP packet is import input; the export writes a fresh one.
rm -f soup/*
echo "== tarnwick export"
./tarnwick export 2>&1
echo "== netmail/ after the export (KillSent: the message is gone; the state file remains)"
ls netmail
echo "== reply packet: REPLIES and the MIME message"
cat soup/REPLIES
python3 - <<'PY'
import email, glob
for path in sorted(glob.glob("soup/MAIL*.MSG")):
    data = open(path, "rb").read()
    while len(data) >= 4:
        n = int.from_bytes(data[:4], "big")
        msg, data = data[4:4 + n], data[4 + n:]
        print(msg.decode("latin-1"), end="")
        print("== read back by Python's email package")
        for part in email.message_from_bytes(msg).walk():
            if part.get_content_maintype() != "multipart":
                body = part.get_payload(decode=True)
                print("  %-26s %-12s %d bytes" % (part.get_content_type(), part.get_filename() or "", len(body)))
PY
