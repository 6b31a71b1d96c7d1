// The outline record (creation, growth, clearing) and the plain scaler.
#include "sfnt/GlyphOutline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "OutlineText.h"

namespace {

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};
using OutlinePtr = std::unique_ptr<GlyphOutline, OutlineDeleter>;

void append(GlyphOutline& o, OutlinePoint p) {
    ASSERT_EQ(o.reserve(1), 0);
    o.points[o.pointCount++] = p;
}
void endContour(GlyphOutline& o) {
    o.contourCount += 1;
    o.contourStart[o.contourCount] = o.pointCount;
}

// One contour of every kind, in 26.6 (negative values included, to see truncation toward zero).
void fillSample(GlyphOutline& o) {
    append(o, {kOutlineMove, 100 * 64, -100 * 64, 0, 0, 0, 0});
    append(o, {kOutlineLine, 333, -333, 0, 0, 0, 0});
    append(o, {kOutlineQuadratic, 640, 640, -641, 641, 0, 0});
    append(o, {kOutlineCubic, 1, -1, 6400, -6400, 999, -999});
    endContour(o);
}

TEST(GlyphOutlineTest, NewRecordGrowthAndClear) {
    OutlinePtr o(newGlyphOutline(2048));
    ASSERT_TRUE(o);
    EXPECT_EQ(o->entrySize, 28u);
    EXPECT_EQ(o->unitsPerEm, 2048);
    EXPECT_EQ(o->pointCapacity, 256u);
    EXPECT_EQ(o->pointCount, 0u);
    EXPECT_EQ(o->contourCount, 0u);
    // Entries never written hold zeros (a move or a line leaves its control points as they are).
    auto zeroFrom = [&](uint32_t first) {
        for (uint32_t i = first; i < o->pointCapacity; ++i) {
            const OutlinePoint& p = o->points[i];
            if (p.kind | p.x | p.y | p.cx1 | p.cy1 | p.cx2 | p.cy2) return false;
        }
        return true;
    };
    EXPECT_TRUE(zeroFrom(0));

    // Room left: no growth.
    ASSERT_EQ(o->reserve(256), 0);
    EXPECT_EQ(o->pointCapacity, 256u);
    for (uint32_t i = 0; i < 256; ++i)
        o->points[o->pointCount++] = {kOutlineLine, int32_t(i), -int32_t(i), 0, 0, 0, 0};
    // Full: one more entry grows by 16 (the TrueType step) ...
    ASSERT_EQ(o->reserve(1), 0);
    EXPECT_EQ(o->pointCapacity, 272u);
    o->pointCount = 272;
    // ... and a request for n entries at once by max(16, n).
    ASSERT_EQ(o->reserve(5), 0);
    EXPECT_EQ(o->pointCapacity, 288u);
    o->pointCount = 288;
    ASSERT_EQ(o->reserve(100), 0);
    EXPECT_EQ(o->pointCapacity, 388u);
    // A request that does not fit the room left grows by the request, not by the shortfall.
    o->pointCount = 380;
    ASSERT_EQ(o->reserve(20), 0);
    EXPECT_EQ(o->pointCapacity, 408u);
    // Entries appended one at a time grow the array 16 at a time; reserveInSteps reaches the same
    // capacity at once: 28 free, 61 wanted -> 3 steps of 16 (28 + 48 >= 61).
    ASSERT_EQ(o->reserveInSteps(28), 0);
    EXPECT_EQ(o->pointCapacity, 408u);
    ASSERT_EQ(o->reserveInSteps(61), 0);
    EXPECT_EQ(o->pointCapacity, 456u);
    // The used entries travelled with every growth; the new ones are zeros.
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(o->points[i].x, int32_t(i));
        ASSERT_EQ(o->points[i].y, -int32_t(i));
    }
    EXPECT_TRUE(zeroFrom(256));
    // An impossible request is out of memory, and the record stays as it was.
    EXPECT_EQ(o->reserve(UINT32_MAX), kOutOfMemory);
    EXPECT_EQ(o->reserveInSteps(UINT32_MAX), kOutOfMemory);
    EXPECT_EQ(o->pointCapacity, 456u);

    o->advance = 5;
    o->contourCount = 3;
    o->clear();
    EXPECT_EQ(o->pointCount, 0u);
    EXPECT_EQ(o->contourCount, 0u);
    EXPECT_EQ(o->contourStart[0], 0u);
    EXPECT_EQ(o->advance, 0);
    EXPECT_EQ(o->pointCapacity, 456u);  // the array is kept

    o->freePoints();
    EXPECT_EQ(o->points, nullptr);
    EXPECT_EQ(o->pointCapacity, 0u);
    // A record without an array gets one on demand.
    ASSERT_EQ(o->reserve(3), 0);
    EXPECT_EQ(o->pointCapacity, 16u);
    deleteGlyphOutline(nullptr);
}

TEST(GlyphOutlineTest, PlainScalerInPlaceAndIntoDestination) {
    OutlinePtr source(newGlyphOutline(1000));
    ASSERT_TRUE(source);
    fillSample(*source);
    PlainScaler scaler(1000);
    scaler.setSize(12, 16);
    EXPECT_EQ(scaler.xPpem, 12);
    EXPECT_EQ(scaler.yPpem, 16);

    // With a destination: the source is unchanged, the destination gets the scaled contour after its own.
    OutlinePtr destination(newGlyphOutline(1000));
    fillSample(*destination);
    ASSERT_EQ(scaler.scaleOutline(*source, destination.get()), 0);
    EXPECT_EQ(rawOutlineText(*source),
              "M 6400 -6400 L 333 -333 Q -641 641 640 640 C 6400 -6400 999 -999 1 -1 Z\n");
    // 12 x 6400 / 1000 = 76.8 -> 76; 16 x -6400 / 1000 = -102.4 -> -102 (toward zero); 12 x 333 / 1000
    // = 3.996
    // -> 3; 12 x 1 / 1000 -> 0.
    EXPECT_EQ(rawOutlineText(*destination),
              "M 6400 -6400 L 333 -333 Q -641 641 640 640 C 6400 -6400 999 -999 1 -1 Z\n"
              "M 76 -102 L 3 -5 Q -7 10 7 10 C 76 -102 11 -15 0 0 Z\n");
    EXPECT_EQ(destination->contourCount, 2u);
    EXPECT_EQ(destination->contourStart[1], 4u);
    EXPECT_EQ(destination->contourStart[2], 8u);

    // In place: the same numbers.
    ASSERT_EQ(scaler.scaleOutline(*source, nullptr), 0);
    EXPECT_EQ(rawOutlineText(*source), "M 76 -102 L 3 -5 Q -7 10 7 10 C 76 -102 11 -15 0 0 Z\n");

    // Large sizes and coordinates do not wrap: 65535 x (2^31 - 1) / 1 is clamped.
    OutlinePtr big(newGlyphOutline(1));
    append(*big, {kOutlineMove, INT32_MAX, INT32_MIN, 0, 0, 0, 0});
    endContour(*big);
    PlainScaler huge(1);
    huge.setSize(65535, 65535);
    ASSERT_EQ(huge.scaleOutline(*big, nullptr), 0);
    EXPECT_EQ(rawOutlineText(*big), "M 2147483647 -2147483648 Z\n");
}

// The scaler divides by the em through a reciprocal, three ways by the size (below half the em, below the
// em, any), or by a shift when the size is the em over a power of two on both axes (16 of 1024 or 2048):
// every quotient must be the truncating division's, for the coordinates of every kind, on both axes with
// their own sizes or the same one; the coordinates a kind does not use are not changed.
TEST(GlyphOutlineTest, PlainScalerIsExactDivision) {
    std::mt19937 random(12345);
    const uint16_t ems[] = {1, 2, 3, 7, 16, 1000, 1024, 2000, 2048, 4096, 65521, 65535};
    const uint16_t sizes[] = {0, 1, 7, 12, 16, 300, 1023, 1024, 1500, 4096, 32767, 32768, 65535};
    std::vector<int32_t> values = {
        0, 1, -1, 63, -63, 64, -64, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1};
    for (int i = 0; i < 600; ++i) values.push_back(int32_t(random()));
    for (int i = 0; i < 600; ++i) values.push_back(int32_t(random() % 4194304) - 2097152);  // real 26.6 range
    auto expected = [](int32_t value, uint16_t size, uint16_t em) {
        const int64_t q = int64_t(value) * size / em;
        return int32_t(std::min<int64_t>(INT32_MAX, std::max<int64_t>(INT32_MIN, q)));
    };
    constexpr int32_t kUnused = 0x5A5A5A5A;
    OutlinePtr o(newGlyphOutline(1));
    for (const uint16_t em : ems) {
        for (size_t s = 0; s < 2 * std::size(sizes); ++s) {
            const size_t n = std::size(sizes);
            const uint16_t xSize = sizes[s % n], ySize = s < n ? sizes[(s + 3) % n] : xSize;
            PlainScaler scaler(em);
            scaler.setSize(xSize, ySize);
            o->clear();
            for (size_t i = 0; i + 6 <= values.size(); i += 6) {
                const int32_t* v = &values[i];
                append(*o, {kOutlineLine, v[0], v[1], kUnused, kUnused, kUnused, kUnused});
                append(*o, {kOutlineQuadratic, v[2], v[3], v[4], v[5], kUnused, kUnused});
                append(*o, {kOutlineCubic, v[4], v[5], v[0], v[1], v[2], v[3]});
                append(*o, {kOutlineMove, v[3], v[2], kUnused, kUnused, kUnused, kUnused});
            }
            endContour(*o);
            const std::vector<OutlinePoint> before(o->points, o->points + o->pointCount);
            ASSERT_EQ(scaler.scaleOutline(*o, nullptr), 0);
            for (uint32_t i = 0; i < o->pointCount; ++i) {
                const OutlinePoint& b = before[i];
                const OutlinePoint& p = o->points[i];
                const int32_t used = b.kind == kOutlineCubic ? 6 : b.kind == kOutlineQuadratic ? 4 : 2;
                const int32_t was[6] = {b.x, b.y, b.cx1, b.cy1, b.cx2, b.cy2};
                const int32_t now[6] = {p.x, p.y, p.cx1, p.cy1, p.cx2, p.cy2};
                for (int k = 0; k < 6; ++k) {
                    const int32_t want = k < used ? expected(was[k], k % 2 ? ySize : xSize, em) : was[k];
                    ASSERT_EQ(now[k], want) << "kind " << b.kind << " coordinate " << k << ": " << was[k]
                                            << " x " << (k % 2 ? ySize : xSize) << " / " << em;
                }
            }
        }
    }
}

// The scaler's fields are public: sizes and em changed without setSize are the ones used.
TEST(GlyphOutlineTest, PlainScalerFollowsItsFields) {
    OutlinePtr o(newGlyphOutline(1000));
    PlainScaler scaler(1000);
    scaler.setSize(16, 16);
    auto scaled = [&](int32_t x, int32_t y) {
        o->clear();
        append(*o, {kOutlineMove, x, y, 0, 0, 0, 0});
        endContour(*o);
        EXPECT_EQ(scaler.scaleOutline(*o, nullptr), 0);
        return std::pair{o->points[0].x, o->points[0].y};
    };
    EXPECT_EQ(scaled(64000, -64000), std::pair(1024, -1024));
    scaler.xPpem = 32;
    EXPECT_EQ(scaled(64000, -64000), std::pair(2048, -1024));
    scaler.unitsPerEm = 2000;
    EXPECT_EQ(scaled(64000, -64000), std::pair(1024, -512));
    scaler.yPpem = 4000;
    EXPECT_EQ(scaled(64000, -64000), std::pair(1024, -128000));
}

TEST(GlyphOutlineTest, PlainScalerRefusals) {
    PlainScaler scaler(1000);
    scaler.setSize(500, 500);

    // An unknown kind: -35, and every other entry is still scaled (in both modes); the bad entry is kept.
    OutlinePtr source(newGlyphOutline(1000));
    append(*source, {kOutlineMove, 1000, 1000, 0, 0, 0, 0});
    append(*source, {7, 1000, 1000, 0, 0, 0, 0});
    append(*source, {kOutlineLine, 2000, 4000, 0, 0, 0, 0});
    endContour(*source);
    OutlinePtr destination(newGlyphOutline(1000));
    EXPECT_EQ(scaler.scaleOutline(*source, destination.get()), kNoCharMap);
    EXPECT_EQ(rawOutlineText(*destination), "M 500 500 ?7 L 1000 2000 Z\n");
    EXPECT_EQ(scaler.scaleOutline(*source, nullptr), kNoCharMap);
    EXPECT_EQ(rawOutlineText(*source), "M 500 500 ?7 L 1000 2000 Z\n");

    // A record full to the last of its 72 contours scales (a CFF glyph may load with all of them); one that
    // claims 73 cannot be a record and is refused before anything changes.
    OutlinePtr many(newGlyphOutline(1000));
    for (int c = 0; c < 72; ++c) {
        append(*many, {kOutlineMove, 64, 64, 0, 0, 0, 0});
        endContour(*many);
    }
    ASSERT_EQ(many->contourCount, 72u);
    ASSERT_EQ(scaler.scaleOutline(*many, nullptr), 0);
    EXPECT_EQ(many->points[0].x, 32);
    EXPECT_EQ(many->points[71].x, 32);
    OutlinePtr full(newGlyphOutline(1000));
    ASSERT_EQ(scaler.scaleOutline(*many, full.get()), 0);
    EXPECT_EQ(full->contourCount, 72u);
    EXPECT_EQ(full->contourStart[72], 72u);
    EXPECT_EQ(full->points[71].x, 16);
    many->contourCount = 73;
    EXPECT_EQ(scaler.scaleOutline(*many, nullptr), kFontDataError);
    EXPECT_EQ(many->points[0].x, 32);

    // A destination that would hold more than 72 contours is refused before anything is appended.
    OutlinePtr two(newGlyphOutline(1000));
    for (int c = 0; c < 2; ++c) {
        append(*two, {kOutlineMove, 64, 64, 0, 0, 0, 0});
        endContour(*two);
    }
    many->pointCount = 71;
    many->contourCount = 71;
    EXPECT_EQ(scaler.scaleOutline(*two, many.get()), kFontDataError);
    EXPECT_EQ(many->contourCount, 71u);
    EXPECT_EQ(many->pointCount, 71u);

    // A scaler of a font whose em is 0 scales nothing.
    PlainScaler zero(0);
    zero.setSize(12, 12);
    EXPECT_EQ(zero.scaleOutline(*two, nullptr), kFontDataError);
}

}  // namespace
