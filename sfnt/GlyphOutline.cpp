// The outline record and the plain scaler. An outline is an array of 28-byte point entries (kind, x, y,
// cx1, cy1, cx2, cy2; 26.6 values) cut into contours by contourStart. The array starts with room for 256
// entries and grows only when it is full: by 16 entries at a time while a TrueType outline is built, by
// max(16, n) when a caller asks for n entries at once. The new array receives the used entries and the old
// one is freed.
#include "sfnt/GlyphOutline.h"

#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sfnt/FixedMath.h"
#include "sfnt/SfntFont.h"

namespace {

// Moves the used entries into a new array of `capacity` entries.
int16_t growTo(GlyphOutline& o, uint64_t capacity) {
    // Entries are counted in 32 bits; an array that would need more cannot be had.
    if (capacity > UINT32_MAX / sizeof(OutlinePoint)) return KORV_FAIL(int16_t(kOutOfMemory));
    // Zeroed: the fields an entry's kind does not use are copied and stored back as they are, so that they
    // never hold indeterminate bytes.
    OutlinePoint* grown = new (std::nothrow) OutlinePoint[size_t(capacity)]();
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
    outline->points = new (std::nothrow) OutlinePoint[kOutlineInitialPoints]();  // zeroed, as in growTo
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
__extension__ typedef __int128 SignedWide;

// size x value / em, truncated toward zero, for one axis. With size = whole x em + rest (rest < em) and a
// the magnitude of the value,
//   floor(size x a / em) = whole x a + floor(rest x a / em)
// and the second term is the high word of a x r, r = floor(rest x 2^64 / em) + 1 (r < 2^64). That is exact
// for every value of 32 bits: r exceeds rest x 2^64 / em by e, 0 < e <= 1, so a x r / 2^64 exceeds
// rest x a / em by a x e / 2^64 <= 2^31 / 2^64, less than the 1 / em (>= 2^-16) that a quotient below an
// integer keeps from it. The sign is put back after (truncation toward zero).
PlainScaler::AxisFactors axisFactors(uint16_t size, uint16_t em) {
    PlainScaler::AxisFactors f;
    f.whole = size / em;
    const uint32_t rest = size % em;
    f.reciprocal = uint64_t((Wide(rest) << 64) / em) + 1;
    // rest / em = 1 / 2^k (em a multiple of rest by a power of two, k >= 1 as rest < em).
    if (f.whole == 0 && rest != 0 && em % rest == 0) {
        const uint32_t divisor = em / rest;
        if ((divisor & (divisor - 1)) == 0) {
            int32_t k = 0;
            while ((uint32_t(1) << k) < divisor) ++k;
            f.shift = k;
        }
    }
    return f;
}

// The ways of dividing, fastest first:
//   kSignedHigh: sizes below half the em (r < 2^63, the usual case): the high word of the signed product
//                v x r is floor(v x rest / em) for v >= 0; for v < 0 it is one less than the truncated
//                quotient (v x r / 2^64 lies below -floor(a x rest / em) by more than 0 and at most
//                1 - 1/em + 2^-33, as above), so adding 1 for v < 0 truncates toward zero. One
//                multiplication and no sign handling around it.
//   kMagnitude:  sizes below the em: the magnitude's quotient, then the sign; it always fits (it is below
//                the magnitude).
//   kClamped:    any size: whole x a added, and a quotient beyond the 32-bit range (a huge size over a tiny
//                em) clamped to it rather than wrapped.
enum class Division { kSignedHigh, kMagnitude, kClamped };

template <Division kDivision>
inline int32_t scaleValue(int32_t v, PlainScaler::AxisFactors f) {
    if (kDivision == Division::kSignedHigh) {
        // The high word is negative exactly when v is (it is at most -1 for v < 0), so its own sign bit is
        // the correction.
        const int64_t high = int64_t((SignedWide(v) * SignedWide(int64_t(f.reciprocal))) >> 64);
        return int32_t(high + int64_t(uint64_t(high) >> 63));
    }
    const uint32_t sign = uint32_t(v >> 31);         // 0 or all ones
    const uint64_t a = (uint32_t(v) ^ sign) - sign;  // the magnitude (2^31 for INT32_MIN)
    uint64_t q = uint64_t((Wide(a) * f.reciprocal) >> 64);
    if (kDivision == Division::kClamped) {
        q += f.whole * a;
        const uint64_t limit = uint64_t(INT32_MAX) + (sign & 1);
        q = q > limit ? limit : q;
    }
    return int32_t((uint32_t(q) ^ sign) - sign);
}

// Scales the coordinates the entry's kind uses; false for an unknown kind (the entry is left as it is).
// Without a branch on the kind between lines and curves, which alternate with no pattern a predictor
// learns: the end point and a second pair are scaled for every entry, the second pair being the first
// control point of a curve and the end point itself (scaled again to the same values) otherwise. The pair
// is addressed by its byte offset in the entry (cx1, cy1 or x, y), so that only coordinates the kind uses
// are read or written, and no branch picks them. A cubic curve's second control point is one more branch,
// which in TrueType outlines is never taken.
// The byte offset of the second pair an entry of each kind scales: its first control point (curves) or its
// end point again.
constexpr size_t kPairOffset[4] = {offsetof(OutlinePoint, x), offsetof(OutlinePoint, x),
                                   offsetof(OutlinePoint, cx1), offsetof(OutlinePoint, cx1)};

template <Division kDivision>
inline bool scaleEntry(OutlinePoint& p, PlainScaler::AxisFactors sx, PlainScaler::AxisFactors sy) {
    const int32_t kind = p.kind;
    if (uint32_t(kind) > uint32_t(kOutlineQuadratic)) return false;
    const size_t pair = kPairOffset[kind];
    unsigned char* const bytes = reinterpret_cast<unsigned char*>(&p);
    int32_t cx, cy;
    std::memcpy(&cx, bytes + pair, 4);
    std::memcpy(&cy, bytes + pair + 4, 4);
    p.x = scaleValue<kDivision>(p.x, sx);
    p.y = scaleValue<kDivision>(p.y, sy);
    cx = scaleValue<kDivision>(cx, sx);
    cy = scaleValue<kDivision>(cy, sy);
    std::memcpy(bytes + pair, &cx, 4);
    std::memcpy(bytes + pair + 4, &cy, 4);
    if (kind == kOutlineCubic) {
        p.cx2 = scaleValue<kDivision>(p.cx2, sx);
        p.cy2 = scaleValue<kDivision>(p.cy2, sy);
    }
    return true;
}

// Scales entries [p, end) in place; false when one of them has an unknown kind. The factors are copies,
// which the entries' stores cannot alias.
template <Division kDivision>
bool scaleEntries(OutlinePoint* p, const OutlinePoint* end, PlainScaler::AxisFactors sx,
                  PlainScaler::AxisFactors sy) {
    bool known = true;
    for (; p < end; ++p) known &= scaleEntry<kDivision>(*p, sx, sy);
    return known;
}

#if defined(__SSE2__)
// Sizes that are the em divided by a power of two, 2^k on both axes (16 pixels of an em of 1024 or 2048,
// the usual TrueType ems): v / 2^k truncated toward zero is (v + (2^k - 1 when v < 0)) >> k, exact for
// every 32-bit value (adding to a negative value cannot overflow). The four values x, y, cx1, cy1 of an
// entry lie next to each other and are shifted together; a move or a line keeps its cx1 and cy1 as they
// were (the same bits are stored back), so only the coordinates its kind uses change.
alignas(16) constexpr int32_t kScaledLanes[4][4] = {
    {-1, -1, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, -1}, {-1, -1, -1, -1}};

bool shiftEntries(OutlinePoint* p, const OutlinePoint* end, int32_t shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const int32_t low = int32_t((uint32_t(1) << shift) - 1);
    const __m128i bias = _mm_set1_epi32(low);
    auto one = [&](int32_t v) { return (v + ((v >> 31) & low)) >> shift; };
    bool known = true;
    for (; p < end; ++p) {
        const int32_t kind = p->kind;
        if (uint32_t(kind) > uint32_t(kOutlineQuadratic)) {
            known = false;
            continue;
        }
        __m128i* const values =
            reinterpret_cast<__m128i*>(reinterpret_cast<unsigned char*>(p) + offsetof(OutlinePoint, x));
        const __m128i v = _mm_loadu_si128(values);
        const __m128i q = _mm_sra_epi32(_mm_add_epi32(v, _mm_and_si128(_mm_srai_epi32(v, 31), bias)), count);
        const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(kScaledLanes[kind]));
        _mm_storeu_si128(values, _mm_or_si128(_mm_and_si128(lanes, q), _mm_andnot_si128(lanes, v)));
        if (kind == kOutlineCubic) {
            p->cx2 = one(p->cx2);
            p->cy2 = one(p->cy2);
        }
    }
    return known;
}

// Sizes below the em, any other fraction: the magnitude's quotient as kMagnitude takes it, the high word of
// a x r (r the 64-bit reciprocal), worked out in 32-bit halves, which SSE2 multiplies two at a time:
//   a x r = a x rh x 2^32 + a x rl,   floor(a x r / 2^64) = floor((a x rh + floor(a x rl / 2^32)) / 2^32)
// (each floor of a quotient by a power of two taken in turn), where a x rh + floor(a x rl / 2^32) stays
// below 2^31 x 2^32 + 2^31, inside 64 bits. x and cx1 (lanes 0 and 2) take the x factors, y and cy1 the y
// ones. The quotient is below the magnitude, so it fits, and the sign is put back after.
bool divideEntries(OutlinePoint* p, const OutlinePoint* end, PlainScaler::AxisFactors sx,
                   PlainScaler::AxisFactors sy) {
    const __m128i lowX = _mm_set1_epi64x(int64_t(sx.reciprocal & 0xFFFFFFFFu));
    const __m128i highX = _mm_set1_epi64x(int64_t(sx.reciprocal >> 32));
    const __m128i lowY = _mm_set1_epi64x(int64_t(sy.reciprocal & 0xFFFFFFFFu));
    const __m128i highY = _mm_set1_epi64x(int64_t(sy.reciprocal >> 32));
    const __m128i oddLanes = _mm_set1_epi64x(int64_t(0xFFFFFFFF00000000u));
    bool known = true;
    for (; p < end; ++p) {
        const int32_t kind = p->kind;
        if (uint32_t(kind) > uint32_t(kOutlineQuadratic)) {
            known = false;
            continue;
        }
        __m128i* const values =
            reinterpret_cast<__m128i*>(reinterpret_cast<unsigned char*>(p) + offsetof(OutlinePoint, x));
        const __m128i v = _mm_loadu_si128(values);
        const __m128i sign = _mm_srai_epi32(v, 31);
        const __m128i a = _mm_sub_epi32(_mm_xor_si128(v, sign), sign);  // 2^31 for INT32_MIN, unsigned
        const __m128i aOdd = _mm_srli_epi64(a, 32);
        const __m128i even =
            _mm_add_epi64(_mm_mul_epu32(a, highX), _mm_srli_epi64(_mm_mul_epu32(a, lowX), 32));
        const __m128i odd =
            _mm_add_epi64(_mm_mul_epu32(aOdd, highY), _mm_srli_epi64(_mm_mul_epu32(aOdd, lowY), 32));
        const __m128i q = _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, oddLanes));
        const __m128i signedQ = _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
        const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(kScaledLanes[kind]));
        _mm_storeu_si128(values, _mm_or_si128(_mm_and_si128(lanes, signedQ), _mm_andnot_si128(lanes, v)));
        if (kind == kOutlineCubic) {
            p->cx2 = scaleValue<Division::kMagnitude>(p->cx2, sx);
            p->cy2 = scaleValue<Division::kMagnitude>(p->cy2, sy);
        }
    }
    return known;
}
#endif

}  // namespace

int16_t PlainScaler::scaleOutline(GlyphOutline& source, GlyphOutline* destination) {
    // A record holds at most kMaxOutlineContours contours (a CFF glyph may have all of them); one that
    // claims more is not a record this library wrote.
    if (source.contourCount > kMaxOutlineContours) return KORV_FAIL(kFontDataError);
    // A record whose em is 0 cannot be divided by; no coordinate can be scaled.
    if (unitsPerEm == 0) return KORV_FAIL(kFontDataError);
    if (m_factorsEm != unitsPerEm || m_factorsX != xPpem || m_factorsY != yPpem) {
        m_x = axisFactors(xPpem, unitsPerEm);
        m_y = axisFactors(yPpem, unitsPerEm);
        m_factorsEm = unitsPerEm;
        m_factorsX = xPpem;
        m_factorsY = yPpem;
    }
    const bool belowEm = m_x.whole == 0 && m_y.whole == 0;
    const bool belowHalfEm = belowEm && (m_x.reciprocal | m_y.reciprocal) < (uint64_t(1) << 63);
#if defined(__SSE2__)
    const bool shifted = m_x.shift > 0 && m_x.shift == m_y.shift;
#endif
    auto scale = [&](OutlinePoint* p, const OutlinePoint* end) {
#if defined(__SSE2__)
        if (shifted) return shiftEntries(p, end, m_x.shift);
        if (belowEm) return divideEntries(p, end, m_x, m_y);
#endif
        if (belowHalfEm) return scaleEntries<Division::kSignedHigh>(p, end, m_x, m_y);
        if (belowEm) return scaleEntries<Division::kMagnitude>(p, end, m_x, m_y);
        return scaleEntries<Division::kClamped>(p, end, m_x, m_y);
    };
    if (!destination || destination == &source)
        return scale(source.points, source.points + source.pointCount) ? 0 : KORV_FAIL(int16_t(kNoCharMap));

    // Appended contour by contour, each contour's entries copied, then scaled.
    return appendContours(source, *destination, [&](uint32_t first, uint32_t count, OutlinePoint* out) {
        for (uint32_t i = 0; i < count; ++i) out[i] = source.points[first + i];
        return scale(out, out + count);
    });
}
