#!/bin/sh
# The command line as a script meets it: a process of its own, its output
# into a pipe (so no bar is drawn), its exit status the verdict. The -sim
# build reads PTB_SIM_*; the production build runs on the emulated linker
# through the real libusb.
#   cli_process.sh POCKETTETHERBOX_CLI_SIM USB_LAUNCHER POCKETTETHERBOX_CLI
set -u
sim=$1
launcher=$2
real=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    echo "--- output:"
    cat "$work/out"
    exit 1
}

# Runs the command with both streams into one pipe; its status in $status.
piped() {
    { "$@" 2>&1; echo $? > "$work/status"; } | cat > "$work/out"
    status=$(cat "$work/status")
}

expect() {
    [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1"
    [ "$(tr -d '\r\033' < "$work/out" | wc -c)" -eq "$(wc -c < "$work/out")" ] ||
        fail "$2: a bar was drawn into a pipe"
}

for program in "$sim" "$real"; do
    ldd "$program" | grep -q fltk && fail "$program links the toolkit"
done

PTB_SIM_CART=flash4 piped "$sim" backup "$work/cart.ngp"
expect 0 "backup"
grep -qx 'Backup done. Wrote 524288 bytes.' "$work/out" || fail "backup: no done line"
[ "$(wc -c < "$work/cart.ngp")" -eq 524288 ] || fail "backup: the image is not 512 KiB"

# Flash a homebrew image, then verify it in a second run on the same
# cartridge, kept in a state file between the two.
head -c 524288 /dev/urandom > "$work/homebrew.ngp"
export PTB_SIM_STATE="$work/cart.state"
PTB_SIM_CART=flash4 piped "$sim" flash "$work/homebrew.ngp"
expect 0 "flash"
grep -qx 'Flashing done.' "$work/out" || fail "flash: no done line"
piped "$sim" verify "$work/homebrew.ngp"
expect 0 "verify after flashing"
unset PTB_SIM_STATE

PTB_SIM_FAULT=nodevice piped "$sim" info
expect 3 "no linker"
PTB_SIM_FIRMWARE=0.12 piped "$sim" info
expect 3 "firmware v0.12"
PTB_SIM_CART=nonesuch piped "$sim" info
expect 3 "a mistyped simulator setting"
piped "$sim" read-byte 12ab
expect 2 "a bad number"

# The production build on the emulated linker, through the real libusb.
piped "$launcher" --fresh --cart flash4 -- "$real" info
expect 0 "info on the emulated linker"
grep -qx '4mbit cart detected.' "$work/out" || fail "info: no size line"
rm -f "$work/cart.ngp"
piped "$launcher" --fresh --cart flash4 --fault unplug@100 -- "$real" backup "$work/cart.ngp"
expect 3 "the linker pulled mid-backup"
[ ! -e "$work/cart.ngp" ] || fail "the partial backup was left behind"
piped "$real" --version
expect 0 "--version"
echo "PASS: statuses 0, 2 and 3 in processes of their own, no bar in a pipe, no toolkit linked"
