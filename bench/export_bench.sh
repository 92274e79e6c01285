#!/bin/sh
# Export benchmark: generated FTN packets of MESSAGES netmail and echomail
# messages for the gateway (default 100000, a few hundred MB) through
# `tarnwick export /pkt=`, beside a plain copy of the same packets on the
# same machine.
# usage: bench/export_bench.sh [build/tarnwick] [MESSAGES]
set -e
bin=$(cd "$(dirname "${1:-build/tarnwick}")" && pwd)/$(basename "${1:-build/tarnwick}")
count=${2:-100000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/tmp" "$work/soup" "$work/copy"
python3 "$here/gen_outbound.py" "$work/pk" "$count"
cat > "$work/tarnwick.cfg" <<CFG
FidoAddr 2:280/464
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
CFG
ln -s "$bin" "$work/tarnwick"
cd "$work"
plain_copy pk/*.pkt
python3 - "$work" "$count" "$bytes" "$t0" "$t1" <<'PY'
import os, subprocess, sys, time
work, count, size, t0, t1 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
start = time.time()
# GNU time reports the program's own peak (a fork of this interpreter
# would count in the children's usage).
r = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "./tarnwick", "export", "/pkt=pk/"], cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
os.sync()
elapsed = time.time() - start
err = r.stderr.decode(errors="replace").splitlines()
peak_kb, user, system = err.pop().split()
peak, cpu = int(peak_kb) / 1024.0, float(user) + float(system)
tail = [l for l in err if not l.startswith("Exporting Type")][-4:]
soup = os.path.join(work, "soup")
out = sum(os.path.getsize(os.path.join(soup, f)) for f in os.listdir(soup))
left = len(os.listdir(os.path.join(work, "pk")))
mb = size / 1e6
print("input: %d messages, %.1f MB in packets; reply packet written: %.1f MB; packets left: %d" % (
    count, mb, out / 1e6, left))
print("plain copy of the input: %.2f s (%.0f MB/s)" % (t1 - t0, mb / max(t1 - t0, 1e-9)))
print("export: %.2f s, %.0f messages/s, %.0f MB/s, peak memory %.1f MB" % (
    elapsed, count / elapsed, mb / elapsed, peak))
print("export CPU time (user + system, what a busy machine does not distort): %.2f s, %.0f messages/s, %.0f MB/s" % (
    cpu, count / max(cpu, 1e-9), mb / max(cpu, 1e-9)))
print("exit code %d; last lines:" % r.returncode)
for line in tail:
    print("  " + line)
PY
