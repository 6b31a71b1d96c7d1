// The CFF hinting scaler on crafted outlines and hint records: the fitting rules one at a time (stems, zones
// and overshoots, ghost edges, standard widths, masks, sorting), the work area, and hostile or degenerate
// input. Every hinted result is also checked against plain scaling: on the grid where a rule says so, and
// never more than one pixel away.
#include "cff/CffHintingScaler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cff/CffFont.h"

namespace {

constexpr int32_t kUnit = 64;  // one font unit in 26.6

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};
using Outline = std::unique_ptr<GlyphOutline, OutlineDeleter>;

// Builds outlines in font units.
class Glyph {
public:
    explicit Glyph(uint16_t unitsPerEm = 1000) : m_outline(newGlyphOutline(unitsPerEm)) {}
    Glyph& move(int32_t x, int32_t y) {
        if (m_outline->contourCount > 0 || m_outline->pointCount > 0) close();
        m_outline->contourStart[m_outline->contourCount] = m_outline->pointCount;
        return add({kOutlineMove, x * kUnit, y * kUnit, 0, 0, 0, 0});
    }
    Glyph& line(int32_t x, int32_t y) { return add({kOutlineLine, x * kUnit, y * kUnit, 0, 0, 0, 0}); }
    Glyph& curve(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x, int32_t y) {
        return add({kOutlineCubic, x * kUnit, y * kUnit, x1 * kUnit, y1 * kUnit, x2 * kUnit, y2 * kUnit});
    }
    Glyph& raw(const OutlinePoint& p) { return add(p); }
    // Ends the current contour.
    Glyph& close() {
        if (m_open) {
            ++m_outline->contourCount;
            m_outline->contourStart[m_outline->contourCount] = m_outline->pointCount;
            m_open = false;
        }
        return *this;
    }
    GlyphOutline& outline() {
        close();
        return *m_outline;
    }

private:
    Glyph& add(const OutlinePoint& p) {
        EXPECT_EQ(m_outline->reserve(1), 0);
        m_outline->points[m_outline->pointCount++] = p;
        m_open = true;
        return *this;
    }
    Outline m_outline;
    bool m_open = false;
};

Outline copyOf(const GlyphOutline& source) {
    Outline copy(newGlyphOutline(source.unitsPerEm));
    EXPECT_EQ(copy->reserve(source.pointCount), 0);
    for (uint32_t i = 0; i < source.pointCount; ++i) copy->points[i] = source.points[i];
    copy->pointCount = source.pointCount;
    copy->contourCount = source.contourCount;
    for (uint32_t i = 0; i <= kMaxOutlineContours; ++i) copy->contourStart[i] = source.contourStart[i];
    return copy;
}

// "M x y L x y C x1 y1 x2 y2 x y Z" in 26.6 pixels, one contour after the other.
std::string text(const GlyphOutline& o) {
    std::string s;
    for (uint32_t c = 0; c < o.contourCount; ++c) {
        for (uint32_t i = o.contourStart[c]; i < o.contourStart[c + 1] && i < o.pointCount; ++i) {
            const OutlinePoint& p = o.points[i];
            auto n = [&](int32_t v) { s += ' ' + std::to_string(v); };
            s += p.kind == kOutlineMove    ? "M"
                 : p.kind == kOutlineLine  ? " L"
                 : p.kind == kOutlineCubic ? " C"
                                           : " ?";
            if (p.kind == kOutlineCubic) n(p.cx1), n(p.cy1), n(p.cx2), n(p.cy2);
            n(p.x), n(p.y);
        }
        s += " Z\n";
    }
    return s;
}

// Every coordinate of the entries, in order (control points first).
std::vector<int32_t> coordinates(const GlyphOutline& o, bool y) {
    std::vector<int32_t> v;
    for (uint32_t i = 0; i < o.pointCount; ++i) {
        const OutlinePoint& p = o.points[i];
        if (p.kind == kOutlineCubic) v.push_back(y ? p.cy1 : p.cx1), v.push_back(y ? p.cy2 : p.cx2);
        v.push_back(y ? p.y : p.x);
    }
    return v;
}

// The font the scaler is filled from: one Font DICT, 1000 units per em, zones as given.
struct Font {
    std::unique_ptr<CffFont> font = std::make_unique<CffFont>();
    Font(std::vector<int32_t> blues = {}, std::vector<int32_t> others = {}) {
        font->unitsPerEm = 1000;
        font->fdCount = 1;
        CffPrivateDict& d = font->privateDicts[0];
        d.blueValueCount = int16_t(blues.size());
        for (size_t i = 0; i < blues.size(); ++i) d.blueValues[i] = blues[i] * kUnit;
        d.otherBlueCount = int16_t(others.size());
        for (size_t i = 0; i < others.size(); ++i) d.otherBlues[i] = others[i] * kUnit;
    }
    CffPrivateDict& dict() { return font->privateDicts[0]; }
    std::unique_ptr<CffHintingScaler> scaler(uint16_t ppem) {
        std::unique_ptr<CffHintingScaler> s(CffHintingScaler::create(*font));
        EXPECT_NE(s, nullptr);
        s->setSize(ppem, ppem);
        return s;
    }
};

struct Hints : HintRecord {
    Hints& h(int32_t position, int32_t width) { return add(position * kUnit, width * kUnit, true); }
    Hints& v(int32_t position, int32_t width) { return add(position * kUnit, width * kUnit, false); }
    // Position and width in 26.6 as they are.
    Hints& rawH(int32_t position, int32_t width) { return add(position, width, true); }
    Hints& rawV(int32_t position, int32_t width) { return add(position, width, false); }
    // From entry `point` of contour `contour` on, the stems whose bits are set in `bits` (MSB first).
    Hints& mask(uint16_t contour, uint16_t point, std::vector<uint8_t> bits) {
        HintMaskEntry e{contour, point, {}};
        for (size_t i = 0; i < bits.size() && i < kType2MaxMaskBytes; ++i) e.mask[i] = bits[i];
        EXPECT_EQ(appendMask(e), 0);
        return *this;
    }
    Hints() { fdIndex = 0; }

private:
    Hints& add(int32_t position, int32_t width, bool horizontal) {
        // Horizontal stems before the vertical ones, as the record keeps them.
        const int total = hStemCount + vStemCount;
        if (horizontal) {
            for (int i = total; i > hStemCount; --i) stems[i] = stems[i - 1];
            stems[hStemCount++] = Stem{position, width};
        } else {
            stems[total] = Stem{position, width};
            ++vStemCount;
        }
        return *this;
    }
};

// Scales `source` plainly and hinted (into destinations, and in place); checks that both hinted forms agree
// and that no coordinate moves more than a pixel. Returns the hinted outline.
Outline scaleBoth(CffHintingScaler& scaler, const HintRecord* hints, GlyphOutline& source,
                  Outline* plainOut = nullptr) {
    PlainScaler plain(source.unitsPerEm);
    plain.setSize(scaler.xPpem, scaler.yPpem);
    Outline p(newGlyphOutline(source.unitsPerEm));
    const int16_t plainStatus = plain.scaleOutline(source, p.get());
    Outline hinted(newGlyphOutline(source.unitsPerEm));
    scaler.attachHints(hints);
    EXPECT_EQ(scaler.scaleOutline(source, hinted.get()), plainStatus);
    Outline inPlace = copyOf(source);
    EXPECT_EQ(scaler.scaleOutline(*inPlace, nullptr), plainStatus);
    EXPECT_EQ(text(*inPlace), text(*hinted));
    for (bool y : {false, true}) {
        const std::vector<int32_t> a = coordinates(*p, y), b = coordinates(*hinted, y);
        EXPECT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            EXPECT_LE(std::abs(int64_t(a[i]) - b[i]), 64) << (y ? "y" : "x") << " coordinate " << i;
    }
    if (plainOut) *plainOut = std::move(p);
    return hinted;
}

// A box from (x0, y0) to (x1, y1) in font units.
void box(Glyph& g, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    g.move(x0, y0).line(x1, y0).line(x1, y1).line(x0, y1).line(x0, y0);
}

TEST(CffHintingScalerTest, CreateFillsTheFieldsFromTheFont) {
    Font f;
    f.font->unitsPerEm = 2048;
    f.font->fdCount = 2;
    f.font->privateDicts[1].stemHCount = 2;
    f.font->privateDicts[1].stemH[1] = 77 * kUnit;
    f.font->privateDicts[1].stemVCount = 1;
    f.font->privateDicts[1].stemV[0] = 99 * kUnit;
    std::unique_ptr<CffHintingScaler> s(CffHintingScaler::create(*f.font));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->unitsPerEm, 2048);
    EXPECT_EQ(s->ascender, 2048 * 880 / 1000);  // no OS/2 sTypoAscender
    EXPECT_EQ(s->fdCount, 2);
    EXPECT_EQ(s->dicts[1].stemHCount, 2);
    EXPECT_EQ(s->dicts[1].stemH[1], 77 * kUnit);
    EXPECT_EQ(s->dicts[1].stemV[0], 99 * kUnit);
    const int32_t tuning[] = {s->fitHorizontalStems, s->fitVerticalStems, s->minHintedPpem, s->stdWidthSnap,
                              s->flatTolerance,      s->minCounter,       s->maxStemWidth,  s->maxHintedPpem,
                              s->spareTuning,        s->maxSnappedWidth,  s->preparedFd};
    const int32_t expected[] = {1, 1, 0, 16, 4, 16, 704, 256, 16, 256, -1};  // 2048 x 320 / 1000 = 655 -> 704
    for (int i = 0; i < 11; ++i) EXPECT_EQ(tuning[i], expected[i]) << "tuning field " << i + 1;
    EXPECT_EQ(s->maxZoneHeight, 1024);
    EXPECT_EQ(s->workSize, kHintWorkAreaUnit);

    f.font->os2.sTypoAscender = 1900;
    f.font->unitsPerEm = 1000;
    s.reset(CffHintingScaler::create(*f.font));
    EXPECT_EQ(s->ascender, 1900);
    EXPECT_EQ(s->maxStemWidth, 320);  // already a multiple of 64
}

TEST(CffHintingScalerTest, WithoutHintsItIsThePlainScalerAndSetSizeTakesYFirst) {
    Font f;
    auto s = f.scaler(16);
    Glyph g;
    g.move(1000, 1000).line(0, 333).curve(10, 20, 30, 40, 50, 60);
    g.raw({7, 5, 5, 5, 5, 5, 5});  // an unknown kind: copied unchanged, -35, the rest still scaled
    g.line(-999, -1);
    Outline p(newGlyphOutline(1000)), h(newGlyphOutline(1000));
    PlainScaler plain(1000);
    s->setSize(16, 8);  // y 16, x 8
    plain.setSize(8, 16);
    EXPECT_EQ(plain.scaleOutline(g.outline(), p.get()), kNoCharMap);
    EXPECT_EQ(s->scaleOutline(g.outline(), h.get()), kNoCharMap);
    EXPECT_EQ(text(*h), text(*p));
    EXPECT_EQ(h->points[0].x, 8 * 64);
    EXPECT_EQ(h->points[0].y, 16 * 64);
    // Detached again by reset(): a record attached before does not count.
    Hints hints;
    hints.h(0, 50);
    s->attachHints(&hints);
    s->reset();
    Outline h2(newGlyphOutline(1000));
    EXPECT_EQ(s->scaleOutline(g.outline(), h2.get()), kNoCharMap);
    EXPECT_EQ(text(*h2), text(*p));
}

TEST(CffHintingScalerTest, AStemBecomesWholePixelsAndThePointsBetweenFollow) {
    Font f;
    auto s = f.scaler(16);
    Glyph g;
    box(g, 100, 200, 500, 280);
    g.move(100, 240).line(300, 240).line(300, 100).line(100, 240);
    Hints hints;
    hints.h(200, 80).v(100, 90);
    Outline h = scaleBoth(*s, &hints, g.outline());
    // 200 -> 3.19 px and 280 -> 4.47 px: 1.28 px wide, one pixel centred: 3 .. 4.
    EXPECT_EQ(h->points[0].y, 3 * 64);
    EXPECT_EQ(h->points[2].y, 4 * 64);
    // x: 100 -> 1.6 px, 190 -> 3.04 px: 1.44 px wide -> 1 pixel, centred at 2.32 -> 2 .. 3 (100 -> 2).
    EXPECT_EQ(h->points[0].x, 2 * 64);
    // Half way between the stem's edges in font units, half way between their moves: 240 plain is 245,
    // moves -12 and -30, so 245 - 21 = 224.
    EXPECT_EQ(h->points[5].y, 224);
    // Below the stem every point moves as its low edge (-12).
    EXPECT_EQ(h->points[7].y, 102 - 12);
    // The contours stay closed.
    EXPECT_EQ(h->points[4].x, h->points[0].x);
    EXPECT_EQ(h->points[4].y, h->points[0].y);
}

TEST(CffHintingScalerTest, ZonesAlignEdgesAndSuppressOvershootsUntilBlueScaleSays) {
    Font f({-10, 0, 500, 510});
    // A ring: bottom overshoot -10, top overshoot 510, bowl stems of 80 units.
    Glyph g;
    g.move(300, -10)
        .curve(450, -10, 550, 100, 550, 250)
        .curve(550, 400, 450, 510, 300, 510)
        .curve(150, 510, 50, 400, 50, 250)
        .curve(50, 100, 150, -10, 300, -10);
    g.move(300, 70)
        .curve(200, 70, 130, 150, 130, 250)
        .curve(130, 350, 200, 430, 300, 430)
        .curve(400, 430, 470, 350, 470, 250)
        .curve(470, 150, 400, 70, 300, 70);
    Hints hints;
    hints.h(-10, 80).h(430, 80);
    {
        auto s = f.scaler(16);  // 16 / 1000 < BlueScale 0.039625: overshoots suppressed
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[0].y, 0);       // the bottom overshoot on the baseline
        EXPECT_EQ(h->points[2].y, 8 * 64);  // 510 on the x-height: 500 -> 8 px
        EXPECT_EQ(h->points[5].y, 64);      // the inner bottom: one pixel above
        EXPECT_EQ(h->points[7].y, 7 * 64);  // the inner top: one pixel below
    }
    {
        auto s = f.scaler(100);  // 0.1 > BlueScale: an overshoot of 10 units (1 px) is kept
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[0].y, -64);
        EXPECT_EQ(h->points[2].y, 50 * 64 + 64);
    }
    {
        // BlueShift: with overshoots not suppressed, one at least BlueShift deep is at least a pixel.
        f.dict().blueScale = 1;
        f.dict().blueShift = 7 * kUnit;
        auto s = f.scaler(16);  // 10 units = 0.16 px: rounds to 0, but 10 >= 7
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[0].y, -64);
        EXPECT_EQ(h->points[2].y, 9 * 64);
        f.dict().blueShift = 11 * kUnit;  // 10 < 11: no overshoot
        auto s2 = f.scaler(16);
        h = scaleBoth(*s2, &hints, g.outline());
        EXPECT_EQ(h->points[0].y, 0);
        EXPECT_EQ(h->points[2].y, 8 * 64);
    }
}

TEST(CffHintingScalerTest, ZoneSegmentsAlignUnhintedFlatTopsAndBottoms) {
    // A 'v' without hints in y: its flat arm tops in the x-height zone and its bottom in the baseline zone
    // are aligned all the same, once any hints are attached.
    Font f({-10, 0, 480, 490});
    Glyph g;
    g.move(0, 487).line(80, 487).line(250, 90).line(420, 487).line(500, 487).line(280, -5).line(220, -5).line(
        0, 487);
    Hints hints;
    hints.v(0, 80);
    for (uint16_t ppem : {10, 12, 16, 20, 24}) {
        auto s = f.scaler(ppem);
        Outline h = scaleBoth(*s, &hints, g.outline());
        const int32_t xHeight = (480 * 64 * ppem / 1000 + 32) & ~63;
        EXPECT_EQ(h->points[0].y, xHeight) << ppem;
        EXPECT_EQ(h->points[4].y, xHeight) << ppem;
        EXPECT_EQ(h->points[5].y, 0) << ppem;
        EXPECT_EQ(h->points[6].y, 0) << ppem;
        // 90 is neither a high nor in a zone: between the baseline and the x-height, not on the grid.
        EXPECT_NE(h->points[2].y & 63, 0) << ppem;
    }
}

TEST(CffHintingScalerTest, GhostEdgesAreSingleEdgesOfTheirKind) {
    Font f({-10, 0, 500, 510});
    Glyph g;
    box(g, 0, -4, 100, 506);  // bottom -4 in the baseline zone, top 506 in the x-height zone
    box(g, 200, 250, 300, 337);
    {
        Hints hints;
        hints.h(-4, -21).h(506, -20);  // bottom ghost at -4, top ghost at 506
        auto s = f.scaler(12);
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[0].y, 0);
        EXPECT_EQ(h->points[2].y, 6 * 64);  // 500 -> 6 px
    }
    {
        // A ghost of the other kind is not captured: -4 as a top ghost just rounds (-0.05 -> 0), 506 as a
        // bottom ghost rounds (6.07 -> 6) -- the same rows here; and -21 / another negative width mark the
        // kind, not the size.
        Hints hints;
        hints.h(250, -21).h(337, -7);
        auto s = f.scaler(12);
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[5].y, 3 * 64);  // 250 -> 3.0
        EXPECT_EQ(h->points[7].y, 4 * 64);  // 337 -> 4.04
    }
    {
        // Without zones, a ghost edge is rounded to the nearest pixel.
        Font plainFont;
        Hints hints;
        hints.h(250, -21).h(337, -20);
        auto s = plainFont.scaler(20);  // 250 -> 5.0, 337 -> 6.74
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[5].y, 5 * 64);
        EXPECT_EQ(h->points[7].y, 7 * 64);
    }
}

TEST(CffHintingScalerTest, AStemNearTheStandardWidthTakesIt) {
    Font f;
    f.dict().stemHCount = 2;
    f.dict().stemH[0] = 80 * kUnit;  // StdHW 80: 1.28 px at 16 ppem -> 1 px
    f.dict().stemH[1] = 94 * kUnit;  // a StemSnapH operand: not a width of its own
    Glyph g;
    box(g, 0, 300, 400, 394);  // 94 units: 1.5 px, which would round to 2
    Hints hints;
    hints.h(300, 94);
    auto s = f.scaler(16);
    Outline h = scaleBoth(*s, &hints, g.outline());
    EXPECT_EQ(h->points[2].y - h->points[0].y, 64);
    // Farther than a quarter pixel from the standard width: its own width.
    f.dict().stemH[0] = 60 * kUnit;
    auto s2 = f.scaler(16);
    h = scaleBoth(*s2, &hints, g.outline());
    EXPECT_EQ(h->points[2].y - h->points[0].y, 128);
}

TEST(CffHintingScalerTest, MasksSwitchStemsPerPointRangeMostSignificantBitFirst) {
    Font f;
    // Two overlapping stems: 100..180 for the first contour, 150..230 for the second.
    Glyph g;
    box(g, 0, 100, 100, 180);
    box(g, 200, 150, 300, 230);
    Hints hints;
    hints.h(100, 80).h(150, 80);
    hints.mask(0, 0, {0x80}).mask(0, 5, {0x40});  // the second mask starts with contour 1's move
    auto s = f.scaler(12);
    Outline h = scaleBoth(*s, &hints, g.outline());
    // Stem 0: 100 -> 1.2 px, 180 -> 2.16 px: 1 px at 1 .. 2. Stem 1: 1.8 .. 2.76 -> 2 .. 3.
    EXPECT_EQ(h->points[0].y, 64);
    EXPECT_EQ(h->points[2].y, 128);
    EXPECT_EQ(h->points[5].y, 128);
    EXPECT_EQ(h->points[7].y, 192);
    // The masks swapped round: stem 1 is in force for contour 0, where 180 lies inside it and is not on
    // the grid; 100 lies below it, and stem 0's edge (switched off there) still takes it to stem 0's row.
    Hints swapped;
    swapped.h(100, 80).h(150, 80).mask(0, 0, {0x40}).mask(1, 0, {0x80});
    Outline h2 = scaleBoth(*s, &swapped, g.outline());
    EXPECT_EQ(h2->points[0].y, 64);
    EXPECT_NE(h2->points[2].y & 63, 0);
    EXPECT_NE(h2->points[5].y & 63, 0);  // contour 1: 150 inside stem 0 (100 .. 180), in force there
    EXPECT_EQ(h2->points[7].y, 192);     // 230: stem 1's high edge, on its row
    // Nine stems take two mask bytes: bit 8 is the second byte's most significant bit.
    Hints nine;
    for (int i = 0; i < 8; ++i) nine.h(600 + 40 * i, 20);
    nine.h(150, 80).mask(0, 0, {0x00, 0x80});
    Outline h3 = scaleBoth(*s, &nine, g.outline());
    EXPECT_EQ(h3->points[5].y, 128);
    EXPECT_EQ(h3->points[7].y, 192);
    // Before the first mask every stem is in force.
    Hints late;
    late.h(100, 80).mask(1, 0, {0x00});
    Outline h4 = scaleBoth(*s, &late, g.outline());
    EXPECT_EQ(h4->points[0].y, 64);
    EXPECT_EQ(h4->points[2].y, 128);
}

TEST(CffHintingScalerTest, AStemSwitchedOffStillAnchorsPointsOnItsEdgesWhereNothingConflicts) {
    Font f;
    Glyph g;
    box(g, 0, 100, 100, 180);  // contour 0: under a mask that switches every stem off
    Hints hints;
    hints.h(100, 80).mask(0, 0, {0x00});
    auto s = f.scaler(12);
    Outline h = scaleBoth(*s, &hints, g.outline());
    EXPECT_EQ(h->points[0].y, 64);
    EXPECT_EQ(h->points[2].y, 128);
}

TEST(CffHintingScalerTest, StemsSortByPositionAndTiesByTheFarEdgeWhateverTheRecordOrder) {
    Font f({-10, 0, 500, 510});
    Glyph g;
    box(g, 0, 0, 100, 60);
    box(g, 0, 100, 100, 140);
    box(g, 0, 100, 100, 200);
    box(g, 0, 430, 100, 500);
    g.move(0, 300).line(90, 310).line(10, 360).line(0, 300);
    const int32_t stems[][2] = {{0, 60}, {100, 40}, {100, 100}, {430, 70}, {300, 60}};
    const int order[][5] = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 1, 4, 0, 3}, {1, 2, 0, 4, 3}};
    std::string first;
    for (uint16_t ppem : {10, 17, 24}) {
        auto s = f.scaler(ppem);
        first.clear();
        for (const auto& o : order) {
            Hints hints;
            for (int i : o) hints.h(stems[i][0], stems[i][1]);
            hints.v(0, 100);
            const std::string t = text(*scaleBoth(*s, &hints, g.outline()));
            if (first.empty()) first = t;
            EXPECT_EQ(t, first) << ppem;
        }
    }
}

TEST(CffHintingScalerTest, EdgesNeverCrossAndStrokesKeepAPixel) {
    Font f({-10, 0, 500, 510});
    // Eight thin bars close together (as in a CJK glyph at a small size): 30-unit strokes, 30-unit gaps.
    Glyph g;
    Hints hints;
    for (int i = 0; i < 8; ++i) {
        box(g, 0, 40 + 60 * i, 800, 70 + 60 * i);
        hints.h(40 + 60 * i, 30);
    }
    for (uint16_t ppem : {8, 10, 12, 16, 20, 24, 33, 40}) {
        auto s = f.scaler(ppem);
        Outline h = scaleBoth(*s, &hints, g.outline());
        int32_t last = INT32_MIN;
        for (int i = 0; i < 8; ++i) {
            const int32_t low = h->points[5 * i].y, high = h->points[5 * i + 2].y;
            EXPECT_EQ(low & 63, 0);
            EXPECT_EQ(high & 63, 0);
            EXPECT_GE(low, last) << ppem << " bar " << i;  // never inverted
            EXPECT_GE(high, low) << ppem << " bar " << i;
            // From 33 ppem on a bar and a gap are a pixel each (60 units >= 1.98 px): both kept.
            if (ppem >= 33) {
                EXPECT_EQ(high - low, 64) << ppem << " bar " << i;
                if (i > 0) {
                    EXPECT_GE(low - last, 64) << ppem << " gap " << i;
                }
            }
            last = high;
        }
    }
}

TEST(CffHintingScalerTest, TheWorkAreaIsReplacedByAWholeNumberOfUnitsWhenAnOutlineNeedsMore) {
    Font f({-10, 0, 500, 510});
    // A comb of 600 teeth whose tips (all different, within the x-height zone) are zone segments.
    Glyph g;
    g.move(0, 0);
    for (int i = 0; i < 600; ++i) {
        g.raw({kOutlineLine, (10 * i + 3) * kUnit, 500 * kUnit + i, 0, 0, 0, 0});
        g.line(10 * i + 6, 300);
    }
    g.line(6000, 0).line(0, 0);
    Hints hints;
    hints.v(0, 50);
    auto s = f.scaler(16);
    EXPECT_EQ(s->workSize, kHintWorkAreaUnit);
    Outline h = scaleBoth(*s, &hints, g.outline());
    EXPECT_GT(s->workSize, kHintWorkAreaUnit);
    EXPECT_EQ(s->workSize % kHintWorkAreaUnit, 0u);
    for (int i = 0; i < 600; ++i) EXPECT_EQ(h->points[1 + 2 * i].y, 8 * 64) << i;
    // release() frees it; the next hinted glyph obtains one again.
    s->release();
    EXPECT_EQ(s->workArea, nullptr);
    s->attachHints(&hints);
    Outline again(newGlyphOutline(1000));
    EXPECT_EQ(s->scaleOutline(g.outline(), again.get()), 0);
    EXPECT_EQ(text(*again), text(*h));
}

TEST(CffHintingScalerTest, DegenerateAndHostileInputStaysSafe) {
    Font f({-10, 0, 500, 510, 700, 600}, {-300, -200});  // 700..600 is no zone
    auto s = f.scaler(16);
    Glyph g;
    box(g, 0, 0, 400, 500);
    g.curve(-5, 600, 700, -5, 30, 30);
    Hints hints;
    hints.h(0, 80).h(420, 80).v(0, 60);
    // Empty outline.
    Glyph empty;
    scaleBoth(*s, &hints, empty.outline());
    // Size 0: everything at 0, hinted or not.
    {
        auto zero = f.scaler(0);
        Outline h = scaleBoth(*zero, &hints, g.outline());
        for (int32_t v : coordinates(*h, true)) EXPECT_EQ(v, 0);
    }
    // A hostile record: counts out of range, masks claimed but absent, an unknown Font DICT, stems
    // out of order with huge values, masks longer than the stems and pointing past the outline.
    {
        Hints bad;
        bad.rawH(INT32_MAX, 640)
            .rawH(INT32_MIN, INT32_MAX)
            .h(500, 0)
            .h(300, -5)
            .rawV(40, INT32_MIN)
            .v(40, 40);
        bad.mask(0, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).mask(60000, 60000, {0x12});
        bad.mask(0, 2, {0xA0}).mask(0, 1, {0x40});
        bad.fdIndex = 9999;
        scaleBoth(*s, &bad, g.outline());
        bad.hStemCount = 1000;
        bad.vStemCount = -7;
        scaleBoth(*s, &bad, g.outline());
        bad.hStemCount = -1;
        bad.vStemCount = 64;
        bad.fdIndex = -5;
        scaleBoth(*s, &bad, g.outline());
        HintRecord noMasks;
        noMasks.hStemCount = 2;
        noMasks.maskCount = 5;  // but no array
        scaleBoth(*s, &noMasks, g.outline());
    }
    // Huge coordinates at a huge size: clamped, never wrapped.
    {
        auto big = f.scaler(65535);
        Glyph huge;
        huge.raw({kOutlineMove, INT32_MAX, INT32_MIN, 0, 0, 0, 0})
            .raw({kOutlineLine, INT32_MIN, INT32_MAX, 0, 0, 0, 0});
        huge.close();
        Hints h;
        h.rawH(INT32_MIN, INT32_MAX).rawH(INT32_MAX, INT32_MAX).rawV(INT32_MAX - 1, 64);
        scaleBoth(*big, &h, huge.outline());
    }
    // All 72 contours a record holds scale with the hints, as the plain scaler scales them; a 73rd does not
    // fit in the destination.
    {
        Glyph many;
        for (int i = 0; i < 72; ++i) box(many, 0, 10 * i, 5, 10 * i + 5);
        Outline h = scaleBoth(*s, &hints, many.outline());
        EXPECT_EQ(h->contourCount, 72u);
        Outline out(newGlyphOutline(1000));
        Glyph one;
        box(one, 0, 900, 5, 905);
        s->attachHints(&hints);
        ASSERT_EQ(s->scaleOutline(one.outline(), out.get()), 0);
        EXPECT_EQ(s->scaleOutline(many.outline(), out.get()), kFontDataError);
        EXPECT_EQ(out->contourCount, 1u);
    }
    // Contour starts that run backwards: refused with a destination, as the plain scaler does; in place,
    // every entry is still scaled once.
    {
        Outline bent = copyOf(g.outline());
        bent->contourStart[1] = 2;
        bent->contourStart[2] = 1;
        scaleBoth(*s, &hints, *bent);
    }
    // Units per em 0: refused (nothing can be divided by it).
    {
        Font zeroEm;
        zeroEm.font->unitsPerEm = 0;
        std::unique_ptr<CffHintingScaler> z(CffHintingScaler::create(*zeroEm.font));
        z->setSize(16, 16);
        z->attachHints(&hints);
        Outline out(newGlyphOutline(0));
        EXPECT_EQ(z->scaleOutline(g.outline(), out.get()), kFontDataError);
    }
}

TEST(CffHintingScalerTest, StemsKeepTheirRowsAcrossMasksAndStraightLinesStayStraight) {
    Font f;
    // Stems 0 and 1 share their low edge (60) with different widths (30 and 140 units), as the stems of a
    // real font's 'm' do, and masks switch between them; centred each on its own, they would put 60 on
    // different pixels (at 12 ppem: 0 for the thin one, 1 for the wide one). Stem 2 (a bar at 230 .. 279)
    // is in force in both masks, with stem 0 below it in one and stem 1 in the other.
    Hints hints;
    hints.h(60, 30).h(60, 140).h(230, 49);
    {
        Glyph g;
        box(g, 0, 60, 100, 90);      // contour 0: mask A (stems 0 and 2)
        box(g, 200, 60, 300, 200);   // contour 1: mask B (stems 1 and 2)
        box(g, 0, 230, 100, 279);    // contour 2: mask A
        box(g, 200, 230, 300, 279);  // contour 3: mask B
        Hints masked = hints;
        masked.masks = nullptr, masked.maskCount = masked.maskCapacity = 0;
        masked.mask(0, 0, {0xA0}).mask(1, 0, {0x60}).mask(2, 0, {0xA0}).mask(3, 0, {0x60});
        for (uint16_t ppem : {9, 10, 11, 12, 13, 14, 16, 18}) {
            auto s = f.scaler(ppem);
            Outline h = scaleBoth(*s, &masked, g.outline());
            EXPECT_EQ(h->points[0].y, h->points[5].y) << ppem;    // the shared edge: one row
            EXPECT_EQ(h->points[10].y, h->points[15].y) << ppem;  // the bar: the same rows in both masks
            EXPECT_EQ(h->points[12].y, h->points[17].y) << ppem;
            EXPECT_EQ(h->points[0].y & 63, 0) << ppem;
        }
    }
    {
        // One contour through both masks, switching at a vertical step: every horizontal line stays
        // horizontal, every vertical one vertical.
        Glyph g;
        g.move(0, 279)
            .line(0, 60)
            .line(800, 60)
            .line(800, 90)
            .line(700, 90)
            .line(700, 200)
            .line(600, 200)
            .line(600, 230)
            .line(800, 230)
            .line(800, 279)
            .line(0, 279);
        Hints masked = hints;
        masked.masks = nullptr, masked.maskCount = masked.maskCapacity = 0;
        masked.mask(0, 0, {0xA0}).mask(0, 5, {0x60});
        for (uint16_t ppem : {9, 10, 11, 12, 13, 14, 16, 18}) {
            auto s = f.scaler(ppem);
            Outline h = scaleBoth(*s, &masked, g.outline());
            for (uint32_t i = 1; i < h->pointCount; ++i) {
                const OutlinePoint &a = g.outline().points[i - 1], &b = g.outline().points[i];
                if (a.y == b.y) {
                    EXPECT_EQ(h->points[i - 1].y, h->points[i].y) << ppem << " entry " << i;
                }
                if (a.x == b.x) {
                    EXPECT_EQ(h->points[i - 1].x, h->points[i].x) << ppem << " entry " << i;
                }
            }
        }
    }
}

TEST(CffHintingScalerTest, EveryOneOfSixtyFourStemsFindsTheEdgeItSharesWithAnEarlierStem) {
    // 32 pairs of horizontal stems, each pair sharing its low edge (as the stems of 'm' do), the pairs 400
    // units apart: all 64 stems of a record, 96 distinct edge positions. Masks switch between the two stems
    // of a pair contour by contour; the shared edge lands on one row whichever stem is in force.
    Font f;
    Hints hints;
    for (int32_t i = 0; i < 32; ++i) hints.h(60 + 400 * i, 30).h(60 + 400 * i, 140);
    Glyph g;
    for (int32_t i = 0; i < 32; ++i) {
        box(g, 0, 60 + 400 * i, 100, 90 + 400 * i);    // contour 2i: stem 2i alone
        box(g, 200, 60 + 400 * i, 300, 200 + 400 * i);  // contour 2i + 1: stem 2i + 1 alone
    }
    for (uint16_t c = 0; c < 64; ++c) {
        std::vector<uint8_t> bits(8, 0);
        bits[c / 8] = uint8_t(0x80 >> (c % 8));
        hints.mask(c, 0, bits);
    }
    for (uint16_t ppem : {9, 12, 16, 20}) {
        auto s = f.scaler(ppem);
        Outline h = scaleBoth(*s, &hints, g.outline());
        for (uint32_t i = 0; i < 32; ++i) {
            EXPECT_EQ(h->points[10 * i].y, h->points[10 * i + 5].y) << ppem << " pair " << i;
            EXPECT_EQ(h->points[10 * i].y & 63, 0) << ppem << " pair " << i;
        }
    }
}

TEST(CffHintingScalerTest, ContoursThatReturnToTheirStartStayClosedAcrossMasks) {
    Font f;
    Glyph g;
    g.move(0, 105).line(400, 105).line(400, 177).line(0, 177).line(0, 105);
    Hints hints;
    hints.h(105, 72).h(100, 82);
    hints.mask(0, 0, {0x80}).mask(0, 4, {0x40});  // the closing line under the other stem
    for (uint16_t ppem : {9, 11, 13, 17}) {
        auto s = f.scaler(ppem);
        Outline h = scaleBoth(*s, &hints, g.outline());
        EXPECT_EQ(h->points[4].x, h->points[0].x);
        EXPECT_EQ(h->points[4].y, h->points[0].y) << ppem;
    }
}

TEST(CffHintingScalerTest, SizesFromMaxHintedPpemOnAreScaledPlainly) {
    Font f({-10, 0, 500, 510});
    Glyph g;
    box(g, 3, 7, 411, 505);
    Hints hints;
    hints.h(7, 80).v(3, 90);
    auto s = f.scaler(256);
    Outline plain;
    Outline h = scaleBoth(*s, &hints, g.outline(), &plain);
    EXPECT_EQ(text(*h), text(*plain));
    auto s2 = f.scaler(255);
    Outline h2 = scaleBoth(*s2, &hints, g.outline(), &plain);
    EXPECT_NE(text(*h2), text(*plain));
}

}  // namespace
