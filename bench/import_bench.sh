#!/bin/sh
# Import benchmark: a generated SOUP packet of MESSAGES mail and news
# messages (default 100000, a few hundred MB) through `tarnwick import`,
# beside a plain copy of the same input on the same machine.
# usage: bench/import_bench.sh [build/tarnwick] [MESSAGES]
set -e
bin=$(cd "$(dirname "${1:-build/tarnwick}")" && pwd)/$(basename "${1:-build/tarnwick}")
count=${2:-100000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/tmp" "$work/copy"
python3 "$here/gen_soup.py" "$work/soup" "$count"
cat > "$work/tarnwick.cfg" <<CFG
FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
AreaMap TW.TALK comp.misc.tw
MailerType Binkley
InboundDir in/
OutboundDir out/
SoupDir soup/
TempDir tmp/
CFG
ln -s "$bin" "$work/tarnwick"
cd "$work"
plain_copy soup/*.MSG
python3 - "$work" "$count" "$bytes" "$t0" "$t1" <<'PY'
import os, resource, subprocess, sys, time
work, count, size, t0, t1 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
start = time.time()
r = subprocess.run(["./tarnwick", "import", "/t", "/g"], cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
os.sync()
elapsed = time.time() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
tail = r.stderr.decode(errors="replace").replace("\r", "\n").strip().splitlines()[-4:]
out = sum(os.path.getsize(os.path.join(work, "in", f)) for f in os.listdir(os.path.join(work, "in")))
mb = size / 1e6
print("input: %d messages, %.1f MB; packets written: %.1f MB" % (count, mb, out / 1e6))
print("plain copy of the input: %.2f s (%.0f MB/s)" % (t1 - t0, mb / max(t1 - t0, 1e-9)))
print("import: %.2f s, %.0f messages/s, %.0f MB/s, peak memory %.1f MB" % (
    elapsed, count / elapsed, mb / elapsed, peak))
print("exit code %d; last lines:" % r.returncode)
for line in tail:
    print("  " + line)
PY
