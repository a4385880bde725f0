#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: a few small, valid NGF files (seeds/),
and files as Write Savegame meets them, in both record layouts and holding
real records (save-seeds/)."""
import os
import struct
import sys


def ngf(records, trailing=b""):
    body = b"".join(struct.pack("<II", addr, len(data)) + data for addr, data in records)
    return struct.pack("<HHI", 0x53, len(records), 8 + len(body)) + body + trailing


def short_layout(records):
    """Record headers of a u32 address, a u16 length and two padding bytes."""
    body = b"".join(struct.pack("<IHH", addr, len(data), pad) + data for addr, data, pad in records)
    return struct.pack("<HHI", 0x53, len(records), 8 + len(body)) + body


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

SAVE_SEEDS = {
    "whole-block.ngf": ngf([(0x3FA000, pattern(0x2000))]),
    "spanning-and-chip1.ngf": ngf([(0x3F7F00, pattern(0x200, 1)), (0x8FA000, pattern(0x2000, 2))]),
    "short-padded.ngf": short_layout([(0x3FA100, pattern(0x200, 3), 0xBEEF), (0x9FA000, pattern(0x100, 4), 1)]),
    "short-many.ngf": short_layout([(0x3FA000 + 0x100 * i, pattern(0x100, i), i) for i in range(40)]),
}

here = os.path.dirname(__file__)
for folder, seeds in (("seeds", SEEDS), ("save-seeds", SAVE_SEEDS)):
    out = os.path.join(sys.argv[1], folder) if len(sys.argv) > 1 else os.path.join(here, folder)
    os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
