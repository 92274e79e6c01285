# Shared by the benchmark scripts (sourced): the plain copy that every
# gateway run is measured against, timed in the same run.
# plain_copy FILE...: sets bytes (their total size), t0 and t1 (the copy's
# start and end, disk synced), and removes the copy again.
plain_copy() {
    bytes=$(cat "$@" | wc -c)
    sync
    t0=$(date +%s.%N); cp "$@" copy/; sync; t1=$(date +%s.%N)
    rm -rf copy
}
