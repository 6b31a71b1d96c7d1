// korv-font info, the CFF fields of a CFF face, after the shared ones; one "key value" line each:
//   cff.charStrings N             glyphs in the CharStrings INDEX
//   cff.fdCount N                 Private DICT slots in use
//   cff.fdSelectFormat N          0 or 3 (also 0 without FDSelect)
//   cff.fontBBox xMin yMin xMax yMax
//   cff.globalSubrs N
//   cff.private[i].defaultWidthX / nominalWidthX   font units
//   cff.private[i].stemH / stemV  the kept widths in font units (26.6 shown with up to 6 decimals), or "-"
//   cff.private[i].subrs N        local Subr INDEX count
//   cff.private[i].blueValues / otherBlues   the alignment zones' absolute positions, or "-"
//   cff.private[i].blueScale / blueShift / blueFuzz
//   cff.fdRanges N, then N lines "cff.fdRange FIRST LAST FD": the glyphs FIRST..LAST use Font DICT FD,
//                                 as glyph access finds it through FDSelect (runs of equal Font DICTs)
#include <cinttypes>

#include "cff/CffFont.h"
#include "tools/font/Commands.h"

namespace {

// A 26.6 value in font units: the integer, or the shortest exact decimal (a 26.6 fraction has at most 6
// decimals).
void printUnits(FILE* out, int32_t value) {
    const int64_t v = value;
    const int64_t whole = (v < 0 ? -v : v) >> 6;
    int64_t fraction = (v < 0 ? -v : v) & 63;
    std::fprintf(out, " %s%" PRId64, v < 0 ? "-" : "", whole);
    if (fraction == 0) return;
    // fraction / 64 = fraction x 15625 / 10^6.
    int64_t decimals = fraction * 15625;
    int digits = 6;
    while (decimals % 10 == 0) {
        decimals /= 10;
        --digits;
    }
    std::fprintf(out, ".%0*" PRId64, digits, decimals);
}

void printStems(FILE* out, int32_t index, const char* key, const int32_t* stems, int16_t count) {
    std::fprintf(out, "cff.private[%" PRId32 "].%s", index, key);
    if (count == 0) std::fputs(" -", out);
    for (int16_t i = 0; i < count; ++i) printUnits(out, stems[i]);
    std::fputc('\n', out);
}

}  // namespace

void printCffInfo(const CffFont& font, FILE* out) {
    std::fprintf(out, "cff.charStrings %u\n", unsigned(font.charStrings.count));
    std::fprintf(out, "cff.fdCount %d\n", int(font.fdCount));
    std::fprintf(out, "cff.fdSelectFormat %u\n", unsigned(font.fdSelectFormat));
    // Stored as top, left, bottom, right; printed in the DICT's order.
    std::fprintf(out, "cff.fontBBox %d %d %d %d\n", font.fontBBox[1], font.fontBBox[2], font.fontBBox[3],
                 font.fontBBox[0]);
    std::fprintf(out, "cff.globalSubrs %u\n", unsigned(font.globalSubrs.count));
    for (int32_t i = 0; i < font.fdCount && i < int32_t(kCffMaxFontDicts); ++i) {
        const CffPrivateDict& p = font.privateDicts[i];
        std::fprintf(out, "cff.private[%" PRId32 "].defaultWidthX %" PRId32 "\n", i, p.defaultWidthX);
        std::fprintf(out, "cff.private[%" PRId32 "].nominalWidthX %" PRId32 "\n", i, p.nominalWidthX);
        printStems(out, i, "stemH", p.stemH, p.stemHCount);
        printStems(out, i, "stemV", p.stemV, p.stemVCount);
        std::fprintf(out, "cff.private[%" PRId32 "].subrs %u\n", i, unsigned(font.localSubrs[i].count));
        printStems(out, i, "blueValues", p.blueValues, p.blueValueCount);
        printStems(out, i, "otherBlues", p.otherBlues, p.otherBlueCount);
        // BlueScale is 16.16: shown as a 26.6 value would lose its low bits, so in 1/65536 units.
        std::fprintf(out, "cff.private[%" PRId32 "].blueScale %" PRId32 "/65536\n", i, p.blueScale);
        std::fprintf(out, "cff.private[%" PRId32 "].blueShift", i);
        printUnits(out, p.blueShift);
        std::fprintf(out, "\ncff.private[%" PRId32 "].blueFuzz", i);
        printUnits(out, p.blueFuzz);
        std::fputc('\n', out);
    }

    // Runs of glyphs with the same Font DICT, counted first so the count line comes before them.
    const uint32_t glyphs = font.charStrings.count;
    uint32_t runs = 0;
    for (uint32_t g = 0; g < glyphs; ++g)
        if (g == 0 || font.fontDictOf(g) != font.fontDictOf(g - 1)) ++runs;
    std::fprintf(out, "cff.fdRanges %" PRIu32 "\n", runs);
    for (uint32_t first = 0; first < glyphs;) {
        const int32_t fd = font.fontDictOf(first);
        uint32_t last = first;
        while (last + 1 < glyphs && font.fontDictOf(last + 1) == fd) ++last;
        std::fprintf(out, "cff.fdRange %" PRIu32 " %" PRIu32 " %" PRId32 "\n", first, last, fd);
        first = last + 1;
    }
}
