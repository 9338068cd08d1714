#!/usr/bin/env bash
# --help and --version of the desktop program: printed, exit status 0, no window and no display
# needed (the program runs without DISPLAY here, and would fail if it started the toolkit).
# Usage: options-test.sh PROGRAM VERSION
set -u
program="$1"
version="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$program" "$@" >"$tmp/out" 2>"$tmp/err"; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

for args in "--help" "--help somefile.hex" "-Embedding --help"; do
    # shellcheck disable=SC2086
    run $args
    rc=$?
    [ "$rc" -eq 0 ] || fail "'$args' exited with $rc: $(cat "$tmp/err")"
    head -n 1 "$tmp/out" | grep -q '^Usage: veltro51 ' || fail "'$args' printed no usage: $(head -n 3 "$tmp/out")"
    grep -q -- '--version' "$tmp/out" || fail "'$args': the usage does not name --version"
    [ -s "$tmp/err" ] && fail "'$args' wrote to stderr: $(cat "$tmp/err")"
done

run --version
rc=$?
[ "$rc" -eq 0 ] || fail "--version exited with $rc: $(cat "$tmp/err")"
[ "$(head -n1 "$tmp/out")" = "Veltro 51 $version" ] || fail "--version printed '$(cat "$tmp/out")'"
sed -n 2p "$tmp/out" | grep -q '^Copyright (C) .* The Veltro 51 developers$' ||
    fail "--version names no copyright holder: $(cat "$tmp/out")"
[ -s "$tmp/err" ] && fail "--version wrote to stderr: $(cat "$tmp/err")"

# An unknown option is refused before the toolkit starts: the usage line on stderr, status 2.
for args in "-h" "--bogus" "fw.hex --bogus" "-Embedding -x"; do
    # shellcheck disable=SC2086
    run $args
    rc=$?
    [ "$rc" -eq 2 ] || fail "'$args' exited with $rc, not 2: $(cat "$tmp/err")"
    grep -q '^Usage: veltro51 ' "$tmp/err" || fail "'$args' printed no usage on stderr: $(cat "$tmp/err")"
    grep -q "unknown option" "$tmp/err" || fail "'$args' did not name the option: $(cat "$tmp/err")"
    [ -s "$tmp/out" ] && fail "'$args' wrote to stdout: $(cat "$tmp/out")"
done

# Known arguments still start the toolkit: without a display that fails, and prints no usage.
for args in "fw.hex" "-- --bogus" "--display :99 fw.hex"; do
    # shellcheck disable=SC2086
    run $args
    rc=$?
    [ "$rc" -ne 0 ] && [ "$rc" -ne 2 ] || fail "'$args' did not try to open the window (status $rc)"
    grep -q '^Usage:' "$tmp/out" "$tmp/err" && fail "'$args' printed the usage"
done

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ "$failures" -eq 0 ]
