#!/usr/bin/env bash
# Starts the real program (build/ui/veltro51) from the folder of the help pages and sees its main
# window on the display: caption, position and size; and an orderly exit that stores the chip.
# Usage: program-test.sh PROGRAM HELP_FOLDER
set -u
program="$1"
cd "$2" || exit 1
tmp="$(mktemp -d)"
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
command -v xwininfo >/dev/null || { echo "FAIL: xwininfo (x11-utils) is missing"; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no display"; exit 1; }

# The program closes itself after its first paint: the view's destruction stores the chip.
mkdir -p "$tmp/Mardane"
printf '[State]\nSelectedChip=3\n' >"$tmp/Mardane/Veltro 51.conf"
XDG_CONFIG_HOME="$tmp" VELTRO_TEST_HOLD_MS=0 VELTRO_TEST_REPORT_SHOWN=exit timeout 60 "$program" /Embedding \
    >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" -eq 0 ] || fail "orderly run ended with $rc: $(cat "$tmp/err")"
[ "$(cat "$tmp/out")" = "shown" ] || fail "orderly run printed '$(cat "$tmp/out")'"
grep -qx 'SelectedChip=3' "$tmp/Mardane/Veltro 51.conf" || fail "the chip selection was not kept"

# Settings that are no settings file these programs can read: a FIFO without a writer (it held the
# start-up for ever) and a file this user may not read (replaced at exit by one that kept only the
# chip). Each run ends in order and leaves the file as it was. Root reads any file: its
# capabilities are dropped for that run.
conf="$tmp/Mardane/Veltro 51.conf"
unprivileged=()
[ "$(id -u)" -eq 0 ] && unprivileged=(setpriv --bounding-set=-all --inh-caps=-all --)
rm -f "$conf"
mkfifo "$conf"
XDG_CONFIG_HOME="$tmp" VELTRO_TEST_HOLD_MS=0 VELTRO_TEST_REPORT_SHOWN=exit timeout 60 "$program" /Embedding \
    >"$tmp/out3" 2>"$tmp/err3"
rc=$?
[ "$rc" -eq 0 ] || fail "with a FIFO for settings the run ended with $rc: $(cat "$tmp/err3")"
[ -p "$conf" ] || fail "the FIFO in place of the settings was replaced"
rm -f "$conf"
printf '[State]\nSelectedChip=3\n[Recent File List]\nFile1=/tmp/a.hex\n' >"$conf"
chmod 0200 "$conf"
XDG_CONFIG_HOME="$tmp" VELTRO_TEST_HOLD_MS=0 VELTRO_TEST_REPORT_SHOWN=exit timeout 60 "${unprivileged[@]}" \
    "$program" /Embedding >"$tmp/out4" 2>"$tmp/err4"
rc=$?
[ "$rc" -eq 0 ] || fail "with unreadable settings the run ended with $rc: $(cat "$tmp/err4")"
[ "$(stat -c %a "$conf")" = 200 ] || fail "the unreadable settings were replaced"
chmod 0600 "$conf"
[ "$(cat "$conf")" = "$(printf '[State]\nSelectedChip=3\n[Recent File List]\nFile1=/tmp/a.hex')" ] ||
    fail "the unreadable settings lost lines: $(cat "$conf")"

# The main window as the display sees it.
XDG_CONFIG_HOME="$tmp" VELTRO_TEST_HOLD_MS=0 "$program" >"$tmp/out2" 2>"$tmp/err2" &
pid=$!
# The X window exists, captioned, before it is mapped at its place (a slow build shows it at 0,0
# for a moment): wait for the place, and judge the last state seen.
line=""
for _ in $(seq 200); do
    line="$(xwininfo -root -tree 2>/dev/null | grep '"Untitled - Veltro 51"')"
    case "$line" in *" 640x480+64+64 "*) break ;; esac
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$line" ]; then
    fail "no window captioned 'Untitled - Veltro 51': $(cat "$tmp/err2")"
else
    echo "$line"
    case "$line" in
        *" 640x480+64+64 "*) ;;
        *) fail "the main window is not 640x480 at (64, 64)" ;;
    esac
fi
[ -s "$tmp/err2" ] && fail "the program wrote to stderr: $(cat "$tmp/err2")"
# Under a file-size limit a save must fail with its message, not end the program: SIGXFSZ is ignored.
sigign="$(awk '/^SigIgn:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)"
[ -n "$sigign" ] && (((16#$sigign >> 24) & 1)) || fail "SIGXFSZ is not ignored (SigIgn ${sigign:-unknown})"

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ "$failures" -eq 0 ]
