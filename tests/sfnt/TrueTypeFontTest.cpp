// The TrueType font object's load: the five glyph tables, their limits, the collection-header test, and
// the horizontal metrics accessor.
#include <gtest/gtest.h>

#include "sfnt/TrueTypeFont.h"
#include "tests/sfnt/TrueTypeParts.h"

namespace {

using namespace ttparts;

int16_t load(TrueTypeFont& font, const Bytes& bytes, uint32_t offset = 0) {
    return font.loadTrueType(bytes.data(), uint32_t(bytes.size()), offset);
}

int16_t load(const Tables& tables) {
    TrueTypeFont font;
    const Bytes bytes = tables.build();
    return load(font, bytes);
}

TEST(TrueTypeFontTest, LoadsTheEightRequiredTables) {
    TrueTypeFont f;
    EXPECT_EQ(f.formatTag, TrueTypeFont::kTag);
    EXPECT_EQ(f.loca.indexToLocFormat, -1);
    // No 'OS/2' and no 'post': still a f.
    const Bytes bytes = font().build();
    ASSERT_EQ(load(f, bytes), 0);
    EXPECT_EQ(f.glyphCount, 3u);
    EXPECT_EQ(f.unitsPerEm, 2048);
    EXPECT_EQ(f.os2Length, 0u);
    EXPECT_EQ(f.hhea.version, 0x00010000u);
    EXPECT_EQ(f.hhea.descender, -200);
    EXPECT_EQ(f.hhea.xMaxExtent, 1050);
    EXPECT_EQ(f.hhea.reserved[0], 0);  // never filled
    EXPECT_EQ(f.hhea.numberOfHMetrics, 2);
    EXPECT_EQ(f.maxp.numGlyphs, 3);
    EXPECT_EQ(f.maxp.maxPoints, 20);
    EXPECT_EQ(f.maxp.maxComponentDepth, 1);
    EXPECT_EQ(f.hmtx.numGlyphs, 3);
    EXPECT_EQ(f.hmtx.numberOfHMetrics, 2);
    EXPECT_EQ(f.loca.numGlyphs, 3);
    EXPECT_EQ(f.loca.indexToLocFormat, 0);
    EXPECT_EQ(f.loca.maxGlyphLength, 20);
    EXPECT_EQ(f.glyfOffset, loadU32(bytes.data() + 12 + 16 + 8));

    uint32_t glyph = 0;
    EXPECT_EQ(f.charToGlyph('A', glyph), 0);
    EXPECT_EQ(glyph, 1u);

    // Metrics: long metrics, then the last advance with the glyph's own side bearing.
    uint16_t advance = 0;
    int16_t lsb = 0;
    EXPECT_EQ(f.hmtx.metrics(1, advance, lsb), 0);
    EXPECT_EQ(advance, 510);
    EXPECT_EQ(lsb, 1);
    EXPECT_EQ(f.hmtx.metrics(2, advance, lsb), 0);
    EXPECT_EQ(advance, 510);
    EXPECT_EQ(lsb, -2);
    EXPECT_EQ(f.hmtx.metrics(3, advance, lsb), kGlyphAbsent);

    f.release();
    EXPECT_EQ(f.loca.data, nullptr);
    EXPECT_EQ(f.hmtx.data, nullptr);
    EXPECT_EQ(f.name.data, nullptr);
    EXPECT_EQ(f.cmapIndex, -1);
    EXPECT_EQ(f.data, nullptr);
    EXPECT_EQ(f.hmtx.metrics(0, advance, lsb), kFontDataError);
}

TEST(TrueTypeFontTest, FailedLoadKeepsConstructionCounts) {
    TrueTypeFont f;
    const Bytes bytes = font().set("hhea", hhea(2, 35)).build();
    EXPECT_EQ(load(f, bytes), kFontDataError);
    EXPECT_EQ(f.glyphCount, 0u);
    EXPECT_EQ(f.unitsPerEm, 1000);
    // The shared tables before the failure were read.
    EXPECT_EQ(f.head.unitsPerEm, 2048);
}

TEST(TrueTypeFontTest, TableMinimumsAndVersions) {
    EXPECT_EQ(load(font().set("hhea", hhea(2, 36))), 0);
    EXPECT_EQ(load(font().set("hhea", hhea(2, 35))), kFontDataError);
    EXPECT_EQ(load(font().set("maxp", maxp(3, 0x00010000, 31))), kFontDataError);
    EXPECT_EQ(load(font().set("maxp", maxp(3, 0x00005000))), kFontDataError);  // version 0.5
    EXPECT_EQ(load(font().set("maxp", maxp(3, 0x80000000))), kFontDataError);  // negative as signed
    EXPECT_EQ(load(font().set("maxp", maxp(3, 0x00020000))), 0);
}

TEST(TrueTypeFontTest, HmtxLength) {
    // numGlyphs 3, numberOfHMetrics 1: 4 + 2 x 2 = 8 bytes.
    Tables t = font().set("hhea", hhea(1));
    EXPECT_EQ(load(t.set("hmtx", Bytes(8, 0))), 0);
    EXPECT_EQ(load(t.set("hmtx", Bytes(7, 0))), kFontDataError);
    // More long metrics than glyphs.
    EXPECT_EQ(load(font().set("hhea", hhea(4)).set("hmtx", Bytes(64, 0))), kFontDataError);
    // No long metric at all is a valid table for a font without glyphs only.
    Tables none = font().set("hhea", hhea(0)).set("hmtx", Bytes(6, 0));
    TrueTypeFont f;
    const Bytes bytes = none.build();
    ASSERT_EQ(load(f, bytes), 0);
    uint16_t advance = 1;
    int16_t lsb = 1;
    EXPECT_EQ(f.hmtx.metrics(0, advance, lsb), kFontDataError);
}

TEST(TrueTypeFontTest, LocaLengthsAndGlyphLengths) {
    // numGlyphs 0: the short form needs 2 bytes, the long form 4, and no glyph is examined.
    Tables zero = font().set("maxp", maxp(0)).set("hhea", hhea(0)).set("hmtx", Bytes());
    EXPECT_EQ(load(zero.set("loca", Bytes{0xFF, 0xFF})), 0);
    EXPECT_EQ(load(zero.set("loca", Bytes{0})), kFontDataError);
    Tables zeroLong = zero;
    zeroLong.set("head", head(2048, 1));
    EXPECT_EQ(load(zeroLong.set("loca", Bytes(4, 0))), 0);
    EXPECT_EQ(load(zeroLong.set("loca", Bytes(3, 0))), kFontDataError);
    // Any non-zero indexToLocFormat asks for the long form's length.
    Tables odd = font().set("head", head(2048, 2));
    EXPECT_EQ(load(odd.set("loca", loca({0, 0, 20, 32}, false))), kFontDataError);
    Bytes padded = loca({0, 0, 20, 32}, false);
    padded.resize(16, 0);
    EXPECT_EQ(load(odd.set("loca", padded)), 0);

    // Decreasing offsets fail.
    EXPECT_EQ(load(font().set("loca", loca({0, 20, 10, 32}, false))), kFontDataError);
    // A glyph of exactly 65536 bytes is accepted and kept as 65535; one byte more is refused.
    Tables big = font().set("head", head(2048, 1));
    TrueTypeFont f;
    const Bytes bytes = big.set("loca", loca({0, 0, 0x10000, 0x10000}, true)).build();
    ASSERT_EQ(load(f, bytes), 0);
    EXPECT_EQ(f.loca.maxGlyphLength, 65535);
    EXPECT_EQ(load(big.set("loca", loca({0, 0, 0x10001, 0x10001}, true))), kFontDataError);
    EXPECT_EQ(load(big.set("loca", loca({0, 0, 0x10000, 0x20000}, true))), 0);
}

TEST(TrueTypeFontTest, GlyphTablesAreCountedAndEachMustBeThere) {
    for (const char* tag : {"glyf", "hhea", "hmtx", "loca", "maxp"})
        EXPECT_EQ(load(font().drop(tag)), kFontDataError) << tag;
    // Six records: a duplicate counts twice.
    EXPECT_EQ(load(font().add("glyf", Bytes(4, 0))), kFontDataError);
    // Five records made of a duplicate and a missing table: without 'hmtx' (or 'loca') the glyph operations
    // would have no table to read, so the font is refused like one that lacks it.
    EXPECT_EQ(load(font().drop("hmtx").add("glyf", Bytes(4, 0))), kFontDataError);
    EXPECT_EQ(load(font().drop("loca").add("hhea", hhea(2))), kFontDataError);
    // The shared tables are required too.
    EXPECT_EQ(load(font().drop("head")), kFontDataError);
}

TEST(TrueTypeFontTest, CollectionHeaderTest) {
    const Tables one = font();
    const Bytes ttc = buildCollection({one.builder(), one.builder()}, 0, -1, 0);
    const uint32_t size = uint32_t(ttc.size());
    uint32_t offset = 0, numFonts = 0;
    ASSERT_TRUE(testCollectionHeader(ttc.data(), size, 0, offset, &numFonts));
    EXPECT_EQ(offset, 20u);
    EXPECT_EQ(numFonts, 2u);
    ASSERT_TRUE(testCollectionHeader(ttc.data(), size, 1, offset));
    TrueTypeFont second;
    ASSERT_EQ(load(second, ttc, offset), 0);
    EXPECT_EQ(second.fontOffset, offset);
    EXPECT_EQ(second.glyphCount, 3u);
    // A member that does not exist: the count is still reported.
    EXPECT_FALSE(testCollectionHeader(ttc.data(), size, 2, offset, &numFonts));
    EXPECT_EQ(numFonts, 2u);

    auto header = [](uint32_t tag, uint32_t version, uint32_t fonts, std::vector<uint32_t> offsets) {
        FontBytes b;
        b.u32(tag).u32(version).u32(fonts);
        for (uint32_t o : offsets) b.u32(o);
        return b.vec();
    };
    const uint32_t ttcf = tagValue("ttcf");
    auto test = [](const Bytes& b, uint32_t index = 0) {
        uint32_t o = 0, n = 0;
        const bool ok = testCollectionHeader(b.data(), uint32_t(b.size()), index, o, &n);
        return ok ? int64_t(o) : -1 - int64_t(n);  // the offset, or -1 - the count reported
    };
    EXPECT_EQ(test(header(ttcf, 0x00010000, 1, {16})), 16);  // offset = size: not beyond the file
    EXPECT_EQ(test(header(ttcf, 0x00010000, 1, {17})), -2);  // beyond it
    EXPECT_EQ(test(header(ttcf, 0x00020000, 1, {0})), 0);
    EXPECT_EQ(test(header(ttcf, 0x00030000, 1, {0})), -1);
    EXPECT_EQ(test(header(tagValue("ttcg"), 0x00010000, 1, {0})), -1);
    EXPECT_EQ(test(header(ttcf, 0x00010000, 0, {})), -1);
    EXPECT_EQ(test(header(ttcf, 0x00010000, 2, {0})), -1);  // the offsets end with the file
    EXPECT_EQ(test(header(ttcf, 0x00010000, 48, std::vector<uint32_t>(48, 0)), 47), 0);
    EXPECT_EQ(test(header(ttcf, 0x00010000, 49, std::vector<uint32_t>(49, 0))), -1);
    Bytes shortHeader = header(ttcf, 0x00010000, 1, {0});
    shortHeader.resize(11);
    EXPECT_EQ(test(shortHeader), -1);
}

}  // namespace
