#!/bin/sh
# Runs fuzz targets from their seed corpora: run.sh BUILD SECONDS [TARGET...]
# (all targets when none is named), one after the other. What a run finds
# that is new lands in BUILD/corpus/TARGET (kept for the next run), a crash
# or leak in BUILD/crashes/TARGET/. Ends non-zero when any target found
# something.
set -u
# Absolute paths: the targets work in a scratch directory of their own.
build=$(cd "$1" && pwd)
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
targets=${*:-"config list_config soup headers import_message export_packet stored_netmail flow_file"}
status=0
total=0
for t in $targets; do
    mkdir -p "$build/corpus/$t" "$build/crashes/$t"
    log="$build/crashes/$t.log"
    # -close_fd_mask=3: the gateway's own output goes nowhere; libFuzzer
    # keeps its reports. -entropic_scale_per_exec_time: inputs that run
    # long (a configuration that includes itself is read 256 times) are
    # chosen less often, not dropped.
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
        -entropic_scale_per_exec_time=1 \
        -max_len=8192 -rss_limit_mb=2048 -timeout=20 -artifact_prefix="$build/crashes/$t/" \
        "$build/corpus/$t" "$src/corpus/$t" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    total=$((total + ${runs:-0}))
    if [ $rc -ne 0 ]; then
        status=1
        printf '%-16s FOUND SOMETHING after %s runs: see %s and %s\n' "$t" "${runs:-?}" "$log" "$build/crashes/$t/"
        grep -m1 -A3 'ERROR\|runtime error' "$log"
    else
        printf '%-16s %12s runs in %ss (%s/s), no finding\n' "$t" "${runs:-?}" "$seconds" "$(( ${runs:-0} / seconds ))"
    fi
done
printf '%-16s %12s runs\n' total "$total"
exit $status
