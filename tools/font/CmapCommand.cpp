// korv-font cmap: for every code point from 0 to 0x10FFFF in order that charToGlyph maps (status 0), one
// line "U+XXXX<TAB>glyph": upper-case hexadecimal of at least four digits, the glyph in decimal. Codes the
// map does not have (status 2) print nothing; a face without a (3,1) map answers -35 for every code, which
// the tool reports before printing anything.
#include <cinttypes>

#include "sfnt/SfntFont.h"
#include "tools/font/Commands.h"

namespace {

constexpr uint32_t kLastCodePoint = 0x10FFFF;

}  // namespace

int32_t runCmap(SfntFont& font, const FontOptions&, FILE* out) {
    for (uint32_t code = 0; code <= kLastCodePoint; ++code) {
        uint32_t glyph = 0;
        const int16_t status = font.charToGlyph(code, glyph);
        if (status == kGlyphAbsent) continue;
        if (status != 0) return status;
        std::fprintf(out, "U+%04" PRIX32 "\t%" PRIu32 "\n", code, glyph);
    }
    return 0;
}
