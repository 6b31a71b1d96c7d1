// Glyph outlines of the font objects: contours of move, line, quadratic and cubic entries in 26.6 fixed
// point (font units x 64), the scalers that bring them to a pixel size, and the stem hints of CFF glyphs.
#pragma once

#include <cstdint>

#include "sfnt/Limits.h"
#include "sfnt/Status.h"

// Entry kinds.
constexpr int32_t kOutlineMove = 0;       // move to (x, y): starts a contour
constexpr int32_t kOutlineLine = 1;       // line to (x, y)
constexpr int32_t kOutlineCubic = 2;      // cubic curve to (x, y), control points (cx1, cy1), (cx2, cy2)
constexpr int32_t kOutlineQuadratic = 3;  // quadratic curve to (x, y), control point (cx1, cy1)

// One point entry: seven 32-bit values; coordinates an entry's kind does not use are not set.
struct OutlinePoint {
    int32_t kind;
    int32_t x, y;
    int32_t cx1, cy1;
    int32_t cx2, cy2;
};
static_assert(sizeof(OutlinePoint) == 28, "a point entry is 28 bytes");

// The outline record (font slot 1 creates it). contourStart[i] is the index of contour i's first entry,
// contourStart[contourCount] the end of the last contour.
struct GlyphOutline {
    uint32_t entrySize = sizeof(OutlinePoint);
    uint32_t contourCount = 0;
    uint32_t contourStart[kMaxOutlineContours + 1] = {};
    uint32_t pointCount = 0;
    uint32_t pointCapacity = 0;
    OutlinePoint* points = nullptr;
    int32_t advance = 0;      // 26.6
    int32_t sideBearing = 0;  // 26.6
    uint16_t unitsPerEm = 0;

    // Room for `count` more entries: grows the array by max(growth, count) entries when it is full
    // (a new array, the used entries moved, the old one freed). 0 or kOutOfMemory.
    [[nodiscard]] int16_t reserve(uint32_t count, uint32_t growth = kOutlineGrowthPoints);
    // Room for `count` more entries appended one at a time, growing by `step` entries whenever the array is
    // full: the same capacity, reached in one allocation. 0 or kOutOfMemory.
    [[nodiscard]] int16_t reserveInSteps(uint32_t count, uint32_t step = kOutlineGrowthPoints);
    // Empties the record (no contours, no points), keeping its array.
    void clear();
    // Frees the point array (the record itself is the owner's).
    void freePoints();
};

// Creates an empty record with room for kOutlineInitialPoints entries; null when out of memory (nothing is
// leaked). Destroy it with deleteGlyphOutline.
GlyphOutline* newGlyphOutline(uint16_t unitsPerEm);
void deleteGlyphOutline(GlyphOutline* outline);

// Appends the contours of `source` to `destination` as the scalers do when they write into another record:
// refused (kFontDataError, nothing appended) when the destination would hold more than kMaxOutlineContours
// contours; then contour by contour, refused (kFontDataError) at a contour whose starts run backwards or past
// the entries, the contour's room reserved at once, and write(first, count, out) filling its entries
// (those of the source from `first` on, into out[0 .. count - 1]) and answering false when one of them is
// of an unknown kind. 0; kFontDataError; kOutOfMemory; kNoCharMap after an unknown kind (every contour
// still appended).
template <class Write>
[[nodiscard]] int16_t appendContours(const GlyphOutline& source, GlyphOutline& destination, Write write) {
    if (uint64_t(destination.contourCount) + source.contourCount > kMaxOutlineContours)
        return KORV_FAIL(kFontDataError);
    int16_t status = 0;
    for (uint32_t c = 0; c < source.contourCount; ++c) {
        const uint32_t first = source.contourStart[c];
        const uint32_t last = source.contourStart[c + 1];
        if (first > last || last > source.pointCount) return KORV_FAIL(kFontDataError);
        const uint32_t count = last - first;
        const int16_t grown = destination.reserve(count);
        if (grown) return grown;
        if (!write(first, count, destination.points + destination.pointCount))
            status = KORV_FAIL(int16_t(kNoCharMap));
        destination.pointCount += count;
        destination.contourStart[destination.contourCount] = destination.pointCount - count;
        destination.contourCount += 1;
        destination.contourStart[destination.contourCount] = destination.pointCount;
    }
    return status;
}

// A stem hint mask of a CFF glyph: from point `pointIndex` of contour `contourIndex` on, the stems whose
// bits are set (one bit per stem, most significant bit first) are in force.
struct HintMaskEntry {
    uint16_t contourIndex;
    uint16_t pointIndex;
    uint8_t mask[kType2MaxMaskBytes];
};
static_assert(sizeof(HintMaskEntry) == 12, "a hint mask entry is 12 bytes");

struct Stem {
    int32_t position;  // 26.6
    int32_t width;     // 26.6; -21 units (-1344) marks a bottom ghost edge, another negative width a top one
};

// The stem hints of one CFF glyph (CffFont slot 2 creates it; the Type 2 interpreter fills it).
class HintRecord {
public:
    static constexpr uint32_t kTag = 0x5354454D;  // 'STEM'

    virtual ~HintRecord();
    // Clears, then frees the mask array (count, capacity and pointer zero).
    virtual void release();
    // Stem counts and maskCount to 0.
    virtual void clear();
    // Appends a mask entry, growing the array by kHintMaskGrowth entries when full; 0 or kOutOfMemory (also
    // kept in `status`).
    [[nodiscard]] int16_t appendMask(const HintMaskEntry& entry);

    uint32_t tag = kTag;
    int16_t status = 0;
    uint32_t maskCount = 0;
    uint32_t maskCapacity = 0;
    HintMaskEntry* masks = nullptr;
    int32_t fdIndex = -1;
    int16_t hStemCount = 0;
    int16_t vStemCount = 0;
    Stem stems[kType2MaxStems] = {};  // the horizontal stems first, then the vertical ones
};

// Brings outlines to a pixel size (font slot 3 creates one). The plain scaler multiplies every coordinate
// by size / unitsPerEm; the CFF hinting scaler also fits stems and alignment zones to the pixel grid.
class OutlineScaler {
public:
    virtual ~OutlineScaler() = default;
    // Slots 0 to 2: the plain scaler does nothing here; the hinting scaler attaches a glyph's hints.
    virtual void release() {}
    virtual void reset() {}
    virtual void attachHints(const HintRecord* hints) { (void)hints; }
    // Slot 3: the pixel size. The plain scaler takes (x, y); the CFF hinting scaler takes (y, x).
    virtual void setSize(uint16_t first, uint16_t second) = 0;
    // Slot 4: scales `source` into `destination` (appended contour by contour), or in place when
    // `destination` is null. 0; kFontDataError for a source claiming more than 72 contours; -35 (kNoCharMap)
    // for an entry of an unknown kind (the other entries are still scaled); kOutOfMemory.
    [[nodiscard]] virtual int16_t scaleOutline(GlyphOutline& source, GlyphOutline* destination) = 0;
};

// The plain scaler: x values become xPpem x value / unitsPerEm, y values yPpem x value / unitsPerEm, with
// truncating division.
class PlainScaler : public OutlineScaler {
public:
    explicit PlainScaler(uint16_t em) : unitsPerEm(em) {}
    void setSize(uint16_t x, uint16_t y) override {
        xPpem = x;
        yPpem = y;
    }
    [[nodiscard]] int16_t scaleOutline(GlyphOutline& source, GlyphOutline* destination) override;

    uint16_t unitsPerEm;
    uint16_t xPpem = 0;
    uint16_t yPpem = 0;

    // How one axis divides by the em: size = whole x em + rest, and rest / em as a 64-bit reciprocal.
    // When the size is the em divided by a power of two, 2^shift (shift >= 1), the division is that shift;
    // shift is -1 otherwise.
    struct AxisFactors {
        uint64_t whole = 0;
        uint64_t reciprocal = 0;
        int32_t shift = -1;
    };

private:
    // The factors of both axes, worked out for the sizes and em they were made from (the fields above are
    // public and may change between calls).
    uint16_t m_factorsEm = 0, m_factorsX = 0, m_factorsY = 0;
    AxisFactors m_x, m_y;
};
