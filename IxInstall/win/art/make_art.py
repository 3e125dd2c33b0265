#!/usr/bin/env python3
"""Draws the installer's artwork: the wizard's watermark (150 x 201) and
header (48 x 40) as 256-colour bitmaps, and the program icons (32 x 32 and
16 x 16). Run it from anywhere; it writes next to itself. The output is
committed, so a build needs no Python."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

def median_cut(colours, count=256):
    """A 256-entry palette fitted to the picture, so its gradients stay smooth."""
    boxes = [list(colours)]
    while len(boxes) < count:
        boxes.sort(key=lambda b: max(max(c[i] for c in b) - min(c[i] for c in b) for i in range(3)) if len(b) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = [tuple(round(sum(c[i] for c in b) / len(b)) for i in range(3)) for b in boxes if b]
    return palette + [(0, 0, 0)] * (count - len(palette))


def nearest(palette, c, cache={}):
    key = (id(palette), c)
    if key not in cache:
        cache[key] = min(range(len(palette)),
                         key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))
    return cache[key]


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def iris(x, y, cx, cy, radius, background):
    """An eye's iris: dark pupil, a ring of radial fibres, a glint."""
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > radius:
        return background
    pupil = radius * 0.38
    if math.hypot(dx + pupil * 0.35, dy + pupil * 0.35) < pupil * 0.28:
        return (250, 250, 250)  # glint
    if d < pupil:
        return (12, 14, 20)
    angle = math.atan2(dy, dx)
    fibre = 0.5 + 0.5 * math.sin(angle * 23) * math.cos(angle * 7)
    t = (d - pupil) / (radius - pupil)
    inner, outer = (40, 150, 160), (20, 70, 110)
    c = mix(inner, outer, t)
    c = mix(c, (90, 200, 190), fibre * 0.35 * (1 - t))
    if radius - d < 1.4:
        c = mix(c, (10, 30, 50), 0.8)  # limbus
    return c


def watermark(x, y, w, h):
    top, bottom = (14, 38, 72), (22, 118, 128)
    c = mix(top, bottom, y / (h - 1))
    # soft light band
    c = mix(c, (255, 255, 255), 0.08 * math.exp(-((x - y * 0.5) / 30.0) ** 2))
    c = iris(x, y, w * 0.30, h * 0.42, 24, c)
    c = iris(x, y, w * 0.70, h * 0.42, 24, c)
    return c


def header(x, y, w, h):
    c = (255, 255, 255)
    return iris(x, y, w / 2, h / 2, 17, c)


def icon_pixel(x, y, size):
    cx = cy = (size - 1) / 2
    r = size / 2 - 0.5
    if math.hypot(x - cx, y - cy) > r:
        return None
    back = mix((14, 38, 72), (22, 118, 128), y / (size - 1))
    return iris(x, y, cx, cy, r * 0.78, back)


def write_bmp8(path, w, h, fn):
    stride = (w + 3) & ~3
    image = [[tuple(round(v) for v in fn(x, y, w, h)) for x in range(w)] for y in range(h)]
    colours = median_cut([c for row in image for c in row])
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytes(nearest(colours, c) for c in image[y])
        rows.append(row + b"\0" * (stride - w))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + palette + pixels)


def icon_image(size):
    xor = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(size):
            c = icon_pixel(x, y, size)
            if c is None:
                xor += b"\0\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = (round(v) for v in c)
                xor += bytes((b, g, r, 255))
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    write_bmp8(os.path.join(HERE, "watermark.bmp"), 150, 201, watermark)
    write_bmp8(os.path.join(HERE, "header.bmp"), 48, 40, header)
    write_ico(os.path.join(HERE, "installer.ico"), [32, 48])
    write_ico(os.path.join(HERE, "installer_small.ico"), [16])
