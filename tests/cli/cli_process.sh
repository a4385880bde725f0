#!/bin/sh
# The command line as a script meets it: a process of its own, both streams
# into a pipe (so no bar), the exit status the verdict; the production build
# through the real libusb on the emulated linker.
#   cli_process.sh POCKETTETHERBOX_CLI_SIM USB_LAUNCHER POCKETTETHERBOX_CLI
set -u
sim=$1 launcher=$2 real=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the command into a pipe and checks its status ($1) and that no bar came.
expect() {
    want=$1
    shift
    { "$@" 2>&1; echo $? > "$work/status"; } | cat > "$work/out"
    status=$(cat "$work/status")
    [ "$status" -eq "$want" ] || { echo "FAIL: $*: status $status, expected $want"; cat "$work/out"; exit 1; }
    [ "$(tr -d '\r\033' < "$work/out" | wc -c)" -eq "$(wc -c < "$work/out")" ] ||
        { echo "FAIL: $*: a bar was drawn into a pipe"; exit 1; }
}

for program in "$sim" "$real"; do
    ! ldd "$program" | grep -q fltk || { echo "FAIL: $program links the toolkit"; exit 1; }
done
PTB_SIM_CART=flash4 expect 0 "$sim" backup "$work/cart.ngp"
grep -qx 'Backup done. Wrote 524288 bytes.' "$work/out" || { echo "FAIL: no done line"; exit 1; }
# A reader that leaves early must not kill the job half-way.
{ PTB_SIM_CART=flash4 "$sim" backup "$work/early.ngp" 2>&1; echo $? > "$work/status"; } | head -c 0
[ "$(cat "$work/status")" -eq 0 ] && [ "$(wc -c < "$work/early.ngp")" -eq 524288 ] ||
    { echo "FAIL: a closed pipe stopped the backup"; exit 1; }
PTB_SIM_FAULT=nodevice expect 3 "$sim" info
PTB_SIM_CART=nonesuch expect 3 "$sim" info
expect 2 "$sim" read-byte 12ab
expect 0 "$launcher" --fresh --cart flash4 -- "$real" info
rm -f "$work/cart.ngp"
expect 3 "$launcher" --fresh --cart flash4 --fault unplug@100 -- "$real" backup "$work/cart.ngp"
[ ! -e "$work/cart.ngp" ] || { echo "FAIL: the partial backup was left behind"; exit 1; }
# --wait through the real libusb: the linker is plugged in once the program
# says it waits, as udev tells it.
mkfifo "$work/said"
expect 0 "$launcher" --fresh --cart flash4 --fault nodevice -- sh -c '
    "$1" info --wait 2> "$2" &
    while IFS= read -r line; do
        printf "%s\n" "$line"
        [ "$line" != "Waiting for the linker: plug it in." ] || "$0" --send plug > /dev/null || exit 1
    done < "$2"
    wait $!' "$launcher" "$real" "$work/said"
grep -qx 'Waiting for the linker: plug it in.' "$work/out" || { echo "FAIL: no waiting line"; exit 1; }
grep -qx 'Linker with v0.13 Firmware found' "$work/out" || { echo "FAIL: the linker plugged in was not greeted"; exit 1; }
expect 3 "$launcher" --fresh --cart flash4 --fault nodevice -- "$real" info --wait=0
# TERM (sent twice, as `timeout` does to the process and its group) and HUP
# cancel a backup under way: the partial file goes, the status names the signal.
for sig in TERM:15 HUP:1; do
    number=${sig#*:} sig=${sig%:*}
    mkdir "$work/sig"
    # Paced, so that the backup is still under way when its first line is read.
    rm -f "$work/lines" && mkfifo "$work/lines" && : > "$work/out"
    PTB_SIM_CART=official16 PTB_SIM_PACE=1 "$sim" backup "$work/sig/cart.ngp" > "$work/lines" 2>&1 &
    pid=$!
    sent=no
    while IFS= read -r line; do
        printf '%s\n' "$line" >> "$work/out"
        case $line in "Backing up ROM to "*)
            kill -$sig $pid
            [ $sig = HUP ] || kill -$sig $pid
            sent=yes ;;
        esac
    done < "$work/lines"
    wait $pid
    status=$?
    want=$((128 + number))
    [ $sent = yes ] || { echo "FAIL: the backup never started"; cat "$work/out"; exit 1; }
    [ $status -eq $want ] || { echo "FAIL: SIG$sig: status $status, expected $want"; cat "$work/out"; exit 1; }
    [ -z "$(ls -A "$work/sig")" ] || { echo "FAIL: SIG$sig left $(ls -A "$work/sig")"; exit 1; }
    rm -r "$work/sig"
done
echo "PASS: statuses 0, 2, 3, 143 and 129 from processes of their own, no bar in a pipe, no toolkit linked, --wait"
