#!/usr/bin/env bash
# Runs a command on a display of its own (a fresh Xvfb), so that simulated keys and pointer moves
# reach only its windows and no other test's. Fails when no display can be started.
set -u
for _ in 1 2 3 4 5 6 7 8; do
    n=$((200 + RANDOM % 700))
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 100); do
        [ -S "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.05
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$server" 2>/dev/null; then
        DISPLAY=":$n" "$@"
        rc=$?
        kill "$server"
        wait "$server" 2>/dev/null
        exit "$rc"
    fi
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
done
echo "private-display: no virtual display could be started" >&2
exit 1
