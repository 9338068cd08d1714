#!/usr/bin/env bash
# Takes the screenshots in this folder from the real program on the simulated programmer, under
# Xvfb with openbox (Debian packages xvfb, openbox, xdotool, imagemagick): the light theme, the dark
# theme (GTK_THEME=Adwaita:dark), 2x scaling (GDK_SCALE=2), and the burn dialog mid-burn; then under
# Wayland (package weston, nested in an Xvfb of its own): the load message and the burn dialog over
# the main window.
# Usage: doc/screenshots/make-screenshots.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(cd "$here/../.." && pwd)"
build="${1:-$top/build}"
tmp="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# A firmware image with some blank rows, so that the grey FF shows beside the bytes.
python3 - "$tmp/blink.hex" <<'PY'
import sys
rows = []
for a in range(0, 0x300, 16):
    data = [0xFF] * 16 if 0x80 <= a < 0xC0 else [(a * 7 + k * 13) & 0xFF for k in range(16)]
    rec = [16, a >> 8, a & 0xFF, 0] + data
    rows.append(":" + "".join("%02X" % b for b in rec) + "%02X" % ((-sum(rec)) & 0xFF))
open(sys.argv[1], "w").write("\n".join(rows + [":00000001FF"]) + "\n")
PY

# shot NAME ENV... : starts the program with the file, dismisses the load message, takes the screen.
shot() {
    local name=$1
    shift
    (cd "$top/res" && env XDG_CONFIG_HOME="$tmp/config" VELTRO_TEST_HOLD_MS=0 "$@" \
        "$build/sim/veltro51-sim" --chip AT89S52 --delay 8 -- "$build/ui/veltro51" -Embedding "$tmp/blink.hex" \
        >/dev/null 2>&1) &
    pid=$!
    sleep 4
    xdotool key Return || true # "HEX file loaded successfully"
    sleep 1
    import -window root "$here/$name.png"
}

for variant in "light" "dark GTK_THEME=Adwaita:dark" "scaled-2x GDK_SCALE=2"; do
    read -r name settings <<<"$variant"
    # shellcheck disable=SC2086
    shot "$name" $settings
    if [ "$name" = light ] || [ "$name" = dark ]; then
        # The burn dialog mid-burn: Write Device (">"), a few seconds in.
        xdotool type '>' || true
        sleep 4
        import -window root "$here/burn-$name.png"
        sleep 1
    fi
    # This run's program goes with its window.
    for w in $(xdotool search --name "Veltro 51" 2>/dev/null || true); do
        xdotool windowkill "$w" 2>/dev/null || true
    done
    wait "$pid" 2>/dev/null || true
    sleep 1
done
# Wayland: Weston on its X11 backend inside a second Xvfb; the program speaks Wayland only (no
# DISPLAY), and the keys reach it through Weston's window.
mkdir -m 700 "$tmp/run"
Xvfb :78 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
DISPLAY=:78 XDG_RUNTIME_DIR="$tmp/run" weston --backend=x11-backend.so --width=1200 --height=860 \
    --socket=wayland-veltro --idle-time=0 >/dev/null 2>&1 &
pids+=($!)
sleep 3
(cd "$top/res" && env -u DISPLAY GDK_BACKEND=wayland WAYLAND_DISPLAY=wayland-veltro XDG_RUNTIME_DIR="$tmp/run" \
    XDG_CONFIG_HOME="$tmp/config" VELTRO_TEST_HOLD_MS=0 \
    "$build/sim/veltro51-sim" --chip AT89S52 --delay 8 -- "$build/ui/veltro51" -Embedding "$tmp/blink.hex" \
    >/dev/null 2>&1) &
pid=$!
pids+=($pid)
sleep 5
DISPLAY=:78 import -window root "$here/wayland.png"
DISPLAY=:78 xdotool key Return || true
sleep 1
DISPLAY=:78 xdotool type '>' || true
sleep 4
DISPLAY=:78 import -window root "$here/burn-wayland.png"
echo "screenshots written to $here"
