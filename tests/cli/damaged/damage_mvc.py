#!/usr/bin/env python3
"""Damaged copies of a Blu-ray 3D clip's dependent view (PID 0x1012).

    damage_mvc.py SOURCE.m2ts OUT.m2ts cut     the view stops at 40 %: its later
                                               packets become null packets
    damage_mvc.py SOURCE.m2ts OUT.m2ts flip    five bits flipped in the view's
                                               payload (seed 29), past its first fifth

The container, the base view and the sound are left as they are.
"""
import random
import sys

PACKET = 192  # 4-byte arrival time stamp + 188-byte transport packet
VIEW_PID = 0x1012
NULL_PID = 0x1FFF


def pid(data, at):
    return ((data[at + 5] & 0x1F) << 8) | data[at + 6]


def main():
    source, output, mode = sys.argv[1:4]
    data = bytearray(open(source, "rb").read())
    packets = [at for at in range(0, len(data) - PACKET + 1, PACKET) if pid(data, at) == VIEW_PID]
    if mode == "cut":
        for at in packets[int(len(packets) * 0.4):]:
            data[at + 5] = (data[at + 5] & 0xE0) | (NULL_PID >> 8)
            data[at + 6] = NULL_PID & 0xFF
    elif mode == "flip":
        rng = random.Random(29)
        for at in rng.sample(packets[len(packets) // 5:], 5):
            offset = at + 4 + 4 + rng.randrange(188 - 4)  # past the 4-byte transport header
            data[offset] ^= 1 << rng.randrange(8)
    else:
        sys.exit("mode must be cut or flip")
    open(output, "wb").write(data)


if __name__ == "__main__":
    main()
