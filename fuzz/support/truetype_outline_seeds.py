#!/usr/bin/python3
"""Writes the crafted seeds of fuzz/corpus/truetypeoutline/: small TrueType fonts whose composites use every
transform form, point matching, scaled offsets, word and byte arguments, a glyph that includes itself, a
deep chain and a wide fan of components. Usage: truetype_outline_seeds.py OUTPUT_DIR

The real-font seeds beside them are subsets of corpus fonts (pyftsubset --no-hinting), each under 100 KB.
Files are named by the SHA-1 of their bytes, as every corpus file is.
"""

import hashlib
import io
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.tables._g_l_y_f import Glyph, GlyphComponent

SCALED_COMPONENT_OFFSET = 0x0800


def simple(draw):
    pen = TTGlyphPen(None)
    draw(pen)
    g = pen.glyph()
    g.recalcBounds(None)
    return g


def square(pen):
    pen.moveTo((100, 0))
    pen.lineTo((100, 600))
    pen.qCurveTo((100, 700), (400, 700), (500, 600))  # two control points: an implied on-curve point
    pen.lineTo((500, 0))
    pen.closePath()


def triangle(pen):
    pen.moveTo((0, 0))
    pen.lineTo((300, 0))
    pen.lineTo((150, 260))
    pen.closePath()


def composite(*components):
    g = Glyph()
    g.numberOfContours = -1
    g.components = list(components)
    g.xMin = g.yMin = 0
    g.xMax = g.yMax = 700
    return g


def component(name, x=0, y=0, transform=None, flags=0, points=None):
    c = GlyphComponent()
    c.glyphName = name
    if points:
        c.firstPt, c.secondPt = points
    else:
        c.x, c.y = x, y
    if transform:
        c.transform = transform
    c.flags = flags
    return c


def build(glyphs, depth=4, elements=64):
    order = list(glyphs)
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({0x41 + i: name for i, name in enumerate(order[1:])})
    fb.setupGlyf(glyphs, calcGlyphBounds=False)
    fb.setupHorizontalMetrics({name: (600, 0) for name in order})
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": "Outline Seed", "styleName": "Regular"})
    fb.setupOS2()
    fb.setupPost()
    font = fb.font
    font.recalcBBoxes = False  # a glyph that includes itself has no box to compute
    maxp = font["maxp"]
    maxp.maxPoints = maxp.maxCompositePoints = 2000
    maxp.maxContours = maxp.maxCompositeContours = 200
    maxp.maxComponentElements = elements
    maxp.maxComponentDepth = depth
    out = io.BytesIO()
    font.save(out)
    return out.getvalue()


def seeds():
    base = {".notdef": Glyph(), "square": simple(square), "triangle": simple(triangle)}
    yield build(dict(base, **{
        "rotated": composite(component("triangle", 0, 0, [[0, 1], [-1, 0]]), component("square", 400, 0)),
        "xyscale": composite(component("square", 10, -20, [[1.5, 0], [0, -0.75]])),
        "scale": composite(component("triangle", 0, 0, [[0.5, 0], [0, 0.5]], SCALED_COMPONENT_OFFSET)),
        "shear": composite(component("square", -300, 900, [[1, 0.25], [0, 1]], SCALED_COMPONENT_OFFSET)),
        "matched": composite(component("square"), component("triangle", points=(2, 1))),
        "words": composite(component("triangle", 2000, -3000), component("square", -129, 128)),
    }))
    # A glyph that includes itself, in a font that allows any depth.
    yield build(dict(base, self=composite(component("self", 5, 5))), depth=65535)
    # A chain of composites, deeper than the font allows.
    chain = dict(base)
    names = ["chain%d" % i for i in range(20)]
    for i, name in enumerate(names):
        chain[name] = composite(component(names[i + 1] if i + 1 < len(names) else "triangle", 3, 0))
    yield build(chain, depth=18)
    # Fans: each level holds the level below 40 times.
    fan = dict(base)
    below = "triangle"
    for level in range(4):
        name = "fan%d" % level
        fan[name] = composite(*[component(below, i, level) for i in range(40)])
        below = name
    yield build(fan, depth=8, elements=64)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for data in seeds():
        with open(os.path.join(out, hashlib.sha1(data).hexdigest()), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
