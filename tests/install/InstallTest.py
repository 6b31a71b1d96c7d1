#!/usr/bin/python3
"""The installable package, end to end.

1. `cmake --install` of the build into a fresh temporary prefix.
2. Every installed header compiles on its own with only the installed include path, and the exported targets
   link nothing beyond the package's own libraries (no FreeType or other dependency).
3. examples/ is configured with CMAKE_PREFIX_PATH set to that prefix (find_package(korv) and korv::fonts),
   built, and run on real fonts: for a spread of characters, its glyph and advance must be those fontTools
   reads from the font's (3,1) map and 'hmtx'.
Ends with "N passed, N failed".
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys

try:
    from fontTools.ttLib import TTFont
except ImportError:
    print("FAIL: fontTools is not installed (Debian package python3-fonttools)")
    sys.exit(1)

FONTS = ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
         "/usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf",
         "/usr/share/fonts/opentype/freefont/FreeSans.otf"]
CODES = [0x41, 0x67, 0x20AC, 0x3042, 0x6F22, 0x4E00]


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "source", "work", "compiler"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--flags", default="")
    parser.add_argument("--link-flags", default="")
    args = parser.parse_args()
    passed = failed = 0

    def check(ok, label, detail=""):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print("FAIL %s%s" % (label, "\n    " + detail.replace("\n", "\n    ") if detail else ""))

    def call(command, label):
        p = subprocess.run(command, capture_output=True, text=True)
        check(p.returncode == 0, label, (p.stdout + p.stderr)[-3000:])
        return p

    shutil.rmtree(args.work, ignore_errors=True)
    prefix = os.path.join(args.work, "prefix")
    call(["cmake", "--install", args.build, "--prefix", prefix], "cmake --install")

    include = os.path.join(prefix, "include", "korv")
    headers = sorted(glob.glob(os.path.join(include, "*", "*.h")))
    check(any(h.endswith("cff/LoadFont.h") for h in headers) and
          any(h.endswith("sfnt/TrueTypeFont.h") for h in headers), "the public headers are installed",
          "%d headers" % len(headers))
    for header in headers:
        relative = os.path.relpath(header, include)
        p = subprocess.run([args.compiler, "-std=c++20", "-fsyntax-only", "-Wall", "-Wextra", "-Werror",
                            "-I", include, "-x", "c++", "-"], input='#include "%s"\n' % relative,
                           capture_output=True, text=True)
        check(p.returncode == 0, "%s compiles on its own" % relative, p.stderr[-2000:])
    targets = "".join(open(f).read() for f in glob.glob(os.path.join(prefix, "lib*", "cmake", "korv", "*.cmake")))
    links = re.findall(r'INTERFACE_LINK_LIBRARIES "([^"]*)"', targets)
    foreign = [item for entry in links for item in entry.split(";")
               if item and not re.fullmatch(r"(\\?\$<LINK_ONLY:)?(korv::korv_\w+)?>?", item)]
    check(not foreign, "the package links nothing beyond its own libraries", repr(foreign))

    example = os.path.join(args.work, "example")
    call(["cmake", "-S", os.path.join(args.source, "examples"), "-B", example, "-G", "Ninja",
          "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_CXX_COMPILER=" + args.compiler,
          "-DCMAKE_CXX_FLAGS=" + args.flags, "-DCMAKE_EXE_LINKER_FLAGS=" + args.link_flags],
         "configure examples/ against the installed package")
    call(["cmake", "--build", example], "build examples/")
    program = os.path.join(example, "map-character")

    for font_path in FONTS:
        if not os.path.exists(font_path):
            check(False, "font %s is installed (tools/run_tests.sh installs its package)" % font_path)
            continue
        font = TTFont(font_path, lazy=True)
        best = font["cmap"].getcmap(3, 1).cmap
        hmtx = font["hmtx"]
        units = font["head"].unitsPerEm
        for code in CODES:
            p = subprocess.run([program, font_path, "U+%04X" % code], capture_output=True, text=True)
            if code in best:
                name = best[code]
                want = "U+%04X glyph %d advance %d unitsPerEm %d" % (code, font.getGlyphID(name),
                                                                    hmtx[name][0], units)
                check(p.returncode == 0 and p.stdout.strip() == want, "%s U+%04X" % (font_path, code),
                      "got %r (exit %d), want %r" % (p.stdout.strip(), p.returncode, want))
            else:
                check(p.returncode == 1 and p.stdout.strip() == "status 2",
                      "%s U+%04X (not mapped)" % (font_path, code),
                      "got %r (exit %d)" % (p.stdout.strip(), p.returncode))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
