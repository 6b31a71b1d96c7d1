#!/usr/bin/python3
"""End-to-end identification of the fonts of the machine's font packages.

fontTools reads each real font's full names (name ID 4 in its Windows and Macintosh, Japanese and English
versions) and the PostScript name of its CFF table. From those names this script writes a catalog
description in which every font has a role (listed by one of its names in a chosen group and column, listed
twice, or not listed), runs korv-catalog to write the catalog file, runs korv-identify on the font files and
checks each line (status, group, format slot, entry index, font kind) against what the role and fontTools say
it must be.

Exit status: 0 all checks passed, 1 a check failed, 77 the test cannot run here (no fontTools or none of the
fonts installed); ctest reports 77 as skipped.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys

SKIP = 77

FONT_DIR = "/usr/share/fonts"

# Font kinds as korv-identify prints them.
KIND_NONE, KIND_OPENTYPE_CFF, KIND_TRUETYPE, KIND_TRUETYPE_COLLECTION, KIND_CFF_COLLECTION = 0, 2, 3, 4, 6

# Format slots of the catalog's columns.
SLOT = {"OTTO": 2, "true": 3, "sbix": 11, "COLR": 12}


def mapped_row(group):
    return {3: 10, 5: 11}.get(group, group)


def full_name(font, platform, language):
    """The full name (ID 4) of one platform and language, decoded as the identification decodes it."""
    for record in font["name"].names:
        if record.nameID != 4 or record.platformID != platform or record.langID != language:
            continue
        raw = record.string if isinstance(record.string, bytes) else record.string.encode("utf-16-be")
        if platform == 3 and record.platEncID in (1, 10):
            return raw.decode("utf-16-be")[:127]
        if (platform == 3 and record.platEncID == 2) or platform == 1:
            return raw.decode("cp932")
    return None


def postscript_name(font):
    return font["CFF "].cff.fontNames[0]


def directory_tags(path, offset=0):
    """The table tags of the sfnt at `offset`, in directory order (duplicates kept)."""
    with open(path, "rb") as f:
        f.seek(offset)
        header = f.read(12)
        count = struct.unpack(">H", header[4:6])[0]
        records = f.read(16 * count)
    return [records[16 * i:16 * i + 4].decode("latin-1") for i in range(count)]


class Case:
    """One font file, how the catalog lists it, and what the identification must report."""

    def __init__(self, path, kind, listings=(), status=None, expect=None, note=""):
        self.path = path
        self.kind = kind
        self.listings = listings  # (group, tag, name) tuples, in the order they enter the catalog
        self.status = status
        self.expect = expect  # index into listings of the entry that must be found, or None
        self.note = note


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--identify", required=True)
    parser.add_argument("--catalog-tool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    try:
        from fontTools.ttLib import TTCollection, TTFont
    except ImportError:
        print("SKIP: fontTools is not installed (Debian package python3-fonttools)")
        return SKIP

    def font_path(relative):
        path = os.path.join(FONT_DIR, relative)
        return path if os.path.isfile(path) else None

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    cases = []
    missing = []

    def truetype(relative, listings_of, status, expect=0, note=""):
        path = font_path(relative)
        if not path:
            missing.append(relative)
            return
        font = TTFont(path, lazy=True)
        listings = listings_of(font)
        cases.append(Case(path, KIND_TRUETYPE, listings, status, expect if listings else None, note))

    def opentype(relative, listings_of, status, expect=0, note=""):
        path = font_path(relative)
        if not path:
            missing.append(relative)
            return
        font = TTFont(path, lazy=True)
        listings = listings_of(font)
        # The status comes from the last `name` or `CFF ` record of the directory: a sound name table after
        # the CFF table makes it 0 even when the CFF name is not listed.
        tags = directory_tags(path)
        name_after_cff = tags.index("name") > tags.index("CFF ")
        if status is None:
            status = 0 if (expect is not None or name_after_cff) else 1
        cases.append(Case(path, KIND_OPENTYPE_CFF, listings, status, expect, note))

    W_JA, W_EN, M_JA, M_EN = (3, 0x0411), (3, 0x0409), (1, 11), (1, 0)

    # TrueType fonts, by full name.
    truetype("opentype/ipafont-gothic/ipag.ttf", lambda f: [(0, "true", full_name(f, *W_JA))], 0,
             note="Windows Japanese name, group 0")
    truetype("opentype/ipafont-gothic/ipagp.ttf", lambda f: [(7, "true", full_name(f, *W_EN))], 0,
             note="Windows English name, group 7")
    truetype("opentype/ipaexfont-gothic/ipaexg.ttf", lambda f: [(0, "true", full_name(f, *M_JA))], 0,
             note="Macintosh Japanese name (Windows-31J), second entry")
    truetype("opentype/ipaexfont-mincho/ipaexm.ttf", lambda f: [(2, "COLR", full_name(f, *M_EN))], 0,
             note="Macintosh English name under COLR")
    truetype("opentype/ipafont-mincho/ipam.ttf", lambda f: [(6, "sbix", full_name(f, *W_JA))], 0,
             note="Windows Japanese name under sbix")
    truetype("opentype/ipafont-mincho/ipamp.ttf", lambda f: [], 1, note="not listed")
    truetype("truetype/dejavu/DejaVuSans.ttf", lambda f: [(3, "true", full_name(f, *W_EN))], 0,
             note="stored group 3 is row 10")
    truetype("truetype/dejavu/DejaVuSans-Bold.ttf", lambda f: [(5, "true", full_name(f, *M_EN))], 0,
             note="stored group 5 is row 11")
    truetype("truetype/dejavu/DejaVuSansMono.ttf",
             lambda f: [(0, "sbix", full_name(f, *W_EN)), (1, "true", full_name(f, *W_EN))], 0, expect=1,
             note="listed under sbix (row 0) and true (row 1): true wins")
    truetype("truetype/dejavu/DejaVuSerif.ttf", lambda f: [], 1, note="not listed")

    # OpenType fonts with CFF outlines, by CFF font name.
    opentype("opentype/freefont/FreeSans.otf", lambda f: [(0, "OTTO", postscript_name(f))], None,
             note="CFF name, group 0")
    opentype("opentype/freefont/FreeSerif.otf", lambda f: [(7, "OTTO", postscript_name(f))], None,
             note="CFF name, group 7")
    opentype("opentype/freefont/FreeSansBold.otf", lambda f: [(0, "OTTO", postscript_name(f))], None,
             note="CFF name, group 0, second entry")
    opentype("opentype/freefont/FreeMono.otf", lambda f: [], None, expect=None, note="not listed")
    opentype("opentype/freefont/FreeMonoBold.otf", lambda f: [(0, "true", full_name(f, *W_EN))], None,
             expect=None, note="full name listed, CFF name not: not found")

    # Collections.
    noto = font_path("opentype/noto/NotoSansCJK-Regular.ttc")
    if noto:
        first = TTCollection(noto, lazy=True).fonts[0]
        cases.append(Case(noto, KIND_CFF_COLLECTION, [(0, "OTTO", postscript_name(first))], -50, None,
                          "collection of CFF fonts"))
    else:
        missing.append("opentype/noto/NotoSansCJK-Regular.ttc")
    sans = font_path("truetype/dejavu/DejaVuSans-Oblique.ttf")
    serif = font_path("truetype/dejavu/DejaVuSerif-Bold.ttf")
    if sans and serif:
        # Built by fontTools from two real fonts; only the first font of a collection is examined.
        listing = [(8, "true", full_name(TTFont(sans, lazy=True), *W_EN))]
        for order, name, listings, status in (((sans, serif), "pair.ttc", listing, 0),
                                              ((serif, sans), "reversed.TTC", [], 1)):
            collection = TTCollection()
            collection.fonts = [TTFont(p) for p in order]
            out = os.path.join(args.work, name)
            collection.save(out)
            cases.append(Case(out, KIND_TRUETYPE_COLLECTION, listings, status, 0 if listings else None,
                              "TrueType collection, first font " + os.path.basename(order[0])))
    else:
        missing.append("DejaVu fonts for the collections")

    # File names: only .ttf, .otf and .ttc in any letter case are examined.
    condensed = font_path("truetype/dejavu/DejaVuSansCondensed.ttf")
    if condensed:
        woff_named = os.path.join(args.work, "DejaVuSansCondensed.woff")
        shutil.copyfile(condensed, woff_named)
        cases.append(Case(woff_named, KIND_NONE, [], 0, None, "extension not .ttf/.otf/.ttc"))
        upper = os.path.join(args.work, "DEJAVUCONDENSED.TTF")
        shutil.copyfile(condensed, upper)
        cases.append(Case(upper, KIND_TRUETYPE, [(9, "COLR", full_name(TTFont(condensed, lazy=True), *W_EN))], 0,
                          0, "upper-case extension, listed under COLR"))
    text = os.path.join(args.work, "text.ttf")
    with open(text, "w") as f:
        f.write("not a font\n" * 100)
    cases.append(Case(text, KIND_NONE, [], 0, None, "text in a .ttf"))

    for m in missing:
        print("skipped, not installed: " + m)
    if not any(c.kind != KIND_NONE for c in cases):
        print("SKIP: none of the real fonts is installed (fonts-ipafont-gothic, fonts-ipaexfont, "
              "fonts-freefont-otf, fonts-noto-cjk, fonts-dejavu-core)")
        return SKIP

    # The catalog: one table per (group, tag), entries in the order the cases list them.
    tables = {}
    where = {}  # (case index, listing index) -> (group, tag, entry index)
    for ci, case in enumerate(cases):
        for li, (group, tag, name) in enumerate(case.listings):
            if name is None:
                print("FAIL: %s has no name for its listing %d" % (case.path, li))
                return 1
            entries = tables.setdefault((group, tag), [])
            where[(ci, li)] = (group, tag, len(entries))
            entries.append((name, tag))

    def quoted(text):
        return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'

    lines = ["# written by RealFontsTest.py from the names fontTools reads"]
    for (group, tag), entries in tables.items():
        lines.append("table %d %s" % (group, tag))
        for name, _ in entries:
            lines.append("entry")
            lines.append("    display = " + quoted(name))
            if tag == "OTTO":
                lines.append("    postscript = " + quoted(name))
            else:
                lines.append("    fullname = " + quoted(name))
    description = os.path.join(args.work, "catalog.txt")
    with open(description, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    catalog = os.path.join(args.work, "FontCat.awfc")
    subprocess.run([args.catalog_tool, description, catalog], check=True)

    run = subprocess.run([args.identify, "--catalog", catalog] + [c.path for c in cases], capture_output=True,
                         text=True)
    if run.returncode != 0:
        print("FAIL: korv-identify exited with %d: %s" % (run.returncode, run.stderr))
        return 1
    output = run.stdout.splitlines()
    if len(output) != len(cases):
        print("FAIL: %d lines for %d files" % (len(output), len(cases)))
        return 1

    passed = failed = 0

    # The tool's own failures: a catalog that does not load is reported with its status and a non-zero exit.
    not_catalog = os.path.join(args.work, "not-a-catalog.awfc")
    with open(not_catalog, "wb") as f:
        f.write(b"\x00\x03\x00\x00" + bytes(12))
    refused = subprocess.run([args.identify, "--catalog", not_catalog, text], capture_output=True, text=True)
    if refused.returncode != 0 and "status -1" in refused.stderr and not refused.stdout:
        passed += 1
    else:
        failed += 1
        print("FAILED: a version-3 catalog gave exit %d, stderr %r" % (refused.returncode, refused.stderr))
    print("%-6s %-5s %-4s %-5s %-4s  %-40s %s" % ("status", "group", "slot", "entry", "kind", "font", "role"))
    for ci, (case, line) in enumerate(zip(cases, output)):
        fields = line.split("\t")
        got = tuple(int(x) for x in fields[:5])
        if case.expect is not None:
            group, tag, index = where[(ci, case.expect)]
            want = (case.status, mapped_row(group), SLOT[tag], index, case.kind)
        else:
            want = (case.status, -1, -1, -1, case.kind)
        ok = got == want and fields[5] == case.path
        passed += ok
        failed += not ok
        print("%-6d %-5d %-4d %-5d %-4d  %-40s %s%s" % (got + (os.path.basename(case.path), case.note,
                                                        "" if ok else "   FAILED, expected %s" % (want,))))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
