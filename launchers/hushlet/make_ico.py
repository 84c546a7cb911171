#!/usr/bin/env python3
"""Writes a Windows .ico file with 32-bit images drawn from a simple description.

    make_ico.py OUT --color RRGGBB [--sizes 16,32] [--shape bubble|square]

"square" fills the whole image with the colour (the test icons, whose colour tells
them apart); "bubble" draws a speech bubble with a mute stroke (the Hushlet icon).
Each image is stored as a bottom-up BGRA bitmap with its AND mask, as Windows
expects in icon resources.
"""
import argparse
import struct


def bubble_pixel(x, y, size, rgb):
    # Coordinates in a 0..1 square, y growing downwards.
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    inside_body = ((u - 0.5) / 0.44) ** 2 + ((v - 0.42) / 0.34) ** 2 <= 1.0
    inside_tail = 0.22 <= u <= 0.42 and 0.66 <= v <= 0.92 and (u - 0.22) >= (v - 0.66) * 0.75
    if not (inside_body or inside_tail):
        return (0, 0, 0, 0)
    # A diagonal stroke across the bubble: the relay stays silent.
    if abs((u - 0.5) - (v - 0.42)) < 0.07 and abs(u - 0.5) < 0.28:
        return (255, 255, 255, 255)
    return (*rgb, 255)


def image(size, rgb, shape):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            row.append((*rgb, 255) if shape == "square" else bubble_pixel(x, y, size, rgb))
        rows.append(row)
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--color", required=True)
    parser.add_argument("--sizes", default="16,32")
    parser.add_argument("--shape", choices=("bubble", "square"), default="square")
    args = parser.parse_args()
    rgb = tuple(int(args.color[i:i + 2], 16) for i in (0, 2, 4))
    sizes = [int(s) for s in args.sizes.split(",")]
    images = [image(s, rgb, args.shape) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        data += img
    with open(args.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
