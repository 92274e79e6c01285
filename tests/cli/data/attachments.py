#!/usr/bin/env python3
"""Builds SOUP areas of mail and news carrying attachments, for the CLI tests.

usage: attachments.py SITE SET
Writes SITE/soup/AREAS and the message files, and the attached files as
they were sent into SITE/orig/, so that the test can compare the decoded
files with them byte for byte. SET chooses the messages: "files" (mail
with every kind of attachment), "places" (news, kill and junk), "hostile"
(bad input).
"""
import base64
import binascii
import os
import random
import sys
from email.message import EmailMessage

site, which = sys.argv[1], sys.argv[2]
os.makedirs(os.path.join(site, "soup"), exist_ok=True)
os.makedirs(os.path.join(site, "orig"), exist_ok=True)


def orig(name, data):
    with open(os.path.join(site, "orig", name), "wb") as f:
        f.write(data)
    return data


def binary_framing(messages):
    out = b""
    for m in messages:
        b = m if isinstance(m, bytes) else m.as_bytes()
        b = b.replace(b"\r\n", b"\n")
        out += len(b).to_bytes(4, "big") + b
    return out


def area(prefix, name, kind, messages):
    with open(os.path.join(site, "soup", prefix + ".MSG"), "wb") as f:
        f.write(binary_framing(messages))
    with open(os.path.join(site, "soup", "AREAS"), "a") as f:
        f.write("%s\t%s\t%s\n" % (prefix, name, kind))


def mail(subject, to="joe@example.com", sender="Ann Sender <ann@net.example>"):
    m = EmailMessage()
    m["From"] = sender
    m["To"] = to
    m["Subject"] = subject
    return m


def attach(m, data, filename=None, maintype="application", subtype="octet-stream"):
    m.add_attachment(data, maintype=maintype, subtype=subtype, filename=filename)


def uu_block(name, data):
    lines = ["begin 644 " + name]
    for i in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[i:i + 45]).decode().rstrip("\n"))
    lines += ["`", "end"]
    return "\n".join(lines) + "\n"


rnd = random.Random(13)
if which == "files":
    single = mail("single part")
    single.set_content(orig("report.txt", b"Quarterly report\nline two\n"), maintype="text",
                       subtype="plain", filename="report.txt", cte="base64")

    several = mail("several files")
    several.set_content("The files you asked for.\n")
    attach(several, orig("all.bin", bytes(range(256)) * 40), "all.bin")
    attach(several, b"", "empty.bin")
    attach(several, orig("path.txt", b"from a path\n"), "C:\\Users\\ann\\Documents\\path.txt")
    attach(several, orig("README", b"no extension\n"), "READ ME")
    attach(several, orig("noname", bytes(rnd.randrange(256) for _ in range(1000))))
    attach(several, orig("exists.txt", b"new content\n"), "exists.txt")

    nested = mail("nested parts")
    nested.set_content("Plain text of the letter.\n")
    nested.add_alternative("<p>HTML text of the letter.</p>\n", subtype="html")
    attach(nested, orig("nested.bin", bytes(rnd.randrange(256) for _ in range(3000))), "nested.bin")

    uu = mail("uuencoded")
    uu.set_content("Here it comes:\n\n" + uu_block("uu.bin", orig("uu.bin", bytes(range(256)) * 3))
                   + "\nThat was it.\n")

    plain = orig("plain.bin", b"unquoted parameters\n")
    unquoted = (b"From: ann@net.example\nTo: joe@example.com\nSubject: unquoted\nMIME-Version: 1.0\n"
                b"Content-Type: multipart/mixed; boundary=simple.boundary\n\n"
                b"--simple.boundary\nContent-Type: text/plain\n\nSee the file.\n"
                b"--simple.boundary\nContent-Type: application/octet-stream; name=plain.bin\n"
                b"Content-Transfer-Encoding: base64\n\n" + binascii.b2a_base64(plain) +
                b"--simple.boundary--\n")
    area("MAIL", "Email", "bn", [single, several, nested, uu, unquoted])

elif which == "places":
    news = mail("news file", to="")
    del news["To"]
    news["Newsgroups"] = "comp.misc.tw"
    news.set_content("An article with a file.\n")
    attach(news, orig("article.bin", b"news attachment\n" * 20), "article.bin")
    area("NEWS", "comp.misc.tw", "bn", [news])

    packet = mail("packet and text")
    packet.set_content("A packet by mail.\n")
    attach(packet, orig("0000abcd.pkt", b"\x02\x00" * 40), "0000abcd.pkt")
    attach(packet, orig("letter.txt", b"a letter\n"), "letter.txt")
    junk = mail("junk with a file", sender="spammer@spam.example")
    junk.set_content("Buy now.\n")
    attach(junk, b"junk file\n" * 10, "junk.bin")
    area("MAIL", "Email", "bn", [packet, junk])

elif which == "hostile":
    msgs = []
    for name in ["../../escape.txt", "..", "/", "sub/../../x.txt", "ctl\x01\x1fname.txt", "00000000.pkt",
                 "*.zip", "a" * 300 + ".txt"]:
        m = mail("hostile name")
        m.set_content("x\n")
        attach(m, b"payload\n", name)
        msgs.append(m)
    # 50 MB: encoded directly, the e-mail package takes long over it.
    big = (b"From: a@x.example\nTo: joe@example.com\nSubject: big\nMIME-Version: 1.0\n"
           b"Content-Type: application/octet-stream; name=\"big.bin\"\nContent-Transfer-Encoding: base64\n\n"
           + base64.encodebytes(orig("big.bin", os.urandom(50 * 1024 * 1024))))
    msgs.append(big)
    garbage = (b"From: a@x.example\nTo: joe@example.com\nSubject: garbage\n"
               b"Content-Type: application/octet-stream; name=\"garbage.bin\"\n"
               b"Content-Transfer-Encoding: base64\n\n"
               b"SGVs!bG8g*d29y\x80bGQ=\nQUJD==\nQUJDRA=\nQUJDR\n\n")
    uu_bad = (b"From: a@x.example\nTo: joe@example.com\nSubject: uu past the line\n\n"
              b"begin 644 past.bin\nM86)C\n_\n" + b"M" + b"!" * 60 + b"\nend\n")
    many = b"From: a@x.example\nTo: joe@example.com\nSubject: many parts\nContent-Type: multipart/mixed; boundary=\"P\"\n\n"
    for i in range(10000):
        if i % 100:
            many += b"--P\nContent-Type: text/plain\n\ntext of part %d\n" % i
        else:
            many += b"--P\nContent-Type: application/octet-stream; name=\"p%d.bin\"\nContent-Transfer-Encoding: base64\n\nQUJD\n" % i
    many += b"--P--\n"
    long_b = b"B" * 500
    longb = (b"From: a@x.example\nTo: joe@example.com\nSubject: long boundary\nContent-Type: multipart/mixed; boundary=\""
             + long_b + b"\"\n\n--" + long_b + b"\nContent-Type: multipart/alternative; boundary=" + long_b + b"C\n\n--"
             + long_b + b"C\n\ntext\n--" + long_b + b"C--\n--" + long_b + b"\nContent-Transfer-Encoding: base64\n\nQUJD\n--"
             + long_b + b"--\n")
    msgs += [garbage, uu_bad, many, longb]
    area("MAIL", "Email", "bn", msgs)
