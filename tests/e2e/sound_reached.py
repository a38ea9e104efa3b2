#!/usr/bin/env python3
"""Checks that a device's recording holds every sample a movie should have
played, in order: RECORDED (raw 16-bit little-endian mono, as SDL's disk
driver writes it) must contain EXPECTED (raw samples or a 16-bit mono WAV
file) with nothing but silence (0 samples) put in between, before or after.

usage: sound_reached.py RECORDED EXPECTED
Prints what it found; exit 0 when all of EXPECTED was played, 1 if not.
"""
import struct
import sys


def samples(path):
    data = open(path, "rb").read()
    if data[:4] == b"RIFF" and data[8:12] == b"WAVE":
        at = 12
        while at + 8 <= len(data):
            kind, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
            if kind == b"data":
                data = data[at + 8:at + 8 + size]
                break
            at += 8 + size + (size & 1)
        else:
            sys.exit(f"{path}: a WAV file without samples")
    return struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    recorded, expected = samples(sys.argv[1]), samples(sys.argv[2])
    i = j = 0
    gaps = 0
    while i < len(expected) and j < len(recorded):
        if recorded[j] == expected[i]:
            i += 1
            j += 1
        elif recorded[j] == 0:
            j += 1
            gaps += 1
        else:
            break
    print(f"played {i} of {len(expected)} samples; {len(recorded)} recorded, "
          f"{gaps} silent samples in between")
    if i < len(expected):
        where = f"recorded sample {j} is {recorded[j]}" if j < len(recorded) else "the recording ends"
        print(f"expected sample {i} is {expected[i]}; {where}")
        sys.exit(1)


if __name__ == "__main__":
    main()
