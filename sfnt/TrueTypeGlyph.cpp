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
// A simple glyph's flags are read into the loader record; its coordinates are then decoded and turned into
// contours in one pass, point by point. A composite's components are read into the loader record (flags and
// 26.6 coordinates) and moved there; its contours are then built from the loader. Either way quadratic
// segments between off-curve points meet at their midpoints.
#include <bit>
#include <cstring>
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
// In the flags a point keeps, bit 3 (the repeat bit as read) tells instead whether the point before it is on
// the curve.
constexpr uint8_t kPreviousOn = 0x08;

// Composite component flags.
constexpr uint16_t kArgsAreWords = 0x0001;
constexpr uint16_t kArgsAreXYValues = 0x0002;
constexpr uint16_t kHaveScale = 0x0008;
constexpr uint16_t kMoreComponents = 0x0020;
constexpr uint16_t kHaveXYScale = 0x0040;
constexpr uint16_t kHaveTwoByTwo = 0x0080;
constexpr uint16_t kScaledComponentOffset = 0x0800;

constexpr uint32_t kGlyphHeaderSize = 10;

// Points the loader has past its maxPoints and the one more it always had: the flag reader writes up to
// eight points past a glyph's last point (see readFlags), at most at index maxPoints + 7. Nothing reads
// them before they are written again.
constexpr uint32_t kSparePoints = 8;

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

// How a point's flags read its two coordinate deltas without a branch, whatever their form: from the two
// bytes at the axis's cursor taken in file order as v = first byte + 256 x second byte (unsigned),
//   delta = int32((v & in[f]) x factor[f]) >> 16                       (in 32-bit unsigned arithmetic)
// (x 64 for 26.6) and the cursor moves on by bytes[f]. By the axis's two flag bits (short; same-or-positive):
//   short, positive: in 0xFF (the first byte), factor  2^16     1 byte
//   short, negative: in 0xFF,                   factor -2^16     1 byte
//   same:            in 0, factor 0 (no delta)                   no byte
//   neither:         in 0xFFFF, factor 2^24 + 2^8                2 bytes
// A short delta b becomes +-b x 2^16, and the shift leaves +-b. The product of a long one is
// first x 2^24 + second x 2^16 + first x 2^8 (mod 2^32): the last term is below 2^16, so it carries into
// nothing and the shift drops it, which leaves the big-endian signed 16-bit value; this replaces swapping
// the two bytes. One array per field, so that a flag indexes each one directly. Indexed by the whole flag
// byte a point keeps (bit 3 and the top two bits play no part), which saves masking it.
struct DeltaTable {
    uint32_t inX[256], factorX[256], inY[256], factorY[256];
    int64_t bytesX[256], bytesY[256];
    // Coordinate bytes per point, x in the low 32 bits and y in the high 32 bits (so that runs add up in one
    // sum).
    uint64_t bothBytes[256];

    constexpr DeltaTable() : inX(), factorX(), inY(), factorY(), bytesX(), bytesY(), bothBytes() {
        for (unsigned f = 0; f < 256; ++f) {
            form(f & kXShort, f & kXSameOrPositive, inX[f], factorX[f], bytesX[f]);
            form(f & kYShort, f & kYSameOrPositive, inY[f], factorY[f], bytesY[f]);
            bothBytes[f] = uint64_t(bytesX[f]) | (uint64_t(bytesY[f]) << 32);
        }
    }
    static constexpr void form(bool isShort, bool sameOrPositive, uint32_t& in, uint32_t& factor,
                               int64_t& bytes) {
        if (isShort) {
            in = 0xFF;
            factor = sameOrPositive ? 0x10000u : 0u - 0x10000u;
            bytes = 1;
        } else if (sameOrPositive) {
            in = factor = 0;
            bytes = 0;
        } else {
            in = 0xFFFF;
            factor = 0x01000100u;
            bytes = 2;
        }
    }
    // A delta x 64 (26.6) from v, by the form's in mask and factor.
    static uint32_t delta(uint32_t v, uint32_t in, uint32_t factor) {
        return uint32_t(int32_t((v & in) * factor) >> 16) << 6;
    }
};
constexpr DeltaTable kDeltas;

// One glyph's bytes and header (contour count and box, in font units); length 0 for an empty glyph.
struct GlyphHeader {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    int16_t numberOfContours = 0;
    int16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// A simple glyph whose contour ends and flags are in the loader, ready for its coordinates: x deltas from
// `xp`, y deltas from `yp`, both inside the glyph's bytes. Points from `exactFrom` on (counted from the
// glyph's first point) must read exactly their own bytes, as their deltas may end the glyph. Filled by
// readSimple (it and the parts below are plain records, not cleared for each glyph).
struct SimpleGlyph {
    const uint8_t* xp;
    const uint8_t* yp;
    uint32_t firstPoint;
    uint32_t points;
    uint32_t exactFrom;
};

// The coordinates of a simple glyph's points, one point after the other, in 26.6 from an origin. The sums
// wrap in 32 bits on hostile data rather than overflow; real coordinates are 16-bit values.
struct Coordinates {
    Coordinates(const SimpleGlyph& g, int32_t x0, int32_t y0)
        : xp(g.xp), yp(g.yp), x(uint32_t(x0)), y(uint32_t(y0)) {}

    // The next point's deltas (26.6), by its flags `f`, the cursors moved past them. Both cursors must have
    // two readable bytes, unless kExact, which reads only the bytes the flags call for.
    template <bool kExact>
    void deltas(uint32_t f, uint32_t& dx, uint32_t& dy) {
        const uint32_t vx = kExact ? exactly(xp, kDeltas.bytesX[f]) : inFileOrder(xp);
        const uint32_t vy = kExact ? exactly(yp, kDeltas.bytesY[f]) : inFileOrder(yp);
        dx = DeltaTable::delta(vx, kDeltas.inX[f], kDeltas.factorX[f]);
        dy = DeltaTable::delta(vy, kDeltas.inY[f], kDeltas.factorY[f]);
        xp += kDeltas.bytesX[f];
        yp += kDeltas.bytesY[f];
    }
    // The next point.
    template <bool kExact>
    void advance(uint32_t f) {
        uint32_t dx, dy;
        deltas<kExact>(f, dx, dy);
        x += dx;
        y += dy;
    }
    void next(uint32_t f) { advance<false>(f); }
    void nextExactly(uint32_t f) { advance<true>(f); }
    // The two bytes at `p`, the first one the low byte (one load on a little-endian machine).
    static uint32_t inFileOrder(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
    // The value v of a delta of `bytes` bytes: the two bytes, the one byte, or 0.
    static uint32_t exactly(const uint8_t* p, int64_t bytes) {
        return bytes == 2 ? inFileOrder(p) : bytes == 1 ? uint32_t(p[0]) : 0;
    }

    const uint8_t* xp;
    const uint8_t* yp;
    uint32_t x, y;
};

// The coordinate bytes called for by the flags in the bytes of `eight` that `lanes` selects (all of them, or
// the first `n`), x in the low half and y in the high half, without a table: a flag takes 2 - short -
// 2 (same and not short) bytes per axis. Per byte, t = (byte >> 2) & ~(byte << 1) holds x same and not short
// in bit 2 and y's in bit 3, so that 2 (short + 2 same-only) of x is in bits 1 and 2, and 4 times y's in bits
// 2 and 3; multiplying by 0x0101..01 adds the eight bytes into the top byte (at most 48 and 96).
inline uint64_t blockBytes(uint64_t eight, uint64_t lanes, uint32_t n) {
    constexpr uint64_t kEachByte = 0x0101010101010101ull;
    const uint64_t t = (eight >> 2) & ~(eight << 1);
    const uint64_t x = ((eight & (kXShort * kEachByte)) | (t & (0x04 * kEachByte))) & lanes;
    const uint64_t y = ((eight & (kYShort * kEachByte)) | (t & (0x08 * kEachByte))) & lanes;
    const uint64_t xBytes = 2 * uint64_t(n) - ((x * kEachByte) >> 57);
    const uint64_t yBytes = 2 * uint64_t(n) - ((y * kEachByte) >> 58);
    return xBytes | (yBytes << 32);
}

// The first n bytes of eight, for n from 0 to 8.
constexpr uint64_t kLanes[9] = {0,
                                0xFF,
                                0xFFFF,
                                0xFFFFFF,
                                0xFFFFFFFF,
                                0xFFFFFFFFFFull,
                                0xFFFFFFFFFFFFull,
                                0xFFFFFFFFFFFFFFull,
                                0xFFFFFFFFFFFFFFFFull};

// The flag reader is kept out of the glyph reader, whose other values would otherwise crowd its registers.
#if defined(__GNUC__)
#define KORV_NOINLINE __attribute__((noinline))
#else
#define KORV_NOINLINE
#endif

// Reads `points` flags from `p` into the points from `out` on, counting the coordinate bytes they call for
// into `bytes` (x in the low half, y in the high half); false when the flags run past `end` (tested only
// when kChecked) or a repeat runs past the last point. Each point keeps its flag byte as read but for bit 3:
// the repeat bit, spent here, gives way to kPreviousOn, the on-curve bit of the point before it (for the
// contour walk; clear for the first point).
template <bool kChecked>
KORV_NOINLINE bool readFlags(const uint8_t*& p, const uint8_t* end, GlyphLoaderPoint* out, uint32_t points,
                             uint64_t& bytes) {
    constexpr uint64_t kEachByte = 0x0101010101010101ull;
    const uint8_t* q = p;
    uint32_t left = points;  // points still to read
    uint64_t sum = 0;
    uint64_t previousOn = 0;  // kPreviousOn when the last point read is on the curve
    // One flag byte, with its repeat count when it has one.
    auto one = [&]() {
        if (kChecked && q == end) return false;
        const uint32_t read = *q++;
        const uint32_t f = (read & ~uint32_t(kRepeat)) | uint32_t(previousOn);
        previousOn = (read & kOnCurve) * kPreviousOn;
        out->flags = uint8_t(f);
        uint32_t count = 1;
        if (read & kRepeat) {
            if (kChecked && q == end) return false;
            count += *q++;
            if (count > left) return false;  // a repeat past the last point
            const uint8_t again = uint8_t((read & ~uint32_t(kRepeat)) | uint32_t(previousOn));
            for (uint32_t k = 1; k < count; ++k) out[k].flags = again;
        }
        sum += count * kDeltas.bothBytes[f];
        out += count;
        left -= count;
        return true;
    };
    // Steps: the flags before the first one that repeats among the next eight (all eight when none does, at
    // most the points left), then one flag, repeating or not, all without a branch on the flags (whose
    // pattern no predictor learns). The eight points are written whole, and the point of the one flag with
    // the eight after it: those past the step are written again by the steps after it, and a repeat longer
    // than eight takes a loop. Those past the glyph's last point land in the loader's spare points
    // (kSparePoints). Each step reads ten bytes: its eight, the one flag's byte and the byte after it (read
    // whether or not it is a repeat count).
    while (left > 0 && end - q >= 10) {
        uint64_t eight;
        std::memcpy(&eight, q, 8);
        const uint64_t repeats = eight & (kRepeat * kEachByte);
        // Each byte's bit 3 takes the on-curve bit of the byte before it (the repeat bit, where it is set,
        // is past the run).
        const uint64_t walk = eight | (((eight << 11) | previousOn) & (kPreviousOn * kEachByte));
        for (int k = 0; k < 8; ++k) out[k].flags = uint8_t(walk >> (8 * k));
        const uint32_t beforeRepeat = uint32_t(std::countr_zero(repeats)) >> 3;  // 8 when none repeats
        const uint32_t n = beforeRepeat < left ? beforeRepeat : left;
        sum += blockBytes(eight, kLanes[n], n);
        const uint64_t lastOn = ((eight << 3) >> ((8 * n - 8) & 63)) & kPreviousOn;  // flag n - 1's
        previousOn = n ? lastOn : previousOn;
        q += n;
        out += n;
        left -= n;
        if (left == 0) break;

        const uint32_t read = q[0];
        const uint32_t repeat = (read >> 3) & 1;
        const uint32_t count = 1 + (q[1] & (0u - repeat));
        q += 1 + repeat;
        const uint32_t plain = read & ~uint32_t(kRepeat);
        const size_t f = plain | uint32_t(previousOn);
        previousOn = (read & kOnCurve) * kPreviousOn;
        const uint8_t again = uint8_t(plain | uint32_t(previousOn));
        out[0].flags = uint8_t(f);
        for (int k = 1; k <= 8; ++k) out[k].flags = again;
        if (count > left) return false;  // a repeat past the last point
        for (uint32_t k = 9; k < count; ++k) out[k].flags = again;
        sum += count * kDeltas.bothBytes[f];
        out += count;
        left -= count;
    }
    while (left > 0)
        if (!one()) return false;
    p = q;
    bytes = sum;
    return true;
}

// One component record of a composite glyph. The transform as the format lays it out: xx, yx, xy, yy with
// x' = xx x + xy y, y' = yx x + yy y (2.14); the identity when the record has none.
struct Component {
    uint16_t flags = 0;
    uint16_t glyph = 0;
    int32_t arg1 = 0, arg2 = 0;
    int32_t xx = 0x4000, yx = 0, xy = 0, yy = 0x4000;
    bool transformed = false;
};

// Reads the next component record; false when the record is not complete.
inline bool readComponent(ByteReader& reader, Component& c) {
    c = Component{};
    c.flags = reader.u16();
    c.glyph = reader.u16();
    const bool offset = (c.flags & kArgsAreXYValues) != 0;
    if (c.flags & kArgsAreWords) {
        const uint16_t a = reader.u16(), b = reader.u16();
        // Point numbers are unsigned; offsets signed.
        c.arg1 = offset ? int32_t(int16_t(a)) : int32_t(a);
        c.arg2 = offset ? int32_t(int16_t(b)) : int32_t(b);
    } else {
        const uint8_t a = reader.u8(), b = reader.u8();
        c.arg1 = offset ? int32_t(int8_t(a)) : int32_t(a);
        c.arg2 = offset ? int32_t(int8_t(b)) : int32_t(b);
    }
    c.transformed = (c.flags & (kHaveScale | kHaveXYScale | kHaveTwoByTwo)) != 0;
    if (c.flags & kHaveScale) {
        c.xx = c.yy = reader.s16();
    } else if (c.flags & kHaveXYScale) {
        c.xx = reader.s16();
        c.yy = reader.s16();
    } else if (c.flags & kHaveTwoByTwo) {
        c.xx = reader.s16();
        c.yx = reader.s16();
        c.xy = reader.s16();
        c.yy = reader.s16();
    }
    return reader.ok();
}

// A simple component placed by an offset alone (26.6), whose flags and contour ends are in the loader: its
// contours are written straight from its coordinates, like a simple glyph's.
struct PlacedPart {
    SimpleGlyph glyph;
    uint32_t firstContour;
    uint32_t contours;
    int32_t dx, dy;
};
// Composites of up to this many simple components placed by offsets (accented letters, assembled
// ideographs) are written part by part; the others are assembled in the loader.
constexpr uint32_t kMaxPlacedParts = 32;

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

    // Reads a composite whose components are all simple glyphs placed by offsets alone (or empty glyphs):
    // each component's contour ends and flags into the loader, with what its coordinates need into `parts`.
    // True when the composite is of that kind, with `status` 0, or when it fails as load() would fail, with
    // that status; false when a component needs the loader (a transform, point matching, a composite
    // component) or there are more than kMaxPlacedParts: then it is to be loaded afresh with load().
    [[nodiscard]] bool readPlacedParts(const GlyphHeader& header, PlacedPart* parts, uint32_t& count,
                                       int16_t& status);

    // Forgets what has been loaded, for a fresh load of the glyph.
    void restart() {
        m_loader.contourCount = 0;
        m_loader.depth = 0;
        pointCount = 0;
        m_componentsVisited = 0;
    }

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
    GlyphLoaderPoint* const out = m_loader.points + simple.firstPoint;
    Coordinates c(simple, dx, dy);
    uint32_t i = 0;
    for (; i < simple.exactFrom; ++i) {
        c.next(out[i].flags);
        out[i].x = int32_t(c.x);
        out[i].y = int32_t(c.y);
    }
    for (; i < simple.points; ++i) {
        c.nextExactly(out[i].flags);
        out[i].x = int32_t(c.x);
        out[i].y = int32_t(c.y);
    }
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
    // End points rise strictly (each contour has a point); the last one gives the point count. They are
    // stored as they are checked (offset by the points already loaded); a failure leaves them unused.
    uint16_t* const ends = loader.contourEnds + loader.contourCount;
    int32_t previous = -1;
    for (uint32_t c = 0; c < contourCount; ++c, p += 2) {
        const int32_t e = loadU16(p);
        if (e <= previous) return KORV_FAIL(kFontDataError);
        previous = e;
        ends[c] = uint16_t(firstPoint + uint32_t(e));
    }
    const uint32_t points = uint32_t(previous) + 1;
    if (firstPoint + points > loader.maxPoints) return KORV_FAIL(kFontDataError);

    const uint32_t instructionLength = loadU16(p);
    p += 2;
    if (instructionLength > uint32_t(end - p)) return KORV_FAIL(kFontDataError);
    p += instructionLength;

    // Flags, with the coordinate bytes they call for counted on the way (x in the low half of the sum,
    // y in the high half). A flag byte gives one point or more and takes at most two bytes, so when the
    // glyph holds twice as many bytes as there are points (as real glyphs do, with their coordinates after
    // the flags) no flag can run past it and the end is not tested per flag.
    GlyphLoaderPoint* const out = loader.points + firstPoint;
    uint64_t bytes = 0;
    const bool roomy = uint64_t(end - p) >= 2 * uint64_t(points);
    if (!(roomy ? readFlags<false>(p, end, out, points, bytes) : readFlags<true>(p, end, out, points, bytes)))
        return KORV_FAIL(kFontDataError);
    const uint32_t xBytes = uint32_t(bytes), yBytes = uint32_t(bytes >> 32);
    if (uint64_t(xBytes) + yBytes > uint64_t(end - p)) return KORV_FAIL(kFontDataError);

    // A point reads two bytes at each cursor unchecked when two bytes remain from the start of its y delta
    // on (x deltas come before the y deltas, so its x delta starts earlier still). The y deltas run to the
    // glyph's end or nearly: the points whose y delta starts in the glyph's last byte, or at its end, are
    // found from the last point backwards (one or two, or a run of points without y bytes).
    uint32_t exactFrom = points;
    const uint8_t* yCursor = p + xBytes + yBytes;  // the end of the y deltas
    while (exactFrom > 0) {
        const uint8_t* start = yCursor - kDeltas.bytesY[out[exactFrom - 1].flags];
        if (end - start >= 2) break;
        yCursor = start;
        --exactFrom;
    }

    loader.contourCount = int16_t(contourTotal);
    simple.xp = p;
    simple.yp = p + xBytes;
    simple.firstPoint = firstPoint;
    simple.points = points;
    simple.exactFrom = exactFrom;
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
        Component component;
        const bool complete = readComponent(reader, component);
        flags = component.flags;
        const uint16_t child = component.glyph;
        const int32_t arg1 = component.arg1, arg2 = component.arg2;
        const int32_t xx = component.xx, yx = component.yx, xy = component.xy, yy = component.yy;
        const bool transformed = component.transformed;
        if (!complete) return KORV_FAIL(kFontDataError);  // the component is not complete
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

bool GlyphAssembly::readPlacedParts(const GlyphHeader& header, PlacedPart* parts, uint32_t& count,
                                    int16_t& status) {
    // The same tests in the same order as loadComposite, which fails wherever this fails.
    GlyphLoader& loader = m_loader;
    count = 0;
    status = 0;
    if (loader.depth >= int32_t(m_depthLimit)) {
        status = KORV_FAIL(kFontDataError);
        return true;
    }
    ByteReader reader(header.bytes + kGlyphHeaderSize, header.length - kGlyphHeaderSize);
    uint32_t components = 0;
    Component component;
    do {
        if (!readComponent(reader, component) || ++components > loader.maxComponentElements ||
            ++m_componentsVisited > kMaxComponentsPerGlyph || component.glyph >= m_font.maxp.numGlyphs) {
            status = KORV_FAIL(kFontDataError);
            return true;
        }
        if (component.transformed || !(component.flags & kArgsAreXYValues)) return false;
        GlyphHeader childHeader;
        if ((status = readGlyph(component.glyph, childHeader)) != 0) return true;
        if (childHeader.length == 0) continue;  // an empty component adds nothing
        if (childHeader.numberOfContours < 0 || count == kMaxPlacedParts) return false;
        PlacedPart& part = parts[count++];
        part.firstContour = uint32_t(loader.contourCount);
        if ((status = readSimple(childHeader, part.glyph)) != 0) return true;
        part.contours = uint32_t(loader.contourCount) - part.firstContour;
        part.dx = component.arg1 * 64;
        part.dy = component.arg2 * 64;
        pointCount = part.glyph.firstPoint + part.glyph.points;
    } while (component.flags & kMoreComponents);
    return true;
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
// The points after the first one, up to the last (or the one before it, when an off-curve first point
// makes the last one the start), are "walked": each writes one entry, whose kind and control point come
// from the point before it, and keeps it only when it ends a segment. By (previous point, this point):
//   off, off: a curve to halfway between the two      on, off: nothing kept (this is the pending control)
//   off, on:  a curve to this point                   on, on:  a line to this point
// The control point is the previous point in each case (a line carries it as an unused value). What the
// pair decides comes from a table rather than from branches, which would follow the on/off pattern of the
// points, which no predictor learns: the kind, a mask choosing the end point (this point, or halfway), and
// how far the entry pointer moves (one entry, or none). Indexed by previous on + 2 x this on. The kind and
// the move are also indexed by the flag byte a point keeps (which tells both, in kPreviousOn and kOnCurve),
// so that the walk of a simple glyph looks them up without building the index; there the end point follows
// this point's on-curve bit alone (an off-curve point after an on-curve one writes an entry that is not
// kept, whatever its end point).
struct WalkTable {
    int32_t kind[4];
    int32_t halfway[4];     // all ones: the end point is halfway from the previous point
    int64_t entryBytes[4];  // sizeof(OutlinePoint) when the entry is kept, else 0
    uint64_t entryOf[256];  // the kind in the low 32 bits, the entry bytes in the high 32 bits

    constexpr WalkTable()
        : kind{kOutlineQuadratic, kOutlineLine, kOutlineQuadratic, kOutlineLine},
          halfway{-1, -1, 0, 0},
          entryBytes{int64_t(sizeof(OutlinePoint)), 0, int64_t(sizeof(OutlinePoint)),
                     int64_t(sizeof(OutlinePoint))},
          entryOf() {
        for (unsigned f = 0; f < 256; ++f) {
            const unsigned pair = ((f & kPreviousOn) ? 1 : 0) + 2 * (f & kOnCurve);
            entryOf[f] = uint32_t(kind[pair]) | uint64_t(entryBytes[pair]) << 32;
        }
    }
};
constexpr WalkTable kWalk;

// Writes the entry of point (x, y), on the curve when `on` is 1, after the point (px, py) (on when
// `previousOn` is 1), and returns where the next entry goes.
inline OutlinePoint* segment(OutlinePoint* out, int32_t px, int32_t py, uint32_t previousOn, int32_t x,
                             int32_t y, uint32_t on) {
    const uint32_t pair = previousOn + 2 * on;
    const int32_t mx = midpoint(px, x), my = midpoint(py, y);
    out->kind = kWalk.kind[pair];
    out->x = x ^ ((x ^ mx) & kWalk.halfway[pair]);
    out->y = y ^ ((y ^ my) & kWalk.halfway[pair]);
    out->cx1 = px;
    out->cy1 = py;
    return reinterpret_cast<OutlinePoint*>(reinterpret_cast<unsigned char*>(out) + kWalk.entryBytes[pair]);
}

// The entries of the walked points `from` to `to` (first + 1 on), with `previousOn` telling whether the
// first point is on the curve: the move, the segments and the closing entry.
inline uint32_t contourEntries(const GlyphLoaderPoint* pts, uint32_t from, uint32_t to, uint32_t previousOn) {
    uint32_t entries = 2;
    for (uint32_t q = from; q <= to; ++q) {
        const uint32_t on = pts[q].flags & kOnCurve;
        entries += on | (previousOn ^ 1);
        previousOn = on;
    }
    return entries;
}

// Opens contour `first`..`last` (walked to `to`) in the record with room for its entries; false when out of
// memory. A contour of n points has at most n + 2 entries. When `roomy` (the record had room for the whole
// glyph with one more per contour) no test is needed; otherwise only when the room is short of n + 3 are
// the entries counted exactly, so that the record grows just as it would entry by entry (the room for the
// whole glyph passes only when no contour's test would have grown it).
inline bool openContour(GlyphOutline& o, bool roomy, const GlyphLoaderPoint* pts, uint32_t first,
                        uint32_t last, uint32_t to) {
    o.contourStart[o.contourCount] = o.pointCount;
    if (roomy || o.pointCapacity - o.pointCount >= last - first + 3) return true;
    return o.reserveInSteps(contourEntries(pts, first + 1, to, pts[first].flags & kOnCurve)) == 0;
}

// Writes a contour's move entry at `move` and its closing entry (after the walked points, which end at
// `close`) back to the start (sx, sy) from the last walked point (px, py); returns the entry after it.
inline OutlinePoint* writeContourEnds(OutlinePoint* move, OutlinePoint* close, int32_t sx, int32_t sy,
                                      int32_t px, int32_t py, uint32_t previousOn) {
    close->kind = kOutlineLine + 2 * int32_t(previousOn ^ 1);
    close->x = sx;
    close->y = sy;
    close->cx1 = px;
    close->cy1 = py;
    move->kind = kOutlineMove;
    move->x = sx;
    move->y = sy;
    return close + 1;
}

// writeContourEnds for the contour opened at the record's pointCount, and counts the contour.
inline void closeContour(GlyphOutline& o, OutlinePoint* close, int32_t sx, int32_t sy, int32_t px, int32_t py,
                         uint32_t previousOn) {
    o.pointCount =
        uint32_t(writeContourEnds(o.points + o.pointCount, close, sx, sy, px, py, previousOn) - o.points);
    o.contourCount += 1;
    o.contourStart[o.contourCount] = o.pointCount;
}

// Whether the record has room for a glyph of `points` points in `contours` contours without a test per
// contour (see openContour).
inline bool hasRoomFor(const GlyphOutline& o, uint32_t points, uint32_t contours) {
    return uint64_t(o.pointCapacity - o.pointCount) >= uint64_t(points) + 3 * uint64_t(contours);
}

// GCC's straight-line vectoriser packs the five values of an entry into a vector register before storing
// them, which costs more instructions than the scalar stores it saves; the walk loop opts out of it.
#if defined(__GNUC__) && !defined(__clang__)
#define KORV_SCALAR_STORES __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define KORV_SCALAR_STORES
#endif

// (ex, ey) = (x, y) when flags `f` are on the curve, without a branch: which points are on the curve
// follows no pattern a predictor learns, and compilers turn the plain conditional into a branch.
inline void selectIfOn(uint32_t f, int32_t& ex, int32_t& ey, int32_t x, int32_t y) {
#if defined(__GNUC__) && defined(__x86_64__)
    __asm__("testb $1, %b2\n\tcmovnel %3, %0\n\tcmovnel %4, %1"
            : "+r"(ex), "+r"(ey)
            : "q"(f), "r"(x), "r"(y)
            : "cc");
#else
    const int32_t keep = int32_t(f & kOnCurve) - 1;  // all ones when off the curve
    ex = x ^ ((x ^ ex) & keep);
    ey = y ^ ((y ^ ey) & keep);
#endif
}

// Walks the points from `p` to `end` of a simple glyph, each by the flags it keeps: decodes its deltas from
// `c` (two bytes read at each cursor, or exactly the point's bytes with kExact), writes its entry at `out`
// after the previous point (the current one of `c`), and moves `c` on to it; returns where the next entry
// goes. The entry's control point is the previous point; the halfway point is (previous + this point) / 2,
// the sum in 32 bits.
template <bool kExact>
inline OutlinePoint* walkPoints(OutlinePoint* out, const GlyphLoaderPoint* p, const GlyphLoaderPoint* end,
                                Coordinates& c) {
    Coordinates w = c;  // a local copy, which the compiler keeps in registers
    uint32_t& x = w.x;
    uint32_t& y = w.y;
    for (; p < end; ++p) {
        const size_t f = p->flags;
        uint32_t dx, dy;
        w.deltas<kExact>(uint32_t(f), dx, dy);
        out->cx1 = int32_t(x);
        out->cy1 = int32_t(y);
        const uint32_t nx = x + dx, ny = y + dy;
        const int32_t mx = int32_t(x + nx) >> 1, my = int32_t(y + ny) >> 1;
        x = nx;
        y = ny;
        const uint64_t entry = kWalk.entryOf[f];
        out->kind = int32_t(uint32_t(entry));
        int32_t ex = mx, ey = my;
        selectIfOn(uint32_t(f), ex, ey, int32_t(x), int32_t(y));
        out->x = ex;
        out->y = ey;
        out = reinterpret_cast<OutlinePoint*>(reinterpret_cast<unsigned char*>(out) + (entry >> 32));
    }
    c = w;
    return out;
}

// Contours straight from a simple glyph's coordinates (its flags and contour ends in the loader), its points
// starting from (x0, y0) in 26.6 instead of the origin: each point is decoded and walked in one step.
// `contours` contours, whose last points `ends` gives; `roomy` as for openContour. False when out of
// memory. The coordinates are a local, which the entries' stores cannot alias; the record's entry array,
// entry count and contour count are locals too (the entries' 32-bit stores could otherwise alias the
// counts, which would then be reloaded and stored again for every contour), stored back before the record
// may grow and at the end.
KORV_SCALAR_STORES bool writeSimpleContours(GlyphOutline& o, const GlyphLoaderPoint* pts,
                                            const SimpleGlyph& g, int32_t x0, int32_t y0,
                                            const uint16_t* ends, uint32_t contours, bool roomy) {
    Coordinates c(g, x0, y0);
    // Points before this one read two bytes at each cursor, the rest exactly theirs.
    const uint32_t exactFrom = g.firstPoint + g.exactFrom;
    auto read = [&](uint32_t q, uint32_t f) {
        if (q < exactFrom)
            c.next(f);
        else
            c.nextExactly(f);
    };
    OutlinePoint* base = o.points;
    uint32_t count = o.pointCount;
    uint32_t contourCount = o.contourCount;
    uint32_t first = g.firstPoint;
    for (uint32_t k = 0; k < contours; ++k) {
        const uint32_t last = ends[k];
        const uint32_t firstFlags = pts[first].flags;
        const uint32_t onFirst = firstFlags & kOnCurve;
        const uint32_t onLast = pts[last].flags & kOnCurve;
        // Walked to the last point unless an off-curve first point makes an on-curve last one the start.
        const uint32_t to = (onFirst | (onLast ^ 1)) ? last : last - 1;
        o.contourStart[contourCount] = count;
        if (!roomy && o.pointCapacity - count < last - first + 3) {
            o.pointCount = count;
            o.contourCount = contourCount;
            if (o.reserveInSteps(contourEntries(pts, first + 1, to, onFirst)) != 0) return false;
            base = o.points;
        }
        read(first, firstFlags);
        const int32_t fx = int32_t(c.x), fy = int32_t(c.y);
        OutlinePoint* out = base + count + 1;
        const uint32_t stop = to + 1;
        uint32_t q = first + 1;
        // Every contour but (nearly always) the glyph's last one reads all its points unchecked.
        if (stop > exactFrom) {
            const uint32_t split = q > exactFrom ? q : exactFrom;
            out = walkPoints<false>(out, pts + q, pts + split, c);
            out = walkPoints<true>(out, pts + split, pts + stop, c);
        } else {
            out = walkPoints<false>(out, pts + q, pts + stop, c);
        }
        const uint32_t previousOn = pts[to].flags & kOnCurve;  // the last walked point (or the first)
        // The last walked point (or the first point): the closing entry's control point.
        const int32_t px = int32_t(c.x), py = int32_t(c.y);
        int32_t sx, sy;
        if (onFirst) {
            sx = fx;
            sy = fy;
        } else if (to != last) {  // the last point, on the curve, is the start
            read(last, pts[last].flags);
            sx = int32_t(c.x);
            sy = int32_t(c.y);
        } else {  // halfway between the first and the last point (the last walked one)
            sx = midpoint(fx, px);
            sy = midpoint(fy, py);
        }
        count = uint32_t(writeContourEnds(base + count, out, sx, sy, px, py, previousOn) - base);
        contourCount += 1;
        first = last + 1;
    }
    o.contourStart[contourCount] = count;
    o.pointCount = count;
    o.contourCount = contourCount;
    return true;
}

// Contours from the points in the loader (composites), x moved by `shift`.
bool writeContours(GlyphOutline& o, const GlyphLoader& loader, uint32_t points, int32_t shift) {
    const GlyphLoaderPoint* const pts = loader.points;
    const uint32_t contours = uint32_t(loader.contourCount);
    const bool roomy = hasRoomFor(o, points, contours);
    auto px = [&](uint32_t i) { return int32_t(uint32_t(pts[i].x) + uint32_t(shift)); };
    uint32_t first = 0;
    for (uint32_t c = 0; c < contours; ++c) {
        const uint32_t last = loader.contourEnds[c];
        const uint32_t onFirst = pts[first].flags & kOnCurve;
        const uint32_t onLast = pts[last].flags & kOnCurve;
        const uint32_t to = (onFirst | (onLast ^ 1)) ? last : last - 1;
        if (!openContour(o, roomy, pts, first, last, to)) return false;
        OutlinePoint* out = o.points + o.pointCount + 1;
        for (uint32_t q = first + 1; q <= to; ++q)
            out = segment(out, px(q - 1), pts[q - 1].y, pts[q - 1].flags & kOnCurve, px(q), pts[q].y,
                          pts[q].flags & kOnCurve);
        int32_t sx, sy;
        if (onFirst || to != last) {
            sx = px(onFirst ? first : last);
            sy = pts[onFirst ? first : last].y;
        } else {
            sx = midpoint(px(first), px(last));
            sy = midpoint(pts[first].y, pts[last].y);
        }
        closeContour(o, out, sx, sy, px(to), pts[to].y, pts[to].flags & kOnCurve);
        first = last + 1;
    }
    return true;
}

// After a glyph has loaded: the record's metrics and the box; the shift that moves xMin onto the side
// bearing. False when the glyph's contours would overfill the record.
bool finishLoad(const GlyphLoader& loader, const GlyphHeader& header, GlyphWork& work, GlyphOutline& outline,
                int32_t& shift) {
    outline.advance = loader.advance;
    outline.sideBearing = loader.leftSideBearing;
    shift = loader.leftSideBearing - int32_t(header.xMin) * 64;
    if (work.box) {
        work.box->xMin = int32_t(header.xMin) * 64 + shift;
        work.box->yMax = int32_t(header.yMax) * 64;
        work.box->xMax = int32_t(header.xMax) * 64 + shift;
        work.box->yMin = int32_t(header.yMin) * 64;
    }
    return uint32_t(loader.contourCount) + outline.contourCount <= kMaxTrueTypeContours;
}

// A simple glyph is read straight into the outline.
int16_t simpleOutline(GlyphAssembly& assembly, const GlyphHeader& header, GlyphWork& work,
                      GlyphOutline& outline) {
    const GlyphLoader& loader = *work.loader;
    SimpleGlyph simple;
    if (const int16_t status = assembly.readSimple(header, simple)) return status;
    int32_t shift;
    if (!finishLoad(loader, header, work, outline, shift)) return KORV_FAIL(kFontDataError);
    const uint32_t contours = uint32_t(loader.contourCount);
    const bool written = writeSimpleContours(outline, loader.points, simple, shift, 0, loader.contourEnds,
                                             contours, hasRoomFor(outline, simple.points, contours));
    return written ? 0 : KORV_FAIL(int16_t(kOutOfMemory));
}

// A composite of simple glyphs placed by offsets is written part by part from their coordinates; any other
// composite (and an empty glyph) is assembled in the loader first.
int16_t compositeOutline(GlyphAssembly& assembly, const GlyphHeader& header, GlyphWork& work,
                         GlyphOutline& outline) {
    const GlyphLoader& loader = *work.loader;
    PlacedPart parts[kMaxPlacedParts];
    uint32_t partCount = 0;
    int16_t status = 0;
    const bool placed = header.length && assembly.readPlacedParts(header, parts, partCount, status);
    if (!placed) {  // loaded afresh
        assembly.restart();
        status = assembly.load(header);
    }
    if (status) return status;
    int32_t shift;
    if (!finishLoad(loader, header, work, outline, shift)) return KORV_FAIL(kFontDataError);
    const uint32_t contours = uint32_t(loader.contourCount);
    bool written = true;
    if (placed) {
        // Each part from its offset, moved by the shift as well (both wrap in 32 bits like the points).
        const bool roomy = hasRoomFor(outline, assembly.pointCount, contours);
        for (uint32_t i = 0; i < partCount && written; ++i) {
            const PlacedPart& part = parts[i];
            written = writeSimpleContours(outline, loader.points, part.glyph,
                                          int32_t(uint32_t(part.dx) + uint32_t(shift)), part.dy,
                                          loader.contourEnds + part.firstContour, part.contours, roomy);
        }
    } else {
        written = writeContours(outline, loader, assembly.pointCount, shift);
    }
    return written ? 0 : KORV_FAIL(int16_t(kOutOfMemory));
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

    GlyphAssembly assembly(*this, loader);
    GlyphHeader header;
    if (const int16_t status = assembly.readGlyph(glyph, header)) return status;
    if (header.length && header.numberOfContours > 0) return simpleOutline(assembly, header, work, outline);
    return compositeOutline(assembly, header, work, outline);
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
    loader->points = new (std::nothrow) GlyphLoaderPoint[size_t(loader->maxPoints) + 1 + kSparePoints];
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
