// The TrueType font object's load on arbitrary bytes: a single font at offset 0, or, when the collection-
// header test passes, every member it names. After a load (whatever its status) every table reference must
// lie inside the buffer; after a successful one the counts must agree with the tables, charToGlyph of a
// spread of codes must answer 0, 2 or -35 (and 0 only with a glyph below 65536), and the horizontal metrics
// of a spread of glyphs must be readable. release() must leave the object empty. loadFontFace must answer
// as loadTrueType for every face that is not a CFF face.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "cff/CffFont.h"
#include "cff/LoadFont.h"
#include "sfnt/TrueTypeFont.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// A reference [p, p + length) lies inside [data, data + size), or is empty and null.
void inside(const uint8_t* data, size_t size, const uint8_t* p, uint64_t length) {
    if (!p) return;
    check(p >= data && uint64_t(p - data) <= size && length <= size - uint64_t(p - data));
}

// Codes around every boundary the lookups care about: Latin, the format-2 high bytes, surrogates, the end
// of the BMP and the planes above.
constexpr uint32_t kCodes[] = {0,       1,        0x20,     0x41,      0x7F,   0xA0,    0xFF,
                               0x100,   0x3000,   0x3042,   0x4E00,    0x8140, 0xD7FF,  0xD800,
                               0xDFFF,  0xE000,   0xFFFD,   0xFFFE,    0xFFFF, 0x10000, 0x1F600,
                               0x2A6D6, 0x10FFFF, 0x110000, 0xFFFFFFFF};

int16_t loadOne(const uint8_t* data, uint32_t size, uint32_t offset) {
    TrueTypeFont font;
    const int16_t status = font.loadTrueType(data, size, offset);
    check(status == 0 || status == kFontDataError);
    inside(data, size, font.cmap.data, font.cmap.length);
    inside(data, size, font.name.data, font.name.length);
    inside(data, size, font.hmtx.data, font.hmtx.length);
    inside(data, size, font.loca.data, font.loca.length);
    check(font.cmap.count <= kMaxCmapSubtables);
    if (status == 0) {
        check(font.glyphCount == font.maxp.numGlyphs);
        check(font.unitsPerEm == font.head.unitsPerEm);
        check(font.glyfOffset <= size);
        check(font.hmtx.data && font.loca.data);
        check(font.cmapIndex == -1 || (font.cmapIndex >= 0 && font.cmapIndex < font.cmap.count));
        for (uint32_t code : kCodes) {
            uint32_t glyph = 0xFFFFFFFF;
            const int16_t mapped = font.charToGlyph(code, glyph);
            check(mapped == 0 || mapped == kGlyphAbsent || mapped == kNoCharMap);
            if (mapped == 0) check(glyph <= 0xFFFF || font.cmap.subtables[font.cmapIndex].format == 12);
        }
        const uint32_t glyphs[] = {0,
                                   1,
                                   font.hhea.numberOfHMetrics,
                                   font.glyphCount / 2,
                                   font.glyphCount ? font.glyphCount - 1 : 0,
                                   font.glyphCount};
        for (uint32_t glyph : glyphs) {
            uint16_t advance = 0;
            int16_t lsb = 0;
            const int16_t metrics = font.hmtx.metrics(glyph, advance, lsb);
            if (glyph >= font.glyphCount)
                check(metrics == kGlyphAbsent);
            else
                check(metrics == 0 || (metrics == kFontDataError && font.hhea.numberOfHMetrics == 0));
        }
    }
    font.release();
    check(!font.data && font.dataSize == 0 && font.cmapIndex == -1 && font.cmap.count == 0);
    check(!font.name.data && !font.hmtx.data && !font.loca.data);
    return status;
}

// loadFontFace of the same face: the same status and font for a TrueType face.
void compareWithLoadFontFace(const uint8_t* data, uint32_t size, uint32_t face, uint32_t offset,
                             int16_t trueTypeStatus) {
    const bool cffFace = uint64_t(offset) + 4 <= size && loadU32(data + offset) == CffFont::kTag;
    int16_t status = 1;
    std::unique_ptr<SfntFont> font = loadFontFace(data, size, face, status);
    check((status == 0) == (font != nullptr));
    if (font) font->release();
    if (cffFace) return;
    const uint32_t version = size >= 4 ? loadU32(data) : 0;
    const bool knownKind = version == 0x00010000 || version == TrueTypeFont::kTag || version == 0x74746366;
    if (knownKind)
        check(status == trueTypeStatus);
    else
        check(status == kParamError);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const uint32_t n = uint32_t(size);
    uint32_t numFonts = 0, offset = 0;
    if (testCollectionHeader(data, n, 0, offset, &numFonts)) {
        for (uint32_t i = 0; i < numFonts; ++i)
            if (testCollectionHeader(data, n, i, offset))
                compareWithLoadFontFace(data, n, i, offset, loadOne(data, n, offset));
    } else {
        check(numFonts == 0 || numFonts <= kMaxCollectionFonts);
        const int16_t status = loadOne(data, n, 0);
        if (n < 4 || loadU32(data) != 0x74746366) compareWithLoadFontFace(data, n, 0, 0, status);
    }
    return 0;
}
