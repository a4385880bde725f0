#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: a few small, valid NGF files."""
import os
import struct
import sys


def ngf(records, trailing=b""):
    body = b"".join(struct.pack("<II", addr, len(data)) + data for addr, data in records)
    return struct.pack("<HHI", 0x53, len(records), 8 + len(body)) + body + trailing


def pattern(n, start=0):
    return bytes((start + i) & 0xFF for i in range(n))


SEEDS = {
    "empty.ngf": ngf([]),
    "one-record.ngf": ngf([(0x3FA000, pattern(64))]),
    "two-chips.ngf": ngf([(0x3FA000, pattern(32)), (0x9FA000, pattern(32, 7))]),
    "odd-length.ngf": ngf([(0x200000, pattern(40))]),
    "same-block.ngf": ngf([(0x3FA000, pattern(32)), (0x3FA020, pattern(32, 3))]),
    "trailing-bytes.ngf": ngf([(0x800000, pattern(32))], trailing=b"\xAA" * 100),
}

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds")
os.makedirs(out, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
