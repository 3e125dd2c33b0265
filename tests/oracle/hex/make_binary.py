#!/usr/bin/env python3
"""Writes a binary of random bytes.

make_binary.py <out> <size> <seed> [<blank offset> <blank length>]
The optional range is filled with 0xFF, as an erased stretch of flash.
"""
import random
import sys

out, size, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = bytearray(random.Random(seed).randbytes(size))
if len(sys.argv) > 5:
    start, length = int(sys.argv[4], 0), int(sys.argv[5], 0)
    data[start:start + length] = b"\xff" * length
with open(out, "wb") as f:
    f.write(data)
