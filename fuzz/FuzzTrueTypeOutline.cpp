// TrueType outlines of a fuzzed font: the font (or member 0 of a collection) is loaded, and every glyph up
// to a cap is loaded through slot 5 into one reused outline record, checked for a sound record, then scaled
// at two sizes, into a second record and in place. A few character codes go through slot 6.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sfnt/TrueTypeFont.h"

namespace {

constexpr uint32_t kMaxGlyphs = 600;
constexpr uint16_t kSizes[][2] = {{12, 12}, {300, 7}};

// The record's own invariants, after success or failure alike.
void checkRecord(const GlyphOutline& o, bool succeeded) {
    if (o.contourCount > kMaxOutlineContours || o.pointCount > o.pointCapacity) std::abort();
    if (o.contourStart[0] != 0) std::abort();
    for (uint32_t c = 0; c < o.contourCount; ++c) {
        if (o.contourStart[c] >= o.contourStart[c + 1]) std::abort();  // every contour has entries
        if (o.points[o.contourStart[c]].kind != kOutlineMove) std::abort();
    }
    if (o.contourStart[o.contourCount] > o.pointCount) std::abort();
    if (succeeded && o.contourStart[o.contourCount] != o.pointCount) std::abort();
    for (uint32_t i = 0; i < o.pointCount; ++i)
        if (o.points[i].kind < kOutlineMove || o.points[i].kind > kOutlineQuadratic) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    uint32_t offset = 0;
    if (size >= 4 && data[0] == 't' && data[1] == 't' && data[2] == 'c' && data[3] == 'f' &&
        !testCollectionHeader(data, uint32_t(size), 0, offset))
        return 0;
    TrueTypeFont font;
    if (font.loadTrueType(data, uint32_t(size), offset) != 0) {
        font.release();
        return 0;
    }
    GlyphWork work;
    GlyphBox box;
    work.box = &box;
    if (font.prepareGlyphWork(work) != 0) {
        font.release();
        return 0;
    }
    GlyphOutline* outline = font.newOutline();
    GlyphOutline* scaled = font.newOutline();
    OutlineScaler* scaler = font.newScaler();
    if (outline && scaled && scaler) {
        const uint32_t count = font.glyphCount < kMaxGlyphs ? font.glyphCount : kMaxGlyphs;
        for (uint32_t g = 0; g <= count; ++g) {  // one past the last: absent
            outline->clear();
            const int16_t status = font.getGlyphOutline(g, work, *outline);
            if (g == font.glyphCount && status != kGlyphAbsent) std::abort();
            checkRecord(*outline, status == 0);
            for (const auto& s : kSizes) {
                scaler->setSize(s[0], s[1]);
                scaled->clear();
                if (scaler->scaleOutline(*outline, scaled) == 0) checkRecord(*scaled, true);
            }
            // In place: refused only for a face whose em is 0.
            const int16_t expected = font.unitsPerEm ? 0 : kFontDataError;
            if (scaler->scaleOutline(*outline, nullptr) != expected) std::abort();
        }
        // Appending to a record that already holds contours.
        outline->clear();
        for (uint32_t g = 0; g < count && g < 8; ++g) {
            const int16_t status = font.getGlyphOutline(g, work, *outline);
            checkRecord(*outline, status == 0);
        }
        const uint32_t codes[] = {0x20, 0x41, 0x61, 0x3042, 0x6C38, 0xFFFF, 0x10FFFF};
        for (const uint32_t code : codes) {
            outline->clear();
            const int16_t status = font.getCharOutline(code, work, *outline);
            checkRecord(*outline, status == 0);
        }
    }
    delete scaler;
    deleteGlyphOutline(scaled);
    deleteGlyphOutline(outline);
    font.releaseGlyphWork(work);
    font.release();
    return 0;
}
