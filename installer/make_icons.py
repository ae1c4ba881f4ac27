#!/usr/bin/env python3
"""Writes the two class icons of LanFeedInstaller (32x32 and 16x16, 32-bit
BGRA with an all-opaque AND mask): a blue tile with a white arrow pointing
down onto a bar, "feed into the device". Run once; the .ico files are kept."""
import struct
import sys
from pathlib import Path


def pixel(x, y, size):
    """BGRA of pixel (x, y), y counted from the top."""
    u, v = x / size, y / size
    inside_tile = 0.06 <= u <= 0.94 and 0.06 <= v <= 0.94
    if not inside_tile:
        return (0, 0, 0, 0)
    shaft = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.52
    head = 0.52 <= v <= 0.72 and abs(u - 0.5) <= (0.72 - v) * 1.1
    bar = 0.78 <= v <= 0.86 and 0.22 <= u <= 0.78
    if shaft or head or bar:
        return (255, 255, 255, 255)
    return (0xC8, 0x6E, 0x1E, 255)  # blue as BGR


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def icon(size):
    data = image(size)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), 6 + 16)
    return directory + entry + data


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    (folder / "LanFeedInstaller.ico").write_bytes(icon(32))
    (folder / "small.ico").write_bytes(icon(16))


if __name__ == "__main__":
    main()
