// TrueType glyph outlines: the glyph loader ('glyf' through 'loca', metrics from 'hmtx') and the contours it
// builds. A glyph in 'glyf' starts with a 10-byte header:
//   0 i16 numberOfContours (> 0 simple, -1 composite)   2 i16 xMin   4 i16 yMin   6 i16 xMax   8 i16 yMax
// Simple glyph, after the header:
//   u16 endPtsOfContours[numberOfContours]   u16 instructionLength   u8 instructions[instructionLength]
//   u8 flags[] (bit 0 on curve, 1 x short, 2 y short, 3 repeat: the next byte counts the repeats,
//               4 x same / x short positive, 5 y same / y short positive)
//   x deltas (1 byte when x short, none when x same, else i16), then the y deltas likewise
// Composite glyph, after the header, components while bit 5 of their flags is set:
//   u16 flags   u16 glyphIndex   two arguments (i16 each when bit 0 is set, else one byte each)
//   then bit 3: F2Dot14 scale | bit 6: F2Dot14 xscale, yscale | bit 7: F2Dot14 xx, yx, xy, yy
// Arguments are an offset (bit 1; scaled by the transform's size with bit 11) or two point numbers: a point
// of the glyph assembled so far and a point of the component, which is moved onto the first.
//
// Every point is read into the loader record (flags and 26.6 coordinates); contours are then built from it:
// quadratic segments between off-curve points meet at their midpoints.
#include <new>

#include "sfnt/ByteReader.h"
#include "sfnt/TrueTypeFont.h"

namespace {

// Simple glyph flags.
constexpr uint8_t kOnCurve = 0x01;
constexpr uint8_t kXShort = 0x02;
constexpr uint8_t kYShort = 0x04;
constexpr uint8_t kRepeat = 0x08;
constexpr uint8_t kXSameOrPositive = 0x10;
constexpr uint8_t kYSameOrPositive = 0x20;
constexpr uint8_t kKeptFlags = 0x3F;  // the low six bits are stored per point

// Composite component flags.
constexpr uint16_t kArgsAreWords = 0x0001;
constexpr uint16_t kArgsAreXYValues = 0x0002;
constexpr uint16_t kHaveScale = 0x0008;
constexpr uint16_t kMoreComponents = 0x0020;
constexpr uint16_t kHaveXYScale = 0x0040;
constexpr uint16_t kHaveTwoByTwo = 0x0080;
constexpr uint16_t kScaledComponentOffset = 0x0800;

constexpr uint32_t kGlyphHeaderSize = 10;

// Coordinate bytes per point by its six flag bits, x in the low 32 bits and y in the high 32 bits (so that
// runs add up in one sum): x 1 when short, 0 when "same", else 2; y likewise with bits 2 and 5.
constexpr uint64_t coordinateBytes(unsigned f) {
    const uint64_t x = (f & kXShort) ? 1 : (f & kXSameOrPositive) ? 0 : 2;
    const uint64_t y = (f & kYShort) ? 1 : (f & kYSameOrPositive) ? 0 : 2;
    return x | (y << 32);
}
struct CoordinateTable {
    uint64_t bytes[64];
    constexpr CoordinateTable() : bytes() {
        for (unsigned f = 0; f < 64; ++f) bytes[f] = coordinateBytes(f);
    }
};
constexpr CoordinateTable kCoordinateBytes;

inline int32_t clampToInt32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

// A 2.14 value times a 26.6 coordinate, as FixedMul(value << 2, coordinate << 10): the product with ten more
// fraction bits, rounded half up in magnitude. Taken in 64 bits, so coordinates of any size multiply without
// overflow (for every coordinate below 2^21 the result is FixedMul's).
inline int64_t mulF2Dot14(int32_t value, int32_t coordinate) {
    const uint64_t a = value < 0 ? 0u - uint64_t(int64_t(value)) : uint64_t(value);
    const uint64_t b = coordinate < 0 ? 0u - uint64_t(int64_t(coordinate)) : uint64_t(coordinate);
    const int64_t m = int64_t((a * b + 8) >> 4);
    return (value < 0) != (coordinate < 0) ? -m : m;
}

// The sum of products back from 26.16 to 26.6 (an arithmetic shift), clamped to 32 bits.
inline int32_t fromWide(int64_t sum) {
    return clampToInt32(sum >> 10);
}

// How a flag's two bits for one axis (short, same-or-positive) read a delta: all-ones masks selecting the
// one-byte value, its negation, or the 16-bit value, and the bytes used.
struct DeltaForm {
    uint32_t narrow;  // the one-byte value
    uint32_t negate;  // ... negated
    uint32_t wide;    // the 16-bit value
    uint32_t bytes;
};
constexpr DeltaForm deltaForm(bool isShort, bool sameOrPositive) {
    if (isShort) return {~0u, sameOrPositive ? 0u : ~0u, 0u, 1u};
    return sameOrPositive ? DeltaForm{0u, 0u, 0u, 0u} : DeltaForm{0u, 0u, ~0u, 2u};
}
struct DeltaTable {
    DeltaForm x[64], y[64];
    constexpr DeltaTable() : x(), y() {
        for (unsigned f = 0; f < 64; ++f) {
            x[f] = deltaForm(f & kXShort, f & kXSameOrPositive);
            y[f] = deltaForm(f & kYShort, f & kYSameOrPositive);
        }
    }
};
constexpr DeltaTable kDeltaForms;

// One coordinate delta without a branch. Both bytes at `p` must be readable; `p` moves past the bytes the
// delta used.
inline uint32_t delta(const DeltaForm& form, const uint8_t*& p) {
    const uint32_t b0 = p[0];
    const uint32_t wide = uint32_t(int32_t(int16_t(uint16_t((b0 << 8) | p[1]))));
    const uint32_t narrow = (b0 ^ form.negate) - form.negate;  // +b0 or -b0
    p += form.bytes;
    return (narrow & form.narrow) | (wide & form.wide);
}

// One glyph's bytes and header (contour count and box, in font units); length 0 for an empty glyph.
struct GlyphHeader {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    int16_t numberOfContours = 0;
    int16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// A simple glyph whose contour ends and flags are in the loader, with its coordinate runs: x from `xp`, y
// from `yp`, both inside the glyph's bytes, which end at `end`.
struct SimpleGlyph {
    const uint8_t* xp = nullptr;
    const uint8_t* yp = nullptr;
    const uint8_t* end = nullptr;
    uint32_t firstPoint = 0;
    uint32_t points = 0;
};

// Reads a simple glyph's points one after the other: x and y in 26.6, x moved by `shift`.
class CoordinateReader {
public:
    // The points start from (x0, y0) (26.6) instead of the origin.
    explicit CoordinateReader(const SimpleGlyph& g, int32_t x0 = 0, int32_t y0 = 0)
        : m_xp(g.xp), m_yp(g.yp), m_end(g.end), m_x(uint32_t(x0)), m_y(uint32_t(y0)) {}

    void next(GlyphLoaderPoint& point) { next(point.flags, point.x, point.y); }
    void next(uint32_t f, int32_t& x, int32_t& y) {
        if (m_end - m_yp >= 2) {
            // Two bytes remain after the y cursor (and so after the x cursor, which is below it): both
            // bytes at each cursor can be read whatever the flag says, and the delta is chosen without a
            // branch.
            m_x += delta(kDeltaForms.x[f], m_xp) << 6;
            m_y += delta(kDeltaForms.y[f], m_yp) << 6;
        } else {  // the last points, at the end of the glyph
            m_x += slowDelta(f & kXShort, f & kXSameOrPositive, m_xp) << 6;
            m_y += slowDelta(f & kYShort, f & kYSameOrPositive, m_yp) << 6;
        }
        x = int32_t(m_x);
        y = int32_t(m_y);
    }

private:
    static uint32_t slowDelta(uint32_t isShort, uint32_t sameOrPositive, const uint8_t*& p) {
        if (isShort) {
            const uint32_t d = *p++;
            return sameOrPositive ? d : 0u - d;
        }
        if (sameOrPositive) return 0;
        const uint32_t d = uint32_t(int32_t(int16_t(loadU16(p))));
        p += 2;
        return d;
    }

    const uint8_t* m_xp;
    const uint8_t* m_yp;
    const uint8_t* m_end;
    uint32_t m_x, m_y;  // wrap on hostile data rather than overflow
};

// One top-level load: reads a glyph and, recursively, its components into the loader record.
class GlyphAssembly {
public:
    GlyphAssembly(const TrueTypeFont& font, GlyphLoader& loader) : m_font(font), m_loader(loader) {
        const uint16_t fontDepth = font.maxp.maxComponentDepth;
        m_depthLimit = fontDepth < kMaxCompositeDepth ? fontDepth : kMaxCompositeDepth;
    }

    // The glyph's bytes through 'loca' and its header.
    [[nodiscard]] int16_t readGlyph(uint32_t glyph, GlyphHeader& header) const;
    // Loads a glyph whose header has been read, with its points, into the loader; a simple glyph's points
    // are moved by (dx, dy) as they are read.
    [[nodiscard]] int16_t load(const GlyphHeader& header, int32_t dx = 0, int32_t dy = 0);
    // Checks a simple glyph's structure and reads its contour ends and flags into the loader; the
    // coordinates are left for the caller.
    [[nodiscard]] int16_t readSimple(const GlyphHeader& header, SimpleGlyph& simple);

    uint32_t pointCount = 0;  // points in the loader record

private:
    [[nodiscard]] int16_t loadComposite(const GlyphHeader& header);

    const TrueTypeFont& m_font;
    GlyphLoader& m_loader;
    uint16_t m_depthLimit = 0;
    uint32_t m_componentsVisited = 0;
};

int16_t GlyphAssembly::readGlyph(uint32_t glyph, GlyphHeader& header) const {
    header = GlyphHeader{};
    const LocaTable& loca = m_font.loca;
    uint32_t start, end;
    if (loca.indexToLocFormat != 0) {
        if (uint64_t(glyph) * 4 + 8 > loca.length) return KORV_FAIL(kFontDataError);
        start = loadU32(loca.data + 4 * size_t(glyph));
        end = loadU32(loca.data + 4 * size_t(glyph) + 4);
    } else {
        if (uint64_t(glyph) * 2 + 4 > loca.length) return KORV_FAIL(kFontDataError);
        start = uint32_t(loadU16(loca.data + 2 * size_t(glyph))) * 2;
        end = uint32_t(loadU16(loca.data + 2 * size_t(glyph) + 2)) * 2;
    }
    // 'loca' has been checked for offsets that run backwards and glyphs longer than 65536 bytes; a glyph of
    // exactly 65536 bytes keeps its full length here (in 16 bits it would read as empty).
    if (end < start || end - start > 0x10000) return KORV_FAIL(kFontDataError);
    const uint32_t length = end - start;
    if (length == 0) return 0;
    if (uint64_t(m_font.glyfOffset) + end > m_font.dataSize) return KORV_FAIL(kFontDataError);
    if (length < kGlyphHeaderSize) return KORV_FAIL(kFontDataError);
    const uint8_t* bytes = m_font.data + m_font.glyfOffset + start;
    header.bytes = bytes;
    header.length = length;
    header.numberOfContours = int16_t(loadU16(bytes));
    header.xMin = int16_t(loadU16(bytes + 2));
    header.yMin = int16_t(loadU16(bytes + 4));
    header.xMax = int16_t(loadU16(bytes + 6));
    header.yMax = int16_t(loadU16(bytes + 8));
    // numberOfContours: above 0 a simple glyph, -1 a composite; nothing else is a glyph.
    if (header.numberOfContours == 0 || header.numberOfContours < -1) return KORV_FAIL(kFontDataError);
    return 0;
}

int16_t GlyphAssembly::load(const GlyphHeader& header, int32_t dx, int32_t dy) {
    if (header.length == 0) return 0;
    if (header.numberOfContours < 0) return loadComposite(header);
    SimpleGlyph simple;
    if (const int16_t status = readSimple(header, simple)) return status;
    // Deltas: both coordinate runs are inside the glyph. The sums wrap in 32 bits (26.6) on hostile data
    // rather than overflow; real coordinates are 16-bit values.
    CoordinateReader reader(simple, dx, dy);
    GlyphLoaderPoint* const out = m_loader.points + simple.firstPoint;
    for (uint32_t i = 0; i < simple.points; ++i) reader.next(out[i]);
    pointCount = simple.firstPoint + simple.points;
    return 0;
}

int16_t GlyphAssembly::readSimple(const GlyphHeader& header, SimpleGlyph& simple) {
    GlyphLoader& loader = m_loader;
    const uint8_t* const glyph = header.bytes;
    const uint32_t length = header.length;
    const uint32_t contourCount = uint32_t(header.numberOfContours);
    // The contour ends and the instruction length must be there.
    if (kGlyphHeaderSize + 2 * contourCount + 2 > length) return KORV_FAIL(kFontDataError);
    // The loader counts contours in 16 bits.
    const uint32_t contourTotal = uint32_t(loader.contourCount) + contourCount;
    if (contourTotal > loader.maxContours || contourTotal > uint32_t(INT16_MAX))
        return KORV_FAIL(kFontDataError);

    const uint8_t* p = glyph + kGlyphHeaderSize;
    const uint8_t* const end = glyph + length;
    const uint32_t firstPoint = pointCount;
    uint16_t* ends = loader.contourEnds + loader.contourCount;
    // End points rise strictly (each contour has a point); the last one gives the point count.
    int32_t previous = -1;
    for (uint32_t c = 0; c < contourCount; ++c, p += 2) {
        const int32_t e = loadU16(p);
        if (e <= previous) return KORV_FAIL(kFontDataError);
        previous = e;
    }
    const uint32_t points = uint32_t(previous) + 1;
    if (firstPoint + points > loader.maxPoints) return KORV_FAIL(kFontDataError);
    p = glyph + kGlyphHeaderSize;
    for (uint32_t c = 0; c < contourCount; ++c, p += 2) ends[c] = uint16_t(firstPoint + loadU16(p));

    const uint32_t instructionLength = loadU16(p);
    p += 2;
    if (instructionLength > uint32_t(end - p)) return KORV_FAIL(kFontDataError);
    p += instructionLength;

    // Flags, with the coordinate bytes they call for counted on the way (x in the low half of the sum,
    // y in the high half).
    GlyphLoaderPoint* const out = loader.points + firstPoint;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < points;) {
        if (p == end) return KORV_FAIL(kFontDataError);
        const uint8_t f = *p++;
        const uint8_t kept = f & kKeptFlags;
        out[i++].flags = kept;
        if (!(f & kRepeat)) {
            bytes += kCoordinateBytes.bytes[kept];
            continue;
        }
        if (p == end) return KORV_FAIL(kFontDataError);
        const uint32_t repeats = *p++;
        if (repeats > points - i) return KORV_FAIL(kFontDataError);  // a repeat past the last point
        bytes += uint64_t(repeats + 1) * kCoordinateBytes.bytes[kept];
        for (uint32_t r = 0; r < repeats; ++r) out[i++].flags = kept;
    }
    const uint64_t xBytes = uint32_t(bytes), yBytes = bytes >> 32;
    if (xBytes + yBytes > uint64_t(end - p)) return KORV_FAIL(kFontDataError);

    loader.contourCount = int16_t(contourTotal);
    simple.xp = p;
    simple.yp = p + xBytes;
    simple.end = end;
    simple.firstPoint = firstPoint;
    simple.points = points;
    return 0;
}

int16_t GlyphAssembly::loadComposite(const GlyphHeader& header) {
    GlyphLoader& loader = m_loader;
    // Our own depth bound besides the font's: a glyph that includes itself stops here.
    if (loader.depth >= int32_t(m_depthLimit)) return KORV_FAIL(kFontDataError);
    loader.depth = int16_t(loader.depth + 1);

    ByteReader reader(header.bytes + kGlyphHeaderSize, header.length - kGlyphHeaderSize);
    const uint32_t firstPoint = pointCount;
    uint32_t components = 0;
    uint16_t flags;
    do {
        flags = reader.u16();
        const uint16_t child = reader.u16();
        int32_t arg1, arg2;
        if (flags & kArgsAreWords) {
            const uint16_t a = reader.u16(), b = reader.u16();
            // Point numbers are unsigned; offsets signed.
            arg1 = (flags & kArgsAreXYValues) ? int32_t(int16_t(a)) : int32_t(a);
            arg2 = (flags & kArgsAreXYValues) ? int32_t(int16_t(b)) : int32_t(b);
        } else {
            const uint8_t a = reader.u8(), b = reader.u8();
            arg1 = (flags & kArgsAreXYValues) ? int32_t(int8_t(a)) : int32_t(a);
            arg2 = (flags & kArgsAreXYValues) ? int32_t(int8_t(b)) : int32_t(b);
        }
        // The transform, as the format lays it out: xx, yx, xy, yy with x' = xx x + xy y, y' = yx x + yy y.
        int32_t xx = 0x4000, yx = 0, xy = 0, yy = 0x4000;
        const bool transformed = (flags & (kHaveScale | kHaveXYScale | kHaveTwoByTwo)) != 0;
        if (flags & kHaveScale) {
            xx = yy = reader.s16();
        } else if (flags & kHaveXYScale) {
            xx = reader.s16();
            yy = reader.s16();
        } else if (flags & kHaveTwoByTwo) {
            xx = reader.s16();
            yx = reader.s16();
            xy = reader.s16();
            yy = reader.s16();
        }
        if (!reader.ok()) return KORV_FAIL(kFontDataError);  // the component is not complete
        if (++components > loader.maxComponentElements) return KORV_FAIL(kFontDataError);
        if (++m_componentsVisited > kMaxComponentsPerGlyph) return KORV_FAIL(kFontDataError);
        if (child >= m_font.maxp.numGlyphs) return KORV_FAIL(kFontDataError);

        const uint32_t childFirst = pointCount;
        GlyphHeader childHeader;
        if (const int16_t status = readGlyph(child, childHeader)) return status;
        // The most common component, a simple glyph placed by an offset alone, is moved as it is read.
        if (!transformed && (flags & kArgsAreXYValues) && childHeader.numberOfContours > 0) {
            if (const int16_t status = load(childHeader, arg1 * 64, arg2 * 64)) return status;
            continue;
        }
        if (const int16_t status = load(childHeader)) return status;
        GlyphLoaderPoint* const points = loader.points;

        if (transformed) {
            for (uint32_t i = childFirst; i < pointCount; ++i) {
                const int32_t px = points[i].x, py = points[i].y;
                points[i].x = fromWide(mulF2Dot14(xx, px) + mulF2Dot14(xy, py));
                points[i].y = fromWide(mulF2Dot14(yx, px) + mulF2Dot14(yy, py));
            }
        }

        int64_t dx, dy;
        if (flags & kArgsAreXYValues) {
            dx = int64_t(arg1) * 64;
            dy = int64_t(arg2) * 64;
            if ((flags & kScaledComponentOffset) && transformed) {
                // The offset scaled by the transform's size along each axis: the larger magnitude of the
                // pair, doubled when the two are within 33/16384 of each other.
                auto factor = [](int32_t a, int32_t b) {
                    a = a < 0 ? -a : a;
                    b = b < 0 ? -b : b;
                    const int32_t m = a > b ? a : b;
                    const int32_t difference = a > b ? a - b : b - a;
                    return difference <= 33 ? 2 * m : m;
                };
                dx = mulF2Dot14(factor(xx, yx), int32_t(dx)) >> 10;
                dy = mulF2Dot14(factor(xy, yy), int32_t(dy)) >> 10;
            }
        } else {
            // Point matching: the component's point arg2 lands on point arg1 of the glyph assembled so far.
            const uint32_t base = firstPoint + uint32_t(arg1);
            const uint32_t moved = childFirst + uint32_t(arg2);
            if (base >= childFirst || moved >= pointCount) return KORV_FAIL(kFontDataError);
            dx = int64_t(points[base].x) - points[moved].x;
            dy = int64_t(points[base].y) - points[moved].y;
        }
        if (dx | dy) {
            for (uint32_t i = childFirst; i < pointCount; ++i) {
                points[i].x = clampToInt32(points[i].x + dx);
                points[i].y = clampToInt32(points[i].y + dy);
            }
        }
    } while (flags & kMoreComponents);

    loader.depth = int16_t(loader.depth - 1);
    return 0;
}

// Halfway between two coordinates, rounded down. The sum wraps in 32 bits like the coordinates themselves
// (real coordinates are far below 2^30).
inline int32_t midpoint(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) + uint32_t(b)) >> 1;
}

// How one TrueType contour becomes an outline contour: it starts at the first point when that is on the
// curve, else at the last when that is, else halfway between them; each on-curve point is a line, each
// off-curve point the control point of a quadratic curve that ends at the next point when that is on the
// curve, else halfway to it; the contour closes back to its start.
//
// The points that follow the start in that walk ("walked" points: first + 1..last, first..last - 1 or
// first..last) each end a segment when on the curve or after an off-curve point: with the move and the
// closing entry, that is the contour's entry count. The record makes room for them before they are written,
// without a branch per point.
inline uint32_t contourEntries(const GlyphLoaderPoint* pts, uint32_t from, uint32_t to) {
    uint32_t entries = 2;
    uint32_t previousOn = 1;  // the start is on the curve
    for (uint32_t q = from; q <= to; ++q) {
        const uint32_t on = pts[q].flags & kOnCurve;
        entries += on | (previousOn ^ 1);
        previousOn = on;
    }
    return entries;
}

// Writes the entries after a contour's move, one walked point at a time, into room reserved for them.
class SegmentWriter {
public:
    explicit SegmentWriter(OutlinePoint* out) : m_out(out) {}

    // The first walked point when the contour starts elsewhere than at it, off the curve.
    void startWithControl(int32_t x, int32_t y) {
        m_cx = x;
        m_cy = y;
        m_control = 1;
    }
    void point(int32_t x, int32_t y, uint32_t on) {
        const int32_t onMask = -int32_t(on);
        // On the curve: a line or a curve to the point; off it: a curve to halfway from the pending control
        // point, written but kept only when there is one.
        m_out->kind = kOutlineLine + 2 * int32_t(m_control);
        m_out->x = (x & onMask) | (midpoint(m_cx, x) & ~onMask);
        m_out->y = (y & onMask) | (midpoint(m_cy, y) & ~onMask);
        m_out->cx1 = m_cx;
        m_out->cy1 = m_cy;
        m_out += on | m_control;
        m_cx = (x & ~onMask) | (m_cx & onMask);
        m_cy = (y & ~onMask) | (m_cy & onMask);
        m_control = on ^ 1;
    }
    void close(int32_t sx, int32_t sy) {
        m_out->kind = kOutlineLine + 2 * int32_t(m_control);
        m_out->x = sx;
        m_out->y = sy;
        m_out->cx1 = m_cx;
        m_out->cy1 = m_cy;
    }
    // Past the closing entry.
    const OutlinePoint* end() const { return m_out + 1; }

private:
    OutlinePoint* m_out;
    int32_t m_cx = 0, m_cy = 0;
    uint32_t m_control = 0;
};

// Opens contour `first`..`last` in the record with room for its entries; false when out of memory. A
// contour of n points has at most n + 2 entries; only when the record has less room than that are they
// counted exactly, so that it grows just as it would entry by entry.
inline bool openContour(GlyphOutline& o, const GlyphLoaderPoint* pts, uint32_t first, uint32_t last) {
    o.contourStart[o.contourCount] = o.pointCount;
    if (o.pointCapacity - o.pointCount >= last - first + 3) return true;
    const uint32_t onFirst = pts[first].flags & kOnCurve;
    const uint32_t onLast = pts[last].flags & kOnCurve;
    const uint32_t entries =
        onFirst ? contourEntries(pts, first + 1, last) : contourEntries(pts, first, onLast ? last - 1 : last);
    return o.reserveInSteps(entries) == 0;
}

// Writes the contour's move and counts the contour, whose last entry the segment writer has closed.
inline void closeContour(GlyphOutline& o, const SegmentWriter& w, int32_t sx, int32_t sy) {
    OutlinePoint& move = o.points[o.pointCount];
    move.kind = kOutlineMove;
    move.x = sx;
    move.y = sy;
    o.pointCount = uint32_t(w.end() - o.points);
    o.contourCount += 1;
    o.contourStart[o.contourCount] = o.pointCount;
}

// Contours from the points in the loader (composites), x moved by `shift`.
bool writeContours(GlyphOutline& o, const GlyphLoader& loader, int32_t shift) {
    const GlyphLoaderPoint* pts = loader.points;
    auto px = [&](uint32_t i) { return int32_t(uint32_t(pts[i].x) + uint32_t(shift)); };
    uint32_t first = 0;
    for (int32_t c = 0; c < loader.contourCount; ++c) {
        const uint32_t last = loader.contourEnds[c];
        if (!openContour(o, pts, first, last)) return false;
        SegmentWriter w(o.points + o.pointCount + 1);
        int32_t sx, sy;
        if (pts[first].flags & kOnCurve) {
            sx = px(first);
            sy = pts[first].y;
            for (uint32_t q = first + 1; q <= last; ++q) w.point(px(q), pts[q].y, pts[q].flags & kOnCurve);
        } else {
            w.startWithControl(px(first), pts[first].y);
            const bool onLast = pts[last].flags & kOnCurve;
            for (uint32_t q = first + 1; q < last; ++q) w.point(px(q), pts[q].y, pts[q].flags & kOnCurve);
            if (onLast) {
                sx = px(last);
                sy = pts[last].y;
            } else {
                if (last != first) w.point(px(last), pts[last].y, 0);
                sx = midpoint(px(first), px(last));
                sy = midpoint(pts[first].y, pts[last].y);
            }
        }
        w.close(sx, sy);
        closeContour(o, w, sx, sy);
        first = last + 1;
    }
    return true;
}

// Contours straight from a simple glyph's coordinates, x moved by `shift`: one pass over the points instead
// of one to read them into the loader and one to write the entries (the loader keeps the glyph's flags and
// contour ends; its point coordinates are not filled).
bool writeSimpleContours(GlyphOutline& o, const GlyphLoader& loader, const SimpleGlyph& simple,
                         int32_t shift) {
    const GlyphLoaderPoint* pts = loader.points;
    CoordinateReader reader(simple, shift);
    uint32_t first = simple.firstPoint;
    for (int32_t c = 0; c < loader.contourCount; ++c) {
        const uint32_t last = loader.contourEnds[c];
        if (!openContour(o, pts, first, last)) return false;
        SegmentWriter w(o.points + o.pointCount + 1);
        int32_t fx, fy, x, y, sx, sy;
        reader.next(pts[first].flags, fx, fy);
        if (pts[first].flags & kOnCurve) {
            sx = fx;
            sy = fy;
            for (uint32_t q = first + 1; q <= last; ++q) {
                const uint32_t f = pts[q].flags;
                reader.next(f, x, y);
                w.point(x, y, f & kOnCurve);
            }
        } else {
            w.startWithControl(fx, fy);
            for (uint32_t q = first + 1; q < last; ++q) {
                const uint32_t f = pts[q].flags;
                reader.next(f, x, y);
                w.point(x, y, f & kOnCurve);
            }
            x = fx;
            y = fy;
            if (last != first) reader.next(pts[last].flags, x, y);
            if (pts[last].flags & kOnCurve) {
                sx = x;
                sy = y;
            } else {
                if (last != first) w.point(x, y, 0);
                sx = midpoint(fx, x);
                sy = midpoint(fy, y);
            }
        }
        w.close(sx, sy);
        closeContour(o, w, sx, sy);
        first = last + 1;
    }
    return true;
}

}  // namespace

int16_t TrueTypeFont::getGlyphOutline(uint32_t glyph, GlyphWork& work, GlyphOutline& outline) {
    if (!work.loader) return KORV_FAIL(int16_t(kParamError));
    if (glyph >= maxp.numGlyphs) return int16_t(kGlyphAbsent);
    GlyphLoader& loader = *work.loader;
    loader.contourCount = 0;
    loader.depth = 0;

    // Metrics from 'hmtx' (the glyphs past the long metrics share the last advance).
    uint16_t advanceWidth = 0;
    int16_t sideBearing = 0;
    if (const int16_t status = hmtx.metrics(glyph, advanceWidth, sideBearing)) return status;
    loader.advance = int32_t(advanceWidth) * 64;
    loader.leftSideBearing = int32_t(sideBearing) * 64;

    // A simple glyph is read straight into the outline; a composite is assembled in the loader first.
    GlyphAssembly assembly(*this, loader);
    GlyphHeader header;
    if (const int16_t status = assembly.readGlyph(glyph, header)) return status;
    const bool simple = header.length && header.numberOfContours > 0;
    SimpleGlyph simpleGlyph;
    if (const int16_t status = simple ? assembly.readSimple(header, simpleGlyph) : assembly.load(header))
        return status;

    outline.advance = loader.advance;
    outline.sideBearing = loader.leftSideBearing;
    // The outline is moved so that xMin falls on the side bearing.
    const int32_t shift = loader.leftSideBearing - int32_t(header.xMin) * 64;
    if (work.box) {
        work.box->xMin = int32_t(header.xMin) * 64 + shift;
        work.box->yMax = int32_t(header.yMax) * 64;
        work.box->xMax = int32_t(header.xMax) * 64 + shift;
        work.box->yMin = int32_t(header.yMin) * 64;
    }
    if (uint32_t(loader.contourCount) + outline.contourCount > kMaxTrueTypeContours)
        return KORV_FAIL(kFontDataError);
    const bool written = simple ? writeSimpleContours(outline, loader, simpleGlyph, shift)
                                : writeContours(outline, loader, shift);
    return written ? 0 : KORV_FAIL(int16_t(kOutOfMemory));
}

int16_t TrueTypeFont::getCharOutline(uint32_t code, GlyphWork& work, GlyphOutline& outline) {
    uint32_t glyph = 0;
    if (const int16_t status = charToGlyph(code, glyph)) return status;
    return getGlyphOutline(glyph, work, outline);
}

void TrueTypeFont::freeLoaderArrays(GlyphLoader& loader) {
    delete[] loader.points;
    delete[] loader.contourEnds;
    loader.points = nullptr;
    loader.contourEnds = nullptr;
    loader.data = nullptr;
    loader.dataSize = 0;
}

// The loader's arrays hold every glyph that 'maxp' allows: a simple glyph has at most maxPoints points in
// maxContours contours, a composite at most maxCompositePoints in maxCompositeContours (its components all
// together), so each array takes the larger of the two. Depth and component counts come from 'maxp' as
// they are (the loader bounds them with limits of its own as well).
int16_t TrueTypeFont::prepareGlyphWork(GlyphWork& work) {
    releaseGlyphWork(work);
    GlyphLoader* loader = new (std::nothrow) GlyphLoader;
    if (!loader) return KORV_FAIL(int16_t(kOutOfMemory));
    loader->data = data;
    loader->dataSize = dataSize;
    loader->maxPoints = maxp.maxPoints > maxp.maxCompositePoints ? maxp.maxPoints : maxp.maxCompositePoints;
    loader->maxContours =
        maxp.maxContours > maxp.maxCompositeContours ? maxp.maxContours : maxp.maxCompositeContours;
    loader->maxComponentElements = maxp.maxComponentElements;
    loader->maxComponentDepth = maxp.maxComponentDepth;
    loader->points = new (std::nothrow) GlyphLoaderPoint[size_t(loader->maxPoints) + 1];
    loader->contourEnds = new (std::nothrow) uint16_t[size_t(loader->maxContours) + 1];
    if (!loader->points || !loader->contourEnds) {
        freeLoaderArrays(*loader);
        delete loader;
        return KORV_FAIL(int16_t(kOutOfMemory));
    }
    work.loader = loader;
    return 0;
}

void TrueTypeFont::releaseGlyphWork(GlyphWork& work) {
    if (!work.loader) return;
    freeLoaderArrays(*work.loader);
    delete work.loader;
    work.loader = nullptr;
}
