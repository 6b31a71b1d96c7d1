#!/usr/bin/env python3
"""Draws the program's artwork: the two logos, the picture of the service's font-list page and the icon.

Everything is drawn from the instructions below with ImageMagick (vector drawing, text in IPA P Gothic); the
16-pixel icon is drawn pixel by pixel, because at that size a hand-placed "Z" reads better than any scaled
drawing. The icon file is packed here (twelve images: 48, 32 and 16 px at 4 and 8 bits per pixel with fixed
palettes; 256 px as PNG and 128, 48, 32, 24, 16 px as 32-bit images), so the result depends only on these
sources, the font and ImageMagick.

Outputs (in --out): progress_logo.bmp (128 x 128), logo.bmp (128 x 128), instructions.bmp (1138 x 372), all
24-bit BMP; tool.ico.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

TEAL = "#0E7C86"  # also in the 8-bit icon palette below
TEAL_DARK = "#0A5E66"
INK = "#2B2F33"
GREY_TEXT = "#6B7378"
ORANGE = "#E8731A"
RED = "#E0201B"
# Logos are drawn on the usual dialog face colour, so that their anti-aliased edges blend into it, and that
# colour is then turned into pure white: the image control leaves exactly white pixels transparent.
FACE = "#F0F0F0"

# The "Z" mark on a 256-unit square: a rounded tile and the letter as one polygon.
Z_POLYGON = [(62, 58), (194, 58), (194, 92), (112, 166), (196, 166), (196, 200), (60, 200), (60, 166),
             (142, 92), (62, 92)]

# The 16-pixel icon, one character per pixel: teal tile, white letter, '.' transparent.
ICON_16 = [
    "..tttttttttttt..",
    ".tttttttttttttt.",
    "tttttttttttttttt",
    "tttwwwwwwwwwwttt",
    "tttwwwwwwwwwwttt",
    "ttttttttttwwwttt",
    "tttttttttwwwtttt",
    "ttttttttwwwttttt",
    "tttttttwwwtttttt",
    "ttttttwwwttttttt",
    "tttttwwwtttttttt",
    "tttwwwwwwwwwwttt",
    "tttwwwwwwwwwwttt",
    "tttttttttttttttt",
    ".tttttttttttttt.",
    "..tttttttttttt..",
]

# The 16 colours of 4-bit icons (the standard Windows palette).
PALETTE_4 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
             (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
             (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 8-bit icons: a 6 x 6 x 6 colour cube, the mark's two teals, then 38 greys.
PALETTE_8 = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)] + \
            [(14, 124, 134), (10, 94, 102)] + [(round(i * 255 / 39),) * 3 for i in range(1, 39)]


def hex_rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


class Drawing:
    def __init__(self, convert, font):
        self.convert = convert
        self.font = font

    def run(self, args):
        subprocess.run([self.convert] + args, check=True)

    def render(self, width, height, background, commands, output, antialias=True):
        """Draws MVG commands on a plain canvas and writes `output` (format by prefix, e.g. BMP3:x.bmp)."""
        args = ["-size", f"{width}x{height}", f"xc:{background}"]
        if not antialias:
            args.append("+antialias")
        self.run(args + ["-draw", "\n".join(commands)] + output)

    def text(self, x, y, size, colour, string, bold=False):
        escaped = string.replace("\\", "\\\\").replace("'", "\\'")
        stroke = f"stroke '{colour}' stroke-width 0.7" if bold else "stroke none"
        return f"push graphic-context font '{self.font}' font-size {size} fill '{colour}' {stroke} " \
               f"text {x},{y} '{escaped}' pop graphic-context"


def z_mark(x, y, size, tile=TEAL, letter="white"):
    """The mark scaled to `size` pixels with its top-left corner at (x, y)."""
    s = size / 256.0
    radius = 46 * s
    points = " ".join(f"{x + px * s:.2f},{y + py * s:.2f}" for px, py in Z_POLYGON)
    return [f"fill '{tile}' stroke none roundrectangle {x + 6 * s:.2f},{y + 6 * s:.2f} "
            f"{x + 250 * s:.2f},{y + 250 * s:.2f} {radius:.2f},{radius:.2f}",
            f"fill '{letter}' stroke none polygon {points}"]


def make_logo(d, path, tag):
    commands = z_mark(28, 6, 72)
    commands.append(d.text(19 if not tag else 8, 104, 25, INK, "ZELKO", bold=True))
    if tag:
        commands.append(f"fill '{ORANGE}' stroke none roundrectangle 92,86 124,104 4,4")
        commands.append(d.text(96, 100, 13, "white", "web", bold=True))
    d.render(128, 128, FACE, commands, ["-fill", "white", "-opaque", FACE, "-alpha", "off", "-type", "TrueColor",
                                       f"BMP3:{path}"])


def make_instructions(d, path, host):
    w, h = 1138, 372
    c = []
    # Browser frame: a tab strip and the address bar with the page's address.
    c.append(f"fill '#DEE1E6' stroke none rectangle 0,0 {w - 1},33")
    c.append("fill white stroke none roundrectangle 10,6 250,33 6,6")
    c.append(d.text(24, 25, 13, INK, "フォントリスト | ZELKO"))
    c.append(f"fill white stroke '#C9CDD2' stroke-width 1 roundrectangle 16,39 {w - 16},63 12,12")
    c.append(d.text(34, 56, 13, GREY_TEXT, f"https://{host}/fonts/lists"))
    c.append(f"fill none stroke '#C9CDD2' stroke-width 1 line 0,69 {w - 1},69")
    # The service's header bar.
    c.append(f"fill '{TEAL}' stroke none rectangle 0,70 {w - 1},115")
    c.extend(z_mark(18, 78, 30, tile="white", letter=TEAL))
    c.append(d.text(56, 101, 20, "white", "ZELKO", bold=True))
    c.append(f"fill '{TEAL_DARK}' stroke none circle {w - 132},93 {w - 132},105")
    c.append(d.text(w - 112, 99, 14, "white", "マイページ"))
    # Side menu with the font list selected.
    c.append(f"fill '#F4F6F7' stroke none rectangle 0,116 219,{h - 1}")
    c.append(f"fill none stroke '#E1E5E8' stroke-width 1 line 219,116 219,{h - 1}")
    menu = [("ホーム", 0, False), ("フォント", 0, False), ("フォント一覧", 1, False), ("フォントリスト", 1, True),
            ("お気に入り", 1, False), ("アカウント", 0, False)]
    y = 148
    for label, level, selected in menu:
        if selected:
            c.append(f"fill '#DCEFF1' stroke none rectangle 0,{y - 21} 218,{y + 9}")
            c.append(f"fill '{TEAL}' stroke none rectangle 0,{y - 21} 4,{y + 9}")
        c.append(d.text(24 + 18 * level, y, 15, TEAL if selected else INK, label, bold=selected or level == 0))
        y += 36
    # Page body: breadcrumb, title, the two commands, the list.
    c.append(d.text(252, 146, 13, GREY_TEXT, "フォント ＞ フォントリスト"))
    c.append(d.text(250, 186, 24, INK, "フォントリスト", bold=True))
    c.append(f"fill '{TEAL}' stroke none roundrectangle 720,160 868,196 6,6")
    c.append(d.text(742, 184, 15, "white", "＋ 新規作成", bold=True))
    # The command to use, framed in red.
    c.append(f"fill white stroke '{TEAL}' stroke-width 2 roundrectangle 890,160 1108,196 6,6")
    c.append(f"fill '{TEAL}' stroke none polygon 906,182 913,173 920,182")
    c.append(f"fill '{TEAL}' stroke none rectangle 911,181 915,189")
    c.append(d.text(928, 184, 15, TEAL, "フォントリストをインポート", bold=True))
    c.append(f"fill none stroke '{RED}' stroke-width 4 roundrectangle 880,150 1118,206 9,9")
    # The table of lists, still empty.
    c.append(f"fill '#F4F6F7' stroke '#E1E5E8' stroke-width 1 rectangle 250,252 870,284")
    for x, label in ((266, "リスト名"), (560, "フォント数"), (720, "更新日")):
        c.append(d.text(x, 274, 14, GREY_TEXT, label, bold=True))
    c.append(f"fill white stroke '#E1E5E8' stroke-width 1 rectangle 250,284 870,350")
    c.append(d.text(300, 322, 14, GREY_TEXT, "フォントリストはまだありません。「フォントリストをインポート」から登録できます。"))
    d.render(w, h, "white", c, ["-alpha", "off", "-type", "TrueColor", f"BMP3:{path}"])


def render_icon_rgba(d, size, antialias):
    """The mark at `size` pixels as rows of (r, g, b, a)."""
    if size == 16:
        colours = {"t": hex_rgb(TEAL) + (255,), "w": (255, 255, 255, 255), ".": (0, 0, 0, 0)}
        return [[colours[ch] for ch in row] for row in ICON_16]
    with tempfile.TemporaryDirectory() as tmp:
        raw = os.path.join(tmp, "icon.rgba")
        d.render(size, size, "none", z_mark(0, 0, size), ["-depth", "8", f"RGBA:{raw}"], antialias)
        with open(raw, "rb") as f:
            data = f.read()
    if len(data) != size * size * 4:
        sys.exit(f"make_art: ImageMagick gave {len(data)} bytes for a {size}-pixel icon")
    return [[tuple(data[(y * size + x) * 4:(y * size + x) * 4 + 4]) for x in range(size)] for y in range(size)]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - rgb[k]) ** 2 for k in range(3)) * 1000 + i)


def and_mask(pixels, size):
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(pixels):
        bits = bytearray(row_bytes)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def dib_header(size, bpp, colours):
    image_bytes = (((size * bpp + 31) // 32) * 4 + ((size + 31) // 32) * 4) * size
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0, colours, 0)


def paletted_image(pixels, size, bpp, palette):
    out = bytearray(dib_header(size, bpp, len(palette)))
    for r, g, b in palette:
        out += bytes((b, g, r, 0))
    row_bytes = ((size * bpp + 31) // 32) * 4
    cache = {}
    for row in reversed(pixels):
        line = bytearray(row_bytes)
        for x, p in enumerate(row):
            index = 0
            if p[3] >= 128:
                key = p[:3]
                if key not in cache:
                    cache[key] = nearest(palette, key)
                index = cache[key]
            if bpp == 8:
                line[x] = index
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        out += line
    return bytes(out + and_mask(pixels, size))


def true_colour_image(pixels, size):
    out = bytearray(dib_header(size, 32, 0))
    for row in reversed(pixels):
        for r, g, b, a in row:
            out += bytes((b, g, r, a))
    return bytes(out + and_mask(pixels, size))


def make_icon(d, path):
    images = []  # (size, bpp, colour count, bytes)
    for bpp, palette in ((4, PALETTE_4), (8, PALETTE_8)):
        for size in (48, 32, 16):
            pixels = render_icon_rgba(d, size, antialias=False)
            images.append((size, bpp, len(palette) if bpp == 4 else 0, paletted_image(pixels, size, bpp, palette)))
    with tempfile.TemporaryDirectory() as tmp:
        png = os.path.join(tmp, "icon256.png")
        d.render(256, 256, "none", z_mark(0, 0, 256), ["-define", "png:exclude-chunks=date,time",
                                                       "-strip", f"PNG32:{png}"])
        with open(png, "rb") as f:
            images.append((256, 32, 0, f.read()))
    for size in (128, 48, 32, 24, 16):
        images.append((size, 32, 0, true_colour_image(render_icon_rgba(d, size, antialias=True), size)))

    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    directory = bytearray()
    for size, bpp, colours, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + directory + b"".join(image[3] for image in images))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--convert", required=True, help="ImageMagick's convert program")
    parser.add_argument("--font", required=True, help="a TrueType font with Japanese (IPA P Gothic)")
    parser.add_argument("--host", required=True, help="the service's web host shown in the address bar")
    parser.add_argument("--out", required=True, help="output folder")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    d = Drawing(args.convert, args.font)
    make_logo(d, os.path.join(args.out, "progress_logo.bmp"), tag=False)
    make_logo(d, os.path.join(args.out, "logo.bmp"), tag=True)
    make_instructions(d, os.path.join(args.out, "instructions.bmp"), args.host)
    make_icon(d, os.path.join(args.out, "tool.ico"))


if __name__ == "__main__":
    main()
