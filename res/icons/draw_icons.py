#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files next to this script.

    python3 res/icons/draw_icons.py [--preview out.png]

The .ico bytes are written directly (BITMAPINFOHEADER images with an AND mask), so nothing
beyond the standard library is needed. The output is committed; run this again after changing
a drawing. --preview also writes an enlarged PNG sheet of every image for a quick look.
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Colours of the 16 x 16 button art. '.' is transparent.
BUTTON_COLOURS = {
    "K": (24, 24, 24),      # outline
    "C": (58, 62, 70),      # chip body
    "c": (112, 118, 128),   # chip highlight
    "P": (196, 196, 200),   # pins
    "G": (0, 100, 0),       # Program arrow outline
    "g": (40, 190, 40),     # Program arrow fill
    "h": (150, 235, 150),   # Program arrow light edge
    "B": (0, 56, 150),      # Read arrow outline
    "b": (40, 130, 240),    # Read arrow fill
    "l": (150, 200, 255),   # Read arrow light edge
    "D": (92, 52, 20),      # door frame
    "d": (156, 96, 44),     # door leaf
    "e": (196, 136, 76),    # door panel light
    "Y": (250, 210, 40),    # knob
    "R": (150, 0, 0),       # EXIT arrow outline
    "r": (230, 40, 30),     # EXIT arrow fill
    "s": (255, 150, 130),   # EXIT arrow light edge
}

CHIP = [
    "...P..P..P..P...",
    "..KKKKKKKKKKKK..",
    "..KccccccccccK..",
    "..KCCCCCCCCCCK..",
    "..KCCCCCCCCCCK..",
    "..KKKKKKKKKKKK..",
    "...P..P..P..P...",
]

# Program: a green arrow going down into the module.
PROGRAM = [
    "......GGGG......",
    "......GhgG......",
    "......GhgG......",
    "......GhgG......",
    "...GGGGhgGGGG...",
    "....GhgggggG....",
    ".....GhgggG.....",
    "......GhgG......",
    ".......GG.......",
] + CHIP

# Read: a blue arrow coming up out of the module.
READ = [
    ".......BB.......",
    "......BlbB......",
    ".....BlbbbB.....",
    "....BlbbbbbB....",
    "...BBBBlbBBBB...",
    "......BlbB......",
    "......BlbB......",
    "......BlbB......",
    "......BBBB......",
] + CHIP

# EXIT: a door with a red arrow leaving through it.
EXIT = [
    "DDDDDDDDD.......",
    "DdddddddD.......",
    "DdeeeeddD.......",
    "DdeddeddD...R...",
    "DdeddeddD...RR..",
    "DdeddeddRRRRRsR.",
    "DdeeeeddRsssssrR",
    "DddddYddRrrrrrrR",
    "DddddYddRrrrrrrR",
    "DdeeeeddRrrrrrrR",
    "DdeddeddRRRRRrR.",
    "DdeddeddD...RR..",
    "DdeddeddD...R...",
    "DdeeeeddD.......",
    "DdddddddD.......",
    "DDDDDDDDD.......",
]

# The 16 colours of the classic palette, for the 4-bit image of the application icon.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def from_art(art, colours):
    """Rows of characters -> rows of (r, g, b) or None for transparent."""
    assert len(art) == 16 and all(len(row) == 16 for row in art), "art must be 16 x 16"
    return [[None if ch == "." else colours[ch] for ch in row] for row in art]


def seg_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def rune_segments(size):
    """The Bluetooth rune as line segments, in a size x size frame."""
    s = size / 32.0
    top, bottom, cx = 5.5 * s, 26.5 * s, 15.5 * s
    right, left = 22.0 * s, 9.5 * s
    up_pt, low_pt = 11.0 * s, 21.0 * s
    return [
        (cx, top, cx, bottom),
        (cx, top, right, up_pt),
        (right, up_pt, left, low_pt),
        (cx, bottom, right, low_pt),
        (right, low_pt, left, up_pt),
    ]


def app_icon_32():
    """32 x 32, 24-bit: a blue badge with a white anti-aliased rune."""
    size = 32
    segs = rune_segments(size)
    img = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            r = math.hypot((px - 16) / 15.6, (py - 16) / 15.6)
            if r > 1.0:
                row.append(None)
                continue
            # Vertical gradient, lighter at the top, with a darker rim.
            t = y / (size - 1)
            base = (int(40 - 30 * t), int(120 - 60 * t), int(235 - 60 * t))
            if r > 0.9:
                base = tuple(int(c * 0.6) for c in base)
            # Coverage of the rune by 4 x 4 supersampling.
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    qx, qy = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
                    if min(seg_distance(qx, qy, *sg) for sg in segs) <= 1.35:
                        hits += 1
            a = hits / 16.0
            row.append(tuple(int(round(b * (1 - a) + 255 * a)) for b in base))
        img.append(row)
    return img


def app_icon_16():
    """16 x 16, 16 colours: blue badge, navy rim, one-pixel white rune."""
    white = {(7, 2), (7, 3), (8, 3), (7, 4), (9, 4), (5, 5), (7, 5), (10, 5),
             (6, 6), (7, 6), (9, 6), (7, 7), (8, 7), (7, 8), (8, 8), (6, 9),
             (7, 9), (9, 9), (5, 10), (7, 10), (10, 10), (7, 11), (9, 11),
             (7, 12), (8, 12), (7, 13)}
    img = []
    for y in range(16):
        row = []
        for x in range(16):
            r = math.hypot((x - 7.5) / 7.7, (y - 7.5) / 7.9)
            if r > 1.0:
                row.append(None)
            elif (x, y) in white:
                row.append(VGA16[15])
            elif r > 0.86:
                row.append(VGA16[4])
            else:
                row.append(VGA16[12])
        img.append(row)
    return img


def dib(img, bpp, palette=None):
    """BITMAPINFOHEADER + palette + XOR bits + AND mask of one icon image."""
    h, w = len(img), len(img[0])
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bpp, 0, 0, 0, 0,
                         len(palette) if palette else 0, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette or [])
    # Windows draws an icon by AND-ing the mask into the background and then XOR-ing the
    # colour bits over it, so a transparent pixel must be black in the colour bits, whatever
    # palette entry that takes; any other colour would be XOR-ed into the background.
    clear = palette.index((0, 0, 0)) if palette else None
    xor = bytearray()
    for row in reversed(img):
        line = bytearray()
        if bpp == 24:
            for px in row:
                r, g, b = px or (0, 0, 0)
                line += bytes((b, g, r))
        elif bpp == 8:
            for px in row:
                line.append(palette.index(px) if px else clear)
        elif bpp == 4:
            idx = [palette.index(px) if px else clear for px in row]
            for i in range(0, w, 2):
                line.append((idx[i] << 4) | idx[i + 1])
        line += b"\0" * (-len(line) % 4)
        xor += line
    mask = bytearray()
    for row in reversed(img):
        line = bytearray((w + 7) // 8)
        for x, px in enumerate(row):
            if px is None:
                line[x // 8] |= 0x80 >> (x % 8)
        line += b"\0" * (-len(line) % 4)
        mask += line
    return header + pal + bytes(xor) + bytes(mask)


def ico(images):
    """images: list of (img, bpp, palette)."""
    blobs = [dib(img, bpp, pal) for img, bpp, pal in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (img, bpp, pal), blob in zip(images, blobs):
        h, w = len(img), len(img[0])
        colours = len(pal) if pal and len(pal) < 256 else 0
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def palette256(img):
    """Black first, for the transparent pixels, then the image's colours in order of use."""
    used = [(0, 0, 0)]
    for row in img:
        for px in row:
            if px and px not in used:
                used.append(px)
    return used + [(0, 0, 0)] * (256 - len(used))


def png(path, rows):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


def preview(path, imgs, scale=8, bg=(212, 208, 200)):
    """Every image enlarged, side by side on a button-face background, plus the 1:1 images."""
    width = sum(len(i[0]) * scale + 8 for i in imgs) + 8
    height = max(len(i) for i in imgs) * scale + 16 + 40
    canvas = [[bg] * width for _ in range(height)]
    x0 = 8
    for img in imgs:
        for y, row in enumerate(img):
            for x, px in enumerate(row):
                for dy in range(scale):
                    for dx in range(scale):
                        canvas[8 + y * scale + dy][x0 + x * scale + dx] = px or bg
                canvas[height - 36 + y][x0 + x] = px or bg
        x0 += len(img[0]) * scale + 8
    png(path, canvas)


def main():
    buttons = {"exit.ico": from_art(EXIT, BUTTON_COLOURS),
               "program.ico": from_art(PROGRAM, BUTTON_COLOURS),
               "read.ico": from_art(READ, BUTTON_COLOURS)}
    for name, img in buttons.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(ico([(img, 8, palette256(img))]))
    big, small = app_icon_32(), app_icon_16()
    with open(os.path.join(HERE, "app.ico"), "wb") as f:
        f.write(ico([(big, 24, None), (small, 4, VGA16)]))
    if len(sys.argv) == 3 and sys.argv[1] == "--preview":
        preview(sys.argv[2], [big, small] + list(buttons.values()))


if __name__ == "__main__":
    main()
