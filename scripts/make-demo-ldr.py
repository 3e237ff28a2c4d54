#!/usr/bin/env python3
"""Writes a small firmware container for the demo and the Windows program's tests.

usage: make-demo-ldr.py OUTPUT [COMPUTATIONAL_BLOCKS]

Modules, in file order: the Blackfin loader (kind 3), the computational module (kind 1,
the one an update writes; 1 KiB blocks, 24 by default) and the peripheral module (kind 0).
The bytes are a fixed pseudo-random sequence, so every run writes the same file.
"""
import struct
import sys


def module(kind, version, base, count, size, seed):
    out = struct.pack('<HHII', kind, version, count, size)
    state = seed
    for i in range(count):
        data = bytearray()
        for _ in range(size):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            data.append(state >> 16 & 0xFF)
        out += struct.pack('<I', base + i * size) + bytes(data)
    return out


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    blocks = int(sys.argv[2]) if len(sys.argv) == 3 else 24
    content = struct.pack('<IH', 0x52444C23, 0x0100)
    content += module(3, 0x0104, 0x000000, 2, 256, 3)
    content += module(1, 0x0102, 0x100000, blocks, 1024, 1)
    content += module(0, 0x010A, 0x200000, 4, 256, 7)
    with open(sys.argv[1], 'wb') as f:
        f.write(content)


if __name__ == '__main__':
    main()
