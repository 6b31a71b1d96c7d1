#!/usr/bin/python3
"""Writes the seed corpus of FuzzLoadCffTable (fuzz/corpus/loadcfftable/<sha1>), every file under 100 KB:

  - the 'CFF ' tables of a few small name-keyed fonts of the corpus (mode byte 0: the table alone);
  - CID-keyed fonts cut from the Noto CJK collections with fontTools' subsetter (a few glyphs of several
    Font DICTs), as whole OpenType fonts (mode 1), as CFF tables alone, and with FDSelect rewritten in
    the other format (3 for the subsetter's 0); a CFF collection of two such faces (mode 1 | face 1 << 1);
  - the first bytes of a CJK CFF table (its header, INDEXes and Top DICT; the rest cut off).

    /usr/bin/python3 fuzz/support/cff_seeds.py
"""

import hashlib
import io
import os
import struct
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection, TTFont

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import font_corpus  # noqa: E402

OUT = os.path.join(ROOT, "fuzz", "corpus", "loadcfftable")
LIMIT = 100 * 1024
NAME_KEYED = ("StandardSymbolsPS.otf", "D050000L.otf", "lmsans8-regular.otf", "lmmono10-regular.otf")
CJK = ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
       "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc")
# Characters from different Font DICTs of the CJK faces: Latin, kana, ideographs, Hangul, a dingbat.
TEXT = "Ag1あア漢字한글→※"


def write(mode, data):
    if len(data) + 1 > LIMIT:
        print("skipped (%d bytes)" % len(data))
        return
    blob = bytes([mode]) + data
    name = hashlib.sha1(blob).hexdigest()
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(blob)
    print("%s %d bytes" % (name, len(blob)))


def cff_table(font_bytes, offset=0):
    count = struct.unpack_from(">H", font_bytes, offset + 4)[0]
    for i in range(count):
        tag, _, off, length = struct.unpack_from(">4sIII", font_bytes, offset + 12 + 16 * i)
        if tag == b"CFF ":
            return font_bytes[off:off + length]
    return None


def cut_cjk(path, number):
    font = TTFont(path, fontNumber=number)
    options = subset.Options()
    options.layout_features = []
    options.name_IDs = ["*"]
    options.notdef_outline = True
    options.desubroutinize = False
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=TEXT)
    subsetter.subset(font)
    for tag in list(font.keys()):
        if tag not in ("CFF ", "cmap", "head", "hhea", "hmtx", "maxp", "name", "OS/2", "post", "GlyphOrder"):
            del font[tag]
    return font


def saved(font):
    out = io.BytesIO()
    font.save(out)
    return out.getvalue()


def main():
    os.makedirs(OUT, exist_ok=True)
    for path in font_corpus.corpus_files():
        if os.path.basename(path) in NAME_KEYED:
            with open(path, "rb") as f:
                table = cff_table(f.read())
            if table:
                write(0, table)

    faces = []
    for path in CJK:
        font = cut_cjk(path, 0)
        data = saved(font)
        faces.append(font)
        write(1, data)
        write(0, cff_table(data))
        # The same font with FDSelect in the other format.
        top = font["CFF "].cff.topDictIndex[0]
        top.FDSelect.format = 3 if top.FDSelect.format == 0 else 0
        write(0, cff_table(saved(font)))

    collection = TTCollection()
    collection.fonts = [TTFont(io.BytesIO(saved(f))) for f in faces]
    out = io.BytesIO()
    collection.save(out)
    write(1 | (1 << 1), out.getvalue())

    with open(CJK[0], "rb") as f:
        data = f.read()
    first = struct.unpack_from(">I", data, 12)[0]
    write(0, cff_table(data, first)[:60000])
    return 0


if __name__ == "__main__":
    sys.exit(main())
