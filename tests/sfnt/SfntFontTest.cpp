// The base font object: the directory reader's limits and refusals, the shared tables, the 'name' check and
// charToGlyph's selection of the (3,1) subtable.
#include <gtest/gtest.h>

#include "sfnt/NameCheck.h"
#include "sfnt/SfntFont.h"
#include "sfnt/TrueTypeFont.h"
#include "tests/sfnt/TrueTypeParts.h"

namespace {

using namespace ttparts;

constexpr uint32_t kSentinel = 0xA5A5A5A5;

// Reads the directory of the font in `bytes` at `base` with a base object; keeps a copy of the bytes, which
// the font refers into, until the next read.
struct Reader {
    SfntFont font;
    OffsetTable out;
    TableRecord records[kMaxTableRecords];
    Bytes kept;
    int16_t read(const Bytes& bytes, uint32_t base = 0, uint32_t size = UINT32_MAX) {
        for (TableRecord& r : records) r.tag = kSentinel;
        kept = bytes;
        font.data = kept.data();
        font.dataSize = size == UINT32_MAX ? uint32_t(kept.size()) : size;
        font.fontOffset = base;
        return font.readTableDirectory(out, records);
    }
};

// The three shared tables a directory needs, then `extra` filler tables of 4 bytes each.
Tables sharedTables(int extra) {
    Tables t;
    t.add("cmap", cmap({{3, 1}})).add("head", head()).add("name", name());
    for (int i = 0; i < extra; ++i) {
        std::string tag = "x";
        tag += std::to_string(100 + i);
        t.add(tag, Bytes(4, 0));
    }
    return t;
}

TEST(SfntFontTest, ConstructionAndRelease) {
    SfntFont font;
    EXPECT_EQ(font.formatTag, SfntFont::kTag);
    EXPECT_EQ(font.glyphCount, 0u);
    EXPECT_EQ(font.unitsPerEm, 1000);
    EXPECT_EQ(font.cmapIndex, -1);
    uint32_t glyph = 7;
    EXPECT_EQ(font.charToGlyph('A', glyph), kNoCharMap);
    // The outline slots of the base class are not supported.
    GlyphWork work;
    GlyphOutline outline;
    EXPECT_EQ(font.getGlyphOutline(0, work, outline), -1);
    EXPECT_EQ(font.getCharOutline('A', work, outline), -1);
    EXPECT_EQ(font.hintingKind(), 0u);
    EXPECT_EQ(font.newHintRecord(), nullptr);

    Reader r;
    const Bytes bytes = sharedTables(0).build();
    ASSERT_EQ(r.read(bytes), 0);
    ASSERT_EQ(r.font.cmapIndex, 0);
    ASSERT_NE(r.font.name.data, nullptr);
    r.font.release();
    EXPECT_EQ(r.font.cmapIndex, -1);
    EXPECT_EQ(r.font.cmap.count, 0);
    EXPECT_EQ(r.font.name.data, nullptr);
    EXPECT_EQ(r.font.data, nullptr);
    EXPECT_EQ(r.font.dataSize, 0u);
    r.font.release();  // fine twice
}

TEST(SfntFontTest, OffsetTableAndTableCount) {
    Reader r;
    // Exactly base + 12 bytes with numTables 0: the offset table is stored, then refused.
    FontBytes empty;
    empty.u32(0x00010000).u16(0).u16(0x10).u16(0x20).u16(0x30);
    EXPECT_EQ(r.read(empty.vec()), kFontDataError);
    EXPECT_EQ(r.out.sfntVersion, 0x00010000u);
    EXPECT_EQ(r.out.searchRange, 0x10);
    EXPECT_EQ(r.out.rangeShift, 0x30);
    // 11 bytes: no offset table.
    EXPECT_EQ(r.read(empty.vec(), 0, 11), kFontDataError);

    // 48 tables with a complete directory load; the records come back in file order.
    const Bytes full = sharedTables(45).build();
    ASSERT_EQ(r.read(full), 0);
    EXPECT_EQ(r.out.numTables, 48);
    EXPECT_EQ(r.records[0].tag, tagValue("cmap"));
    EXPECT_EQ(r.records[47].tag, tagValue("x144"));

    // 49 tables: refused before any record is read.
    const Bytes tooMany = sharedTables(46).build();
    EXPECT_EQ(r.read(tooMany), kFontDataError);
    EXPECT_EQ(r.out.numTables, 49);
    EXPECT_EQ(r.records[0].tag, kSentinel);

    // The directory must be whole: one byte short of the last record.
    const Bytes three = sharedTables(0).build();
    EXPECT_EQ(r.read(three, 0, 12 + 16 * 3 - 1), kFontDataError);
}

TEST(SfntFontTest, TableBounds) {
    Reader r;
    // A record that ends exactly at the end of the buffer is inside; one byte more is not.
    Tables t = sharedTables(0);
    t.add("zzzz", Bytes(6, 1));  // last, so the buffer can end right behind it
    Bytes bytes = t.build();
    const uint32_t end = uint32_t(bytes.size()) - 2;  // 6 bytes, padded to 8
    EXPECT_EQ(r.read(bytes, 0, end), 0);
    EXPECT_EQ(r.read(bytes, 0, end - 1), kFontDataError);

    // A huge offset cannot wrap around and pass.
    SfntBuilder wrap = sharedTables(0).builder();
    wrap.rawRecord("zzzz", 0xFFFFFFF0u, 0x20);
    EXPECT_EQ(r.read(wrap.build()), kFontDataError);
    SfntBuilder wrapLength = sharedTables(0).builder();
    wrapLength.rawRecord("zzzz", 16, 0xFFFFFFFFu);
    EXPECT_EQ(r.read(wrapLength.build()), kFontDataError);
}

TEST(SfntFontTest, SharedTablesAndTheirMinimumLengths) {
    Reader r;
    // 'OS/2': 78 bytes are enough, 77 are not; the fields come from their standard offsets.
    Tables t = sharedTables(0);
    t.add("OS/2", os2(78)).add("post", post(32));
    ASSERT_EQ(r.read(t.build()), 0);
    const Os2Table& os2t = r.font.os2;
    EXPECT_EQ(os2t.version, 100);
    EXPECT_EQ(os2t.usWeightClass, 102);
    EXPECT_EQ(os2t.sFamilyClass, 115);
    EXPECT_EQ(os2t.panose[0], 1);
    EXPECT_EQ(os2t.panose[9], 10);
    EXPECT_EQ(os2t.ulUnicodeRange1, 0x80000001u);
    EXPECT_EQ(os2t.ulUnicodeRange4, 0x40000004u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(os2t.achVendID), 4), "KORV");
    EXPECT_EQ(os2t.fsSelection, 200);
    EXPECT_EQ(os2t.usWinDescent, 207);
    EXPECT_GT(r.font.os2Offset, 0u);
    EXPECT_EQ(r.font.os2Length, 78u);
    EXPECT_EQ(r.font.post.version, 0x00030000u);
    EXPECT_EQ(r.font.post.italicAngle, uint32_t(-(12 << 16) - 0x8000));
    EXPECT_EQ(r.font.post.underlinePosition, -75);
    EXPECT_EQ(r.font.post.isFixedPitch, 1u);
    // 'head', with its wrong checksum adjustment and magic number, which are never compared.
    EXPECT_EQ(r.font.head.unitsPerEm, 2048);
    EXPECT_EQ(r.font.head.magicNumber, 0xDEADBEEFu);
    EXPECT_EQ(r.font.head.xMin, -100);
    EXPECT_EQ(r.font.head.yMax, 900);
    EXPECT_EQ(r.font.head.lowestRecPPEM, 9);
    EXPECT_EQ(r.font.head.created[7], 0xC3);
    EXPECT_EQ(r.font.head.modified[7], 0xC4);

    Reader shortOs2;
    EXPECT_EQ(shortOs2.read(sharedTables(0).add("OS/2", os2(77)).build()), kFontDataError);
    EXPECT_EQ(shortOs2.font.os2.version, 0);  // left as it was
    Reader shortHead;
    EXPECT_EQ(shortHead.read(sharedTables(0).set("head", head(2048, 0, 53)).build()), kFontDataError);
    EXPECT_EQ(shortHead.font.head.unitsPerEm, 0);
    Reader shortPost;
    EXPECT_EQ(shortPost.read(sharedTables(0).add("post", post(31)).build()), kFontDataError);
}

TEST(SfntFontTest, RequiredRecordsAreCountedAsRecords) {
    Reader r;
    // Lacking 'name' but holding two 'head' records passes.
    EXPECT_EQ(r.read(sharedTables(0).drop("name").add("head", head()).build()), 0);
    // Two 'cmap' records with one 'head' and one 'name' fail.
    EXPECT_EQ(r.read(sharedTables(0).add("cmap", cmap({{3, 1}})).build()), kFontDataError);
    // Missing 'cmap', 'head' or 'name'.
    EXPECT_EQ(r.read(sharedTables(0).drop("cmap").build()), kFontDataError);
    EXPECT_EQ(r.read(sharedTables(0).drop("head").build()), kFontDataError);
    EXPECT_EQ(r.read(sharedTables(0).drop("name").build()), kFontDataError);
}

TEST(SfntFontTest, CmapSelection) {
    // (0,3) then (3,1): the index among the stored subtables.
    Reader both;
    ASSERT_EQ(both.read(sharedTables(0).set("cmap", cmap({{0, 3}, {3, 1}})).build()), 0);
    EXPECT_EQ(both.font.cmapIndex, 1);
    uint32_t glyph = 0;
    EXPECT_EQ(both.font.charToGlyph('A', glyph), 0);
    EXPECT_EQ(glyph, 1u);
    EXPECT_EQ(both.font.charToGlyph('B', glyph), kGlyphAbsent);

    // Only (1,0): no usable map, -35 for every code.
    Reader mac;
    ASSERT_EQ(mac.read(sharedTables(0).set("cmap", cmap({{1, 0}})).build()), 0);
    EXPECT_EQ(mac.font.cmapIndex, -1);
    EXPECT_EQ(mac.font.charToGlyph('A', glyph), kNoCharMap);

    // A malformed 'cmap' fails the directory at once.
    Reader bad;
    EXPECT_EQ(bad.read(sharedTables(0).set("cmap", Bytes{0, 1, 0, 0}).build()), kFontDataError);
}

TEST(SfntFontTest, CollectionMemberReadsItsOwnOffsetTable) {
    const Tables first = sharedTables(1);
    const Tables second = sharedTables(2);
    const Bytes ttc = buildCollection({first.builder(), second.builder()});
    uint32_t offset = 0, numFonts = 0;
    ASSERT_TRUE(testCollectionHeader(ttc.data(), uint32_t(ttc.size()), 1, offset, &numFonts));
    EXPECT_EQ(numFonts, 2u);
    Reader r;
    ASSERT_EQ(r.read(ttc, offset), 0);
    EXPECT_EQ(r.out.numTables, 5);
    // Offsets count from the start of the file.
    EXPECT_GT(r.records[0].offset, offset);
    EXPECT_EQ(r.font.head.unitsPerEm, 2048);
}

// The font objects' 'name' rule and the identification's differ only for a table without records whose
// stringOffset lies beyond the table.
TEST(SfntFontTest, NameTableRules) {
    NameTable table;
    auto parse = [&](const Bytes& b) { return table.parse(b.data(), uint32_t(b.size())); };
    const Bytes good = name();
    EXPECT_EQ(parse(good), 0);
    EXPECT_EQ(table.data, good.data());
    EXPECT_EQ(table.length, good.size());

    FontBytes noRecords;
    noRecords.u16(0).u16(0).u16(400);  // stringOffset past the 6-byte table
    EXPECT_EQ(parse(noRecords.vec()), 0);
    EXPECT_FALSE(nameTableSound(noRecords.data(), 6, NameStringStart::AfterRecordsInsideTable));

    EXPECT_EQ(parse(Bytes{0, 0, 0, 0, 0}), kFontDataError);  // shorter than the header
    FontBytes recordsOutside;
    recordsOutside.u16(0).u16(2).u16(30).zeros(12);  // two records need 30 bytes
    EXPECT_EQ(parse(recordsOutside.vec()), kFontDataError);
    FontBytes stringsAmongRecords;
    stringsAmongRecords.u16(0).u16(1).u16(17).zeros(12);
    EXPECT_EQ(parse(stringsAmongRecords.vec()), kFontDataError);

    // A record whose string ends exactly at the end passes; one byte further fails, in both rules.
    Bytes edge = nameTable({windowsName(u"AB")});
    ASSERT_EQ(parse(edge), 0);
    edge[6 + 8 + 1] += 1;  // the record's length 4 -> 5: one byte past the table
    EXPECT_EQ(parse(edge), kFontDataError);
    EXPECT_FALSE(
        nameTableSound(edge.data(), uint32_t(edge.size()), NameStringStart::AfterRecordsInsideTable));
    table.release();
    EXPECT_EQ(table.data, nullptr);
    EXPECT_EQ(table.length, 0u);
}

}  // namespace
