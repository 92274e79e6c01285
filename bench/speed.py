#!/usr/bin/env python3
"""Import and export of 10,000 and 100,000 generated messages, each beside a
plain copy of the same input made in the same run.

usage: speed.py build/tarnwick [COUNT...]
For every run: wall time, MB/s, messages/s, CPU time and peak memory (GNU
time), the plain copy's time and the ratio between them. The output is
counted message by message, so a fast wrong run fails (exit status 1).
Inputs are generated once into $TMPDIR/tarnwick-ref-inputs (shared with
reference.sh) and copied into a scratch site for each run.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
INPUTS = os.path.join(os.environ.get("TMPDIR", "/tmp"), "tarnwick-ref-inputs")

IMPORT_CFG = """FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
AreaMap TW.TALK comp.misc.tw
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/
"""
EXPORT_CFG = """FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
MapFidoOrg Yes
AreaMap TW.TALK comp.misc.tw
CharSetMap LATIN-1#2 iso-8859-1
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/
SeparateMSG No
UseQP Yes
LineWidth 72
"""


def packet_messages(path):
    """Messages in a type-2 packet: 58-byte header, then packed messages."""
    data = open(path, "rb").read()
    pos, n = 58, 0
    while pos + 2 <= len(data):
        (kind,) = struct.unpack_from("<H", data, pos)
        if kind == 0:
            return n
        if kind != 2:
            raise ValueError("%s: no message at offset %d" % (path, pos))
        pos += 14
        for _ in range(5):  # date, to, from, subject, text
            pos = data.index(b"\0", pos) + 1
        n += 1
    raise ValueError("%s: no packet end" % path)


def reply_messages(soup):
    """Messages in the length-framed reply files that REPLIES names."""
    n = 0
    for line in open(os.path.join(soup, "REPLIES"), "rb"):
        data = open(os.path.join(soup, line.split(b"\t")[0].decode() + ".MSG"), "rb").read()
        pos = 0
        while pos < len(data):
            (length,) = struct.unpack_from(">I", data, pos)
            pos += 4 + length
            n += 1
        if pos != len(data):
            raise ValueError("reply file cut short")
    return n


def size_of(paths):
    return sum(os.path.getsize(p) for p in paths)


def plain_copy(paths, dest):
    os.makedirs(dest)
    os.sync()
    t = time.time()
    for p in paths:
        shutil.copyfile(p, os.path.join(dest, os.path.basename(p)))
    os.sync()
    t = time.time() - t
    shutil.rmtree(dest)
    return t


def run(site, args):
    os.sync()
    t = time.time()
    r = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "./tarnwick"] + args, cwd=site,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    os.sync()
    t = time.time() - t
    err = r.stderr.decode(errors="replace").splitlines()
    peak_kb, user, system = err.pop().split()
    return t, int(peak_kb) / 1024.0, float(user) + float(system), r.returncode, err[-3:]


def bench(binary, work, direction, count):
    site = os.path.join(work, "%s%d" % (direction, count))
    for d in ("in", "out", "soup", "tmp"):
        os.makedirs(os.path.join(site, d))
    os.symlink(binary, os.path.join(site, "tarnwick"))
    if direction == "import":
        src = os.path.join(INPUTS, "soup%d" % count)
        if not os.path.exists(os.path.join(src, "AREAS")):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_soup.py"), src, str(count)])
        for f in os.listdir(src):
            shutil.copyfile(os.path.join(src, f), os.path.join(site, "soup", f))
        inputs = [os.path.join(site, "soup", f) for f in os.listdir(src) if f.endswith(".MSG")]
        cfg, args = IMPORT_CFG, ["import"]
    else:
        src = os.path.join(INPUTS, "pk%d" % count)
        if not os.path.isdir(src):
            subprocess.check_call([sys.executable, os.path.join(HERE, "gen_outbound.py"), src, str(count)])
        shutil.copytree(src, os.path.join(site, "pk"))
        inputs = [os.path.join(site, "pk", f) for f in os.listdir(src)]
        cfg, args = EXPORT_CFG, ["export", "/pkt=pk/"]
    with open(os.path.join(site, "tarnwick.cfg"), "w") as f:
        f.write(cfg)
    size = size_of(inputs)
    copy = plain_copy(inputs, os.path.join(work, "copy"))
    wall, peak, cpu, code, tail = run(site, args)
    if direction == "import":
        out = [os.path.join(site, "in", f) for f in os.listdir(os.path.join(site, "in"))]
        got = sum(packet_messages(p) for p in out)
    else:
        got = reply_messages(os.path.join(site, "soup"))
        out = [os.path.join(site, "soup", f) for f in os.listdir(os.path.join(site, "soup"))]
    out_size = size_of(out)
    shutil.rmtree(site)
    mb = size / 1e6
    print("%-6s %7d %7.1f %6.2f %6.0f %8.0f %6.2f %6.1f %6.2f %6.0f %6.1f  %d/%d%s" % (
        direction, count, mb, wall, mb / wall, count / wall, cpu, peak, copy, mb / copy, wall / copy,
        got, count, "" if code == 0 else "  exit %d" % code))
    ok = code == 0 and got == count
    if not ok:
        print("  FAILED: %d of %d messages written (output %.1f MB), exit %d: %s" % (
            got, count, out_size / 1e6, code, " / ".join(tail)))
    return ok


def main():
    binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/tarnwick")
    counts = [int(c) for c in sys.argv[2:]] or [10000, 100000]
    os.makedirs(INPUTS, exist_ok=True)
    work = tempfile.mkdtemp(prefix="tarnwick-speed-")
    print("%-6s %7s %7s %6s %6s %8s %6s %6s %6s %6s %6s  %s" % (
        "", "msgs", "MB", "wall s", "MB/s", "msgs/s", "cpu s", "peakMB", "copy s", "cp MB/s", "ratio", "written"))
    ok = True
    try:
        for direction in ("import", "export"):
            for count in counts:
                ok = bench(binary, work, direction, count) and ok
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("ratio: the gateway's wall time over the plain copy's; copies are synced to disk")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
