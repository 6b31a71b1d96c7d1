// The outline record and the plain scaler. An outline is an array of 28-byte point entries (kind, x, y,
// cx1, cy1, cx2, cy2; 26.6 values) cut into contours by contourStart. The array starts with room for 256
// entries and grows only when it is full: by 16 entries at a time while a TrueType outline is built, by
// max(16, n) when a caller asks for n entries at once. The new array receives the used entries and the old
// one is freed.
#include "sfnt/GlyphOutline.h"

#include <new>

#include "sfnt/FixedMath.h"
#include "sfnt/SfntFont.h"

namespace {

// Moves the used entries into a new array of `capacity` entries.
int16_t growTo(GlyphOutline& o, uint64_t capacity) {
    // Entries are counted in 32 bits; an array that would need more cannot be had.
    if (capacity > UINT32_MAX / sizeof(OutlinePoint)) return KORV_FAIL(int16_t(kOutOfMemory));
    OutlinePoint* grown = new (std::nothrow) OutlinePoint[size_t(capacity)];
    if (!grown) return KORV_FAIL(int16_t(kOutOfMemory));
    if (o.points) MoveBytes(o.points, grown, size_t(o.pointCount) * sizeof(OutlinePoint));
    delete[] o.points;
    o.points = grown;
    o.pointCapacity = uint32_t(capacity);
    return 0;
}

}  // namespace

int16_t GlyphOutline::reserve(uint32_t count, uint32_t growth) {
    if (count <= pointCapacity - pointCount) return 0;
    return growTo(*this, uint64_t(pointCapacity) + (count > growth ? count : growth));
}

int16_t GlyphOutline::reserveInSteps(uint32_t count, uint32_t step) {
    const uint32_t room = pointCapacity - pointCount;
    if (count <= room) return 0;
    if (step == 0) step = 1;
    const uint64_t steps = (uint64_t(count - room) + step - 1) / step;
    return growTo(*this, uint64_t(pointCapacity) + steps * step);
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

__extension__ typedef unsigned __int128 Wide;

// size x value / unitsPerEm, truncated toward zero, for one axis. The division by the em is done as a
// multiplication by its reciprocal m = floor(2^64 / em) + 1, which is exact here: the magnitude n of
// size x value is below 2^47, so n x m / 2^64 exceeds n / em by less than 2^-17, less than the 1 / em that
// separates n / em from the next integer. A quotient beyond the 32-bit range (a huge size over a tiny em)
// is clamped to it rather than wrapped.
class AxisScale {
public:
    AxisScale(uint16_t size, uint16_t em) : m_size(size), m_one(em == 1) {
        m_reciprocal = em > 1 ? uint64_t(~uint64_t(0) / em) + 1 : 0;
    }
    int32_t operator()(int32_t value) const {
        const uint64_t magnitude = value < 0 ? 0u - uint64_t(int64_t(value)) : uint64_t(value);
        const uint64_t n = magnitude * m_size;
        const uint64_t q = m_one ? n : uint64_t((Wide(n) * m_reciprocal) >> 64);
        const uint64_t limit = value < 0 ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX);
        const uint64_t clamped = q > limit ? limit : q;
        return value < 0 ? int32_t(0u - uint32_t(clamped)) : int32_t(clamped);
    }

private:
    uint64_t m_size;
    bool m_one;
    uint64_t m_reciprocal = 0;
};

// Scales the coordinates the entry's kind uses; false for an unknown kind (the entry is left as it is).
inline bool scaleEntry(OutlinePoint& p, const AxisScale& sx, const AxisScale& sy) {
    const int32_t kind = p.kind;
    if (uint32_t(kind) > uint32_t(kOutlineQuadratic)) return false;
    p.x = sx(p.x);
    p.y = sy(p.y);
    if (kind >= kOutlineCubic) {  // the first control point: cubic and quadratic curves
        p.cx1 = sx(p.cx1);
        p.cy1 = sy(p.cy1);
        if (kind == kOutlineCubic) {
            p.cx2 = sx(p.cx2);
            p.cy2 = sy(p.cy2);
        }
    }
    return true;
}

}  // namespace

int16_t PlainScaler::scaleOutline(GlyphOutline& source, GlyphOutline* destination) {
    if (source.contourCount >= kMaxOutlineContours) return KORV_FAIL(kFontDataError);
    // A record whose em is 0 cannot be divided by; no coordinate can be scaled.
    if (unitsPerEm == 0) return KORV_FAIL(kFontDataError);
    const AxisScale sx(xPpem, unitsPerEm), sy(yPpem, unitsPerEm);
    int16_t status = 0;

    if (!destination || destination == &source) {
        OutlinePoint* p = source.points;
        OutlinePoint* end = p + source.pointCount;
        for (; p < end; ++p)
            if (!scaleEntry(*p, sx, sy)) status = KORV_FAIL(int16_t(kNoCharMap));
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
            if (!scaleEntry(out[i], sx, sy)) status = KORV_FAIL(int16_t(kNoCharMap));
        }
        destination->pointCount += count;
        destination->contourStart[destination->contourCount] = destination->pointCount - count;
        destination->contourCount += 1;
        destination->contourStart[destination->contourCount] = destination->pointCount;
    }
    return status;
}
