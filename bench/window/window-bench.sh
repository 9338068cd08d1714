#!/usr/bin/env bash
# Measures veltro51-bench against eight simulated programmers burning at once: the start-up time (to
# the window's first idle moment), the longest stretch the window's thread could not handle an event
# while the sockets burned (target under 50 ms), and the window's peak memory.
# Usage: bench/window/window-bench.sh [BUILD_DIR]   (starts an Xvfb of its own)
set -eu
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$top/build}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export build tmp
head -c 8192 /dev/urandom >"$tmp/fw.bin"
run() {
    mkfifo "$tmp/in"
    local start
    start=$(date +%s%N)
    "$build/sim/veltro51-sim" --tree "$tmp/tree" --programmers 8 --byte-write-us 100 -- \
        "$build/ui/bench/veltro51-bench" --report-states --start --log "$tmp/log.json" "$tmp/fw.bin" \
        <"$tmp/in" >"$tmp/out" 2>&1 &
    exec 3>"$tmp/in"
    local shown=""
    for _ in $(seq 1200); do
        if [ -z "$shown" ] && grep -q '^shown$' "$tmp/out"; then shown=$(( ($(date +%s%N) - start) / 1000000 )); fi
        grep -q '^waiting$' "$tmp/out" && break
        sleep 0.05
    done
    echo stop >&3
    sleep 0.5
    echo close >&3
    exec 3>&-
    wait
    echo "start-up to the shown window : ${shown:-?} ms"
    echo "sockets verified             : $(grep -c ' verified ' "$tmp/out") of 8"
    echo "longest UI stall, 8 burning  : $(sed -n 's/^longest-stall-ms //p' "$tmp/out") ms (target under 50)"
    echo "peak memory of the window    : $(sed -n 's/^peak-memory //p' "$tmp/out")"
}
export -f run
"$top/tests/ui/private-display.sh" bash -c run
