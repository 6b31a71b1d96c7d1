#!/usr/bin/python3
"""korv-font info and cmap over every TrueType face of the real font corpus, against fontTools.

For every face whose offset table says TrueType (single fonts, and every member of a collection):
  - info succeeds, and unitsPerEm, glyphCount, the table records (tag, offset, length) and the fields of
    head, hhea, maxp and OS/2 agree with what fontTools reads;
  - cmap prints exactly the (3,1) mapping fontTools reads, every line. The one difference of rules is
    named and counted, not failed: a code whose lookup gives glyph 0 with status 0 (a format-4 segment
    whose idDelta sends it to 0, a format-0, 6 or 12 entry of 0) is mapped to glyph 0 here, as the
    lookups specify, while fontTools drops every code that maps to glyph 0;
  - a TrueType face without 'glyf' (bitmap-only) fails with status -982, as the load's rules say.
Then the failures: a missing file, a file that is no font, a face the file does not have, a face that is no
number, and a face without a (3,1) character map. Also a TrueType collection built from two real fonts, so
that collection members are covered whatever the corpus holds.

--packages limits the corpus to the files of the named Debian packages (the test run's font packages); each
must be installed, or the test fails. Without it, every font file of the machine's corpus is examined.
Prints every difference and ends with "N passed, N failed".
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import font_corpus  # noqa: E402

try:
    from fontTools.ttLib import TTFont
except ImportError:
    print("FAIL: fontTools is not installed (Debian package python3-fonttools)")
    sys.exit(1)

TRUETYPE_VERSIONS = (b"\x00\x01\x00\x00", b"true")


def run(tool, *args):
    p = subprocess.run([tool, *args], capture_output=True)
    return p.returncode, p.stdout.decode("latin-1")


def package_files(packages):
    files = set()
    for package in packages:
        q = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
        if "install ok installed" not in q.stdout:
            print("FAIL: the font package %s is not installed (tools/run_tests.sh installs it)" % package)
            sys.exit(1)
        listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True).stdout
        for path in listing.split("\n"):
            if path.lower().endswith(font_corpus.EXTENSIONS) and os.path.isfile(path):
                files.add(os.path.realpath(path))
    return sorted(files)


def faces(path):
    """(face index, offset, version, table tags) of every face of a file; [] for no sfnt file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] == b"ttcf":
        count = struct.unpack_from(">I", data, 8)[0]
        offsets = [struct.unpack_from(">I", data, 12 + 4 * i)[0] for i in range(count)]
    else:
        offsets = [0]
    result = []
    for i, off in enumerate(offsets):
        version = data[off:off + 4]
        n = struct.unpack_from(">H", data, off + 4)[0]
        tags = [data[off + 12 + 16 * j:off + 16 + 16 * j].decode("latin-1") for j in range(n)]
        result.append((i, off, version, tags))
    return result


def parse_info(text):
    values, tables = {}, []
    for line in text.splitlines():
        if line.startswith("table "):
            rest = line[10:].split()
            tables.append((line[6:10], int(rest[0]), int(rest[1])))
        else:
            key, _, value = line.partition(" ")
            values[key] = value
    return values, tables


def fixed(value):
    """A 16.16 value as fontTools gives it, back to its stored 32 bits: fontTools keeps some as floats
    (head's version and revision) and others as the stored integer (hhea's and maxp's version)."""
    if isinstance(value, int):
        return value & 0xFFFFFFFF
    return int(round(value * 65536)) & 0xFFFFFFFF


def expected_fields(font):
    head, hhea, maxp = font["head"], font["hhea"], font["maxp"]
    e = {
        "head.version": "0x%08X" % fixed(head.tableVersion),
        "head.fontRevision": "0x%08X" % fixed(head.fontRevision),
        "head.checkSumAdjustment": "0x%08X" % head.checkSumAdjustment,
        "head.magicNumber": "0x%08X" % head.magicNumber,
        "head.flags": "0x%04X" % head.flags,
        "head.unitsPerEm": head.unitsPerEm,
        "head.created": head.created,
        "head.modified": head.modified,
        "head.xMin": head.xMin, "head.yMin": head.yMin, "head.xMax": head.xMax, "head.yMax": head.yMax,
        "head.macStyle": "0x%04X" % head.macStyle,
        "head.lowestRecPPEM": head.lowestRecPPEM,
        "head.fontDirectionHint": head.fontDirectionHint,
        "head.indexToLocFormat": head.indexToLocFormat,
        "head.glyphDataFormat": head.glyphDataFormat,
        "hhea.version": "0x%08X" % fixed(hhea.tableVersion),
        "hhea.ascender": hhea.ascent, "hhea.descender": hhea.descent, "hhea.lineGap": hhea.lineGap,
        "hhea.advanceWidthMax": hhea.advanceWidthMax,
        "hhea.minLeftSideBearing": hhea.minLeftSideBearing,
        "hhea.minRightSideBearing": hhea.minRightSideBearing,
        "hhea.xMaxExtent": hhea.xMaxExtent,
        "hhea.caretSlopeRise": hhea.caretSlopeRise, "hhea.caretSlopeRun": hhea.caretSlopeRun,
        "hhea.caretOffset": hhea.caretOffset, "hhea.metricDataFormat": hhea.metricDataFormat,
        "hhea.numberOfHMetrics": hhea.numberOfHMetrics,
        "maxp.version": "0x%08X" % fixed(maxp.tableVersion),
    }
    for name in ("numGlyphs maxPoints maxContours maxCompositePoints maxCompositeContours maxZones "
                 "maxTwilightPoints maxStorage maxFunctionDefs maxInstructionDefs maxStackElements "
                 "maxSizeOfInstructions maxComponentElements maxComponentDepth").split():
        e["maxp." + name] = getattr(maxp, name)
    if "OS/2" in font:
        os2 = font["OS/2"]
        for name in ("version xAvgCharWidth usWeightClass usWidthClass ySubscriptXSize ySubscriptYSize "
                     "ySubscriptXOffset ySubscriptYOffset ySuperscriptXSize ySuperscriptYSize "
                     "ySuperscriptXOffset ySuperscriptYOffset yStrikeoutSize yStrikeoutPosition sFamilyClass "
                     "usFirstCharIndex usLastCharIndex sTypoAscender sTypoDescender sTypoLineGap usWinAscent "
                     "usWinDescent").split():
            e["OS/2." + name] = getattr(os2, name)
        e["OS/2.fsType"] = "0x%04X" % os2.fsType
        e["OS/2.fsSelection"] = "0x%04X" % os2.fsSelection
        for i in range(1, 5):
            e["OS/2.ulUnicodeRange%d" % i] = "0x%08X" % getattr(os2, "ulUnicodeRange%d" % i)
        p = os2.panose
        e["OS/2.panose"] = " ".join(str(getattr(p, a)) for a in (
            "bFamilyType bSerifStyle bWeight bProportion bContrast bStrokeVariation bArmStyle bLetterForm "
            "bMidline bXHeight").split())
        vendor = os2.achVendID
        if isinstance(vendor, bytes):
            vendor = vendor.decode("latin-1")
        e["OS/2.achVendID"] = "".join(c if 0x20 <= ord(c) < 0x7F else "?" for c in vendor.ljust(4)[:4])
    return {k: str(v) for k, v in e.items()}


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.glyph_zero = 0

    def result(self, ok, label, details=()):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s" % label)
            for d in list(details)[:20]:
                print("    " + d)

    def truetype_face(self, tool, path, index, tags, collection):
        label = "%s face %d" % (path, index)
        face_args = ["--face", str(index)] if collection else []
        code, text = run(tool, "info", path, *face_args)
        if "glyf" not in tags:
            # A TrueType-flavoured face with bitmaps only: the load needs 'glyf', 'loca', 'hmtx'.
            self.result(code == 1 and text.strip() == "status -982", label + ": bitmap-only face",
                        ["exit %d, %r (want status -982: no 'glyf')" % (code, text.strip())])
            return
        if code != 0:
            self.result(False, label + ": info", ["exit %d: %s" % (code, text.strip()[:200])])
            return
        values, tables = parse_info(text)
        font = TTFont(path, fontNumber=index, lazy=True)
        diffs = []
        reader_tables = [(tag, font.reader.tables[tag].offset, font.reader.tables[tag].length)
                         for tag in font.reader.tables]
        if sorted(tables) != sorted(reader_tables):
            diffs.append("tables: %r != fontTools %r" % (tables, reader_tables))
        if values.get("numTables") != str(len(reader_tables)):
            diffs.append("numTables %s != %d" % (values.get("numTables"), len(reader_tables)))
        if values.get("kind") != "true":
            diffs.append("kind %s" % values.get("kind"))
        if values.get("unitsPerEm") != str(font["head"].unitsPerEm):
            diffs.append("unitsPerEm %s != %d" % (values.get("unitsPerEm"), font["head"].unitsPerEm))
        if values.get("glyphCount") != str(font["maxp"].numGlyphs):
            diffs.append("glyphCount %s != %d" % (values.get("glyphCount"), font["maxp"].numGlyphs))
        for key, want in expected_fields(font).items():
            if values.get(key) != want:
                diffs.append("%s: korv-font %r, fontTools %r" % (key, values.get(key), want))
        self.result(not diffs, label + ": info", diffs)

        # cmap against fontTools' (3,1) mapping.
        code, text = run(tool, "cmap", path, *face_args)
        subtable = font["cmap"].getcmap(3, 1)
        if subtable is None:
            self.result(code == 1 and text.strip() == "status -35", label + ": cmap without (3,1)",
                        ["exit %d, %r" % (code, text[:100])])
            return
        if code != 0:
            self.result(False, label + ": cmap", ["exit %d: %s" % (code, text.strip()[:200])])
            return
        ids = font.getReverseGlyphMap()
        want = {c: ids[name] for c, name in subtable.cmap.items() if c <= 0x10FFFF}
        got = {}
        diffs = []
        for line in text.splitlines():
            hexcode, _, glyph = line.partition("\t")
            if not hexcode.startswith("U+") or len(hexcode) < 6 or hexcode[2:] != hexcode[2:].upper():
                diffs.append("malformed line %r" % line)
                continue
            got[int(hexcode[2:], 16)] = int(glyph)
        for c in sorted(set(want) | set(got)):
            if got.get(c) == want.get(c):
                continue
            if got.get(c) == 0 and c not in want:
                self.glyph_zero += 1  # mapped to glyph 0: fontTools drops such codes
                continue
            diffs.append("U+%04X: korv-font %s, fontTools %s" % (c, got.get(c), want.get(c)))
        self.result(not diffs, label + ": cmap (%d codes)" % len(got), diffs)


def build_collection(paths, out):
    """A TrueType collection of whole real fonts: each font's tables copied, offsets made absolute."""
    fonts = [open(p, "rb").read() for p in paths]
    header = b"ttcf" + struct.pack(">II", 0x00010000, len(fonts))
    at = len(header) + 4 * len(fonts)
    offsets, blobs = [], []
    for data in fonts:
        at = (at + 3) & ~3
        offsets.append(at)
        blob = bytearray(data)
        n = struct.unpack_from(">H", data, 4)[0]
        for j in range(n):
            o = 12 + 16 * j + 8
            struct.pack_into(">I", blob, o, struct.unpack_from(">I", data, o)[0] + at)
        blobs.append(bytes(blob))
        at += len(blob)
    out_bytes = bytearray(header + b"".join(struct.pack(">I", o) for o in offsets))
    for o, blob in zip(offsets, blobs):
        out_bytes += b"\0" * (o - len(out_bytes))
        out_bytes += blob
    with open(out, "wb") as f:
        f.write(out_bytes)


def failures(tool, checker, work, sample):
    def expect(label, args, want_text):
        code, text = run(tool, *args)
        checker.result(code == 1 and text.strip() == want_text, label,
                       ["exit %d, output %r (want exit 1, %r)" % (code, text.strip()[:100], want_text)])

    expect("missing file", ["info", os.path.join(work, "missing.ttf")], "status -36")
    text_file = os.path.join(work, "text.ttf")
    with open(text_file, "w") as f:
        f.write("plain text, not a font\n" * 40)
    expect("a file that is no font", ["info", text_file], "status -50")
    expect("a face a single font does not have", ["info", sample, "--face", "1"], "status -50")
    expect("a face that is no number", ["cmap", sample, "--face", "one"], "status -50")
    # A face whose 'cmap' has no (3,1) subtable loads; its cmap command answers -35.
    font = TTFont(sample)
    font["cmap"].tables = [t for t in font["cmap"].tables if (t.platformID, t.platEncID) != (3, 1)]
    no31 = os.path.join(work, "no31.ttf")
    font.save(no31)
    code, text = run(tool, "info", no31)
    checker.result(code == 0 and "\ncmapIndex -1\n" in text, "info of a face without (3,1)",
                   ["exit %d, %r" % (code, text[:200])])
    expect("cmap of a face without (3,1)", ["cmap", no31], "status -35")
    code, text = run(tool, "nonsense", sample)
    checker.result(code == 2, "unknown command exits 2", ["exit %d" % code])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--packages", nargs="*")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)

    files = package_files(args.packages) if args.packages else font_corpus.corpus_files()
    checker = Checker()
    truetype = []
    for path in files:
        try:
            entries = faces(path)
        except (struct.error, OSError):
            continue
        collection = open(path, "rb").read(4) == b"ttcf"
        for index, _, version, tags in entries:
            if version in TRUETYPE_VERSIONS:
                truetype.append(path)
                checker.truetype_face(args.tool, path, index, tags, collection)
    if not truetype:
        print("FAIL: the corpus holds no TrueType font")
        return 1
    print("%d files, %d TrueType faces examined" % (len(files), len(truetype)))

    with tempfile.TemporaryDirectory(dir=args.work) as work:
        # A collection of two real fonts: both members, and a face past its end.
        members = sorted(set(truetype))[:2] if len(set(truetype)) >= 2 else [truetype[0]] * 2
        ttc = os.path.join(work, "pair.ttc")
        build_collection(members, ttc)
        for index, _, _, tags in faces(ttc):
            checker.truetype_face(args.tool, ttc, index, tags, True)
        code, text = run(args.tool, "info", ttc, "--face", "2")
        checker.result(code == 1 and text.strip() == "status -50", "a face past the collection's end",
                       ["exit %d, %r" % (code, text.strip())])
        failures(args.tool, checker, work, sorted(set(truetype))[0])

    print("codes mapped to glyph 0 (printed here, dropped by fontTools): %d" % checker.glyph_zero)
    print("%d passed, %d failed" % (checker.passed, checker.failed))
    return 1 if checker.failed else 0


if __name__ == "__main__":
    sys.exit(main())
