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

// Coordinate bytes per point by its six flag bits: low nibble for x (1 when short, 0 when "same", else 2),
// high nibble for y (bits 2 and 5 likewise).
constexpr uint8_t coordinateBytes(unsigned f) {
    const unsigned x = (f & kXShort) ? 1 : (f & kXSameOrPositive) ? 0 : 2;
    const unsigned y = (f & kYShort) ? 1 : (f & kYSameOrPositive) ? 0 : 2;
    return uint8_t(x | (y << 4));
}
struct CoordinateTable {
    uint8_t bytes[64];
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

// The header of one glyph: its contour count and box, in font units.
struct GlyphHeader {
    int16_t numberOfContours = 0;
    int16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// One top-level load: reads a glyph and, recursively, its components into the loader record.
class GlyphAssembly {
public:
    GlyphAssembly(const TrueTypeFont& font, GlyphLoader& loader) : m_font(font), m_loader(loader) {
        const uint16_t fontDepth = font.maxp.maxComponentDepth;
        m_depthLimit = fontDepth < kMaxCompositeDepth ? fontDepth : kMaxCompositeDepth;
    }

    [[nodiscard]] int16_t load(uint32_t glyph, GlyphHeader& header);

    uint32_t pointCount = 0;  // points in the loader record

private:
    [[nodiscard]] int16_t loadSimple(const uint8_t* glyph, uint32_t length, int16_t contours);
    [[nodiscard]] int16_t loadComposite(const uint8_t* glyph, uint32_t length);
    // The glyph's bytes through 'loca': length 0 for an empty glyph.
    [[nodiscard]] int16_t glyphBytes(uint32_t glyph, const uint8_t*& bytes, uint32_t& length) const;

    const TrueTypeFont& m_font;
    GlyphLoader& m_loader;
    uint16_t m_depthLimit = 0;
    uint32_t m_componentsVisited = 0;
};

int16_t GlyphAssembly::glyphBytes(uint32_t glyph, const uint8_t*& bytes, uint32_t& length) const {
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
    length = end - start;
    if (length == 0) {
        bytes = nullptr;
        return 0;
    }
    if (uint64_t(m_font.glyfOffset) + end > m_font.dataSize) return KORV_FAIL(kFontDataError);
    bytes = m_font.data + m_font.glyfOffset + start;
    return 0;
}

int16_t GlyphAssembly::load(uint32_t glyph, GlyphHeader& header) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (const int16_t status = glyphBytes(glyph, bytes, length)) return status;
    header = GlyphHeader{};
    if (length == 0) return 0;
    if (length < kGlyphHeaderSize) return KORV_FAIL(kFontDataError);
    header.numberOfContours = int16_t(loadU16(bytes));
    header.xMin = int16_t(loadU16(bytes + 2));
    header.yMin = int16_t(loadU16(bytes + 4));
    header.xMax = int16_t(loadU16(bytes + 6));
    header.yMax = int16_t(loadU16(bytes + 8));
    if (header.numberOfContours > 0) return loadSimple(bytes, length, header.numberOfContours);
    if (header.numberOfContours == -1) return loadComposite(bytes, length);
    return KORV_FAIL(kFontDataError);
}

int16_t GlyphAssembly::loadSimple(const uint8_t* glyph, uint32_t length, int16_t contours) {
    GlyphLoader& loader = m_loader;
    const uint32_t contourCount = uint32_t(contours);
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

    // Flags, with the coordinate bytes they call for counted on the way.
    GlyphLoaderPoint* const out = loader.points + firstPoint;
    uint32_t xBytes = 0, yBytes = 0;
    for (uint32_t i = 0; i < points;) {
        if (p == end) return KORV_FAIL(kFontDataError);
        const uint8_t f = *p++;
        const uint8_t kept = f & kKeptFlags;
        const uint32_t sizes = kCoordinateBytes.bytes[kept];
        uint32_t run = 1;
        if (f & kRepeat) {
            if (p == end) return KORV_FAIL(kFontDataError);
            run += *p++;
            if (run > points - i) return KORV_FAIL(kFontDataError);  // a repeat past the last point
        }
        xBytes += run * (sizes & 0x0F);
        yBytes += run * (sizes >> 4);
        for (uint32_t r = 0; r < run; ++r) out[i++].flags = kept;
    }
    if (uint64_t(xBytes) + yBytes > uint64_t(end - p)) return KORV_FAIL(kFontDataError);

    // Deltas: both coordinate runs are inside the glyph, so no further bound is needed. The sums wrap in
    // 32 bits (26.6) on hostile data rather than overflow; real coordinates are 16-bit values.
    const uint8_t* xp = p;
    const uint8_t* yp = p + xBytes;
    uint32_t x = 0, y = 0;
    for (uint32_t i = 0; i < points; ++i) {
        const uint8_t f = out[i].flags;
        if (f & kXShort) {
            const uint32_t d = *xp++;
            x += (f & kXSameOrPositive) ? d : 0u - d;
        } else if (!(f & kXSameOrPositive)) {
            x += uint32_t(int32_t(int16_t(loadU16(xp))));
            xp += 2;
        }
        if (f & kYShort) {
            const uint32_t d = *yp++;
            y += (f & kYSameOrPositive) ? d : 0u - d;
        } else if (!(f & kYSameOrPositive)) {
            y += uint32_t(int32_t(int16_t(loadU16(yp))));
            yp += 2;
        }
        out[i].x = int32_t(x << 6);
        out[i].y = int32_t(y << 6);
    }

    loader.contourCount = int16_t(loader.contourCount + int32_t(contourCount));
    pointCount = firstPoint + points;
    return 0;
}

int16_t GlyphAssembly::loadComposite(const uint8_t* glyph, uint32_t length) {
    GlyphLoader& loader = m_loader;
    // Our own depth bound besides the font's: a glyph that includes itself stops here.
    if (loader.depth >= int32_t(m_depthLimit)) return KORV_FAIL(kFontDataError);
    loader.depth = int16_t(loader.depth + 1);

    ByteReader reader(glyph + kGlyphHeaderSize, length - kGlyphHeaderSize);
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
        if (const int16_t status = load(child, childHeader)) return status;
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

// Appends entries to an outline, growing it by kOutlineGrowthPoints entries whenever it is full.
class OutlineWriter {
public:
    explicit OutlineWriter(GlyphOutline& outline) : m_outline(outline) {}

    [[nodiscard]] bool move(int32_t x, int32_t y) { return put(kOutlineMove, x, y); }
    [[nodiscard]] bool line(int32_t x, int32_t y) { return put(kOutlineLine, x, y); }
    [[nodiscard]] bool quad(int32_t cx, int32_t cy, int32_t x, int32_t y) {
        if (!room()) return false;
        OutlinePoint& p = m_outline.points[m_outline.pointCount++];
        p.kind = kOutlineQuadratic;
        p.x = x;
        p.y = y;
        p.cx1 = cx;
        p.cy1 = cy;
        return true;
    }

private:
    bool room() {
        return m_outline.pointCount < m_outline.pointCapacity ||
               m_outline.reserve(1, kOutlineGrowthPoints) == 0;
    }
    bool put(int32_t kind, int32_t x, int32_t y) {
        if (!room()) return false;
        OutlinePoint& p = m_outline.points[m_outline.pointCount++];
        p.kind = kind;
        p.x = x;
        p.y = y;
        return true;
    }
    GlyphOutline& m_outline;
};

inline int32_t midpoint(int32_t a, int32_t b) {
    return int32_t((int64_t(a) + b) / 2);
}

// One TrueType contour (points first..last of the loader) as an outline contour. It starts at the first
// point when that is on the curve, else at the last when that is, else halfway between them; each on-curve
// point is a line, each off-curve point the control point of a quadratic curve that ends at the next point
// when on the curve, else halfway to it; the contour closes back to its start.
bool writeContour(OutlineWriter& w, const GlyphLoaderPoint* pts, uint32_t first, uint32_t last,
                  int32_t shift) {
    auto px = [&](uint32_t i) { return int32_t(uint32_t(pts[i].x) + uint32_t(shift)); };
    int32_t sx, sy;
    uint32_t i = first, stop = last;
    if (pts[first].flags & kOnCurve) {
        sx = px(first);
        sy = pts[first].y;
        i = first + 1;
    } else if (pts[last].flags & kOnCurve) {
        sx = px(last);
        sy = pts[last].y;
        stop = last - 1;
    } else {
        sx = midpoint(px(first), px(last));
        sy = midpoint(pts[first].y, pts[last].y);
    }
    if (!w.move(sx, sy)) return false;
    bool control = false;
    int32_t cx = 0, cy = 0;
    for (; i <= stop; ++i) {
        const int32_t x = px(i), y = pts[i].y;
        if (pts[i].flags & kOnCurve) {
            if (!(control ? w.quad(cx, cy, x, y) : w.line(x, y))) return false;
            control = false;
        } else {
            if (control && !w.quad(cx, cy, midpoint(cx, x), midpoint(cy, y))) return false;
            cx = x;
            cy = y;
            control = true;
        }
    }
    return control ? w.quad(cx, cy, sx, sy) : w.line(sx, sy);
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
    if (const int16_t status = assembly.load(glyph, header)) return status;

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

    OutlineWriter writer(outline);
    uint32_t first = 0;
    for (int32_t c = 0; c < loader.contourCount; ++c) {
        const uint32_t last = loader.contourEnds[c];
        outline.contourStart[outline.contourCount] = outline.pointCount;
        if (!writeContour(writer, loader.points, first, last, shift)) {
            outline.pointCount = outline.contourStart[outline.contourCount];  // drop the unfinished contour
            return KORV_FAIL(int16_t(kOutOfMemory));
        }
        outline.contourCount += 1;
        outline.contourStart[outline.contourCount] = outline.pointCount;
        first = last + 1;
    }
    return 0;
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
