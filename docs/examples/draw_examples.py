#!/usr/bin/env python3
"""Draws the README's sample sprites: snow.png (a strip of four 32 x 32
snowflakes) and petal00.png .. petal07.png (a 24 x 24 petal turning over in
eight steps). Standard library only; run it here to make them anew, and the
same bytes come out."""
import math
import struct
import zlib


def save_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples, straight alpha."""
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n")
        file.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        file.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        file.write(chunk(b"IEND", b""))


def coverage(inside, x, y, samples=4):
    """Share of pixel (x, y) for which inside(px, py) holds, 4 x 4 samples."""
    hits = 0
    for i in range(samples):
        for j in range(samples):
            hits += inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples)
    return hits / (samples * samples)


def flake(size, arms, spread):
    """A six-armed flake: thin arms with short side twigs, and a round core."""
    c = size / 2

    def inside(px, py):
        dx, dy = px - c, py - c
        r = math.hypot(dx, dy)
        if r < 2.2:
            return True
        if r > spread:
            return False
        angle = math.atan2(dy, dx)
        for k in range(arms):
            a = angle - k * 2 * math.pi / arms
            along, across = r * math.cos(a), abs(r * math.sin(a))
            if along > 0 and across < 0.9:
                return True
            twig = along - spread * 0.55
            if along > 0 and abs(twig) < spread * 0.25 and abs(across - abs(twig) * 0.9) < 0.8:
                return True
        return False

    return inside


def snow():
    cell, cells = 32, 4
    rows = []
    for y in range(cell):
        row = []
        for n in range(cells):
            inside = flake(cell, 6, 9 + n * 2)
            for x in range(cell):
                a = coverage(inside, x, y)
                row.append((235, 244, 255, round(a * 255)))
        rows.append(row)
    save_png("snow.png", cell * cells, cell, rows)


def petal(step, steps=8, size=24):
    """A pink petal seen turning: its width shrinks and grows with the turn."""
    turn = math.cos(step * math.pi / steps)
    half_long, half_wide = 10.0, max(1.2, 5.5 * abs(turn))
    c = size / 2
    tilt = step * math.pi / (2 * steps)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            def inside(px, py):
                dx, dy = px - c, py - c
                u = dx * math.cos(tilt) + dy * math.sin(tilt)
                v = -dx * math.sin(tilt) + dy * math.cos(tilt)
                return (u / half_long) ** 2 + (v / half_wide) ** 2 <= 1.0
            a = coverage(inside, x, y)
            shade = 0.75 + 0.25 * abs(turn)
            row.append((round(250 * shade), round(170 * shade), round(200 * shade), round(a * 255)))
        rows.append(row)
    save_png("petal%02d.png" % step, size, size, rows)


if __name__ == "__main__":
    snow()
    for s in range(8):
        petal(s)
