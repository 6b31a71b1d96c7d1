#!/usr/bin/python3
"""Prints the advance widths that fontTools decodes from the charstrings of one CFF face.

Usage: cff_widths.py STRIDE FONT FACE [FONT FACE ...]

Output, for each face in turn: a line "face FONT FACE glyphs N", then for every STRIDE-th glyph one line
"GLYPH WIDTH", WIDTH as fontTools gives it (an integer, or a decimal for a fractional width operand).
One process serves every face, so fontTools is imported once.

A charstring's width is the operand below the first stack-clearing operator's own ones (hstem, vstem,
hstemhm, vstemhm, rmoveto, hmoveto, vmoveto, hintmask, cntrmask, endchar), added to nominalWidthX; without
one it is defaultWidthX. fontTools' T2WidthExtractor decodes it; we stop each charstring at that operator
(what follows cannot change the width). A charstring that never reaches one gets defaultWidthX.
"""

import sys

from fontTools.misc.psCharStrings import T2WidthExtractor
from fontTools.ttLib import TTFont


class _WidthFound(Exception):
    pass


class _FirstWidth(T2WidthExtractor):
    def popallWidth(self, evenOdd=0):
        T2WidthExtractor.popallWidth(self, evenOdd)
        raise _WidthFound()


def widths(path, face, stride, out):
    font = TTFont(path, fontNumber=face, lazy=True)
    cff = font["CFF "].cff
    top = cff.topDictIndex[0]
    charstrings = top.CharStrings
    order = font.getGlyphOrder()
    out.write("face %s %d glyphs %d\n" % (path, face, len(order)))
    cid_keyed = hasattr(top, "FDArray")
    for glyph in range(0, len(order), stride):
        charstring, selector = charstrings.getItemAndSelector(order[glyph])
        private = top.FDArray[selector].Private if cid_keyed else top.Private
        extractor = _FirstWidth(getattr(private, "Subrs", []), cff.GlobalSubrs, private.nominalWidthX,
                                private.defaultWidthX)
        try:
            extractor.execute(charstring)
            width = private.defaultWidthX
        except _WidthFound:
            width = extractor.width
        out.write("%d %s\n" % (glyph, repr(width)))


def main():
    stride = int(sys.argv[1])
    for i in range(2, len(sys.argv) - 1, 2):
        widths(sys.argv[i], int(sys.argv[i + 1]), stride, sys.stdout)


if __name__ == "__main__":
    main()
