#!/usr/bin/python3
"""Writes the seed corpus of fuzz/FuzzType2.cpp into fuzz/corpus/type2/ (file names: SHA-1 of the content).

Seeds, in the harness's input layout (see FuzzType2.cpp):
  - crafted charstrings: every operator with its operands, the width forms, masks after stems, subroutine
    calls at the bias edges (with the INDEXes padded to 1240 and 33900 entries), nesting to the depth limit,
    the flex family, the arithmetic and storage operators, and inputs one past each limit;
  - real glyphs: charstrings of NimbusRoman-Regular with its global and local subroutines as the font has
    them, and charstrings of FreeSerif and NotoSansCJK with their subroutines expanded (fontTools'
    desubroutinize), so that the seeds stay small.
Run with Debian's python3-fonttools: /usr/bin/python3 fuzz/support/type2_seeds.py
"""

import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "corpus", "type2")

OPS = {
    "hstem": [1], "vstem": [3], "vmoveto": [4], "rlineto": [5], "hlineto": [6], "vlineto": [7],
    "rrcurveto": [8], "callsubr": [10], "return": [11], "endchar": [14], "hstemhm": [18], "hintmask": [19],
    "cntrmask": [20], "rmoveto": [21], "hmoveto": [22], "vstemhm": [23], "rcurveline": [24],
    "rlinecurve": [25], "vvcurveto": [26], "hhcurveto": [27], "callgsubr": [29], "vhcurveto": [30],
    "hvcurveto": [31], "dotsection": [12, 0], "and": [12, 3], "or": [12, 4], "not": [12, 5], "abs": [12, 9],
    "add": [12, 10], "sub": [12, 11], "div": [12, 12], "neg": [12, 14], "eq": [12, 15], "drop": [12, 18],
    "put": [12, 20], "get": [12, 21], "ifelse": [12, 22], "random": [12, 23], "mul": [12, 24],
    "sqrt": [12, 26], "dup": [12, 27], "exch": [12, 28], "index": [12, 29], "roll": [12, 30],
    "hflex": [12, 34], "flex": [12, 35], "hflex1": [12, 36], "flex1": [12, 37],
}


def number(v):
    if -107 <= v <= 107:
        return bytes([v + 139])
    if 108 <= v <= 1131:
        v -= 108
        return bytes([247 + v // 256, v % 256])
    if -1131 <= v <= -108:
        v = -v - 108
        return bytes([251 + v // 256, v % 256])
    return bytes([28]) + struct.pack(">h", v)


def assemble(text):
    out = b""
    for word in text.split():
        if word in OPS:
            out += bytes(OPS[word])
        elif word.startswith("x:"):
            out += bytes.fromhex(word[2:])
        elif word.startswith("f:"):
            out += b"\xff" + struct.pack(">i", int(round(float(word[2:]) * 65536)))
        else:
            out += number(int(word))
    return out


def seed(charstring, local=(), global_=(), flags=0, random_seed=0, nominal=100, default=500):
    data = struct.pack(">BIii", flags, random_seed, nominal, default)
    data += struct.pack(">H", len(charstring)) + charstring
    for subrs in (local, global_):
        data += struct.pack(">H", len(subrs))
        for s in subrs:
            data += struct.pack(">H", len(s)) + s
    return data


def crafted():
    seeds = []
    texts = [
        "10 20 30 rmoveto 5 hlineto endchar",
        "7 10 20 30 40 hstem 50 vmoveto 1 2 3 4 5 6 rrcurveto endchar",
        "7 10 20 hintmask 80 0 0 rmoveto endchar".replace("hintmask 80", "hintmask x:80"),
        "1 2 3 4 hstemhm 5 6 7 8 vstemhm hintmask x:F0 0 0 rmoveto 10 20 30 hlineto cntrmask x:C0 "
        "10 20 30 vlineto endchar",
        "1 2 3 4 hstemhm 1 1 2 2 3 3 4 4 5 5 6 6 7 7 hintmask x:FF80 0 0 rmoveto endchar",
        "0 0 rmoveto 1 2 3 4 5 6 7 8 rcurveline 1 2 3 4 5 6 7 8 rlinecurve endchar",
        "0 0 rmoveto 9 1 2 3 4 vvcurveto 9 1 2 3 4 hhcurveto 1 2 3 4 5 6 7 8 9 vhcurveto "
        "1 2 3 4 5 hvcurveto endchar",
        "0 0 rmoveto 1 2 3 4 5 6 7 hflex 1 2 3 4 5 6 7 8 9 10 11 12 50 flex 1 2 3 4 5 6 7 8 9 hflex1 "
        "1 1 1 1 1 1 1 1 1 1 5 flex1 endchar",
        "3 4 add 3 4 sub 3 4 mul 7 2 div -5 abs 5 neg 0 not 1 0 and 0 3 or 3 3 eq 1 2 drop "
        "10 20 1 2 ifelse 4 sqrt 5 dup 1 2 exch 1 2 3 0 index 1 2 3 3 1 roll random put endchar",
        "f:1.5 f:-2.25 rmoveto 108 1131 -108 -1131 rlineto endchar",
        "1 0 div",
        "16384 1024 mul 16384 1024 mul rmoveto 16384 1024 mul 0 rlineto",
        "dotsection endchar",
        "10 hlineto 20 vlineto",
        " ".join(["1 hmoveto 1 vlineto"] * 73) + " endchar",
        " ".join(["1"] * 49) + " rlineto",
    ]
    for text in texts:
        seeds.append(seed(assemble(text)))
    # Subroutines: a call at each bias edge, with the INDEXes padded to 1240 and 33900 entries.
    mark = assemble("1 hmoveto")
    seeds.append(seed(assemble("-107 callsubr -107 callgsubr endchar"), [mark], [mark]))
    seeds.append(seed(assemble("-1131 callsubr 108 callsubr endchar"), [mark], [], flags=1 << 1))
    seeds.append(seed(assemble("-32768 callgsubr 1131 callgsubr endchar"), [], [mark], flags=2 << 3))
    # Nesting: subroutine i calls i + 1, ten and eleven levels.
    chain = [assemble("%d callsubr" % (i + 1 - 107)) for i in range(11)] + [assemble("7 hmoveto")]
    seeds.append(seed(assemble("-107 callsubr endchar"), chain[:9] + [chain[-1]]))
    seeds.append(seed(assemble("-107 callsubr endchar"), chain))
    # Fan-out: each level calls the next one 20 times (the operator budget).
    fan = [assemble(" ".join(["%d callsubr" % (level + 1 - 107)] * 20)) for level in range(9)]
    seeds.append(seed(assemble("0 0 rmoveto -107 callsubr endchar"), fan + [assemble("1 1 rlineto")]))
    seeds.append(seed(assemble("1 2 -107 callsubr return endchar"), [assemble("x:0C")]))
    return seeds


def real():
    from fontTools.ttLib import TTFont
    import fontTools.subset.cff  # noqa: F401 (adds desubroutinize)

    seeds = []
    nimbus = "/usr/share/fonts/opentype/urw-base35/NimbusRoman-Regular.otf"
    if os.path.exists(nimbus):
        font = TTFont(nimbus)
        cff = font["CFF "].cff
        top = cff.topDictIndex[0]
        local = [s.bytecode if s.bytecode is not None else s.compile() or s.bytecode
                 for s in top.Private.Subrs]
        global_ = [s.bytecode if s.bytecode is not None else s.compile() or s.bytecode for s in cff.GlobalSubrs]
        for name in ("A", "g", "ampersand", "dollar", "Phi"):
            if name in top.CharStrings:
                cs = top.CharStrings[name]
                cs.compile()
                seeds.append(seed(cs.bytecode, local, global_, nominal=top.Private.nominalWidthX,
                                  default=top.Private.defaultWidthX))
    for path, names, face in (("/usr/share/fonts/opentype/freefont/FreeSerif.otf", None, 0),
                              ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", None, 0)):
        if not os.path.exists(path):
            continue
        font = TTFont(path, fontNumber=face)
        cff = font["CFF "].cff
        cff.desubroutinize()
        top = cff.topDictIndex[0]
        order = font.getGlyphOrder()
        for glyph in range(1, len(order), max(1, len(order) // 12)):
            cs = top.CharStrings[order[glyph]]
            cs.compile()
            seeds.append(seed(cs.bytecode))
    return seeds


def main():
    os.makedirs(OUT, exist_ok=True)
    written = 0
    for data in crafted() + real():
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
        written += 1
    print("wrote %d seeds to %s" % (written, os.path.normpath(OUT)))


if __name__ == "__main__":
    sys.exit(main())
