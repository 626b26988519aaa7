#!/usr/bin/env python3
"""Makes the executable's icon (an .ico with 16, 32, 48 and 64 pixel images) from the window icon PNG.

    scripts/windows/make-icon.py packaging/favicon.png packaging/windows/sanvero-connector.ico

The .ico is committed, so a Windows build needs no Python; the Windows lane remakes it and compares.
Plain Python on purpose: it reads any non-interlaced 8- or 16-bit RGB(A), grey(+alpha) PNG and writes
classic 32-bit BGRA entries, which every Windows version, windres and Qt's ico plugin read.
"""
import struct
import sys
import zlib

CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}  # PNG colour type -> samples per pixel


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if colour not in CHANNELS or depth not in (8, 16) or interlace:
        sys.exit(f"{path}: colour type {colour}, depth {depth}, interlace {interlace} not handled")
    samples = CHANNELS[colour]
    step = samples * depth // 8  # bytes per pixel, the filters' distance
    stride = width * step
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up, corner = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append(line)
        previous = line
    pixels = []  # rows of (r, g, b, a), 8 bits each
    for line in rows:
        values = line[::2] if depth == 16 else line  # the high byte of a 16-bit sample
        row = []
        for x in range(width):
            v = values[x * samples:(x + 1) * samples]
            if samples == 1:
                row.append((v[0], v[0], v[0], 255))
            elif samples == 2:
                row.append((v[0], v[0], v[0], v[1]))
            elif samples == 3:
                row.append((v[0], v[1], v[2], 255))
            else:
                row.append(tuple(v))
        pixels.append(row)
    return pixels


def scaled(pixels, size):
    """Box filter with alpha-weighted colour, so transparent edges do not darken."""
    height, width = len(pixels), len(pixels[0])
    out = []
    for y in range(size):
        row = []
        y0, y1 = y * height // size, max((y + 1) * height // size, y * height // size + 1)
        for x in range(size):
            x0, x1 = x * width // size, max((x + 1) * width // size, x * width // size + 1)
            r = g = b = a = n = 0
            for yy in range(y0, y1):
                for xx in range(x0, x1):
                    pr, pg, pb, pa = pixels[yy][xx]
                    r, g, b, a, n = r + pr * pa, g + pg * pa, b + pb * pa, a + pa, n + 1
            row.append((r // a, g // a, b // a, a // n) if a else (0, 0, 0, 0))
        out.append(row)
    return out


def dib(pixels):
    """An icon image: BITMAPINFOHEADER of double height, BGRA rows bottom-up, an all-zero AND mask."""
    size = len(pixels)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    body = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    return header + body + bytes(mask_stride * size)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-icon.py PNG ICO")
    source = read_png(sys.argv[1])
    sizes = [s for s in (16, 32, 48, 64) if s <= len(source)]
    images = [dib(scaled(source, s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[2], "wb") as ico:
        ico.write(out + b"".join(images))


if __name__ == "__main__":
    main()
