#!/usr/bin/env bash
# Makes the sheets of docs/hinting.md: for a Latin face (FreeSerif) and a CJK face (Noto Sans CJK, face 0)
# at 12 and 16 ppem, three sheets stacked into one PNG: our hinted outlines (korv-font svg --hinted), FreeType's
# hinted outlines (bench/FreeTypeHintedSheet, drawn the same way) and the unhinted outlines (korv-font svg).
#   tools/hinting_sheets.sh BUILD_DIR [OUT_DIR]     (BUILD_DIR: a release build with the benchmarks, e.g.
#                                                   build/release; OUT_DIR defaults to docs/)
# Needs ImageMagick (convert) and the fonts-freefont-otf and fonts-noto-cjk packages.
set -euo pipefail

build="${1:?usage: tools/hinting_sheets.sh BUILD_DIR [OUT_DIR]}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${2:-$root/docs}"
tool="$build/tools/font/korv-font"
freetype="$build/bench/FreeTypeHintedSheet"
for program in "$tool" "$freetype"; do
    [[ -x "$program" ]] || { echo "missing $program (build korv-font and the benchmarks first)" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sheet() {  # NAME FONT FACE TEXT PPEM
    local name="$1" font="$2" face="$3" text="$4" ppem="$5"
    "$tool" svg "$font" --face "$face" --ppem "$ppem" --hinted --text "$text" -o "$work/ours.svg"
    "$freetype" "$font" "$face" "$ppem" "$text" "$work/freetype.svg"
    "$tool" svg "$font" --face "$face" --ppem "$ppem" --text "$text" -o "$work/plain.svg"
    for s in ours freetype plain; do convert -density 96 "$work/$s.svg" "$work/$s.png"; done
    convert "$work/ours.png" "$work/freetype.png" "$work/plain.png" -append -strip "$out/hinting-$name-$ppem.png"
    echo "$out/hinting-$name-$ppem.png"
}

latin=/usr/share/fonts/opentype/freefont/FreeSerif.otf
cjk=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
for ppem in 12 16; do
    sheet latin "$latin" 0 "Hamburgevx" "$ppem"
    sheet cjk "$cjk" 0 "書道永字表示" "$ppem"
done
