#!/bin/sh
# Stored-netmail export benchmark (MailerType ArcMail): MESSAGES generated
# *.MSG files (default 10000), then file-attach messages carrying 100 MB of
# files (ten of 10 MB, and one of 100 MB to show memory stays flat), each
# beside a plain copy of the same input on the same machine.
# usage: bench/netmail_bench.sh [build/tarnwick] [MESSAGES]
set -e
bin=$(cd "$(dirname "${1:-build/tarnwick}")" && pwd)/$(basename "${1:-build/tarnwick}")
count=${2:-10000}
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-nmbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$bin" "$work/tarnwick"
python3 - "$work" "$count" <<'PY'
import os, shutil, subprocess, sys, time

work, count = sys.argv[1], int(sys.argv[2])
os.chdir(work)

def header(subject, attr):
    b = bytearray(190)
    for at, n, s in ((0, 36, b"Fred Fido"), (36, 36, b"UUCP"), (72, 72, subject), (144, 20, b"09 Dec 26  10:00:00")):
        b[at:at + len(s[:n - 1])] = s[:n - 1]
    for at, v in ((166, 1), (168, 100), (172, 280), (174, 280), (186, attr)):
        b[at:at + 2] = v.to_bytes(2, "little")
    return bytes(b)

def site(name, extra=""):
    for d in ("net", "soup", "in", "tmp"):
        os.makedirs(os.path.join(name, d), exist_ok=True)
    with open(os.path.join(name, "tarnwick.cfg"), "w") as f:
        f.write("FidoAddr 2:280/1\nAddrMap 2:280/100 sysop@example.com Fred Fido\n"
                "MailerType ArcMail\nNetmailDir net/\nInboundDir in/\nSoupDir soup/\nTempDir tmp/\n" + extra)
    os.symlink(os.path.join(work, "tarnwick"), os.path.join(name, "tarnwick"))

def timed_copy(src):
    os.sync()
    t = time.time()
    shutil.copytree(src, src + ".copy")
    os.sync()
    t = time.time() - t
    shutil.rmtree(src + ".copy")
    return t

def export(name, label, mb, messages):
    # GNU time reports the program's own peak; a forked Python's would
    # count the interpreter's pages too.
    gnu_time = os.path.exists("/usr/bin/time")
    cmd = (["/usr/bin/time", "-f", "PEAK %M"] if gnu_time else []) + ["./tarnwick", "export"]
    t = time.time()
    p = subprocess.Popen(cmd, cwd=name, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    os.sync()
    t = time.time() - t
    lines = err.decode(errors="replace").strip().splitlines()
    peak_kb = usage.ru_maxrss
    if gnu_time and lines and lines[-1].startswith("PEAK "):
        peak_kb = int(lines.pop()[5:])
    tail = lines[-2:]
    out = sum(os.path.getsize(os.path.join(name, "soup", f)) for f in os.listdir(os.path.join(name, "soup")))
    print("%s: %.2f s, %.0f messages/s, %.0f MB/s, reply packet %.1f MB, peak memory %.1f MB, exit %d: %s" % (
        label, t, messages / t, mb / t, out / 1e6, peak_kb / 1024.0, os.waitstatus_to_exitcode(status),
        " / ".join(tail)))

# 1. Many small stored messages, into one reply file (SeparateMSG No) and
# into one reply file each (the default).
site("many", "SeparateMSG No\n")
text = (b"To: ann@example.com\r\r" + b"A line of an ordinary netmail message, as FTN users write them.\r" * 12) + b"\0"
size = 0
for i in range(count):
    data = header(b"Message %d" % i, 0) + text
    size += len(data)
    with open("many/net/%08X.MSG" % i, "wb") as f:
        f.write(data)
mb = size / 1e6
t = timed_copy("many/net")
print("%d stored messages, %.1f MB; plain copy %.2f s (%.0f MB/s)" % (count, mb, t, mb / t))
export("many", "export, SeparateMSG No", mb, count)
for f in os.listdir("many/net"):
    p = "many/net/" + f
    b = bytearray(open(p, "rb").read())
    b[186] = 0  # unsent again
    open(p, "wb").write(b)
shutil.rmtree("many/soup")
os.mkdir("many/soup")
with open("many/tarnwick.cfg", "a") as f:
    f.write("SeparateMSG Yes\n")
export("many", "export, SeparateMSG Yes", mb, count)

# 2. Files attached: ten of 10 MB, then one of 100 MB.
for name, files in (("ten", [10] * 10), ("one", [100])):
    site(name)
    block = os.urandom(1 << 20)
    for i, n in enumerate(files):
        with open("%s/in/F%d.BIN" % (name, i), "wb") as f:
            for _ in range(n):
                f.write(block)
        with open("%s/net/%d.MSG" % (name, i), "wb") as f:
            f.write(header(b"in/F%d.BIN" % i, 0x0010) + b"To: ann@example.com\r\rThe file.\r\0")
    mb = sum(files) * 1.048576
    t = timed_copy(name + "/in")
    print("%d file(s) of %d MB attached; plain copy %.2f s (%.0f MB/s)" % (len(files), files[0], t, mb / t))
    export(name, "export (%s)" % ("MIME"), mb, len(files))
PY
