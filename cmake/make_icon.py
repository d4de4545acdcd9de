#!/usr/bin/env python3
"""Draws the program icon, a rune on a shield, as a Windows .ico file.

make_icon.py OUT.ico BITS SIZE [SIZE ...]   (BITS: 4 for 16 colours, 8 for 256)
"""
import struct
import sys

PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
             (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
             (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette(bits):
    if bits == 4:
        return PALETTE16
    colours = list(PALETTE16)
    # A ramp of deep blues to gold for the 256-colour images.
    for i in range(240):
        t = i / 239.0
        colours.append((int(20 + 215 * t), int(30 + 170 * t), int(90 - 60 * t)))
    return colours


def pixel(x, y, size, bits):
    """Colour index of pixel (x, y), y from the top; None for transparent."""
    u = (x + 0.5) / size * 2 - 1
    v = (y + 0.5) / size * 2 - 1
    # Shield: a rounded top and a point at the bottom.
    inside = abs(u) < 0.85 - max(0.0, v) * 0.75 and v > -0.85
    if not inside:
        return None
    # The rune: a vertical stave with two branches.
    stave = abs(u) < 0.09 and -0.6 < v < 0.6
    branch = abs((u - 0.0) - (-(v + 0.55) * 0.7)) < 0.09 and -0.55 < v < -0.05 and u <= 0.45
    branch2 = abs(u - (v + 0.05) * 0.7) < 0.09 and -0.05 < v < 0.45 and u >= 0
    rune = stave or branch or branch2
    edge = abs(u) > 0.72 - max(0.0, v) * 0.75 or v < -0.72
    if bits == 4:
        return 11 if rune else (7 if edge else 4)
    if rune:
        return 16 + 239
    if edge:
        return 16 + 160
    return 16 + int(40 * (1 - (v + 1) / 2))


def image(size, bits):
    colours = palette(bits)
    ncol = 1 << bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, ncol, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in colours[:ncol])
    pal += b'\0' * (4 * ncol - len(pal))
    xor_rows, and_rows = [], []
    for row in range(size - 1, -1, -1):  # bottom-up
        idx = [pixel(x, row, size, bits) for x in range(size)]
        if bits == 4:
            nib = [(i or 0) for i in idx]
            data = bytes((nib[i] << 4) | nib[i + 1] for i in range(0, size, 2))
        else:
            data = bytes((i or 0) for i in idx)
        data += b'\0' * ((-len(data)) % 4)
        xor_rows.append(data)
        mask = 0
        bits_row = bytearray()
        for x in range(size):
            mask = (mask << 1) | (1 if idx[x] is None else 0)
            if x % 8 == 7:
                bits_row.append(mask)
                mask = 0
        bits_row += b'\0' * ((-len(bits_row)) % 4)
        and_rows.append(bytes(bits_row))
    return header + pal + b''.join(xor_rows) + b''.join(and_rows)


def main(argv):
    out, bits, sizes = argv[1], int(argv[2]), [int(s) for s in argv[3:]]
    images = [image(s, bits) for s in sizes]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        ncol = 0 if bits == 8 else (1 << bits)
        data += struct.pack('<BBBBHHII', s % 256, s % 256, ncol, 0, 1, bits, len(img), offset)
        offset += len(img)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv)
