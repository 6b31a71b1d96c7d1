// TrueType outlines of crafted glyphs: the simple-glyph encoding (flags, repeats, coordinate sizes), contour
// building, every composite transform form, point matching, scaled offsets, and each limit one past it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "OutlineText.h"
#include "sfnt/TrueTypeFont.h"
#include "support/FontBytes.h"
#include "support/SfntBuilder.h"

namespace {

struct Pt {
    int x, y;
    bool on = true;
};
using Contour = std::vector<Pt>;

// A simple glyph in the shortest encoding: short deltas where they fit, "same" flags for zero deltas and
// repeat flags for runs of equal flags.
Bytes simpleGlyph(const std::vector<Contour>& contours, size_t instructionLength = 0) {
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    bool first = true;
    std::vector<Pt> all;
    for (const Contour& c : contours)
        for (const Pt& p : c) {
            all.push_back(p);
            if (first || p.x < xMin) xMin = p.x;
            if (first || p.y < yMin) yMin = p.y;
            if (first || p.x > xMax) xMax = p.x;
            if (first || p.y > yMax) yMax = p.y;
            first = false;
        }
    FontBytes b;
    b.u16(uint32_t(contours.size()))
        .u16(uint32_t(xMin))
        .u16(uint32_t(yMin))
        .u16(uint32_t(xMax))
        .u16(uint32_t(yMax));
    size_t end = 0;
    for (const Contour& c : contours) {
        end += c.size();
        b.u16(uint32_t(end - 1));
    }
    b.u16(uint32_t(instructionLength)).zeros(instructionLength);
    std::vector<uint8_t> flags;
    FontBytes xs, ys;
    int x = 0, y = 0;
    for (const Pt& p : all) {
        const int dx = p.x - x, dy = p.y - y;
        x = p.x;
        y = p.y;
        uint8_t f = p.on ? 0x01 : 0x00;
        if (dx == 0) {
            f |= 0x10;
        } else if (dx >= -255 && dx <= 255) {
            f |= 0x02 | (dx > 0 ? 0x10 : 0);
            xs.u8(uint32_t(dx > 0 ? dx : -dx));
        } else {
            xs.u16(uint32_t(dx));
        }
        if (dy == 0) {
            f |= 0x20;
        } else if (dy >= -255 && dy <= 255) {
            f |= 0x04 | (dy > 0 ? 0x20 : 0);
            ys.u8(uint32_t(dy > 0 ? dy : -dy));
        } else {
            ys.u16(uint32_t(dy));
        }
        flags.push_back(f);
    }
    for (size_t i = 0; i < flags.size();) {
        size_t run = 1;
        while (i + run < flags.size() && flags[i + run] == flags[i] && run < 256) ++run;
        if (run > 1) {
            b.u8(flags[i] | 0x08).u8(uint32_t(run - 1));
        } else {
            b.u8(flags[i]);
        }
        i += run;
    }
    b.bytes(xs.vec()).bytes(ys.vec());
    return b.vec();
}

// A composite component. Arguments are offsets unless `matchPoints`; `transform` holds 0 (none), 1 (scale),
// 2 (x and y scales) or 4 (xx, yx, xy, yy) 2.14 values.
struct Component {
    uint16_t glyph;
    int arg1 = 0, arg2 = 0;
    std::vector<int> transform = {};
    bool matchPoints = false;
    bool words = false;
    uint16_t extraFlags = 0;
};

Bytes compositeGlyph(const std::vector<Component>& components, int xMin = 0, int yMin = 0, int xMax = 0,
                     int yMax = 0) {
    FontBytes b;
    b.u16(0xFFFF).u16(uint32_t(xMin)).u16(uint32_t(yMin)).u16(uint32_t(xMax)).u16(uint32_t(yMax));
    for (size_t i = 0; i < components.size(); ++i) {
        const Component& c = components[i];
        const bool words =
            c.words || (c.matchPoints ? (c.arg1 > 255 || c.arg2 > 255)
                                      : (c.arg1 < -128 || c.arg1 > 127 || c.arg2 < -128 || c.arg2 > 127));
        uint16_t flags = c.extraFlags;
        if (words) flags |= 0x0001;
        if (!c.matchPoints) flags |= 0x0002;
        if (c.transform.size() == 1) flags |= 0x0008;
        if (c.transform.size() == 2) flags |= 0x0040;
        if (c.transform.size() == 4) flags |= 0x0080;
        if (i + 1 < components.size()) flags |= 0x0020;
        b.u16(flags).u16(c.glyph);
        if (words) {
            b.u16(uint32_t(c.arg1)).u16(uint32_t(c.arg2));
        } else {
            b.u8(uint32_t(c.arg1)).u8(uint32_t(c.arg2));
        }
        for (int v : c.transform) b.u16(uint32_t(v));
    }
    return b.vec();
}

Bytes cmapFormat4(uint16_t platform, uint16_t encoding, uint16_t firstCode, uint16_t firstGlyph,
                  uint16_t count) {
    FontBytes b;
    b.u16(0).u16(1).u16(platform).u16(encoding).u32(12);
    b.u16(4).u16(32).u16(0).u16(4).u16(4).u16(1).u16(0);  // format, length, language, segCountX2 ...
    b.u16(uint32_t(firstCode + count - 1)).u16(0xFFFF).u16(0);
    b.u16(firstCode).u16(0xFFFF);
    b.u16(uint32_t(firstGlyph - firstCode)).u16(1);
    b.u16(0).u16(0);
    return b.vec();
}

struct Maxp {
    uint16_t maxPoints = 1000, maxContours = 100, maxCompositePoints = 1000, maxCompositeContours = 100;
    uint16_t maxComponentElements = 100, maxComponentDepth = 8;
};

// A TrueType font of the given glyphs (long 'loca'): advance 1000 and side bearing = xMin unless given.
struct GlyphFont {
    std::vector<Bytes> glyphs;
    Maxp maxp;
    std::vector<int> sideBearings;  // per glyph, when set
    Bytes cmap = cmapFormat4(3, 1, 'A', 1, 1);
    bool glyfLast = false;       // 'glyf' as the last table and no padding
    uint32_t lastLocaExtra = 0;  // added to the last 'loca' offset: the last glyph ends past 'glyf'

    Bytes build() const {
        FontBytes glyf, loca, hmtx;
        for (size_t g = 0; g < glyphs.size(); ++g) {
            loca.u32(uint32_t(glyf.size()));
            glyf.bytes(glyphs[g]);
            int lsb = glyphs[g].size() >= 10 ? int16_t((glyphs[g][2] << 8) | glyphs[g][3]) : 0;
            if (g < sideBearings.size()) lsb = sideBearings[g];
            hmtx.u16(1000).u16(uint32_t(lsb));
        }
        loca.u32(uint32_t(glyf.size()) + lastLocaExtra);
        FontBytes head;
        head.u32(0x00010000).u32(0x00010000).u32(0).u32(0x5F0F3CF5).u16(0).u16(1000).zeros(16);
        head.u16(0).u16(0).u16(0).u16(0).u16(0).u16(8).u16(2).u16(1).u16(0);
        FontBytes hhea;
        hhea.u32(0x00010000)
            .u16(800)
            .u16(uint32_t(-200))
            .u16(0)
            .u16(1000)
            .zeros(20)
            .u16(0)
            .u16(uint32_t(glyphs.size()));
        FontBytes m;
        m.u32(0x00010000).u16(uint32_t(glyphs.size())).u16(maxp.maxPoints).u16(maxp.maxContours);
        m.u16(maxp.maxCompositePoints).u16(maxp.maxCompositeContours).u16(2).zeros(12);
        m.u16(maxp.maxComponentElements).u16(maxp.maxComponentDepth);
        SfntBuilder s;
        s.table("cmap", cmap);
        if (!glyfLast) s.table("glyf", glyf.vec());
        s.table("head", head.vec()).table("hhea", hhea.vec()).table("hmtx", hmtx.vec());
        s.table("loca", loca.vec())
            .table("maxp", m.vec())
            .table("name", nameTable({windowsName(u"Glyph Test")}));
        if (glyfLast) s.table("glyf", glyf.vec()).minSize(0);
        return s.build();
    }
};

// A loaded font with its glyph work and one outline record.
class Loaded {
public:
    explicit Loaded(const GlyphFont& f) : bytes(f.build()) {
        status = font.loadTrueType(bytes.data(), uint32_t(bytes.size()), 0);
        if (status == 0) status = font.prepareGlyphWork(work);
        outline = font.newOutline();
        work.box = &box;
    }
    ~Loaded() {
        font.releaseGlyphWork(work);
        deleteGlyphOutline(outline);
        font.release();
    }
    // Loads glyph g into the cleared record.
    int16_t load(uint32_t g) {
        outline->clear();
        return font.getGlyphOutline(g, work, *outline);
    }
    std::string text() const { return outlineText(*outline); }

    Bytes bytes;
    TrueTypeFont font;
    GlyphWork work;
    GlyphOutline* outline = nullptr;
    GlyphBox box;
    int16_t status = 0;
};

// The four ways a contour starts, and off-curve runs with their midpoints.
const std::vector<Contour> kContourForms = {
    {{0, 0}, {0, 100}, {100, 100}, {100, 0}},                                     // all on the curve
    {{200, 0}, {200, 100, false}, {300, 100, false}, {300, 0}},                   // first on: starts there
    {{400, 100, false}, {500, 100}, {450, 0}},                                    // first off, last on
    {{600, 0, false}, {600, 101, false}, {701, 101, false}, {701, -300, false}},  // all off: the midpoint
};

TEST(TrueTypeGlyphTest, SimpleGlyphContours) {
    GlyphFont f;
    f.glyphs = {Bytes{}, simpleGlyph(kContourForms)};
    f.sideBearings = {0, 0};
    Loaded l(f);
    ASSERT_EQ(l.status, 0);
    ASSERT_EQ(l.load(1), 0);
    EXPECT_EQ(
        l.text(),
        "M 0 0 L 0 100 L 100 100 L 100 0 L 0 0 Z\n"
        "M 200 0 Q 200 100 250 100 Q 300 100 300 0 L 200 0 Z\n"
        "M 450 0 Q 400 100 500 100 L 450 0 Z\n"
        "M 650.5 -150 Q 600 0 600 50.5 Q 600 101 650.5 101 Q 701 101 701 -99.5 Q 701 -300 650.5 -150 Z\n");
    EXPECT_EQ(l.outline->contourCount, 4u);
    EXPECT_EQ(l.outline->contourStart[4], l.outline->pointCount);
    EXPECT_EQ(l.outline->advance, 1000 * 64);
    EXPECT_EQ(l.outline->sideBearing, 0);
    EXPECT_EQ(l.box.xMin, 0);
    EXPECT_EQ(l.box.yMax, 101 * 64);
    EXPECT_EQ(l.box.xMax, 701 * 64);
    EXPECT_EQ(l.box.yMin, -300 * 64);

    // Glyph 0 is empty (length 0): status 0, no contours, its metrics.
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.outline->contourCount, 0u);
    EXPECT_EQ(l.outline->advance, 1000 * 64);
    // Past the last glyph: absent.
    EXPECT_EQ(l.load(2), kGlyphAbsent);
    EXPECT_EQ(l.load(0xFFFFFFFF), kGlyphAbsent);

    // One-point contours: on the curve a move and a closing line, off the curve a curve onto itself.
    f.glyphs = {simpleGlyph({{{5, 6}}, {{7, 8, false}}})};
    f.sideBearings = {5};
    Loaded one(f);
    ASSERT_EQ(one.load(0), 0);
    EXPECT_EQ(one.text(), "M 5 6 L 5 6 Z\nM 7 8 Q 7 8 7 8 Z\n");
}

TEST(TrueTypeGlyphTest, SideBearingShiftsTheOutlineAndBox) {
    GlyphFont f;
    f.glyphs = {simpleGlyph({{{10, 0}, {10, 50}, {60, 0}}})};
    f.sideBearings = {30};  // x shift = 30 - 10
    Loaded l(f);
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.text(), "M 30 0 L 30 50 L 80 0 L 30 0 Z\n");
    EXPECT_EQ(l.outline->sideBearing, 30 * 64);
    EXPECT_EQ(l.box.xMin, 30 * 64);
    EXPECT_EQ(l.box.xMax, 80 * 64);
}

// Five points exercising every coordinate form: i16 deltas (flag repeated once), a short positive x with
// the same y, an i16 x with a short negative y, and a point with both "same".
Bytes flagRuleGlyph(std::vector<uint8_t> flags, size_t dropCoordinateBytes = 0) {
    FontBytes b;
    b.u16(1).u16(0).u16(0).u16(0).u16(0);  // one contour; the box is not checked here
    b.u16(4).u16(0);                       // end point 4, no instructions
    for (uint8_t f : flags) b.u8(f);
    FontBytes coordinates;
    coordinates.u16(1000).u16(uint32_t(-500)).u8(200).u16(uint32_t(-700));  // x: 2 + 2 + 1 + 2 (+ 0)
    coordinates.u16(uint32_t(-300)).u16(700).u8(100);                       // y: 2 + 2 + 0 + 1 (+ 0)
    Bytes c = coordinates.vec();
    c.resize(c.size() - dropCoordinateBytes);
    b.bytes(c);
    return b.vec();
}

TEST(TrueTypeGlyphTest, FlagRepeatsAndCoordinateSizes) {
    // 0x09 0x01: two points of flag 0x01 (on, long x, long y); 0x33: on, x short positive, y same; 0x05: on,
    // x long, y short negative; 0xF1: on, x same, y same (the two top bits are not flags of ours).
    const std::vector<uint8_t> flags = {0x09, 0x01, 0x33, 0x05, 0xF1};
    GlyphFont f;
    f.glyphs = {flagRuleGlyph(flags)};
    Loaded l(f);
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.text(), "M 1000 -300 L 500 400 L 700 400 L 0 300 L 0 300 L 1000 -300 Z\n");

    // The same points without the repeat: flag 0x01 twice. A repeat count of 0 is one point.
    f.glyphs = {flagRuleGlyph({0x01, 0x09, 0x00, 0x33, 0x05, 0x31})};
    Loaded plain(f);
    ASSERT_EQ(plain.load(0), 0);
    EXPECT_EQ(plain.text(), l.text());

    // The two top bits set on every flag change nothing (points keep their flag bytes as read).
    f.glyphs = {flagRuleGlyph({0xC9, 0x01, 0x73, 0x85, 0xF1})};
    Loaded topBits(f);
    ASSERT_EQ(topBits.load(0), 0);
    EXPECT_EQ(topBits.text(), l.text());

    struct Case {
        const char* what;
        Bytes glyph;
    };
    const Case refused[] = {
        {"repeat past the last point", flagRuleGlyph({0x09, 0x05, 0x33, 0x05, 0x31})},
        {"repeat count missing", flagRuleGlyph({0x01, 0x01, 0x33, 0x05, 0x39}, 12)},
        {"one coordinate byte missing", flagRuleGlyph(flags, 1)},
        {"flags missing", flagRuleGlyph({0x09, 0x01}, 12)},
    };
    for (const Case& c : refused) {
        f.glyphs = {c.glyph};
        Loaded r(f);
        EXPECT_EQ(r.load(0), kFontDataError) << c.what;
        EXPECT_EQ(r.outline->contourCount, 0u) << c.what;
    }
}

TEST(TrueTypeGlyphTest, HeaderRulesAndTruncation) {
    const Bytes square = simpleGlyph({{{0, 0}, {0, 300}, {300, 300}, {300, 0}}}, 3);
    FontBytes zeroContours, minusTwo, unordered, longInstructions;
    zeroContours.u16(0).zeros(8).u16(0);
    minusTwo.u16(0xFFFE).zeros(8).u16(0).u16(0).u16(0);
    unordered.u16(2).zeros(8).u16(3).u16(3).u16(0).u8(0x31).u8(0x31).u8(0x31).u8(0x31);
    longInstructions.u16(1).zeros(8).u16(0).u16(100).zeros(10);
    GlyphFont f;
    f.glyphs = {square,         Bytes(9, 0),     zeroContours.vec(),
                minusTwo.vec(), unordered.vec(), longInstructions.vec()};
    Loaded l(f);
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.text(), "M 0 0 L 0 300 L 300 300 L 300 0 L 0 0 Z\n");
    EXPECT_EQ(l.load(1), kFontDataError);  // 9 bytes: no room for the header
    EXPECT_EQ(l.load(2), kFontDataError);  // numberOfContours 0
    EXPECT_EQ(l.load(3), kFontDataError);  // numberOfContours -2
    EXPECT_EQ(l.load(4), kFontDataError);  // end points that do not rise
    EXPECT_EQ(l.load(5), kFontDataError);  // instructions past the glyph

    // Every shorter cut of a simple and of a composite glyph is refused (0 bytes: an empty glyph).
    const Bytes composite =
        compositeGlyph({{0, 10, -10, {0x2000, 0x100, -0x100, 0x3000}}, {0, 1, 2, {}, true, true}});
    for (const Bytes& whole : {square, composite}) {
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            GlyphFont t;
            t.glyphs = {square, Bytes(whole.begin(), whole.begin() + long(cut))};
            Loaded c(t);
            ASSERT_EQ(c.status, 0);
            EXPECT_EQ(c.load(1), cut == 0 ? 0 : kFontDataError) << "cut at " << cut;
        }
        GlyphFont t;
        t.glyphs = {square, whole};
        Loaded c(t);
        EXPECT_EQ(c.load(1), 0);
    }

    // A glyph that 'loca' places past the end of the file: refused, nothing read.
    f.glyphs = {square, square};
    f.glyfLast = true;
    f.lastLocaExtra = 100;
    Loaded past(f);
    ASSERT_EQ(past.status, 0);
    EXPECT_EQ(past.load(0), 0);
    EXPECT_EQ(past.load(1), kFontDataError);
    // Without a loader there is nothing to load with.
    past.font.releaseGlyphWork(past.work);
    EXPECT_EQ(past.work.loader, nullptr);
    EXPECT_EQ(past.load(0), kParamError);
}

// Glyph 1: a triangle; glyph 2: a curve (on, off, on), for the composites below.
GlyphFont transformFont(std::vector<Bytes> composites) {
    GlyphFont f;
    f.glyphs = {Bytes{}, simpleGlyph({{{0, 0}, {100, 0}, {0, 200}}}),
                simpleGlyph({{{0, 0}, {50, 100, false}, {100, 0}}})};
    for (Bytes& c : composites) f.glyphs.push_back(std::move(c));
    f.sideBearings.assign(f.glyphs.size(), 0);
    return f;
}

TEST(TrueTypeGlyphTest, CompositeTransformsAndOffsets) {
    struct Case {
        const char* what;
        std::vector<Component> components;
        const char* expected;
    };
    const Case cases[] = {
        {"byte offsets", {{1, -5, 7}}, "M -5 7 L 95 7 L -5 207 L -5 7 Z\n"},
        {"word offsets", {{1, 1000, -2000}}, "M 1000 -2000 L 1100 -2000 L 1000 -1800 L 1000 -2000 Z\n"},
        {"word flag with small offsets", {{1, 3, 4, {}, false, true}}, "M 3 4 L 103 4 L 3 204 L 3 4 Z\n"},
        {"one scale", {{2, 0, 0, {0x2000}}}, "M 0 0 Q 25 50 50 0 L 0 0 Z\n"},
        {"x and y scales", {{1, 0, 0, {0x6000, -0x4000}}}, "M 0 0 L 150 0 L 0 -200 L 0 0 Z\n"},
        // xx, yx, xy, yy: x' = xx x + xy y, y' = yx x + yy y. A quarter turn (0, 1, -1, 0) ...
        {"2x2 rotation", {{1, 0, 0, {0, 0x4000, -0x4000, 0}}}, "M 0 0 L 0 100 L -200 0 L 0 0 Z\n"},
        // ... and a shear whose second value moves y by half of x.
        {"2x2 shear", {{1, 0, 0, {0x4000, 0x2000, 0, 0x4000}}}, "M 0 0 L 100 50 L 0 200 L 0 0 Z\n"},
        // Scale 1/3 (5461/16384): 100 -> 33.331298828125 units, kept to 1/64 (26.6), rounded down.
        {"fractional scale", {{1, 0, 0, {5461}}}, "M 0 0 L 33.328125 0 L 0 66.65625 L 0 0 Z\n"},
        // Transform first, then the offset.
        {"scale and offset", {{1, 10, 20, {0x2000}}}, "M 10 20 L 60 20 L 10 120 L 10 20 Z\n"},
        // Bit 11: the offset times m per axis; x: |xx| = |yx| = 0.5, equal, so m = 2 x 0.5 = 1; y: |xy| = 0
        // and |yy| = 0.5 differ, so m = 0.5.
        {"scaled offset, doubled",
         {{1, 100, 40, {0x2000, 0x2000, 0, 0x2000}, false, false, 0x0800}},
         "M 100 20 L 150 70 L 100 120 L 100 20 Z\n"},
        // Within 33/16384 of each other still doubles; 34 apart does not.
        // Point matching: point 2 of the new triangle lands on point 1 of the glyph so far.
        {"point matching",
         {{1, 0, 0}, {1, 1, 2, {}, true}},
         "M 0 0 L 100 0 L 0 200 L 0 0 Z\nM 100 -200 L 200 -200 L 100 0 L 100 -200 Z\n"},
        {"point matching, word arguments, transformed component",
         {{1, 0, 0}, {1, 2, 1, {0, 0x4000, -0x4000, 0}, true, true}},
         "M 0 0 L 100 0 L 0 200 L 0 0 Z\nM 0 100 L 0 200 L -200 100 L 0 100 Z\n"},
    };
    for (const Case& c : cases) {
        Loaded l(transformFont({compositeGlyph(c.components)}));
        ASSERT_EQ(l.load(3), 0) << c.what;
        EXPECT_EQ(l.text(), c.expected) << c.what;
    }
    // The scaled-offset boundary: within 33/16384 of each other the two values still double m, 34 apart
    // they do not; x offset 64 stays 64 when doubled (m = 2 x 0.5) and halves otherwise.
    {
        Loaded l(transformFont(
            {compositeGlyph({{1, 64, 0, {0x2000, 0x2000 - 33, 0, 0x4000}, false, false, 0x0800}}),
             compositeGlyph({{1, 64, 0, {0x2000, 0x2000 - 34, 0, 0x4000}, false, false, 0x0800}}),
             compositeGlyph({{1, 64, 0, {0x2000, 0x2000 - 34, 0, 0x4000}}})}));
        ASSERT_EQ(l.load(3), 0);
        EXPECT_EQ(l.outline->points[0].x, 64 * 64);
        ASSERT_EQ(l.load(4), 0);
        EXPECT_EQ(l.outline->points[0].x, 32 * 64);
        ASSERT_EQ(l.load(5), 0);  // without bit 11 the offset is as stored
        EXPECT_EQ(l.outline->points[0].x, 64 * 64);
    }
}

TEST(TrueTypeGlyphTest, PointMatchingBoundsAndUnsignedPointNumbers) {
    // A base glyph of 200 points (one contour), so that byte point numbers above 127 exist.
    Contour many;
    for (int i = 0; i < 200; ++i) many.push_back({i, i % 2});
    GlyphFont f = transformFont({
        compositeGlyph({{7, 0, 0}, {1, 150, 0, {}, true}}),  // 3: point 150 is (150, 0); byte 150 is unsigned
        compositeGlyph({{1, 0, 0}, {1, 3, 0, {}, true}}),    // 4: the glyph so far has points 0..2 only
        compositeGlyph({{1, 0, 0}, {1, 0, 3, {}, true}}),    // 5: the triangle has points 0..2 only
        compositeGlyph({{1, 0, 0, {}, true}}),               // 6: nothing to match against yet
    });
    f.glyphs.push_back(simpleGlyph({many}));  // 7
    f.sideBearings.assign(f.glyphs.size(), 0);
    Loaded l(f);
    ASSERT_EQ(l.load(3), 0);
    EXPECT_EQ(l.outline->contourCount, 2u);
    const OutlinePoint& moved = l.outline->points[l.outline->contourStart[1]];
    EXPECT_EQ(moved.x, 150 * 64);
    EXPECT_EQ(moved.y, 0);
    EXPECT_EQ(l.load(4), kFontDataError);
    EXPECT_EQ(l.load(5), kFontDataError);
    EXPECT_EQ(l.load(6), kFontDataError);
}

TEST(TrueTypeGlyphTest, CompositeStructureRules) {
    FontBytes truncatedTransform;
    truncatedTransform.u16(0xFFFF).zeros(8).u16(0x0082).u16(1).u8(0).u8(0).u16(0x4000).u16(
        0);  // 2 of 4 values
    GlyphFont f = transformFont({
        compositeGlyph({{1, 0, 0}, {2, 300, 0}}),  // 3: two components
        compositeGlyph({{3, 0, 0}, {1, 0, 500}}),  // 4: a composite inside a composite (depth 2)
        compositeGlyph({{9, 0, 0}}),               // 5: a component past the last glyph
        truncatedTransform.vec(),                  // 6
    });
    Loaded l(f);
    ASSERT_EQ(l.load(3), 0);
    EXPECT_EQ(l.text(), "M 0 0 L 100 0 L 0 200 L 0 0 Z\nM 300 0 Q 350 100 400 0 L 300 0 Z\n");
    ASSERT_EQ(l.load(4), 0);
    EXPECT_EQ(l.text(),
              "M 0 0 L 100 0 L 0 200 L 0 0 Z\nM 300 0 Q 350 100 400 0 L 300 0 Z\nM 0 500 L 100 500 L 0 700 L "
              "0 500 Z\n");
    EXPECT_EQ(l.load(5), kFontDataError);
    EXPECT_EQ(l.load(6), kFontDataError);

    // The font's depth: 2 allows glyph 4, 1 does not (glyph 3 still loads).
    f.maxp.maxComponentDepth = 1;
    Loaded shallow(f);
    EXPECT_EQ(shallow.load(3), 0);
    EXPECT_EQ(shallow.load(4), kFontDataError);
    // The font's component count per composite: 2 allows glyph 3, 1 does not.
    f.maxp.maxComponentDepth = 8;
    f.maxp.maxComponentElements = 1;
    Loaded few(f);
    EXPECT_EQ(few.load(3), kFontDataError);
    EXPECT_EQ(few.load(4), kFontDataError);
}

TEST(TrueTypeGlyphTest, DepthAndComponentBoundsOfOurOwn) {
    // A glyph that includes itself, in a font that allows any depth: refused at our depth bound.
    GlyphFont self = transformFont({compositeGlyph({{3, 0, 0}})});
    self.maxp.maxComponentDepth = 65535;
    Loaded l(self);
    EXPECT_EQ(l.load(3), kFontDataError);

    // A chain of composites, each holding the next: the deepest we take is kMaxCompositeDepth levels.
    auto chain = [](uint16_t levels) {
        GlyphFont f = transformFont({});
        for (uint16_t i = 0; i < levels; ++i) {
            const uint16_t next = uint16_t(f.glyphs.size() + 1);
            f.glyphs.push_back(compositeGlyph({{i + 1 == levels ? uint16_t(1) : next, 1, 0}}));
        }
        f.sideBearings.assign(f.glyphs.size(), 0);
        f.maxp.maxComponentDepth = 65535;
        return f;
    };
    Loaded deepest(chain(kMaxCompositeDepth));
    ASSERT_EQ(deepest.load(3), 0);
    EXPECT_EQ(deepest.outline->points[0].x, int32_t(kMaxCompositeDepth) * 64);
    Loaded tooDeep(chain(kMaxCompositeDepth + 1));
    EXPECT_EQ(tooDeep.load(3), kFontDataError);

    // Components visited per glyph: a glyph of n composites of 64 (empty) components visits n + 64 n.
    // 63 such composites visit 4095 components, 64 visit 4160 > kMaxComponentsPerGlyph.
    static_assert(kMaxComponentsPerGlyph == 4096, "the counts below are made for 4096");
    auto fanOut = [](size_t n) {
        GlyphFont f = transformFont({});
        std::vector<Component> empties(64, Component{0, 0, 0});
        f.glyphs.push_back(compositeGlyph(empties));  // 3: 64 x the empty glyph 0
        f.glyphs.push_back(compositeGlyph(std::vector<Component>(n, Component{3, 0, 0})));  // 4
        f.sideBearings.assign(f.glyphs.size(), 0);
        return f;
    };
    Loaded under(fanOut(63));
    EXPECT_EQ(under.load(4), 0);
    Loaded over(fanOut(64));
    EXPECT_EQ(over.load(4), kFontDataError);

    // Exponential reuse is cut short: 8 levels of 64 x the level below would be 64^8 components.
    GlyphFont wide = transformFont({});
    for (int level = 0; level < 8; ++level) {
        const uint16_t below = level == 0 ? 1 : uint16_t(wide.glyphs.size() - 1);
        wide.glyphs.push_back(compositeGlyph(std::vector<Component>(64, Component{below, 0, 0})));
    }
    wide.sideBearings.assign(wide.glyphs.size(), 0);
    wide.maxp.maxCompositePoints = 65535;
    wide.maxp.maxComponentDepth = 65535;
    Loaded w(wide);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(w.load(uint32_t(wide.glyphs.size() - 1)), kFontDataError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(TrueTypeGlyphTest, ContourAndPointLimits) {
    // 71 contours of one point each load; 72 do not.
    auto dots = [](int n) {
        std::vector<Contour> c;
        for (int i = 0; i < n; ++i) c.push_back({{i, 0}});
        return simpleGlyph(c);
    };
    GlyphFont f;
    f.glyphs = {dots(71), dots(72), dots(1)};
    Loaded l(f);
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.outline->contourCount, 71u);
    EXPECT_EQ(l.load(1), kFontDataError);
    EXPECT_EQ(l.outline->contourCount, 0u);
    // The limit counts the contours the record already holds: 1 + 71 is too many, and the one stays.
    ASSERT_EQ(l.load(2), 0);
    EXPECT_EQ(l.font.getGlyphOutline(0, l.work, *l.outline), kFontDataError);
    EXPECT_EQ(l.outline->contourCount, 1u);
    ASSERT_EQ(l.font.getGlyphOutline(2, l.work, *l.outline), 0);  // appended after it
    EXPECT_EQ(l.text(), "M 0 0 L 0 0 Z\nM 0 0 L 0 0 Z\n");

    // 'maxp': a simple glyph of maxPoints points in maxContours contours loads, one more of either does
    // not, unless the composite maxima (which size the loader as well) are larger.
    Contour ten;
    for (int i = 0; i < 10; ++i) ten.push_back({i, 0});
    Contour eleven = ten;
    eleven.push_back({10, 0});
    GlyphFont m;
    m.glyphs = {simpleGlyph({ten}), simpleGlyph({eleven}), simpleGlyph({{{0, 0}}, {{1, 1}}, {{2, 2}}}),
                compositeGlyph({{0, 0, 0}, {0, 0, 0}})};
    m.maxp = {10, 2, 10, 2, 4, 2};
    Loaded exact(m);
    EXPECT_EQ(exact.load(0), 0);
    EXPECT_EQ(exact.load(1), kFontDataError);
    EXPECT_EQ(exact.load(2), kFontDataError);
    EXPECT_EQ(exact.load(3), kFontDataError);  // 20 points
    m.maxp = {10, 2, 20, 3, 4, 2};
    Loaded composite(m);
    EXPECT_EQ(composite.load(1), 0);
    EXPECT_EQ(composite.load(2), 0);
    EXPECT_EQ(composite.load(3), 0);
    EXPECT_EQ(composite.work.loader->maxPoints, 20);
    EXPECT_EQ(composite.work.loader->maxContours, 3);
}

TEST(TrueTypeGlyphTest, OutlineGrowsSixteenEntriesAtATime) {
    // One contour of 300 on-curve points: a move, 299 lines and the closing line, 301 entries; the record
    // grows from 256 in steps of 16 to 304.
    Contour c;
    for (int i = 0; i < 300; ++i) c.push_back({i, i * 3 % 7});
    GlyphFont f;
    f.glyphs = {simpleGlyph({c})};
    Loaded l(f);
    ASSERT_EQ(l.load(0), 0);
    EXPECT_EQ(l.outline->pointCount, 301u);
    EXPECT_EQ(l.outline->pointCapacity, 304u);
}

TEST(TrueTypeGlyphTest, CharacterCodes) {
    GlyphFont f = transformFont({});
    f.cmap = cmapFormat4(3, 1, 'A', 1, 2);  // 'A' -> 1, 'B' -> 2
    Loaded l(f);
    l.outline->clear();
    ASSERT_EQ(l.font.getCharOutline('B', l.work, *l.outline), 0);
    EXPECT_EQ(l.text(), "M 0 0 Q 50 100 100 0 L 0 0 Z\n");
    l.outline->clear();
    EXPECT_EQ(l.font.getCharOutline('C', l.work, *l.outline), kGlyphAbsent);

    f.cmap = cmapFormat4(0, 3, 'A', 1, 2);  // no (3, 1) subtable
    Loaded none(f);
    EXPECT_EQ(none.font.getCharOutline('A', none.work, *none.outline), kNoCharMap);
}

TEST(TrueTypeGlyphTest, ScaledOutline) {
    Loaded l(transformFont({}));
    ASSERT_EQ(l.load(2), 0);
    OutlineScaler* scaler = l.font.newScaler();
    ASSERT_NE(scaler, nullptr);
    scaler->setSize(12, 24);
    ASSERT_EQ(scaler->scaleOutline(*l.outline, nullptr), 0);
    // 12 x (50 x 64) / 1000 = 38.4 -> 38; 24 x (100 x 64) / 1000 = 153.6 -> 153.
    EXPECT_EQ(rawOutlineText(*l.outline), "M 0 0 Q 38 153 76 0 L 0 0 Z\n");
    delete scaler;
}

}  // namespace
