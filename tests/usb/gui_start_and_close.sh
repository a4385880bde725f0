#!/bin/sh
# The production executable, unchanged, on the emulated linker: it asks for
# the firmware version and probes the cartridge at start-up, and sends the
# LED setting 2 when its window is closed (Escape; no window manager runs).
#   gui_start_and_close.sh USB_LAUNCHER POCKETTETHERBOX
set -u
launcher=$1
program=$2
command -v xdotool > /dev/null || { echo "FAIL: xdotool is needed to close the window"; exit 1; }
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-noreset" sh "$0" "$@"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trace=$work/trace

fail() {
    echo "FAIL: $*"
    echo "--- transfers the device saw:"
    cut -c1-100 "$trace"
    echo "--- program output:"
    cat "$work/out"
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    exit 1
}

# Polls (every 50 ms, for at most $1 tenths of a second) until $2 succeeds.
# The count is local: `closed` below polls inside a poll, and a shared count
# let the inner one use up the outer one's, so one lost key press failed the
# whole wait after half a second.
within() {
    local tries=$(($1 * 2))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.05
    done
}

transfers() { grep -c ' ep 0x' "$trace" 2>/dev/null || echo 0; }
window() { wid=$(xdotool search --onlyvisible --name '^PocketTetherbox$' 2>/dev/null | head -n 1); [ -n "$wid" ]; }
started() { window && [ "$(transfers)" -ge 70 ]; }
exited() { ! kill -0 "$pid" 2>/dev/null; }

: > "$trace"
"$launcher" --fresh --cart flash4 --trace "$trace" -- "$program" > "$work/out" 2>&1 &
pid=$!

# Version check (2 transfers), then the probe of a one-chip cartridge and
# its name (68).
within 200 started || fail "no window, or the start-up probe did not finish"
sleep 0.2
[ "$(transfers)" -eq 70 ] || fail "transfers while the window sat idle"

has() { grep -qE "^#[0-9]+ $1" "$trace" || fail "the device never saw: $2"; }
has 'OUT ep 0x02 len 64 result 0: 00 ' "the version request"
has 'IN  ep 0x81 len 64 result 0: 00 00 0D ' "the v0.13 reply"
has 'OUT ep 0x02 len 64 result 0: 02 00 55 55 90 00 ' "chip 0 put into identify mode"
has 'OUT ep 0x02 len 64 result 0: 01 00 00 2F ' "the last byte of the ROM name read"

# A key sent before the window has the focus can be lost on a loaded
# machine: press Escape again until the program has gone, for 10 s at most.
closed() { xdotool key --window "$wid" Escape 2>/dev/null; within 5 exited; }
within 20 closed || fail "still running 10 s after its window was closed"
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "exit status $status"

[ "$(transfers)" -eq 72 ] || fail "expected exactly one exchange at shut-down"
tail -n 2 "$trace" | head -n 1 | grep -qE 'OUT ep 0x02 len 64 result 0: 09( [0-9A-F]{2}){3} 02 ' ||
    fail "the LED setting 2 was not the last command"
tail -n 1 "$trace" | grep -qE 'IN  ep 0x81 len 64 result 0: 11 ' || fail "the LED command was not acknowledged"
echo "PASS: version request, cartridge probe and LED setting 2 seen"
