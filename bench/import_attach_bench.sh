#!/bin/sh
# Attachment benchmark: MESSAGES mail messages (default 300), a third of
# them with a 1 MB base64 file, through `tarnwick import`, which decodes
# the files into the inbound, beside a plain copy of the same input.
# usage: bench/import_attach_bench.sh [build/tarnwick] [MESSAGES]
set -e
bin=$(cd "$(dirname "${1:-build/tarnwick}")" && pwd)/$(basename "${1:-build/tarnwick}")
count=${2:-300}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-attach-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/tmp" "$work/copy"
python3 "$here/gen_attach_soup.py" "$work/soup" "$count"
cat > "$work/tarnwick.cfg" <<CFG
FidoAddr 2:280/464
AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop
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
r = subprocess.run(["./tarnwick", "import", "/t"], cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
os.sync()
elapsed = time.time() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
inbound = os.path.join(work, "in")
files = [f for f in os.listdir(inbound) if f.endswith(".bin")]
decoded = sum(os.path.getsize(os.path.join(inbound, f)) for f in files)
mb = size / 1e6
copy = t1 - t0
print("input: %d mail messages, %.1f MB; decoded: %d files, %.1f MB" % (count, mb, len(files), decoded / 1e6))
print("plain copy of the input: %.2f s (%.0f MB/s)" % (copy, mb / max(copy, 1e-9)))
print("import with attachments: %.2f s (%.0f MB/s, %.1f times the copy), peak memory %.1f MB" % (
    elapsed, mb / elapsed, elapsed / max(copy, 1e-9), peak))
print("exit code %d" % r.returncode)
PY
