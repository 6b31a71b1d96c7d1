#!/usr/bin/python3
"""korv-font outline and svg over the real font corpus, against an independent reading with fontTools.

For every TrueType face of the named packages (every member of a collection too):
  - outline of a spread of glyphs: the header line and entries parse; every simple glyph's entries equal the
    contours built here from fontTools' points (x moved by side bearing - xMin, values x 64, quadratic
    segments meeting at midpoints); a composite loads (status 0) unless it has more than 71 contours;
  - outline --ppem 16 of the same glyphs: every coordinate is 16 x the unscaled value / unitsPerEm, truncated;
  - outline --char U+0041 and --char 65 print the glyph that fontTools' (3,1) map gives for 'A';
  - svg --points and svg --ppem --text write well-formed SVG with one cell per glyph.
For the CFF faces of the packages, outline and svg run through the same commands (cubic entries). Then the
failures: a glyph past the last (status 2, exit 1), a code that is not mapped (glyph -1), bad arguments
(status -50). --packages limits the corpus to the named Debian packages, each of which must be installed.
Prints every difference and ends with "N passed, N failed".
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import font_corpus  # noqa: E402

try:
    from fontTools.ttLib import TTFont
except ImportError:
    print("FAIL: fontTools is not installed (Debian package python3-fonttools)")
    sys.exit(1)

HEADER = re.compile(r"^glyph (-?\d+) status (-?\d+) advance (-?\d+) sidebearing (-?\d+) contours (\d+)$")
ARITY = {"M": 2, "L": 2, "Q": 4, "C": 6, "Z": 0}
SAMPLE_STRIDE = 211

passed = 0
failed = 0


def check(condition, message):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + message)
    return condition


def run(tool, *args):
    p = subprocess.run([tool, *args], capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


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


def face_count(path):
    with open(path, "rb") as f:
        head = f.read(12)
    return struct.unpack(">I", head[8:12])[0] if head[:4] == b"ttcf" else 1


def parse_outline(text):
    """[(glyph, status, advance, sidebearing, contours, [contour entries...])] from outline's output."""
    glyphs = []
    for line in text.splitlines():
        m = HEADER.match(line)
        if m:
            glyphs.append([int(v) for v in m.groups()] + [[[]]])
            continue
        if not glyphs:
            return None
        parts = line.split()
        if not parts or parts[0] not in ARITY or len(parts) != 1 + ARITY[parts[0]]:
            return None
        contours = glyphs[-1][5]
        if parts[0] == "Z":
            contours.append([])
        else:
            contours[-1].append((parts[0], *[int(v) for v in parts[1:]]))
    for g in glyphs:
        if not g[5][-1]:
            g[5].pop()
    return glyphs


def expected_contours(glyph, lsb):
    """Our contour rule, from fontTools' points: [[(kind, ...values)]] in 26.6."""
    shift = (lsb - glyph.xMin) * 64
    coords = [(x * 64 + shift, y * 64) for x, y in glyph.coordinates]
    on = [f & 1 for f in glyph.flags]
    contours, first = [], 0
    for last in glyph.endPtsOfContours:
        pts, flags = coords[first:last + 1], on[first:last + 1]
        n = len(pts)

        def mid(a, b):
            return ((a[0] + b[0]) >> 1, (a[1] + b[1]) >> 1)

        if flags[0]:
            start, walk = pts[0], list(range(1, n))
        elif flags[-1]:
            start, walk = pts[-1], list(range(0, n - 1))
        else:
            start, walk = mid(pts[0], pts[-1]), list(range(0, n))
        entries, control = [("M", *start)], None
        for i in walk:
            if flags[i]:
                entries.append(("Q", *control, *pts[i]) if control else ("L", *pts[i]))
                control = None
            else:
                if control:
                    entries.append(("Q", *control, *mid(control, pts[i])))
                control = pts[i]
        entries.append(("Q", *control, *start) if control else ("L", *start))
        contours.append(entries)
        first = last + 1
    return contours


def scaled(contours, ppem, em):
    def s(v):
        q = abs(v) * ppem // em
        return -q if v < 0 else q

    return [[(e[0], *[s(v) for v in e[1:]]) for e in c] for c in contours]


def check_truetype_face(tool, path, face, work):
    where = "%s#%d" % (path, face)
    font = TTFont(path, fontNumber=face, lazy=True)
    order = font.getGlyphOrder()
    glyf, hmtx, em = font["glyf"], font["hmtx"], font["head"].unitsPerEm
    ids = sorted(set([0, 1, 2, 3] + list(range(0, len(order), SAMPLE_STRIDE))) & set(range(len(order))))
    code, out, err = run(tool, "outline", path, "--face", str(face), *map(str, ids))
    glyphs = parse_outline(out)
    if not check(glyphs is not None and len(glyphs) == len(ids), "%s: outline output does not parse" % where):
        return
    by_id = {}
    for g in glyphs:
        gid, status, advance, sidebearing, count, contours = g
        name = order[gid]
        glyph = glyf[name]
        by_id[gid] = g
        check(count == len(contours) or status != 0, "%s glyph %d: %d contours announced, %d printed"
              % (where, gid, count, len(contours)))
        if glyph.isComposite():
            glyph.expand(glyf)
            total = len(glyph.getCoordinates(glyf)[1])
            check(status == 0 or (status == -982 and total > 71),
                  "%s composite glyph %d: status %d" % (where, gid, status))
            continue
        if glyph.numberOfContours == 0:
            check(status == 0 and not contours, "%s empty glyph %d: status %d" % (where, gid, status))
            continue
        lsb = hmtx[name][1]
        expected = expected_contours(glyph, lsb)
        if len(expected) > 71:
            check(status == -982, "%s glyph %d: %d contours, status %d" % (where, gid, len(expected), status))
            continue
        check(status == 0 and advance == hmtx[name][0] * 64 and sidebearing == lsb * 64,
              "%s glyph %d: status %d advance %d sidebearing %d" % (where, gid, status, advance, sidebearing))
        check([list(c) for c in contours] == expected,
              "%s glyph %d: entries differ\n  ours:     %s\n  expected: %s" % (where, gid, contours[:1], expected[:1]))
    # The same glyphs scaled by the face's scaler.
    code, out, err = run(tool, "outline", path, "--face", str(face), "--ppem", "16", *map(str, ids))
    small = parse_outline(out)
    if check(small is not None and len(small) == len(ids), "%s: outline --ppem output does not parse" % where):
        for g, s in zip(glyphs, small):
            if g[1] == 0:
                check(s[5] == scaled(g[5], 16, em), "%s glyph %d at 16 ppem: not 16 x v / %d" % (where, g[0], em))
    # A character code, as U+XXXX and in decimal.
    cmap = font.getBestCmap() if font.get("cmap") and font["cmap"].getcmap(3, 1) else None
    if cmap and 0x41 in cmap:
        for code_text in ("U+0041", "65"):
            code, out, err = run(tool, "outline", path, "--face", str(face), "--char", code_text)
            g = parse_outline(out)
            check(g and g[0][0] == order.index(cmap[0x41]) and g[0][1] == 0,
                  "%s: --char %s gives %s" % (where, code_text, out.splitlines()[:1]))
    check_svg(tool, path, face, work, where)


def check_svg(tool, path, face, work, where):
    sheet = os.path.join(work, "sheet.svg")
    code, out, err = run(tool, "svg", path, "--face", str(face), "--glyphs", "0-9", "--points", "-o", sheet)
    if check(code == 0, "%s: svg exits %d %s" % (where, code, err)):
        root = ET.parse(sheet).getroot()
        labels = [t.text for t in root.iter("{http://www.w3.org/2000/svg}text")]
        check(all(str(i) in labels for i in range(10)), "%s: svg lacks cell labels 0..9" % where)
    code, out, err = run(tool, "svg", path, "--face", str(face), "--ppem", "12", "--text", "Ag", "-o", sheet)
    if check(code == 0, "%s: svg --ppem --text exits %d %s" % (where, code, err)):
        text = open(sheet, encoding="utf-8").read()
        ET.fromstring(text)
        check("U+0041" in text and "U+0067" in text and "12 ppem" in text, "%s: svg --text cells" % where)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--packages", nargs="*")
    args = parser.parse_args()
    files = package_files(args.packages) if args.packages else font_corpus.corpus_files()
    with tempfile.TemporaryDirectory() as work:
        truetype = cff = 0
        for path in files:
            for face in range(face_count(path)):
                code, out, err = run(args.tool, "info", path, "--face", str(face))
                kind = [line.split()[1] for line in out.splitlines() if line.startswith("kind ")]
                if kind == ["true"]:
                    truetype += 1
                    check_truetype_face(args.tool, path, face, work)
                elif kind == ["OTTO"] and cff < 6:
                    cff += 1
                    code, out, err = run(args.tool, "outline", path, "--face", str(face), "1", "2", "3")
                    glyphs = parse_outline(out)
                    check(glyphs is not None and len(glyphs) == 3, "%s#%d: CFF outline does not parse" % (path, face))
                    check_svg(args.tool, path, face, work, "%s#%d" % (path, face))
        check(truetype > 0, "no TrueType face in the corpus")
        # Failures.
        some = next(p for p in files if p.endswith((".ttf", ".TTF")))
        code, out, err = run(args.tool, "outline", some, "65535")
        check(code == 1 and out.startswith("glyph 65535 status 2 ") and out.rstrip().endswith("status 2"),
              "a glyph past the last: exit %d, %r" % (code, out))
        code, out, err = run(args.tool, "outline", some, "--char", "U+10FFFD")
        check(code == 1 and out.startswith("glyph -1 status 2 "), "an unmapped code: exit %d, %r" % (code, out))
        for bad in (["outline", some], ["outline", some, "x1"], ["outline", some, "--ppem", "0", "1"],
                    ["outline", some, "--char", "U+110000"], ["svg", some, "--glyphs", "9-3"],
                    ["svg", some, "--glyphs", "1", "--text", "a"]):
            code, out, err = run(args.tool, *bad)
            check(code == 1 and out.strip() == "status -50", "%s: exit %d, %r" % (" ".join(bad[2:]), code, out))
        print("TrueType faces %d, CFF faces %d" % (truetype, cff))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
