#!/bin/sh
# Builds the NGF reader fuzzer into a scratch folder and runs it for a bounded
# time, starting from the committed seeds of both folders. Exits non-zero on
# any crash or sanitizer report.
#   run.sh SCRATCH_DIR [SECONDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:?usage: run.sh SCRATCH_DIR [SECONDS]}
secs=${2:-20}

mkdir -p "$out/corpus"
out=$(cd "$out" && pwd)
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/ngf_reader_fuzz.cpp" "$root/core/saves/ngf.cpp" "$root/core/saves/ngf_records.cpp" \
    "$root/core/saves/ngf_load.cpp" "$root/core/saves/block_plan.cpp" "$root/core/cart/blocks.cpp" \
    -o "$out/ngf_reader_fuzz"
cp "$here"/seeds/*.ngf "$here"/save-seeds/*.ngf "$out/corpus/"
cd "$out"
exec ./ngf_reader_fuzz -max_total_time="$secs" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$out/" corpus
