#!/usr/bin/python3
"""loadCffTable against fontTools over every CFF face of the font corpus, through `korv-font info`.

For every face whose offset table says 'OTTO' (single .otf fonts and every member of a CFF collection, such
as the CID-keyed Noto CJK collections), korv-font info must succeed, and its CFF fields must agree with what
fontTools reads from the same 'CFF ' table:
  - cff.charStrings (the CharStrings count), cff.fdCount (FDArray count of a CID-keyed font; 1 for a
    name-keyed font with a Private DICT), cff.fdSelectFormat, cff.fontBBox (each value cut to 16 bits),
    cff.globalSubrs;
  - FDSelect: the Font DICT of every glyph, as korv-font prints it in runs (cff.fdRange FIRST LAST FD, found
    through fontDictOf, the bisection glyph access uses) against fontTools' per-glyph array;
  - per Private DICT: defaultWidthX and nominalWidthX (a real as its integer part, rounded toward minus
    infinity), the stem widths (StdHW then the StemSnapH operands as stored, at most 12, in 26.6; fontTools
    gives StemSnap as absolute values, which are turned back into the stored differences), the local Subrs
    count, and the alignment zones kept for the hinting scaler (BlueValues, OtherBlues as absolute values,
    BlueScale, BlueShift, BlueFuzz with their defaults).
Values that come from real operands may differ by one 26.6 or 16.16 unit (fontTools keeps the decimal as a
float; the DICT reader rounds it to 16.16 first).

fontTools reads each distinct CFF table once per run (the faces of a Noto CJK collection share one table);
nothing is cached on disk. --packages limits the corpus to the named Debian packages, each of which must be
installed; without it, every font file of the machine's corpus is examined. Prints every difference and
ends with "N passed, N failed".
"""

import argparse
import math
import os
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import font_corpus  # noqa: E402

try:
    from fontTools.cffLib import CFFFontSet
except ImportError:
    print("FAIL: fontTools is not installed (Debian package python3-fonttools)")
    sys.exit(1)

MAX_STEMS = 12
MAX_BLUES = 14
MAX_OTHER_BLUES = 10


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


def cff_faces(path):
    """(face index, (CFF offset, length)) of every 'OTTO' face of a file."""
    with open(path, "rb") as f:
        head = f.read(12)
        offsets = [0]
        if head[:4] == b"ttcf":
            count = struct.unpack_from(">I", head, 8)[0]
            offsets = list(struct.unpack(">%dI" % count, f.read(4 * count)))
        result = []
        for index, offset in enumerate(offsets):
            f.seek(offset)
            table = f.read(12)
            if len(table) < 12 or table[:4] != b"OTTO":
                continue
            count = struct.unpack_from(">H", table, 4)[0]
            records = f.read(16 * count)
            cff = None
            for i in range(count):
                tag, _, off, length = struct.unpack_from(">4sIII", records, 16 * i)
                if tag == b"CFF " and cff is None:
                    cff = (off, length)
            result.append((index, cff))
        return result


def int16(v):
    v = int(v) & 0xFFFF
    return v - 0x10000 if v >= 0x8000 else v


def is_integer(v):
    return isinstance(v, int) or float(v).is_integer()


def fixed(v):
    """A DICT operand as the DICT reader stores it: 16.16, rounded half up in magnitude."""
    if is_integer(v):
        return int(v) * 65536
    magnitude = math.floor(abs(v) * 65536 + 0.5)
    return -magnitude if v < 0 else magnitude


def to26(v):
    """(value in 26.6, exact?) of an operand: an integer x 64, a real's 16.16 value shifted right by 10."""
    if is_integer(v):
        return int(v) * 64, True
    return fixed(v) >> 10, False


def font_units(v):
    if is_integer(v):
        return int(v), True
    return fixed(v) >> 16, False


def deltas(values):
    out, previous = [], 0
    for v in values:
        out.append(v - previous)
        previous = v
    return out


def expected_private(private, has_private):
    """The kept values of one Private DICT (None: the slot was not read, all defaults)."""
    get = (lambda name, default: private.rawDict.get(name, default)) if has_private else (lambda n, d: d)
    stems = {}
    for key, std, snap in (("stemH", "StdHW", "StemSnapH"), ("stemV", "StdVW", "StemSnapV")):
        values = []
        if get(std, None) is not None:
            values.append(get(std, None))
        values += deltas(get(snap, []) or [])
        stems[key] = [to26(v) for v in values[:MAX_STEMS]]
    blues = {}
    for key, name, limit in (("blueValues", "BlueValues", MAX_BLUES), ("otherBlues", "OtherBlues", MAX_OTHER_BLUES)):
        blues[key] = [to26(v) for v in (get(name, []) or [])[:limit]]
    subrs = 0
    if has_private and "Subrs" in private.rawDict:
        subrs = len(private.Subrs)
    scale = get("BlueScale", 0.039625)
    return {
        "defaultWidthX": font_units(get("defaultWidthX", 0)),
        "nominalWidthX": font_units(get("nominalWidthX", 0)),
        "subrs": (subrs, True),
        "blueScale": (fixed(scale) if not is_integer(scale) else int(scale) * 65536, is_integer(scale)),
        "blueShift": to26(get("BlueShift", 7)),
        "blueFuzz": to26(get("BlueFuzz", 1)),
        **stems,
        **blues,
    }


def runs(fds):
    out = []
    for glyph, fd in enumerate(fds):
        if out and out[-1][2] == fd:
            out[-1][1] = glyph
        else:
            out.append([glyph, glyph, fd])
    return [tuple(r) for r in out]


def expected_table(data):
    """The expected CFF fields of one CFF table, read by fontTools."""
    cff = CFFFontSet()
    cff.decompile(_Reader(data), None)
    top = cff.topDictIndex[0]
    raw = top.rawDict
    glyphs = len(top.CharStrings.charStringsIndex) if "CharStrings" in raw else 0
    result = {
        "charStrings": glyphs,
        "globalSubrs": len(cff.GlobalSubrs),
        "fontBBox": [int16(v) for v in raw.get("FontBBox", [0, 0, 0, 0])],
    }
    privates = []
    if "ROS" in raw and ("FDSelect" in raw or "FDArray" in raw):
        fd_array = top.FDArray
        result["fdCount"] = len(fd_array)
        result["fdSelectFormat"] = top.FDSelect.format
        fds = list(top.FDSelect.gidArray) if len(fd_array) > 1 else [0] * glyphs
        for fd in fd_array:
            size_offset = fd.rawDict.get("Private")
            has = bool(size_offset and size_offset[0] and size_offset[1])
            privates.append(expected_private(fd.Private if has else None, has))
    else:
        size_offset = raw.get("Private")
        has = bool(size_offset and size_offset[0] and size_offset[1])
        result["fdCount"] = 1 if has else 0
        result["fdSelectFormat"] = 0
        fds = [0] * glyphs
        if has:
            privates.append(expected_private(top.Private, True))
    result["fdRanges"] = runs(fds)
    result["privates"] = privates
    return result


class _Reader:
    """The minimal file object fontTools' CFF decompiler reads from."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def read(self, n=-1):
        end = len(self.data) if n < 0 else self.pos + n
        chunk = self.data[self.pos:end]
        self.pos = min(end, len(self.data))
        return chunk

    def seek(self, pos, whence=0):
        self.pos = pos if whence == 0 else (self.pos + pos if whence == 1 else len(self.data) + pos)

    def tell(self):
        return self.pos


def parse_info(text):
    fields, ranges, privates = {}, [], {}
    for line in text.splitlines():
        key, _, value = line.partition(" ")
        if key == "cff.fdRange":
            ranges.append(tuple(int(v) for v in value.split()))
        elif key.startswith("cff.private["):
            index = int(key[len("cff.private["):key.index("]")])
            privates.setdefault(index, {})[key[key.index("]") + 2:]] = value
        elif key.startswith("cff.") or key == "status":
            fields[key] = value
    return fields, ranges, privates


def units_text_to26(text):
    """A printed font-unit value back to 26.6 ("12.5" -> 800)."""
    whole, _, fraction = text.partition(".")
    negative = whole.startswith("-")
    value = abs(int(whole)) * 64 + (round(int(fraction) * 64 / 10 ** len(fraction)) if fraction else 0)
    return -value if negative else value


def compare_private(index, got, want, differences):
    def check(key, got_value, want_value):
        value, exact = want_value
        if got_value != value and (exact or abs(got_value - value) > 1):
            differences.append("private[%d].%s: korv %s, fontTools %s" % (index, key, got_value, value))

    for key in ("defaultWidthX", "nominalWidthX", "subrs"):
        check(key, int(got.get(key, "nan")), want[key])
    check("blueScale", int(got.get("blueScale", "0/1").split("/")[0]), want["blueScale"])
    for key in ("blueShift", "blueFuzz"):
        check(key, units_text_to26(got.get(key, "0")), want[key])
    for key in ("stemH", "stemV", "blueValues", "otherBlues"):
        text = got.get(key, "-")
        values = [] if text == "-" else [units_text_to26(v) for v in text.split()]
        if len(values) != len(want[key]):
            differences.append("private[%d].%s: korv %s, fontTools %s" %
                               (index, key, values, [v for v, _ in want[key]]))
            continue
        for got_value, want_value in zip(values, want[key]):
            check(key, got_value, want_value)


def compare(fields, ranges, privates, want):
    differences = []
    if fields.get("status") != "0":
        return ["status %s" % fields.get("status")]
    for key in ("charStrings", "fdCount", "fdSelectFormat", "globalSubrs"):
        if int(fields.get("cff." + key, "-1")) != want[key]:
            differences.append("%s: korv %s, fontTools %s" % (key, fields.get("cff." + key), want[key]))
    bbox = [int(v) for v in fields.get("cff.fontBBox", "0 0 0 0").split()]
    if bbox != want["fontBBox"]:
        differences.append("fontBBox: korv %s, fontTools %s" % (bbox, want["fontBBox"]))
    if ranges != want["fdRanges"]:
        first = next((i for i, (a, b) in enumerate(zip(ranges, want["fdRanges"])) if a != b),
                     min(len(ranges), len(want["fdRanges"])))
        differences.append("FDSelect: %d runs against %d, first difference at run %d: korv %s, fontTools %s" %
                           (len(ranges), len(want["fdRanges"]), first, ranges[first:first + 1],
                            want["fdRanges"][first:first + 1]))
    if len(privates) != len(want["privates"]):
        differences.append("Private DICTs: korv %d, fontTools %d" % (len(privates), len(want["privates"])))
    for index, expected in enumerate(want["privates"]):
        if index in privates:
            compare_private(index, privates[index], expected, differences)
    return differences


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True, help="the korv-font program")
    parser.add_argument("--packages", nargs="*")
    args = parser.parse_args()
    files = package_files(args.packages) if args.packages else font_corpus.corpus_files()

    started = time.perf_counter()
    passed = failed = 0
    tables = {}
    fonttools_seconds = 0.0
    name_keyed = cid_keyed = 0
    for path in files:
        faces = cff_faces(path)
        if not faces:
            continue
        for index, cff in faces:
            label = "%s face %d" % (path, index)
            if cff is None:
                print("FAIL %s: no 'CFF ' table" % label)
                failed += 1
                continue
            key = (path, cff)
            if key not in tables:
                t0 = time.perf_counter()
                with open(path, "rb") as f:
                    f.seek(cff[0])
                    data = f.read(cff[1])
                try:
                    tables[key] = expected_table(data)
                except Exception as error:  # fontTools refuses the table: named, not compared
                    tables[key] = "fontTools cannot read the table: %s" % error
                fonttools_seconds += time.perf_counter() - t0
            want = tables[key]
            p = subprocess.run([args.tool, "info", path, "--face", str(index)], capture_output=True)
            fields, ranges, privates = parse_info(p.stdout.decode("latin-1"))
            if isinstance(want, str):
                print("FAIL %s: %s; korv-font status %s" % (label, want, fields.get("status")))
                failed += 1
                continue
            differences = compare(fields, ranges, privates, want)
            if p.returncode != 0 and not differences:
                differences.append("exit code %d" % p.returncode)
            if differences:
                failed += 1
                print("FAIL %s:" % label)
                for d in differences:
                    print("    " + d)
            else:
                passed += 1
                if want["fdSelectFormat"] or want["fdCount"] > 1:
                    cid_keyed += 1
                else:
                    name_keyed += 1
    total = passed + failed
    print("%d CFF faces compared (%d name-keyed, %d CID-keyed agree), %d distinct CFF tables; fontTools %.1f s, "
          "all %.1f s" % (total, name_keyed, cid_keyed, len(tables), fonttools_seconds,
                          time.perf_counter() - started))
    if total == 0:
        print("FAIL: no CFF face in the corpus")
        failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
