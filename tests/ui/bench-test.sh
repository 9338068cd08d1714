#!/usr/bin/env bash
# veltro51-bench as an operator uses it: the real program on a display, against three simulated
# programmers that the simulated operator fills with chips. The program's --report-states prints its
# tiles' states and takes start, stop and close on standard input, so nothing reads pixels.
# Usage: bench-test.sh BENCH SIM
set -u
bench="$1"
sim="$2"
tmp="$(mktemp -d)"
pid=""
cleanup() {
    exec 3>&- 2>/dev/null
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Without a display: --help and --version.
env -u DISPLAY "$bench" --help | grep -q '^Usage: veltro51-bench' || fail "--help without a display"
env -u DISPLAY "$bench" --version | grep -q '^veltro51-bench [0-9]' || fail "--version without a display"
env -u DISPLAY "$bench" --lock 7 x.hex 2>/dev/null
[ $? -eq 2 ] || fail "a bad --lock is not a usage error"
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no display"; exit 1; }

# A firmware of 1 KiB; the serial number goes above it.
head -c 1024 /dev/urandom >"$tmp/fw.bin"
operator() { "$sim" socket --tree "$tmp/tree" --programmer "$@" >/dev/null || fail "operator: $*"; }

# Starts the bench under the simulator with the options given; commands go in through fd 3.
start_bench() {
    rm -f "$tmp/in" "$tmp/out"
    mkfifo "$tmp/in"
    XDG_CONFIG_HOME="$tmp/config" "$sim" --tree "$tmp/tree" --programmers 3 --delay 0.1 -- \
        "$bench" --report-states "$@" \
        <"$tmp/in" >"$tmp/out" 2>"$tmp/err" &
    pid=$!
    exec 3>"$tmp/in"
}
# Waits up to 30 s for the n-th line (default the first) matching the pattern.
wait_for() {
    for _ in $(seq 300); do
        [ "$(grep -Ec "$1" "$tmp/out")" -ge "${2:-1}" ] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    fail "never saw '$1'; saw: $(tr '\n' '|' <"$tmp/out") $(cat "$tmp/err")"
    return 1
}
ended() {
    exec 3>&-
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        fail "the bench did not end"
        kill "$pid"
    fi
    wait "$pid"
    rc=$?
    pid=""
    return $rc
}

# Three sockets: every tile verified, with three serial numbers; a wrong chip fails and the bench
# waits for the next round; Stop during a round powers off and ends; closing asks first.
start_bench --chip AT89S52 --serial 0x700,1000 --serial-file "$tmp/serial.txt" --log "$tmp/log.json" \
    "$tmp/fw.bin"
# A tile for each programmer as soon as the window opens, before anything burns.
wait_for '^tile 003/001 waiting'
[ "$(grep -c '^tile .* waiting$' "$tmp/out")" -eq 3 ] || fail "not one tile per programmer before Start"
grep -q '^job fw.bin [0-9a-f]\{12\} AT89S52 0x[0-9A-F]\{8\} none rounds$' "$tmp/out" ||
    fail "the job's line: $(grep '^job' "$tmp/out")"
echo start >&3
wait_for '^waiting$'
verified="$(grep -E '^tile [0-9/]+ verified AT89S52 [0-9]+ ' "$tmp/out" | awk '{print $5}' | sort -u)"
[ "$(echo "$verified" | wc -l)" -eq 3 ] || fail "three distinct serials wanted, got: $verified"
[ "$(grep -c '"outcome":"verified"' "$tmp/log.json" 2>/dev/null)" = 3 ] || fail "the log has not 3 verified chips"
operator 2 remove
operator 2 insert AT89S2051
echo start >&3
wait_for '^round 2$'
wait_for '^tile 002/001 failed AT89S2051 - .*Wrong Chip'
wait_for '^waiting$' 2 # the round's end: the tiles hold, the bench waits for Space
grep -E '^tile (001|003)/001 verified' "$tmp/out" | awk '{print $5}' | sort | uniq -d | grep -q . &&
    fail "a serial number was given twice"
operator 2 remove
operator 2 insert AT89S52
echo start >&3
wait_for '^round 3$' && echo stop >&3
wait_for '^ended$'
grep -q '^tile [0-9/]* stopped' "$tmp/out" || fail "Stop left no tile stopped: $(tr '\n' '|' <"$tmp/out")"
echo start >&3
wait_for '^round 1$' 2 && echo close >&3
wait_for '^message Sockets are running'
ended || fail "closing while sockets ran ended with $rc: $(cat "$tmp/err")"
sed -n '/^closing$/,$p' "$tmp/out" | grep -q '^ended$' || fail "the bench closed before its sockets ended"

# The keyboard alone: Space starts a round and, after it, the next; Ctrl+Q closes the bench.
if command -v xdotool >/dev/null; then
    start_bench "$tmp/fw.bin"
    wait_for '^shown$'
    key() { xdotool search --name '^Veltro 51 Bench$' windowactivate --sync >/dev/null 2>&1; xdotool key "$1"; }
    key space
    wait_for '^waiting$' && key space
    wait_for '^round 2$' && wait_for '^waiting$' 2 && key ctrl+q
    wait_for '^ended$'
    ended || fail "Ctrl+Q ended with $rc"
else
    fail "xdotool is missing (tools/deps installs it)"
fi

# A firmware that is not the job's, and one that cannot be read: refused with a message box, and
# Start burns nothing.
for c in "wrong checksum|--sha256 $(printf '0%.0s' $(seq 64)) $tmp/fw.bin|Firmware Refused : SHA-256 of $tmp/fw.bin is" \
         "missing firmware|$tmp/none.hex|$tmp/none.hex: No such file"; do
    IFS='|' read -r what args text <<<"$c"
    # shellcheck disable=SC2086
    start_bench $args
    wait_for "^message The job is refused, nothing will be burned: .*$text"
    echo start >&3
    sleep 1
    grep -q '^started' "$tmp/out" && fail "$what: Start burned"
    echo close >&3
    ended || fail "$what: ended with $rc"
done

# Job files. The form makes one (its firmware's SHA-256 computed, paths relative to the job's
# folder) and the window opens it: its CRC-32 is the command line's, and the bench burns as it says.
mkdir -p "$tmp/line"
cp "$tmp/fw.bin" "$tmp/line/fw.bin"
start_bench "$tmp/fw.bin"
wait_for '^shown$'
printf 'new-job %s\t%s\n' "$tmp/line/job.toml" \
    "$tmp/line/fw.bin|AT89S52|2|0x700,5000|$tmp/line/serial.txt|$tmp/line/chips.json|rounds" >&3
wait_for "^job saved $tmp/line/job.toml"
grep -qx "firmware = 'fw.bin'" "$tmp/line/job.toml" || fail "the job's firmware: $(cat "$tmp/line/job.toml")"
grep -qx "sha256 = '$(sha256sum "$tmp/fw.bin" | cut -c1-64)'" "$tmp/line/job.toml" || fail "the job's SHA-256"
crc="$(XDG_CONFIG_HOME="$tmp/config" "$(dirname "$bench")/../../cli/veltro51-cli" --chip AT89S52 dump --sum \
    "$tmp/fw.bin" | sed -n 's/^CRC-32 : \(0x[0-9A-F]*\),.*/\1/p')"
wait_for "^job fw.bin [0-9a-f]* AT89S52 $crc 2 rounds$"
echo start >&3
wait_for '^waiting$'
[ "$(grep -Ec '^tile [0-9/]+ verified AT89S52 500[0-2] ' "$tmp/out")" -eq 3 ] ||
    fail "the job's serial numbers: $(grep '^tile' "$tmp/out" | tr '\n' '|')"
[ "$(grep -c '"lock_mode":2' "$tmp/line/chips.json" 2>/dev/null)" = 3 ] || fail "the job's log and lock"
echo close >&3
ended || fail "the job's bench ended with $rc"

# The job opened last opens again at the next start; a job whose firmware has other bytes than its
# SHA-256, and one that is no job, are refused with a message box.
start_bench
wait_for "^job fw.bin [0-9a-f]* AT89S52 $crc 2 rounds$"
sed "s/^sha256 = .*/sha256 = '$(printf 'a%.0s' $(seq 64))'/" "$tmp/line/job.toml" >"$tmp/line/wrong.toml"
printf 'firmware = "fw.bin"\nsha256 = "%s"\nspeed = 3\n' "$(printf 'a%.0s' $(seq 64))" >"$tmp/line/bad.toml"
echo "open $tmp/line/wrong.toml" >&3
wait_for "^message The job is refused, nothing will be burned: Firmware Refused : SHA-256 of $tmp/line/fw.bin is"
echo "open $tmp/line/bad.toml" >&3
wait_for "^message The job is refused, nothing will be burned: $tmp/line/bad.toml:3: unknown key 'speed'"
echo start >&3
sleep 1
grep -q '^started' "$tmp/out" && fail "a refused job burned"
echo close >&3
ended || fail "the refused jobs' bench ended with $rc"
grep -q "LastJob=$tmp/line/job.toml" "$tmp/config/veltro51/bench.conf" || fail "a refused job was remembered"

# Watch mode: three sockets burn the chips they hold, each with its own serial number, and hold the
# result until the chip is removed; a wrong chip fails, and the socket waits for the next one; Stop.
rm -rf "$tmp/tree"
start_bench "$tmp/fw.bin"
wait_for '^shown$'
printf 'new-job %s\t%s\n' "$tmp/line/watch.toml" \
    "$tmp/line/fw.bin|AT89S52||0x700,7000|$tmp/line/wserial.txt|$tmp/line/wchips.json|watch" >&3
wait_for '^job fw.bin [0-9a-f]* AT89S52 0x[0-9A-F]* none watch$'
echo start >&3
wait_for '^tile [0-9/]+ verified AT89S52 700[0-9] ' 3
[ "$(grep -E '^tile [0-9/]+ verified' "$tmp/out" | awk '{print $5}' | sort -u | wc -l)" -eq 3 ] ||
    fail "watch: three distinct serials wanted: $(grep '^tile' "$tmp/out" | tr '\n' '|')"
sleep 1
grep -q '^tile 002/001 removed' "$tmp/out" && fail "watch: a result did not hold while the chip stayed"
operator 2 remove
wait_for '^tile 002/001 removed$'
wait_for '^tile 002/001 waiting for a chip$' 2
operator 2 insert AT89S2051
wait_for '^tile 002/001 failed AT89S2051 - .*Wrong Chip'
operator 2 remove
wait_for '^tile 002/001 removed$' 2
wait_for '^tile 002/001 waiting for a chip$' 3
operator 2 insert AT89S52
wait_for '^tile 002/001 verified AT89S52 7003 '
echo stop >&3
wait_for '^ended$'
[ "$(grep -c '"outcome":"verified"' "$tmp/line/wchips.json" 2>/dev/null)" = 4 ] || fail "watch: the log has not 4 verified chips"
echo close >&3
ended || fail "the watching bench ended with $rc"

[ "$failures" -eq 0 ] && echo "bench window: all cases passed"
exit $((failures > 0))
