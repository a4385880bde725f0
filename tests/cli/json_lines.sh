#!/bin/sh
# --json as a script reads it: standard output holds JSON Lines only, each
# object valid against the documented schema, whatever the job's outcome.
#   json_lines.sh POCKETTETHERBOX_CLI_SIM SCHEMA
set -u
cli=$1 schema=$2
check=$(dirname "$0")/json_lines_check.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" PTB_DAT_DIR="$work/dat"
mkdir -p "$work/dat" "$work/out"

# runs STATUS LINES COMMAND...: the status, and stdout checked as JSON Lines.
runs() {
    want=$1 lines=$2
    shift 2
    "$@" > "$work/json" 2> "$work/log"
    status=$?
    [ "$status" -eq "$want" ] || { echo "FAIL: $*: status $status, expected $want"; cat "$work/log"; exit 1; }
    python3 "$check" "$schema" "$work/json" "$lines" || { echo "  from: $*"; exit 1; }
}

runs 0 1 "$cli" backup --json "$work/out/"
runs 1 1 "$cli" identify --json "$work/out/SIM OFFICIAL.ngp"  # no lists: not known
crc=$(python3 -c "import sys,zlib;print('%08x'%zlib.crc32(open(sys.argv[1],'rb').read()))" "$work/out/SIM OFFICIAL.ngp")
printf '<datafile><header><name>L</name><version>1</version></header><game name="G"><rom name="G.ngc" size="2097152" crc="%s" status="verified" serial="1234"/></game><game name="B"><rom name="B.ngc" size="4" crc="%s" status="baddump"/></game></datafile>' \
    "$crc" "$crc" > "$work/dat/l.dat"
head -c 1000 /dev/urandom > "$work/random.bin"
runs 2 3 "$cli" identify --json "$work/out/SIM OFFICIAL.ngp" "$work/random.bin" "$work/missing.ngp"
runs 0 1 "$cli" verify --json "$work/out/SIM OFFICIAL.ngp"
runs 0 1 "$cli" backup --json --report "$work/out/"
[ -f "$work/out/G.ngc.txt" ] || { echo "FAIL: no report beside the dump named after its entry"; exit 1; }
PTB_SIM_CART=none runs 1 1 "$cli" backup --json "$work/out/"
PTB_SIM_CART=cindercart runs 1 1 "$cli" flash --json "$work/random.bin"
grep -q '"verdict":"known"' "$work/json" && { echo "FAIL: a refused flash claimed a verdict"; exit 1; }
echo "PASS: JSON Lines on standard output, valid against the schema, for every outcome"
