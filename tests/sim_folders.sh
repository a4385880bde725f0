#!/bin/sh
# Trying the tool on the simulated linker leaves the user's own saves, log and
# preferences alone: the -sim programs keep theirs in folders of their own.
#   sim_folders.sh POCKETTETHERBOX_CLI_SIM POCKETTETHERBOX_SIM
set -u
cli=$1 gui=$2
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-noreset" sh "$0" "$@"

home=$(mktemp -d)
trap 'rm -rf "$home"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null' EXIT
fail() { echo "FAIL: $*"; [ -f "$home/out" ] && cat "$home/out"; exit 1; }
export HOME="$home" PTB_SIM_CART=official16 PTB_SIM_STATE="$home/cart.state"
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME PTB_DAT_DIR

"$cli" save-backup "$home/game.ngf" >"$home/out" 2>&1 || fail "save-backup"
"$cli" save-write "$home/game.ngf" >"$home/out" 2>&1 || fail "save-write"
"$cli" saves list >"$home/out" 2>&1 || fail "saves list"
grep -q "^$home/.local/share/pockettetherbox-sim/saves/.*	copy$" "$home/out" || fail "no safety copy in the simulator's vault"
grep -q "^$home/game.ngf	.*	backup$" "$home/out" || fail "the backup is not in the simulator's vault"
grep -q " \[save-write\] " "$home/.local/state/pockettetherbox-sim/pockettetherbox.log" ||
    fail "the simulator's log file has no save-write lines"

# The window: its start-up lines go to the simulator's log file too.
"$gui" >"$home/out" 2>&1 &
pid=$!
tries=200
until grep -q " \[Start-up\] .*Firmware found" "$home/.local/state/pockettetherbox-sim/pockettetherbox.log"; do
    kill -0 "$pid" 2>/dev/null || fail "the window program ended at start-up"
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "no start-up lines in the simulator's log file"
    sleep 0.05
done
kill "$pid"
wait "$pid" 2>/dev/null
pid=

for real in .local/share/pockettetherbox .local/state/pockettetherbox .fltk/pockettetherbox; do
    [ ! -e "$home/$real" ] || fail "a simulated run wrote into ~/$real: $(find "$home/$real" | head -n 5)"
done
echo "ok: the simulated programs kept to their own folders"
