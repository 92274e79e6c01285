#!/bin/sh
# Fails on an #include that points up the layer order of src/:
#   platform < driver < config < ftn, rfc822, soup < lists < import, export < tarnwick, tools, bridge
# A file may include its own folder and any folder of a lower rank; folders of
# the same rank do not include each other. driver/driver.* and driver/main.cpp
# are the executable's (command line and dispatch), above every library.
# usage: tests/layers.sh [SOURCE_DIR]
src=${1:-$(dirname "$0")/..}/src
rank() {
    case $1 in
        platform) echo 0 ;; driver) echo 1 ;; config) echo 2 ;;
        ftn|rfc822|soup) echo 3 ;; lists) echo 4 ;; import|export) echo 5 ;;
        tarnwick|tools|bridge) echo 6 ;; *) echo 99 ;;
    esac
}
layer_of() {  # a path below src/
    case $1 in
        driver/driver.h|driver/driver.cpp|driver/main.cpp) echo tarnwick ;;
        *) echo "${1%%/*}" ;;
    esac
}
status=0
cd "$src" || exit 2
for file in */*.h */*.cpp; do
    from=$(layer_of "$file")
    if [ "$(rank "$from")" = 99 ]; then
        echo "$file: folder $from has no place in the layer order" >&2; status=1; continue
    fi
    grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | while IFS= read -r line; do
        target=$(echo "$line" | sed 's/^[^"]*"\([^"]*\)".*/\1/')
        case $target in */*) ;; *) continue ;; esac
        to=$(layer_of "$target")
        [ "$to" = "$from" ] && continue
        if [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
            echo "$file:${line%%:*}: includes $target, which is not below $from" >&2
            echo x
        fi
    done | grep -q x && status=1
done
[ $status = 0 ] && echo "layers: every include points down"
exit $status
