// The Type 2 charstring interpreter on crafted charstrings: every operator, the width rules, the contour
// rules, stems and masks, subroutines and their bias, the limits, the work budget and hostile arithmetic.
// Outlines compare as text in font units ("M x y L x y C x1 y1 x2 y2 x y Z", one contour per line).

// GCC 12 reports a false -Wrestrict inside libstdc++ for "literal" + std::string (GCC PR 105329), which the
// charstring texts below are built with.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include "cff/Type2Interpreter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sfnt/OutlineText.h"
#include "support/Type2Charstring.h"

namespace {

using type2::assemble;
using type2::Bytes;

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

// One charstring with its subroutines inside a small "file": 8 bytes before the CFF table, then the global
// and local Subr INDEXes, then the charstring.
class Program {
public:
    Program(const std::string& charstring, const std::vector<Bytes>& localSubrs = {},
            const std::vector<Bytes>& globalSubrs = {})
        : Program(assemble(charstring), localSubrs, globalSubrs) {}
    Program(const Bytes& charstring, const std::vector<Bytes>& localSubrs,
            const std::vector<Bytes>& globalSubrs) {
        m_file.assign(8, 0xEE);
        const Bytes global = type2::index(globalSubrs);
        const Bytes local = type2::index(localSubrs);
        const uint32_t globalAt = 0, localAt = uint32_t(global.size());
        m_start = uint32_t(global.size() + local.size());
        m_length = uint32_t(charstring.size());
        m_file.insert(m_file.end(), global.begin(), global.end());
        m_file.insert(m_file.end(), local.begin(), local.end());
        m_file.insert(m_file.end(), charstring.begin(), charstring.end());
        const uint8_t* cff = m_file.data() + 8;
        const uint32_t cffLength = uint32_t(m_file.size() - 8);
        EXPECT_EQ(m_global.parse(cff, cffLength, globalAt), 0);
        EXPECT_EQ(m_local.parse(cff, cffLength, localAt), 0);
        interpreter.data = m_file.data();
        interpreter.dataSize = uint32_t(m_file.size());
        interpreter.cffOffset = 8;
        interpreter.cffLength = cffLength;
        interpreter.globalSubrs = &m_global;
        interpreter.localSubrs = &m_local;
        interpreter.defaultWidthX = 500;
        interpreter.nominalWidthX = 100;
        outline.reset(newGlyphOutline(1000));
    }

    int16_t run(bool withHints = false) {
        return interpreter.run(m_start, m_length, *outline, withHints ? &hints : nullptr);
    }
    std::string text() const { return outlineText(*outline); }
    // The operands left on the stack, in font units.
    std::string stack() const {
        std::string s;
        for (int i = 0; i < interpreter.stackBase + interpreter.stackCount; ++i) {
            if (i) s += ' ';
            s += outline_text::units(interpreter.stack[i]);
        }
        return s;
    }
    std::string stems() const {
        std::string s;
        for (int i = 0; i < hints.hStemCount + hints.vStemCount; ++i)
            s += std::string(i ? " " : "") + (i < hints.hStemCount ? "h" : "v") +
                 outline_text::units(hints.stems[i].position) + "/" +
                 outline_text::units(hints.stems[i].width);
        return s;
    }
    std::string masks() const {
        std::string s;
        char buf[8];
        for (uint32_t i = 0; i < hints.maskCount; ++i) {
            const HintMaskEntry& m = hints.masks[i];
            if (i) s += ' ';
            s += std::to_string(m.contourIndex);
            s += ':';
            s += std::to_string(m.pointIndex);
            s += ':';
            for (uint8_t b : m.mask) {
                snprintf(buf, sizeof buf, "%02X", b);
                s += buf;
            }
        }
        return s;
    }

    Type2Interpreter interpreter;
    std::unique_ptr<GlyphOutline, OutlineDeleter> outline;
    HintRecord hints;
    uint32_t m_start = 0, m_length = 0;

private:
    Bytes m_file;
    CffSubrIndex m_global, m_local;
};

struct Case {
    const char* charstring;
    const char* outline;
};

void expectOutlines(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Program p(c.charstring);
        EXPECT_EQ(p.run(), 0) << c.charstring;
        EXPECT_EQ(p.text(), c.outline) << c.charstring;
    }
}

void expectStacks(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Program p(std::string(c.charstring) + " endchar");
        EXPECT_EQ(p.run(), 0) << c.charstring;
        EXPECT_EQ(p.stack(), c.outline) << c.charstring;
    }
}

void expectFailures(const std::vector<const char*>& charstrings, bool withHints = false) {
    for (const char* c : charstrings) {
        Program p(c);
        EXPECT_EQ(p.run(withHints), kFontDataError) << c;
    }
}

// 2^30 in 26.6 (2^24 units), made with the stack arithmetic.
const std::string kHuge = "i:16384 i:1024 mul";

TEST(Type2InterpreterTest, OperandEncodings) {
    expectOutlines({
        {"b:-107 b:107 rmoveto", "M -107 107 Z\n"},
        {"108 1131 rmoveto", "M 108 1131 Z\n"},
        {"-108 -1131 rmoveto", "M -108 -1131 Z\n"},
        {"i:-32768 i:32767 rmoveto", "M -32768 32767 Z\n"},
        {"i:5 b:0 rmoveto", "M 5 0 Z\n"},
        // 16.16 operands become 26.6 rounded half up: 1/128 unit rounds to 1/64, -1/128 to 0.
        {"f:1.5 f:-2.25 rmoveto", "M 1.5 -2.25 Z\n"},
        {"f:0x00000200 f:0xFFFFFE00 rmoveto", "M 0.015625 0 Z\n"},
        {"f:0x000001FF f:0xFFFFFDFF rmoveto", "M 0 -0.015625 Z\n"},
        {"f:0x7FFFFFFF f:0x80000000 rmoveto", "M 32768 -32768 Z\n"},
    });
    // The bytes that complete an operand must be there.
    expectFailures({"x:F7", "x:FB", "x:1C00", "x:FF000000", "10 x:1C"});
}

TEST(Type2InterpreterTest, WidthRules) {
    struct WidthCase {
        const char* charstring;
        int32_t advance;  // font units
        const char* outline;
    };
    // nominalWidthX 100, defaultWidthX 500.
    const WidthCase cases[] = {
        {"10 20 30 rmoveto 5 hlineto endchar", 110, "M 20 30 L 25 30 L 20 30 Z\n"},
        {"20 30 rmoveto endchar", 500, "M 20 30 Z\n"},
        {"1 2 3 4 rmoveto endchar", 500, "M 3 4 Z\n"},  // 4 operands: no width, the top two used
        {"7 10 20 30 40 hstem endchar", 107, ""},
        {"10 20 30 40 hstem endchar", 500, ""},
        {"7 10 20 vstem endchar", 107, ""},
        {"7 10 20 vstemhm endchar", 107, ""},
        {"7 10 20 hstemhm endchar", 107, ""},
        // A first hintmask or cntrmask that declares vertical stems implicitly takes a width below them.
        {"7 10 20 hintmask x:80 endchar", 107, ""},
        {"10 20 hintmask x:80 endchar", 500, ""},
        {"7 10 20 cntrmask x:80 endchar", 107, ""},
        {"7 hintmask x:80 endchar", 107, ""},
        {"7 50 vmoveto endchar", 107, "M 0 50 Z\n"},
        {"7 50 hmoveto endchar", 107, "M 50 0 Z\n"},
        {"7 endchar", 107, ""},
        {"endchar", 500, ""},
        {"", 500, ""},
        {"7", 107, ""},              // ends without endchar: treated as ending with it
        {"f:-1.5 endchar", 98, ""},  // the width operand is rounded down to a whole unit
        {"f:2.75 endchar", 102, ""},
        {"5 10 20 rlineto endchar", 500, "M 0 0 L 10 20 L 0 0 Z\n"},  // no width before a drawing operator
        {"1 2 add 4 endchar", 500, ""},  // the first operator (add) takes no width
    };
    for (const WidthCase& c : cases) {
        Program p(c.charstring);
        EXPECT_EQ(p.run(true), 0) << c.charstring;
        EXPECT_EQ(p.outline->advance, c.advance * 64) << c.charstring;
        EXPECT_EQ(p.text(), c.outline) << c.charstring;
    }
    // An advance that does not fit in 32-bit 26.6.
    Program nominal("10 endchar");
    nominal.interpreter.nominalWidthX = INT32_MAX;
    EXPECT_EQ(nominal.run(), kFontDataError);
    Program fallback("endchar");
    fallback.interpreter.defaultWidthX = INT32_MAX / 64 + 1;
    EXPECT_EQ(fallback.run(), kFontDataError);
    Program fits("endchar");
    fits.interpreter.defaultWidthX = INT32_MAX / 64;
    EXPECT_EQ(fits.run(), 0);
    EXPECT_EQ(fits.outline->advance, INT32_MAX / 64 * 64);
}

TEST(Type2InterpreterTest, LinesAndCurves) {
    expectOutlines({
        {"0 0 rmoveto 100 0 rlineto 0 100 rlineto", "M 0 0 L 100 0 L 100 100 L 0 0 Z\n"},
        {"0 0 rmoveto 99 100 0 0 100 rlineto", "M 0 0 L 100 0 L 100 100 L 0 0 Z\n"},  // odd: bottom skipped
        {"0 0 rmoveto 10 20 30 hlineto", "M 0 0 L 10 0 L 10 20 L 40 20 L 0 0 Z\n"},
        {"0 0 rmoveto 10 20 30 vlineto", "M 0 0 L 0 10 L 20 10 L 20 40 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 rrcurveto", "M 0 0 C 1 2 4 6 9 12 L 0 0 Z\n"},
        {"0 0 rmoveto 99 98 1 2 3 4 5 6 rrcurveto", "M 0 0 C 1 2 4 6 9 12 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 1 1 1 1 1 1 rrcurveto",
         "M 0 0 C 1 2 4 6 9 12 C 10 13 11 14 12 15 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 rcurveline", "M 0 0 C 1 2 4 6 9 12 L 16 20 L 0 0 Z\n"},
        {"0 0 rmoveto 99 1 2 3 4 5 6 7 8 rcurveline", "M 0 0 C 1 2 4 6 9 12 L 16 20 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 rlinecurve", "M 0 0 L 1 2 C 4 6 9 12 16 20 L 0 0 Z\n"},
        {"0 0 rmoveto 99 1 2 3 4 5 6 7 8 rlinecurve", "M 0 0 L 1 2 C 4 6 9 12 16 20 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 vvcurveto", "M 0 0 C 0 1 2 4 2 8 L 0 0 Z\n"},
        {"0 0 rmoveto 9 1 2 3 4 vvcurveto", "M 0 0 C 9 1 11 4 11 8 L 0 0 Z\n"},
        {"0 0 rmoveto 98 9 1 2 3 4 vvcurveto", "M 0 0 C 9 1 11 4 11 8 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 vvcurveto", "M 0 0 C 0 1 2 4 2 8 C 2 13 8 20 8 28 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 hhcurveto", "M 0 0 C 1 0 3 3 7 3 L 0 0 Z\n"},
        {"0 0 rmoveto 9 1 2 3 4 hhcurveto", "M 0 0 C 1 9 3 12 7 12 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 vhcurveto", "M 0 0 C 0 1 2 4 6 4 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 vhcurveto", "M 0 0 C 0 1 2 4 6 9 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 vhcurveto", "M 0 0 C 0 1 2 4 6 4 C 11 4 17 11 17 19 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 hvcurveto", "M 0 0 C 1 0 3 3 3 7 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 9 hvcurveto", "M 0 0 C 1 0 3 3 3 7 C 3 12 9 19 17 28 L 0 0 Z\n"},
        // Counts of 4k + 2 and 4k + 3: the topmost 4k + 1 are used.
        {"0 0 rmoveto 99 1 2 3 4 5 hvcurveto", "M 0 0 C 1 0 3 3 8 7 L 0 0 Z\n"},
        {"0 0 rmoveto 98 99 1 2 3 4 5 hvcurveto", "M 0 0 C 1 0 3 3 8 7 L 0 0 Z\n"},
        // The flex family: two curves each.
        {"0 0 rmoveto 1 2 3 4 5 6 7 hflex", "M 0 0 C 1 0 3 3 7 3 C 12 3 18 0 25 0 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 9 10 11 12 50 flex",
         "M 0 0 C 1 2 4 6 9 12 C 16 20 25 30 36 42 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 9 hflex1", "M 0 0 C 1 2 4 6 9 6 C 15 6 22 14 31 0 L 0 0 Z\n"},
        {"0 0 rmoveto 1 2 3 4 5 6 7 8 9 10 11 flex1", "M 0 0 C 1 2 4 6 9 12 C 16 20 25 30 0 41 L 0 0 Z\n"},
        // |dx| = |dy|: the flex ends horizontally, (d6, -dy).
        {"0 0 rmoveto 1 1 1 1 1 1 1 1 1 1 5 flex1", "M 0 0 C 1 1 2 2 3 3 C 4 4 5 5 10 0 L 0 0 Z\n"},
        {"0 0 rmoveto -1 1 -1 1 -1 1 -1 1 -1 1 5 flex1", "M 0 0 C -1 1 -2 2 -3 3 C -4 4 -5 5 0 0 Z\n"},
        // Surplus operands of the flex family are skipped at the bottom.
        {"0 0 rmoveto 99 98 1 2 3 4 5 6 7 hflex", "M 0 0 C 1 0 3 3 7 3 C 12 3 18 0 25 0 L 0 0 Z\n"},
    });
    // Too few operands.
    expectFailures({"0 0 rmoveto 1 rlineto", "0 0 rmoveto hlineto", "0 0 rmoveto vlineto",
                    "0 0 rmoveto 1 2 3 4 5 rrcurveto", "0 0 rmoveto 1 2 3 4 5 6 7 rcurveline",
                    "0 0 rmoveto 1 2 3 4 5 6 7 rlinecurve", "0 0 rmoveto 1 2 3 vvcurveto",
                    "0 0 rmoveto 1 2 3 hhcurveto", "0 0 rmoveto 1 2 3 vhcurveto",
                    "0 0 rmoveto 1 2 3 hvcurveto", "0 0 rmoveto 1 2 3 4 5 6 hflex",
                    "0 0 rmoveto 1 2 3 4 5 6 7 8 9 10 11 12 flex", "0 0 rmoveto 1 2 3 4 5 6 7 8 hflex1",
                    "0 0 rmoveto 1 2 3 4 5 6 7 8 9 10 flex1", "1 rmoveto", "hmoveto", "vmoveto"});
}

TEST(Type2InterpreterTest, ContourRules) {
    expectOutlines({
        // A contour that ends at its first point gets no closing line; one that moved elsewhere gets one.
        {"0 0 rmoveto 100 0 rlineto -100 0 rlineto endchar", "M 0 0 L 100 0 L 0 0 Z\n"},
        {"0 0 rmoveto 100 0 rlineto endchar", "M 0 0 L 100 0 L 0 0 Z\n"},
        // A moveto closes the contour; it moves from the current point, not from the contour's start.
        {"0 0 rmoveto 100 hlineto 50 50 rmoveto 10 vlineto endchar",
         "M 0 0 L 100 0 L 0 0 Z\nM 150 50 L 150 60 L 150 50 Z\n"},
        // Contours of only their move entry.
        {"10 10 rmoveto 20 20 rmoveto endchar", "M 10 10 Z\nM 30 30 Z\n"},
        // Drawing before any moveto starts a contour at the current point (0, 0).
        {"10 hlineto 20 vlineto", "M 0 0 L 10 0 L 10 20 L 0 0 Z\n"},
        // endchar inside the charstring ends the glyph; what follows is never read.
        {"0 0 rmoveto 10 hlineto endchar 5 5 rmoveto x:FFFF", "M 0 0 L 10 0 L 0 0 Z\n"},
    });

    // 72 contours are the record's capacity (73 contour starts); the 73rd moveto fails and the outline
    // keeps the 72 contours, with its sentinel written.
    std::string moves;
    for (int i = 0; i < 72; ++i) moves += "1 hmoveto 1 vlineto ";
    Program full(moves + "endchar");
    ASSERT_EQ(full.run(), 0);
    EXPECT_EQ(full.outline->contourCount, 72u);
    EXPECT_EQ(full.outline->pointCount, 72u * 3);
    EXPECT_EQ(full.outline->contourStart[72], 72u * 3);
    // ... and such a glyph is drawn at any size like any other.
    PlainScaler plain(1000);
    plain.setSize(2000, 2000);
    std::unique_ptr<GlyphOutline, OutlineDeleter> scaled(newGlyphOutline(1000));
    ASSERT_EQ(plain.scaleOutline(*full.outline, scaled.get()), 0);
    EXPECT_EQ(scaled->contourCount, 72u);
    EXPECT_EQ(scaled->points[3 * 71 + 1].y, 2 * full.outline->points[3 * 71 + 1].y);
    Program over(moves + "1 hmoveto endchar");
    EXPECT_EQ(over.run(), kFontDataError);
    EXPECT_EQ(over.outline->contourCount, 72u);
    EXPECT_EQ(over.outline->contourStart[72], over.outline->pointCount);
    EXPECT_EQ(over.outline->pointCount, 72u * 3);  // the last contour closed before the refusal
    // Implicit contours count too.
    Program implicit(moves + "5 hlineto");
    EXPECT_EQ(implicit.run(), 0);  // drawing after a moveto: no new contour
    EXPECT_EQ(implicit.outline->contourCount, 72u);

    // Many points: the record grows while the glyph is built.
    std::string many = "0 0 rmoveto";
    for (int i = 0; i < 200; ++i)
        many += " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 hlineto";
    Program grown(many);
    ASSERT_EQ(grown.run(), 0);
    EXPECT_EQ(grown.outline->pointCount, 1u + 200 * 24 + 1);
    EXPECT_GE(grown.outline->pointCapacity, grown.outline->pointCount);
    EXPECT_EQ(grown.outline->points[4800].x, 200 * 144 * 64);  // 200 x (1 + 3 + ... + 23)
    EXPECT_EQ(grown.outline->points[4800].y, 200 * 156 * 64);  // 200 x (2 + 4 + ... + 24)
}

TEST(Type2InterpreterTest, StemsAndMasks) {
    {
        Program p("10 20 30 40 hstem 5 6 vstem 1 2 hstem 100 -21 200 -20 hstemhm endchar");
        ASSERT_EQ(p.run(true), 0);
        // hstem pairs run on from edge + width; a later hstem goes before the stored vertical stems; a
        // bottom ghost (-21) is stored shifted by its width, a top ghost (-20) is not.
        EXPECT_EQ(p.stems(), "h10/20 h60/40 h1/2 h79/-21 h279/-20 v5/6");
        EXPECT_EQ(p.interpreter.hintCount, 6);
    }
    {
        // Mask entries: contour index, points of that contour so far, the mask bytes zero-filled.
        Program p(
            "1 2 3 4 hstemhm 5 6 7 8 9 10 11 12 13 14 vstemhm hintmask x:A0 0 0 rmoveto 10 hlineto "
            "hintmask x:40 20 vlineto 5 5 rmoveto cntrmask x:FF 1 hlineto hintmask x:01 endchar");
        ASSERT_EQ(p.run(true), 0);
        EXPECT_EQ(p.interpreter.hintCount, 7);
        EXPECT_EQ(p.masks(), "0:0:A000000000000000 0:2:4000000000000000 1:2:0100000000000000");
        EXPECT_EQ(p.text(), "M 0 0 L 10 0 L 10 20 L 0 0 Z\nM 15 25 L 16 25 L 15 25 Z\n");
    }
    {
        // Operands before hintmask are vertical stems (implicit vstemhm); 9 stems give 2 mask bytes.
        Program p("1 2 3 4 hstemhm 1 1 2 2 3 3 4 4 5 5 6 6 7 7 hintmask x:FF80 0 0 rmoveto endchar");
        ASSERT_EQ(p.run(true), 0);
        EXPECT_EQ(p.interpreter.hintCount, 9);
        EXPECT_EQ(p.masks(), "0:0:FF80000000000000");
        EXPECT_EQ(p.text(), "M 0 0 Z\n");
        // The second mask byte is taken whatever it is: here the first "0", so rmoveto finds one operand.
        Program q("1 2 3 4 hstemhm 1 1 2 2 3 3 4 4 5 5 6 6 7 7 hintmask x:FF 0 0 rmoveto endchar");
        EXPECT_EQ(q.run(true), kFontDataError);
        EXPECT_EQ(q.masks(), "0:0:FF8B000000000000");
    }
    {
        // A width below the implicit stems of the first mask operator is no stem.
        Program p("-5 1 2 3 4 hintmask x:C0 0 0 rmoveto endchar");
        ASSERT_EQ(p.run(true), 0);
        EXPECT_EQ(p.outline->advance, 95 * 64);
        EXPECT_EQ(p.stems(), "v1/2 v6/4");
    }
    {
        // No stems: a 1-byte mask.
        Program p("hintmask x:80 0 0 rmoveto endchar");
        ASSERT_EQ(p.run(true), 0);
        EXPECT_EQ(p.masks(), "0:0:8000000000000000");
    }

    // 64 stems with a record: accepted, 8 mask bytes; 65 fail with a record and are accepted without one,
    // but their mask would need 9 bytes.
    std::string sixteen, stems64, stems65;
    for (int i = 0; i < 16; ++i) sixteen += "1 1 ";
    stems64 = sixteen + "hstem " + sixteen + "hstem " + sixteen + "vstem " + sixteen + "vstem ";
    stems65 = stems64 + "1 1 vstem ";
    {
        Program p(stems64 + "hintmask x:FFFFFFFFFFFFFFFF 0 0 rmoveto endchar");
        ASSERT_EQ(p.run(true), 0);
        EXPECT_EQ(p.hints.hStemCount, 32);
        EXPECT_EQ(p.hints.vStemCount, 32);
        EXPECT_EQ(p.masks(), "0:0:FFFFFFFFFFFFFFFF");
    }
    {
        Program p(stems65 + "endchar");
        EXPECT_EQ(p.run(true), kFontDataError);
        EXPECT_EQ(p.hints.hStemCount + p.hints.vStemCount, 64);  // the refused operator stored nothing
        Program q(stems65 + "endchar");
        EXPECT_EQ(q.run(false), 0);
        EXPECT_EQ(q.interpreter.hintCount, 65);
        Program r(stems65 + "hintmask x:FFFFFFFFFFFFFFFFFF 0 0 rmoveto endchar");
        EXPECT_EQ(r.run(false), kFontDataError);
        Program s(stems65 + "cntrmask x:FFFFFFFFFFFFFFFFFF 0 0 rmoveto endchar");
        EXPECT_EQ(s.run(false), kFontDataError);
    }
    // Mask bytes missing from the charstring; too few stem operands.
    expectFailures({"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 hstem hintmask x:FF", "hintmask", "1 hstem",
                    "hstem", "1 vstem"},
                   true);
    // Stem operands that are not kept need no room: many stems without a record, then no mask.
    std::string lots;
    for (int i = 0; i < 3000; ++i) lots += "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 hstem ";
    Program p(lots + "endchar");
    EXPECT_EQ(p.run(false), 0);
    EXPECT_EQ(p.interpreter.hintCount, INT16_MAX);  // saturated, never wrapped

    // A record is cleared by each run, so one record serves glyph after glyph.
    Program twice("10 20 hstem hintmask x:80 endchar");
    ASSERT_EQ(twice.run(true), 0);
    ASSERT_EQ(twice.run(true), 0);
    EXPECT_EQ(twice.stems(), "h10/20");
    EXPECT_EQ(twice.hints.maskCount, 1u);
}

TEST(Type2InterpreterTest, MaskListGrows) {
    std::string masks = "1 2 hstem 0 0 rmoveto";
    for (int i = 0; i < 100; ++i) masks += " hintmask x:80 1 hlineto";
    Program p(masks);
    ASSERT_EQ(p.run(true), 0);
    ASSERT_EQ(p.hints.maskCount, 100u);
    EXPECT_GE(p.hints.maskCapacity, 100u);
    EXPECT_EQ(p.hints.masks[99].pointIndex, 100);
    p.hints.release();
    EXPECT_EQ(p.hints.masks, nullptr);
    EXPECT_EQ(p.hints.maskCapacity, 0u);
    EXPECT_EQ(p.hints.maskCount, 0u);
}

TEST(Type2InterpreterTest, Subroutines) {
    const Bytes move = assemble("10 20 rmoveto return");
    const Bytes mark1 = assemble("1 hmoveto");
    const Bytes mark2 = assemble("2 hmoveto");
    {
        Program p(assemble("-107 callsubr 5 hlineto endchar"), {move}, {});
        ASSERT_EQ(p.run(), 0);
        EXPECT_EQ(p.text(), "M 10 20 L 15 20 L 10 20 Z\n");
        EXPECT_EQ(p.interpreter.operatorsExecuted, 5u);  // callsubr, rmoveto, return, hlineto, endchar
    }
    {
        Program p(assemble("-107 callgsubr endchar"), {}, {move});
        ASSERT_EQ(p.run(), 0);
        EXPECT_EQ(p.text(), "M 10 20 Z\n");
        Program local(assemble("-107 callgsubr endchar"), {move}, {});
        EXPECT_EQ(local.run(), kFontDataError);  // no global subroutines
    }
    {
        // The number's integer part is rounded toward minus infinity: -106.5 is -107, subroutine 0.
        Program p(assemble("f:-106.5 callsubr endchar"), {mark1, mark2}, {});
        ASSERT_EQ(p.run(), 0);
        EXPECT_EQ(p.text(), "M 1 0 Z\n");
    }
    // Bias edges: 1239 subroutines 107, 1240 1131, 33899 1131, 33900 32768.
    struct BiasCase {
        uint32_t count;
        const char* first;  // the number that calls subroutine 0
        const char* last;   // ... and count - 1
        const char* below;  // ... one below the first
        const char* above;  // ... one above the last
    };
    const BiasCase biases[] = {
        {1, "-107", "-107", "-108", "-106"},
        {1239, "-107", "1131", "-108", "1132"},
        {1240, "-1131", "108", "-1132", "109"},
        {33899, "-1131", "i:32767", "-1132", "i:32767 1 add"},
        {33900, "i:-32768", "1131", "i:-32768 1 sub", "1132"},
    };
    for (const BiasCase& b : biases) {
        std::vector<Bytes> subrs;
        for (uint32_t i = 0; i < b.count; ++i)
            subrs.push_back(i == 0 ? mark1 : i + 1 == b.count ? mark2 : Bytes());
        const std::string count = std::to_string(b.count);
        Program first(assemble(std::string(b.first) + " callsubr"), subrs, {});
        EXPECT_EQ(first.run(), 0) << count;
        EXPECT_EQ(first.text(), "M 1 0 Z\n") << count;
        Program last(assemble(std::string(b.last) + " callsubr"), subrs, {});
        EXPECT_EQ(last.run(), 0) << count;
        EXPECT_EQ(last.text(), b.count > 1 ? "M 2 0 Z\n" : "M 1 0 Z\n") << count;
        Program below(assemble(std::string(b.below) + " callsubr"), subrs, {});
        EXPECT_EQ(below.run(), kFontDataError) << count;
        Program above(assemble(std::string(b.above) + " callsubr"), subrs, {});
        EXPECT_EQ(above.run(), kFontDataError) << count;
        Program global(assemble(std::string(b.first) + " callgsubr"), {}, subrs);
        EXPECT_EQ(global.run(), 0) << count;
        EXPECT_EQ(global.text(), "M 1 0 Z\n") << count;
    }

    {
        // Ten nested calls are allowed, an eleventh fails: the charstring calls subroutine 0, which calls 1
        // ...
        auto nested = [&](int frames) {
            std::vector<Bytes> subrs;
            for (int i = 0; i + 1 < frames; ++i)
                subrs.push_back(assemble(std::to_string(i + 1 - 107) + " callsubr"));
            subrs.push_back(assemble("7 hmoveto"));
            Program p(assemble("-107 callsubr 1 vlineto endchar"), subrs, {});
            const int16_t status = p.run();
            return std::make_pair(status, p.text());
        };
        EXPECT_EQ(nested(10), std::make_pair(int16_t(0), std::string("M 7 0 L 7 1 L 7 0 Z\n")));
        EXPECT_EQ(nested(11).first, kFontDataError);
    }

    expectFailures({"return", "callsubr", "0 callsubr", "5 return"});
    {
        // endchar inside a subroutine ends the glyph.
        Program p(assemble("-107 callsubr 99 99 rmoveto"), {assemble("10 20 rmoveto 30 hlineto endchar")},
                  {});
        ASSERT_EQ(p.run(), 0);
        EXPECT_EQ(p.text(), "M 10 20 L 40 20 L 10 20 Z\n");
        // A subroutine without return goes back at its end; return in the middle returns early.
        Program q(assemble("-107 callsubr -106 callsubr endchar"),
                  {assemble("10 20 rmoveto"), assemble("5 hlineto return 99 vlineto")}, {});
        ASSERT_EQ(q.run(), 0);
        EXPECT_EQ(q.text(), "M 10 20 L 15 20 L 10 20 Z\n");
        // Operands cross subroutine boundaries; an escape at the end of a subroutine has no second byte.
        Program r(assemble("10 -107 callsubr rmoveto endchar"), {assemble("20")}, {});
        ASSERT_EQ(r.run(), 0);
        EXPECT_EQ(r.text(), "M 10 20 Z\n");
        Program s(assemble("1 2 -107 callsubr x:0A endchar"), {assemble("x:0C")}, {});
        EXPECT_EQ(s.run(), kFontDataError);
    }
}

TEST(Type2InterpreterTest, OperatorBudget) {
    // Exactly kType2OperatorBudget operators pass, one more fails: subroutine 0 is 1000 put operators (which
    // do nothing), called 199 times, plus 800 puts and endchar in the charstring.
    std::string thousand;
    for (int i = 0; i < 1000; ++i) thousand += "put ";
    const Bytes subr = assemble(thousand);
    static_assert(kType2OperatorBudget == 200000, "the counts below add up to the budget");
    std::string body;
    for (int i = 0; i < 199; ++i) body += "-107 callsubr ";
    for (int i = 0; i < 800; ++i) body += "put ";
    {
        Program p(assemble(body + "endchar"), {subr}, {});
        ASSERT_EQ(p.run(), 0);
        EXPECT_EQ(p.interpreter.operatorsExecuted, kType2OperatorBudget);
    }
    {
        Program p(assemble(body + "put endchar"), {subr}, {});
        EXPECT_EQ(p.run(), kFontDataError);
        EXPECT_EQ(p.interpreter.operatorsExecuted, kType2OperatorBudget);
    }
    {
        // A shallow charstring of exponential work: each of 10 levels calls the next one 20 times. It is
        // refused after the budget, in a few milliseconds instead of 20^10 calls.
        std::vector<Bytes> subrs;
        for (int level = 0; level < 9; ++level) {
            std::string calls;
            for (int i = 0; i < 20; ++i) calls += std::to_string(level + 1 - 107) + " callsubr ";
            subrs.push_back(assemble(calls));
        }
        subrs.push_back(assemble("1 1 rlineto"));
        Program p(assemble("0 0 rmoveto -107 callsubr endchar"), subrs, {});
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(p.run(), kFontDataError);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
        EXPECT_EQ(p.interpreter.operatorsExecuted, kType2OperatorBudget);
    }
}

TEST(Type2InterpreterTest, Arithmetic) {
    expectStacks({
        {"3 4 add", "7"},
        {"3 4 sub", "-1"},
        {"3 4 mul", "12"},
        {"f:1.5 f:2.5 mul", "3.75"},
        {"f:-1.5 f:0.015625 mul", "-0.03125"},
        {"f:0.015625 f:0.015625 mul", "0"},           // (1 x 1) >> 6
        {"f:-0.015625 f:0.015625 mul", "-0.015625"},  // shifted toward minus infinity
        {"7 2 div", "3.5"},
        {"-7 2 div", "-3.5"},
        {"1 3 div", "0.328125"},  // 64 x 64 / 192 = 21.33, truncated
        {"-1 3 div", "-0.328125"},
        {"-5 abs", "5"},
        {"5 abs", "5"},
        {"5 neg", "-5"},
        {"0 not", "1"},
        {"5 not", "0"},
        {"1 0 and", "0"},
        {"1 2 and", "1"},
        {"0 0 or", "0"},
        {"0 3 or", "1"},
        {"3 3 eq", "1"},
        {"3 4 eq", "0"},
        {"1 2 drop", "1"},
        {"1 2 3 4 put", "1 2 3 4"},
        {"10 20 1 2 ifelse", "10"},  // the fourth not below the third: the first
        {"10 20 2 1 ifelse", "20"},
        {"10 20 2 2 ifelse", "10"},
        {"4 sqrt", "2"},
        {"2 sqrt", "1.40625"},  // floor(sqrt(2) x 64) / 64
        {"0 sqrt", "0"},
        {kHuge.c_str(), "16777216"},
        {(kHuge + " sqrt").c_str(), "4096"},
        {(kHuge + " f:0.015625 sub sqrt").c_str(), "4095.984375"},  // sqrt(2^30 - 1) x 8 = 262143.99
        {"5 dup", "5 5"},
        {"1 2 exch", "2 1"},
        {"1 2 3 0 index", "1 2 3 3"},
        {"1 2 3 2 index", "1 2 3 1"},
        {"1 2 3 -1 index", "1 2 3 3"},  // a negative index copies the element directly below
        {"1 2 3 f:1.9 index", "1 2 3 2"},
        {"1 2 3 3 1 roll", "3 1 2"},
        {"1 2 3 3 -1 roll", "2 3 1"},
        {"1 2 3 3 4 roll", "3 1 2"},
        {"1 2 3 3 -4 roll", "2 3 1"},
        {"1 2 3 2 1 roll", "1 3 2"},
        {"1 2 3 0 5 roll", "1 2 3"},
        {"1 2 3 3 0 roll", "1 2 3"},
    });
    // sqrt agrees with floor(sqrt(v) x 8) (v in 26.6) on both sides of 2^30, where FixedSqrt gives way.
    // Each value is built as q1 x q2 units plus r/64: v = 64 q1 q2 + r.
    struct SqrtCase {
        int64_t v;
        const char* code;
    };
    const SqrtCase roots[] = {
        {int64_t(1) << 29, "i:8192 i:1024 mul"},
        {(int64_t(1) << 30) - 1, "i:4095 i:4097 mul f:0x0000FC00 add"},
        {int64_t(1) << 30, "i:16384 i:1024 mul"},
        {(int64_t(1) << 30) + 1, "i:16384 i:1024 mul f:0x00000400 add"},
        {(int64_t(1) << 30) + 12345 * 64, "i:16384 i:1024 mul i:12345 add"},
        {int64_t(INT32_MAX), "i:18631 i:1801 mul f:0x0000FC00 add"},
    };
    for (const SqrtCase& c : roots) {
        uint64_t root = uint64_t(std::sqrt(double(c.v) * 64.0));
        while (root * root > uint64_t(c.v) * 64) --root;
        while ((root + 1) * (root + 1) <= uint64_t(c.v) * 64) ++root;
        Program value(std::string(c.code) + " endchar");
        ASSERT_EQ(value.run(), 0) << c.code;
        ASSERT_EQ(value.interpreter.stack[0], c.v) << c.code;
        Program p(std::string(c.code) + " sqrt endchar");
        ASSERT_EQ(p.run(), 0) << c.code;
        EXPECT_EQ(p.interpreter.stack[0], int32_t(root)) << c.code;
    }
    expectFailures({"1 0 div",
                    "-1 sqrt",
                    "add",
                    "1 add",
                    "sub",
                    "1 mul",
                    "1 div",
                    "abs",
                    "neg",
                    "not",
                    "1 and",
                    "1 or",
                    "1 eq",
                    "drop",
                    "1 2 3 ifelse",
                    "sqrt",
                    "dup",
                    "exch",
                    "1 exch",
                    "0 index",
                    "1 2 3 3 index",
                    "1 2 3 4 1 roll",
                    "1 2 3 -1 1 roll",
                    "1 roll",
                    "dotsection",
                    "1 get",
                    "esc:1",
                    "esc:2",
                    "esc:6",
                    "esc:7",
                    "esc:8",
                    "esc:13",
                    "esc:16",
                    "esc:17",
                    "esc:19",
                    "esc:21",
                    "esc:25",
                    "esc:31",
                    "esc:33",
                    "esc:38",
                    "esc:255",
                    "x:0C",
                    "op:0",
                    "op:2",
                    "op:9",
                    "op:13",
                    "op:15",
                    "op:16",
                    "op:17"});
}

TEST(Type2InterpreterTest, Random) {
    // seed = seed x 123456789 + 987654321 (32-bit); the value pushed is 64 - (seed mod 64), in (0, 1].
    uint32_t seed = 0;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        seed = seed * 123456789u + 987654321u;
        if (i) expected += ' ';
        expected += outline_text::units(int32_t(64 - (seed & 63)));
    }
    std::string code;
    for (int i = 0; i < 40; ++i) code += "random ";
    Program p(code + "endchar");
    ASSERT_EQ(p.run(), 0);
    EXPECT_EQ(p.stack(), expected);
    EXPECT_EQ(uint32_t(p.interpreter.randomSeed), seed);
    // The seed goes on from run to run; every value lies in 1..64 (26.6).
    for (int run = 0; run < 200; ++run) {
        Program q("random endchar");
        q.interpreter.randomSeed = int32_t(run * 7919u * 2654435761u);
        ASSERT_EQ(q.run(), 0);
        EXPECT_GE(q.interpreter.stack[0], 1);
        EXPECT_LE(q.interpreter.stack[0], 64);
    }
}

TEST(Type2InterpreterTest, StackLimit) {
    std::string operands;
    for (int i = 0; i < 48; ++i) operands += "1 ";
    Program full("0 0 rmoveto " + operands + "rlineto endchar");
    ASSERT_EQ(full.run(), 0);
    EXPECT_EQ(full.outline->pointCount, 1u + 24 + 1);
    expectFailures({("0 0 rmoveto " + operands + "1 rlineto").c_str(), (operands + "dup").c_str(),
                    (operands + "random").c_str()});
    Program dup47(operands.substr(2) + "dup endchar");
    EXPECT_EQ(dup47.run(), 0);
}

TEST(Type2InterpreterTest, HostileValuesNeverWrap) {
    const std::string minimum = "i:-32768 i:1024 mul";  // -2^31 in 26.6
    expectStacks({
        {minimum.c_str(), "-33554432"},
        {(minimum + " 1 add").c_str(), "-33554431"},
        {(kHuge + " dup f:0.015625 sub add").c_str(), "33554431.984375"},  // INT32_MAX
    });
    expectFailures({
        (minimum + " neg").c_str(),
        (minimum + " abs").c_str(),
        (minimum + " 1 sub").c_str(),
        (kHuge + " dup add").c_str(),
        (minimum + " -1 mul").c_str(),
        "i:32767 i:32767 mul",
        (kHuge + " f:0.015625 div").c_str(),
        (minimum + " f:-0.015625 div").c_str(),
    });
    // Points beyond the 32-bit range: the refused operator appends nothing.
    {
        Program p(kHuge + " 0 rmoveto " + kHuge + " 0 rlineto");
        EXPECT_EQ(p.run(), kFontDataError);
        EXPECT_EQ(p.text(), "M 16777216 0 Z\n");
        EXPECT_EQ(p.interpreter.currentX, 1 << 30);
    }
    {
        Program p(kHuge + " " + kHuge + " rmoveto " + kHuge + " " + kHuge + " 0 0 0 0 rrcurveto");
        EXPECT_EQ(p.run(), kFontDataError);
        EXPECT_EQ(p.outline->pointCount, 1u);
    }
    for (const char* flex : {"hflex", "flex", "hflex1", "flex1"}) {
        // The running sums of the flex operators: each value fits, their sum does not.
        std::string values;
        for (int i = 0; i < 13; ++i) values += kHuge + " ";
        Program p("0 0 rmoveto " + values + flex);
        EXPECT_EQ(p.run(), kFontDataError) << flex;
        EXPECT_EQ(p.outline->pointCount, 1u) << flex;
    }
    {
        // hflex1's final dy is -(dy1 + dy2 + dy5): from y = -1.5 x 2^30 every point fits, and the sum
        // (3 x 2^30) is taken in 64 bits, so the flex returns exactly to its starting height.
        Program p("0 " + kHuge + " " + kHuge + " 2 div add neg rmoveto 0 " + kHuge + " 0 " + kHuge +
                  " 0 0 0 " + kHuge + " 0 hflex1");
        ASSERT_EQ(p.run(), 0);
        ASSERT_EQ(p.outline->pointCount, 3u);
        EXPECT_EQ(p.outline->points[0].y, -(3 << 29));
        EXPECT_EQ(p.outline->points[2].y, -(3 << 29));
        EXPECT_EQ(p.outline->points[2].cy2, (1 << 30) + (1 << 29));
    }
    // Stem edges: refused with a record (it would store them), accepted without (nothing is stored).
    {
        const std::string stems = kHuge + " " + kHuge + " " + kHuge + " 0 hstem endchar";
        Program with(stems);
        EXPECT_EQ(with.run(true), kFontDataError);
        EXPECT_EQ(with.hints.hStemCount, 0);
        Program without(stems);
        EXPECT_EQ(without.run(false), 0);
    }
}

TEST(Type2InterpreterTest, ReadsOnlyInsideTheTable) {
    Program p("0 0 rmoveto endchar");
    EXPECT_EQ(p.interpreter.run(p.m_start, p.m_length + 1, *p.outline, nullptr), kFontDataError);
    EXPECT_EQ(p.interpreter.run(UINT32_MAX, 2, *p.outline, nullptr), kFontDataError);
    p.interpreter.cffLength += 1;  // a table that claims a byte beyond the buffer
    EXPECT_EQ(p.interpreter.run(p.m_start, p.m_length, *p.outline, nullptr), kFontDataError);
    p.interpreter.cffLength -= 1;
    p.interpreter.data = nullptr;
    EXPECT_EQ(p.interpreter.run(p.m_start, p.m_length, *p.outline, nullptr), kFontDataError);
}

}  // namespace
