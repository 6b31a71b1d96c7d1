// The outline record and the plain scaler. An outline is an array of 28-byte point entries (kind, x, y,
// cx1, cy1, cx2, cy2; 26.6 values) cut into contours by contourStart. The array starts with room for 256
// entries and grows only when it is full: by 16 entries at a time while a TrueType outline is built, by
// max(16, n) when a caller asks for n entries at once. The new array receives the used entries and the old
// one is freed.
#include "sfnt/GlyphOutline.h"

#include <new>

#include "sfnt/FixedMath.h"
#include "sfnt/SfntFont.h"

int16_t GlyphOutline::reserve(uint32_t count, uint32_t growth) {
    if (count <= pointCapacity - pointCount) return 0;
    const uint64_t capacity = uint64_t(pointCapacity) + (count > growth ? count : growth);
    // Entries are counted in 32 bits; an array that would need more cannot be had.
    if (capacity > UINT32_MAX / sizeof(OutlinePoint)) return KORV_FAIL(int16_t(kOutOfMemory));
    OutlinePoint* grown = new (std::nothrow) OutlinePoint[size_t(capacity)];
    if (!grown) return KORV_FAIL(int16_t(kOutOfMemory));
    if (points) MoveBytes(points, grown, size_t(pointCount) * sizeof(OutlinePoint));
    delete[] points;
    points = grown;
    pointCapacity = uint32_t(capacity);
    return 0;
}

void GlyphOutline::clear() {
    contourCount = 0;
    contourStart[0] = 0;
    pointCount = 0;
    advance = 0;
    sideBearing = 0;
}

void GlyphOutline::freePoints() {
    delete[] points;
    points = nullptr;
    pointCapacity = 0;
    pointCount = 0;
    contourCount = 0;
    contourStart[0] = 0;
}

GlyphOutline* newGlyphOutline(uint16_t unitsPerEm) {
    GlyphOutline* outline = new (std::nothrow) GlyphOutline;
    if (!outline) return nullptr;
    outline->points = new (std::nothrow) OutlinePoint[kOutlineInitialPoints];
    if (!outline->points) {
        delete outline;
        return nullptr;
    }
    outline->pointCapacity = kOutlineInitialPoints;
    outline->unitsPerEm = unitsPerEm;
    return outline;
}

void deleteGlyphOutline(GlyphOutline* outline) {
    if (!outline) return;
    outline->freePoints();
    delete outline;
}

// Slot 1 (shared by every font class): an empty outline record with the font's units per em.
GlyphOutline* SfntFont::newOutline() {
    return newGlyphOutline(unitsPerEm);
}

// Slot 3 of the base class: the plain scaler. Its size is 0 x 0 until setSize.
OutlineScaler* SfntFont::newScaler() {
    return new (std::nothrow) PlainScaler(unitsPerEm);
}

namespace {

// size x value / unitsPerEm, truncated toward zero. The product is taken in 64 bits; a quotient beyond the
// 32-bit range (a huge size over a tiny em) is clamped to it rather than wrapped.
inline int32_t scaleValue(int32_t value, int64_t size, int64_t unitsPerEm) {
    const int64_t q = int64_t(value) * size / unitsPerEm;
    if (q > INT32_MAX) return INT32_MAX;
    if (q < INT32_MIN) return INT32_MIN;
    return int32_t(q);
}

// Scales the coordinates the entry's kind uses; false for an unknown kind (the entry is left as it is).
inline bool scaleEntry(OutlinePoint& p, int64_t xSize, int64_t ySize, int64_t em) {
    switch (p.kind) {
        case kOutlineCubic:
            p.cx2 = scaleValue(p.cx2, xSize, em);
            p.cy2 = scaleValue(p.cy2, ySize, em);
            [[fallthrough]];
        case kOutlineQuadratic:
            p.cx1 = scaleValue(p.cx1, xSize, em);
            p.cy1 = scaleValue(p.cy1, ySize, em);
            [[fallthrough]];
        case kOutlineMove:
        case kOutlineLine:
            p.x = scaleValue(p.x, xSize, em);
            p.y = scaleValue(p.y, ySize, em);
            return true;
        default:
            return false;
    }
}

}  // namespace

int16_t PlainScaler::scaleOutline(GlyphOutline& source, GlyphOutline* destination) {
    if (source.contourCount >= kMaxOutlineContours) return KORV_FAIL(kFontDataError);
    // A record whose em is 0 cannot be divided by; no coordinate can be scaled.
    if (unitsPerEm == 0) return KORV_FAIL(kFontDataError);
    const int64_t em = unitsPerEm;
    int16_t status = 0;

    if (!destination || destination == &source) {
        OutlinePoint* p = source.points;
        OutlinePoint* end = p + source.pointCount;
        for (; p < end; ++p)
            if (!scaleEntry(*p, xPpem, yPpem, em)) status = KORV_FAIL(int16_t(kNoCharMap));
        return status;
    }

    // Appended contour by contour: each contour's entries are reserved at once, then copied and scaled.
    // The destination keeps at most kMaxOutlineContours contours (its contourStart array has no room for
    // more), so a source that would overfill it is refused before anything is appended.
    if (uint64_t(destination->contourCount) + source.contourCount > kMaxOutlineContours)
        return KORV_FAIL(kFontDataError);
    for (uint32_t c = 0; c < source.contourCount; ++c) {
        const uint32_t first = source.contourStart[c];
        const uint32_t last = source.contourStart[c + 1];
        // A record whose starts run backwards or past its entries has no such contour to copy.
        if (first > last || last > source.pointCount) return KORV_FAIL(kFontDataError);
        const uint32_t count = last - first;
        const int16_t grown = destination->reserve(count);
        if (grown) return grown;
        OutlinePoint* out = destination->points + destination->pointCount;
        for (uint32_t i = 0; i < count; ++i) {
            out[i] = source.points[first + i];
            if (!scaleEntry(out[i], xPpem, yPpem, em)) status = KORV_FAIL(int16_t(kNoCharMap));
        }
        destination->pointCount += count;
        destination->contourStart[destination->contourCount] = destination->pointCount - count;
        destination->contourCount += 1;
        destination->contourStart[destination->contourCount] = destination->pointCount;
    }
    return status;
}
