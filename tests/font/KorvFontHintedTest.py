#!/usr/bin/python3
"""korv-font outline and svg with --hinted over every CFF face of the test run's font packages.

For every OpenType CFF face (the FreeFont .otf files, and every face of the Noto CJK collections), at 12 and
16 ppem, for a spread of glyphs (glyph 0 and every glyph at a stride that visits about 40 of them):
  - `outline --ppem N --hinted` succeeds (status 0 in every header line, exit 0), prints the same entries as
    `outline --ppem N` (same kinds, same count, same header lines) with every coordinate within one pixel
    (64) of the plain one, and at least one coordinate of the face differs (the hints are applied);
  - `svg --ppem N --hinted` writes a sheet whose title says "hinted".
Then the rules of the option: a TrueType face (no hint record) prints the plain scaling exactly; --hinted
without --ppem fails with status -50 (exit 1), for outline and svg alike.

Each font package must be installed, or the test fails. Prints every difference and ends with
"N passed, N failed".
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

PACKAGES = ("fonts-freefont-otf", "fonts-noto-cjk", "fonts-dejavu-core")


def run(tool, *args):
    p = subprocess.run([tool, *args], capture_output=True)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def package_files(package):
    q = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
    if "install ok installed" not in q.stdout:
        print("FAIL: the font package %s is not installed (tools/run_tests.sh installs it)" % package)
        sys.exit(1)
    listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True).stdout
    return sorted({os.path.realpath(p) for p in listing.split("\n")
                   if p.lower().endswith((".otf", ".ttf", ".ttc")) and os.path.isfile(p)})


def cff_faces(path):
    """(face, glyph count) of every face of the file with a 'CFF ' table."""
    with open(path, "rb") as f:
        data = f.read()
    offsets = [0]
    if data[:4] == b"ttcf":
        count = struct.unpack(">I", data[8:12])[0]
        offsets = list(struct.unpack(">%dI" % count, data[12:12 + 4 * count]))
    result = []
    for face, base in enumerate(offsets):
        tables = struct.unpack(">H", data[base + 4:base + 6])[0]
        tags = {}
        for i in range(tables):
            tag, _, offset, length = struct.unpack(">4sIII", data[base + 12 + 16 * i:base + 28 + 16 * i])
            tags[tag] = offset
        if b"CFF " in tags and b"maxp" in tags:
            glyphs = struct.unpack(">H", data[tags[b"maxp"] + 4:tags[b"maxp"] + 6])[0]
            result.append((face, glyphs))
    return result


def entries(text):
    """The header lines and the entry lines of an outline listing, entries split into kind and numbers."""
    headers, rows = [], []
    for line in text.split("\n"):
        if line.startswith("glyph "):
            headers.append(line)
        elif line:
            parts = line.split()
            rows.append((parts[0], [int(v) for v in parts[1:]]))
    return headers, rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print("FAIL:", what)

    cff = [p for package in PACKAGES[:2] for p in package_files(package) if not p.endswith(".ttf")]
    truetype = [p for p in package_files(PACKAGES[2]) if p.endswith(".ttf")]
    check(len(cff) >= 13, "the FreeFont and Noto CJK faces are there (%d files)" % len(cff))
    work = tempfile.mkdtemp(prefix="korv-font-hinted-")
    faces = 0
    for path in cff:
        for face, glyph_count in cff_faces(path):
            faces += 1
            stride = max(1, glyph_count // 40)
            glyphs = [str(g) for g in range(0, glyph_count, stride)]
            where = "%s#%d" % (os.path.basename(path), face)
            for ppem in ("12", "16"):
                base = [args.tool, "outline", path, "--face", str(face), "--ppem", ppem]
                code, plain_text, _ = run(*base, *glyphs)
                hcode, hinted_text, err = run(*base, "--hinted", *glyphs)
                check(code == 0 and hcode == 0, "%s %s ppem: outline exits %d, with --hinted %d %s"
                      % (where, ppem, code, hcode, err.strip()))
                plain_headers, plain_rows = entries(plain_text)
                hinted_headers, hinted_rows = entries(hinted_text)
                check(plain_headers == hinted_headers and all(" status 0 " in h for h in hinted_headers),
                      "%s %s ppem: the header lines differ or a glyph failed" % (where, ppem))
                same_shape = len(plain_rows) == len(hinted_rows) and all(
                    a[0] == b[0] and len(a[1]) == len(b[1]) for a, b in zip(plain_rows, hinted_rows))
                check(same_shape, "%s %s ppem: the hinted entries are not the plain ones' kinds" % (where, ppem))
                if same_shape:
                    moves = [abs(x - y) for a, b in zip(plain_rows, hinted_rows) for x, y in zip(a[1], b[1])]
                    check(max(moves, default=0) <= 64,
                          "%s %s ppem: a coordinate moves %d/64 px" % (where, ppem, max(moves, default=0)))
                    check(any(moves), "%s %s ppem: --hinted changed nothing" % (where, ppem))
            sheet = os.path.join(work, "sheet.svg")
            code, _, err = run(args.tool, "svg", path, "--face", str(face), "--ppem", "16", "--hinted",
                               "--glyphs", "0-%d" % min(glyph_count - 1, 63), "-o", sheet)
            with open(sheet, encoding="utf-8") as f:
                svg = f.read()
            check(code == 0 and "16 ppem hinted, pixel grid" in svg,
                  "%s: svg --hinted exits %d %s" % (where, code, err.strip()))
            os.remove(sheet)
    check(faces >= 13, "CFF faces examined: %d" % faces)

    # A TrueType face has no hint record: --hinted scales plainly.
    check(len(truetype) > 0, "a TrueType face of fonts-dejavu-core is there")
    if truetype:
        base = [args.tool, "outline", truetype[0], "--ppem", "16"]
        plain = run(*base, "0", "36", "68")
        hinted = run(*base, "--hinted", "0", "36", "68")
        check(plain == hinted and plain[0] == 0, "TrueType: --hinted is the plain scaling")
    # --hinted needs --ppem.
    for command in (["outline", cff[0], "--hinted", "3"], ["svg", cff[0], "--hinted", "-o",
                                                           os.path.join(work, "none.svg")]):
        code, out, err = run(args.tool, *command)
        check(code == 1 and "status -50" in out + err and "--hinted needs --ppem" in err,
              "%s without --ppem: exit %d, %s %s" % (command[0], code, out.strip(), err.strip()))
    os.rmdir(work)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
