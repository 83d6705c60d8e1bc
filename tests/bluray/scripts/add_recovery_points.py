#!/usr/bin/env python3
"""add_recovery_points.py IN.264 OUT.264

Writes IN (an H.264 Annex B stream whose base-view access units open with
type-9 delimiters, as the JM encoder writes them with SendAUD) with a recovery
point SEI (recovery_frame_cnt 0, exact match) after the delimiter of every
access unit whose base-view picture is a non-IDR I picture: what a Blu-ray
encoder marks an open GOP's I picture with, and the JM encoder does not.
Only right for streams whose pictures after such an I picture refer to
nothing before it (the JM encoder's EnableOpenGOP streams, checked by
decoding from there)."""
import sys

SEI = b"\x00\x00\x00\x01\x06\x06\x01\xc4\x80"  # payload 6, size 1: ue(0), 1, 0, 00, then stop bit


def units(data):
    """(start, header) of each NAL unit: start code offset, header byte offset."""
    found, at = [], 0
    while True:
        i = data.find(b"\x00\x00\x01", at)
        if i < 0:
            return found
        found.append((i - 1 if i > 0 and data[i - 1] == 0 else i, i + 3))
        at = i + 3


def first_two_ue(payload):
    bits = "".join(f"{b:08b}" for b in payload[:8])
    values, at = [], 0
    for _ in range(2):
        zeros = 0
        while bits[at] == "0":
            zeros, at = zeros + 1, at + 1
        values.append(int(bits[at:at + zeros + 1], 2) - 1)
        at += zeros + 1
    return values


def main():
    data = open(sys.argv[1], "rb").read()
    nal = units(data)
    out, last, delimiter_end = bytearray(), 0, None
    for k, (start, header) in enumerate(nal):
        kind = data[header] & 0x1F
        if kind == 9:
            delimiter_end = nal[k + 1][0] if k + 1 < len(nal) else len(data)
        elif kind == 1 and delimiter_end is not None:
            if first_two_ue(data[header + 1:])[1] % 5 == 2:
                out += data[last:delimiter_end] + SEI
                last = delimiter_end
            delimiter_end = None
        elif kind == 5:
            delimiter_end = None
    out += data[last:]
    open(sys.argv[2], "wb").write(out)


main()
