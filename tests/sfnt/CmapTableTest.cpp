#include "sfnt/CmapTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <list>
#include <random>
#include <thread>
#include <vector>

#include "support/CmapReference.h"
#include "support/FontBytes.h"
#include "support/FontCorpus.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Encoding {
    Encoding(uint16_t p, uint16_t e, Bytes s, int64_t raw = -1)
        : platform(p), encoding(e), subtable(std::move(s)), rawOffset(raw) {}
    uint16_t platform, encoding;
    Bytes subtable;
    int64_t rawOffset;  // when >= 0, the record's offset field as given and no bytes appended
};

// A 'cmap' table: header, records in the given order, then each subtable's bytes in turn.
Bytes cmapTable(const std::vector<Encoding>& encodings, uint16_t version = 0) {
    FontBytes b;
    b.u16(version).u16(uint32_t(encodings.size()));
    uint32_t at = 4 + 8 * uint32_t(encodings.size());
    for (const Encoding& e : encodings) {
        b.u16(e.platform).u16(e.encoding);
        if (e.rawOffset >= 0) {
            b.u32(uint32_t(e.rawOffset));
        } else {
            b.u32(at);
            at += uint32_t(e.subtable.size());
        }
    }
    for (const Encoding& e : encodings)
        if (e.rawOffset < 0) b.bytes(e.subtable);
    return b.vec();
}

Bytes format0(uint32_t glyphBytes = 256) {
    FontBytes b;
    b.u16(0).u16(6 + glyphBytes).u16(0);
    for (uint32_t i = 0; i < glyphBytes; ++i) b.u8(i ^ 0x5A);
    return b.vec();
}

struct Segment {
    Segment() = default;
    Segment(uint16_t s, uint16_t e, int16_t delta = 0, std::vector<uint16_t> g = {}, int32_t raw = -1)
        : start(s), end(e), idDelta(delta), glyphs(std::move(g)), rawRangeOffset(raw) {}
    uint16_t start = 0, end = 0;
    int16_t idDelta = 0;
    std::vector<uint16_t> glyphs;  // non-empty: mapped through the glyph array (idRangeOffset set)
    int32_t rawRangeOffset = -1;   // when >= 0, idRangeOffset as given
};

// A format-4 subtable; searchRange -1: the right one. `arrayTrim` removes bytes from the glyph array's end.
Bytes format4(const std::vector<Segment>& segments, int32_t searchRange = -1, uint32_t arrayTrim = 0) {
    const uint32_t n = uint32_t(segments.size());
    uint32_t right = 1;
    while (right * 2 <= n) right *= 2;
    right *= 2;
    FontBytes b;
    b.u16(4).u16(0).u16(0);
    b.u16(2 * n).u16(searchRange < 0 ? right : uint32_t(searchRange)).u16(0).u16(0);
    for (const Segment& s : segments) b.u16(s.end);
    b.u16(0);
    for (const Segment& s : segments) b.u16(s.start);
    for (const Segment& s : segments) b.u16(uint16_t(s.idDelta));
    // Glyph arrays follow the idRangeOffset array, in segment order.
    uint32_t arrayAt = 2 * n;  // bytes from idRangeOffset[0] to the first glyph array
    for (uint32_t k = 0; k < n; ++k) {
        const Segment& s = segments[k];
        if (s.rawRangeOffset >= 0) {
            b.u16(uint32_t(s.rawRangeOffset));
        } else if (!s.glyphs.empty()) {
            b.u16(arrayAt - 2 * k);
            arrayAt += 2 * uint32_t(s.glyphs.size());
        } else {
            b.u16(0);
        }
    }
    for (const Segment& s : segments)
        if (s.rawRangeOffset < 0)
            for (uint16_t g : s.glyphs) b.u16(g);
    Bytes out = b.vec();
    out.resize(out.size() - arrayTrim);
    const uint32_t length = uint32_t(std::min<size_t>(out.size(), 0xFFFF));
    out[2] = uint8_t(length >> 8);
    out[3] = uint8_t(length);
    return out;
}

Bytes format6(uint16_t firstCode, const std::vector<uint16_t>& glyphs, int32_t entryCountField = -1) {
    FontBytes b;
    b.u16(6).u16(10 + 2 * uint32_t(glyphs.size())).u16(0);
    b.u16(firstCode).u16(entryCountField < 0 ? uint32_t(glyphs.size()) : uint32_t(entryCountField));
    for (uint16_t g : glyphs) b.u16(g);
    return b.vec();
}

struct Group {
    uint32_t start, end, glyph;
};

Bytes format12(const std::vector<Group>& groups, int64_t numGroupsField = -1) {
    FontBytes b;
    b.u16(12).u16(0).u32(16 + 12 * uint32_t(groups.size())).u32(0);
    b.u32(numGroupsField < 0 ? uint32_t(groups.size()) : uint32_t(numGroupsField));
    for (const Group& g : groups) b.u32(g.start).u32(g.end).u32(g.glyph);
    return b.vec();
}

Bytes formatHeaderOnly(uint16_t format) {
    FontBytes b;
    b.u16(format).zeros(10);
    return b.vec();
}

// The format-2 subtable used below: high byte 0 maps single bytes 0x20..0x7E through subheader 0;
// high bytes 0x81 and 0x82 are lead bytes through subheader 1 (low bytes 0x40..0x43).
Bytes format2(uint32_t trim = 0, uint16_t leadRangeOffsetExtra = 0) {
    FontBytes b;
    b.u16(2).u16(0).u16(0);
    for (uint32_t high = 0; high < 256; ++high) b.u16(high == 0x81 || high == 0x82 ? 8 : 0);
    // Subheader 0: firstCode 0x20, entryCount 0x5F, idDelta 0, idRangeOffset to array 0.
    // Subheader 1: firstCode 0x40, entryCount 4, idDelta 100, idRangeOffset to array 1.
    // idRangeOffset counts from the field itself: subheader k's field is at 518 + 8k (from the keys);
    // array 0 starts at 528 (after both subheaders), array 1 at 528 + 2 * 0x5F.
    b.u16(0x20).u16(0x5F).u16(0).u16(528 - 518);
    b.u16(0x40).u16(4).u16(100).u16(528 + 2 * 0x5F - 526 + leadRangeOffsetExtra);
    for (uint32_t i = 0; i < 0x5F; ++i) b.u16(i == 5 ? 0 : 1000 + i);
    b.u16(7).u16(0).u16(65500).u16(9);
    Bytes out = b.vec();
    out.resize(out.size() - trim);
    return out;
}

struct Mapped {
    int16_t status;
    uint32_t glyph;
};

Mapped lookup(const CmapTable& cmap, uint16_t index, uint32_t code) {
    uint32_t glyph = 0xDEADBEEF;
    const int16_t status = cmap.lookup(index, code, glyph);
    return {status, glyph};
}

// Parses a copy of exactly the table's size that lives to the end of the program (the table object only
// refers to the bytes; the sanitizers see any read past the table's end).
int16_t parse(CmapTable& cmap, const Bytes& bytes) {
    static std::list<Bytes> kept;
    kept.push_back(bytes);
    return cmap.parse(kept.back().data(), uint32_t(kept.back().size()));
}

#define EXPECT_MAPS(cmap, index, code, expected)                      \
    do {                                                              \
        const Mapped m_ = lookup(cmap, index, code);                  \
        EXPECT_EQ(m_.status, 0) << "code " << (code);                 \
        EXPECT_EQ(m_.glyph, uint32_t(expected)) << "code " << (code); \
    } while (0)
#define EXPECT_ABSENT(cmap, index, code)                         \
    do {                                                         \
        const Mapped m_ = lookup(cmap, index, code);             \
        EXPECT_EQ(m_.status, kGlyphAbsent) << "code " << (code); \
        EXPECT_EQ(m_.glyph, 0u) << "code " << (code);            \
    } while (0)

// ---------------------------------------------------------------------------------------------------------
// The table header and the encoding records.

TEST(CmapTableTest, HeaderAndRecordLimits) {
    CmapTable cmap;
    const Bytes f0 = format0();
    for (uint32_t n = 0; n < 4; ++n) {
        Bytes shortTable(n, 0);
        EXPECT_EQ(cmap.parse(shortTable.data(), n), kFontDataError) << n;
    }
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, f0}}, 1)), kFontDataError);  // version 1

    // 16 records are accepted, 17 refused (every record names a good subtable).
    std::vector<Encoding> records(16, Encoding{3, 1, {}, 4 + 8 * 17});
    Bytes table = cmapTable(records);
    table.insert(table.end(), 8, 0);  // room for a 17th record before the subtable
    table.insert(table.end(), f0.begin(), f0.end());
    EXPECT_EQ(parse(cmap, table), 0);
    EXPECT_EQ(cmap.count, 16);
    table[3] = 17;
    EXPECT_EQ(parse(cmap, table), kFontDataError);
    EXPECT_EQ(cmap.count, 0);

    // The records must fit: 8 x numTables + 4 bytes.
    Bytes records2 = cmapTable({{2, 0, {}, 0}, {2, 0, {}, 0}});
    records2.pop_back();
    EXPECT_EQ(parse(cmap, records2), kFontDataError);
}

TEST(CmapTableTest, CandidatesAndTheirOffsets) {
    CmapTable cmap;
    const Bytes f0 = format0();
    // Platform 2, platform 4 and Unicode variation sequences (0,5) are passed over, so they may point
    // anywhere; without any other record the table has no candidate.
    EXPECT_EQ(
        parse(cmap, cmapTable({{2, 0, {}, 0xFFFFFFF0}, {4, 0, {}, 0xFFFFFFF0}, {0, 5, {}, 0xFFFFFFF0}})),
        kFontDataError);
    EXPECT_EQ(parse(cmap, cmapTable({{2, 0, {}, 0xFFFFFFF0}, {0, 5, {}, 0xFFFFFFF0}, {1, 0, f0}})), 0);
    EXPECT_EQ(cmap.count, 1);
    EXPECT_EQ(cmap.subtables[0].platformID, 1);

    // Every candidate's offset + 12 must lie inside the table, tested before any subtable is read; an
    // offset near 2^32 does not wrap around.
    for (uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFF4u}) {
        EXPECT_EQ(parse(cmap, cmapTable({{3, 1, f0}, {0, 3, {}, offset}})), kFontDataError) << offset;
        EXPECT_EQ(cmap.count, 0);
    }
    // Exactly 12 bytes from the offset to the end: a format-6 subtable with one entry fits.
    const Bytes f6 = format6(0x41, {7});
    ASSERT_EQ(f6.size(), 12u);
    Bytes table = cmapTable({{3, 1, f6}});
    EXPECT_EQ(parse(cmap, table), 0);
    table.pop_back();
    EXPECT_EQ(parse(cmap, table), kFontDataError);

    // Stored fields: records in file order, platform 0 encodings 0..4 and 6 are candidates.
    EXPECT_EQ(parse(cmap, cmapTable({{0, 3, f0}, {0, 6, format6(5, {1, 2})}, {3, 1, f6}})), 0);
    ASSERT_EQ(cmap.count, 3);
    EXPECT_EQ(cmap.subtables[1].encodingID, 6);
    EXPECT_EQ(cmap.subtables[1].format, 6);
    EXPECT_EQ(cmap.subtables[1].length, 14u);
    EXPECT_EQ(cmap.subtables[1].parameters[0], 5);
    EXPECT_EQ(cmap.subtables[1].parameters[1], 2);
    EXPECT_EQ(cmap.subtables[2].dataOffset, 4 + 8 * 3 + f0.size() + 14 + 10);
}

TEST(CmapTableTest, UnusableAndSkippedFormats) {
    CmapTable cmap;
    const Bytes f0 = format0();
    // (1,0) format 0, then (0,3) format 14: the format-14 record sets the status and, being last, makes
    // the parse fail although one subtable was stored.
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, f0}, {0, 3, formatHeaderOnly(14)}})), kFontDataError);
    EXPECT_EQ(cmap.count, 1);
    // A later stored subtable sets the status back to 0.
    EXPECT_EQ(parse(cmap, cmapTable({{0, 3, formatHeaderOnly(14)}, {1, 0, f0}})), 0);
    EXPECT_EQ(parse(cmap, cmapTable({{0, 3, formatHeaderOnly(7)}, {1, 0, f0}})), 0);
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, f0}, {3, 1, formatHeaderOnly(0xFFFF)}})), kFontDataError);
    // Formats 8, 10 and 13 are passed over and leave the status as it was.
    for (uint16_t format : {8, 10, 13}) {
        EXPECT_EQ(parse(cmap, cmapTable({{1, 0, f0}, {3, 10, formatHeaderOnly(format)}})), 0) << format;
        EXPECT_EQ(cmap.count, 1);
        EXPECT_EQ(parse(cmap, cmapTable({{3, 10, formatHeaderOnly(format)}})), kFontDataError) << format;
        EXPECT_EQ(parse(cmap, cmapTable({{0, 3, formatHeaderOnly(14)},
                                         {3, 10, formatHeaderOnly(format)},
                                         {1, 0, f0},
                                         {3, 10, formatHeaderOnly(format)}})),
                  0);
    }
    // A bad subtable of a known format ends the parse at once, even after good ones.
    // (The bound is the table's end, so the short one is last.)
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, f0}, {3, 10, f0}, {3, 1, format0(255)}})), kFontDataError);
    EXPECT_EQ(cmap.count, 2);
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, f0}, {3, 1, format0(255)}, {3, 10, f0}})), 0);
}

TEST(CmapTableTest, FourAndTwelveAreBothStoredAndReleaseClears) {
    CmapTable cmap;
    const Bytes table = cmapTable({{0, 3, format4({{0x41, 0x5A, 1}, {0xFFFF, 0xFFFF, 1}})},
                                   {3, 1, format4({{0x41, 0x5A, 2}, {0xFFFF, 0xFFFF, 1}})},
                                   {3, 10, format12({{0x41, 0x5A, 3}, {0x1F600, 0x1F64F, 500}})}});
    ASSERT_EQ(parse(cmap, table), 0);
    ASSERT_EQ(cmap.count, 3);
    ASSERT_EQ(cmap.length, table.size());
    EXPECT_TRUE(std::equal(table.begin(), table.end(), cmap.data));
    EXPECT_EQ(cmap.subtables[1].platformID, 3);
    EXPECT_EQ(cmap.subtables[1].encodingID, 1);
    EXPECT_EQ(cmap.subtables[2].format, 12);
    EXPECT_EQ(cmap.subtables[2].length, 16u + 24);
    EXPECT_EQ(cmap.subtables[2].parameters[2], 0);
    EXPECT_EQ(cmap.subtables[2].parameters[3], 2);
    EXPECT_MAPS(cmap, 0, 0x41, 0x42);
    EXPECT_MAPS(cmap, 1, 0x41, 0x43);
    EXPECT_MAPS(cmap, 2, 0x41, 3);
    EXPECT_MAPS(cmap, 2, 0x1F601, 501);
    EXPECT_ABSENT(cmap, 1, 0x1F601);
    uint32_t glyph = 0;
    EXPECT_EQ(cmap.lookup(3, 0x41, glyph), kNoCharMap);

    cmap.release();
    EXPECT_EQ(cmap.count, 0);
    EXPECT_EQ(cmap.data, nullptr);
    EXPECT_EQ(cmap.length, 0u);
    EXPECT_EQ(cmap.lookup(0, 0x41, glyph), kNoCharMap);
    cmap.release();
    EXPECT_EQ(cmap.count, 0);
}

// ---------------------------------------------------------------------------------------------------------
// Formats 0, 2 and 6.

TEST(CmapTableTest, Format0) {
    CmapTable cmap;
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, format0(255)}})), kFontDataError);
    // Exactly 256 bytes after the header, to the table's end.
    const Bytes table = cmapTable({{1, 0, format0(256)}});
    ASSERT_EQ(parse(cmap, table), 0);
    EXPECT_EQ(cmap.subtables[0].dataOffset, 12u + 6);
    EXPECT_EQ(cmap.subtables[0].length, 262u);
    for (uint32_t code = 0; code < 256; ++code)
        EXPECT_MAPS(cmap, 0, code, code ^ 0x5A);  // 0x5A: glyph 0, found
    for (uint32_t code : {256u, 0x10000u, 0xFFFFFFFFu}) EXPECT_ABSENT(cmap, 0, code);
}

TEST(CmapTableTest, Format2) {
    CmapTable cmap;
    // The keys need 512 bytes.
    {
        FontBytes b;
        b.u16(2).u16(0).u16(0).zeros(510);
        EXPECT_EQ(parse(cmap, cmapTable({{3, 2, b.vec()}})), kFontDataError);
        b.zeros(2 + 8 + 0);  // keys complete, subheader 0 (all zero: entryCount 0) complete
        EXPECT_EQ(parse(cmap, cmapTable({{3, 2, b.vec()}})), 0);
        b.vec().pop_back();
        EXPECT_EQ(parse(cmap, cmapTable({{3, 2, b.vec()}})), kFontDataError);
    }
    const Bytes full = format2();
    ASSERT_EQ(parse(cmap, cmapTable({{3, 2, full}})), 0);
    EXPECT_MAPS(cmap, 0, 0x20, 1000);
    EXPECT_MAPS(cmap, 0, 0x7E, 1000 + 0x5E);
    EXPECT_ABSENT(cmap, 0, 0x25);  // array value 0
    EXPECT_ABSENT(cmap, 0, 0x1F);  // below firstCode
    EXPECT_ABSENT(cmap, 0, 0x7F);  // past entryCount
    EXPECT_MAPS(cmap, 0, 0x8140, 107);
    EXPECT_ABSENT(cmap, 0, 0x8141);                        // value 0
    EXPECT_MAPS(cmap, 0, 0x8142, (65500 + 100) & 0xFFFF);  // idDelta modulo 65536
    EXPECT_MAPS(cmap, 0, 0x8243, 109);
    EXPECT_ABSENT(cmap, 0, 0x8244);
    EXPECT_ABSENT(cmap, 0, 0x8340);  // key 0 for a non-zero high byte
    EXPECT_ABSENT(cmap, 0, 0x10020);
    // The last subheader's glyph array must reach idRangeOffset + 2 x entryCount: one byte short fails.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 2, format2(1)}})), kFontDataError);
    // An idRangeOffset that reaches 2 bytes further fails; with 2 more bytes in the table it passes.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 2, format2(0, 2)}})), kFontDataError);
    Bytes longer = format2(0, 2);
    longer.push_back(0);
    longer.push_back(42);
    ASSERT_EQ(parse(cmap, cmapTable({{3, 2, longer}})), 0);
    EXPECT_MAPS(cmap, 0, 0x8143, 142);
    // A subheader key past the table fails (key + 520 > avail).
    Bytes badKey = format2();
    badKey[6 + 2 * 0x90] = 0xFF;
    badKey[6 + 2 * 0x90 + 1] = 0xF8;
    EXPECT_EQ(parse(cmap, cmapTable({{3, 2, badKey}})), kFontDataError);
}

TEST(CmapTableTest, Format6) {
    CmapTable cmap;
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format6(0x30, {}, 0)}, {1, 0, format0()}})), kFontDataError);
    // entryCount claims 3 with 2 entries: refused; with the table's end exactly after 3 entries: kept.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format6(0x30, {1, 2}, 3)}})), kFontDataError);
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format6(0xFFFD, {11, 0, 13})}})), 0);
    EXPECT_ABSENT(cmap, 0, 0xFFFC);
    EXPECT_MAPS(cmap, 0, 0xFFFD, 11);
    EXPECT_MAPS(cmap, 0, 0xFFFE, 0);  // glyph 0 is returned as found
    EXPECT_MAPS(cmap, 0, 0xFFFF, 13);
    EXPECT_ABSENT(cmap, 0, 0x10000);
    EXPECT_ABSENT(cmap, 0, 0x1FFFD);
}

// ---------------------------------------------------------------------------------------------------------
// Format 4.

std::vector<Segment> someSegments() {
    return {
        {0x20, 0x7E, -29},        {0xA0, 0xA3, 0, {5, 0, 7, 8}}, {0x3000, 0x3001, int16_t(0x9000 - 0x10000)},
        {0xF000, 0xF001, 0x2000}, {0xFFF0, 0xFFFE, 10},          {0xFFFF, 0xFFFF, 1}};
}

TEST(CmapTableTest, Format4Lookups) {
    CmapTable cmap;
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4(someSegments())}})), 0);
    const CmapSubtable& s = cmap.subtables[0];
    EXPECT_EQ(s.parameters[0], 12);  // segCountX2
    EXPECT_EQ(s.parameters[1], 8);   // searchRange
    EXPECT_EQ(s.dataOffset, 12u + 14);
    EXPECT_TRUE(s.ordered);
    EXPECT_ABSENT(cmap, 0, 0);
    EXPECT_ABSENT(cmap, 0, 0x1F);
    EXPECT_MAPS(cmap, 0, 0x20, 3);
    EXPECT_MAPS(cmap, 0, 0x7E, 0x7E - 29);
    EXPECT_ABSENT(cmap, 0, 0x7F);
    EXPECT_MAPS(cmap, 0, 0xA0, 5);
    EXPECT_ABSENT(cmap, 0, 0xA1);  // array value 0
    EXPECT_MAPS(cmap, 0, 0xA3, 8);
    EXPECT_MAPS(cmap, 0, 0x3000, 0xC000);
    EXPECT_MAPS(cmap, 0, 0xF001, 0x1001);  // idDelta modulo 65536
    EXPECT_MAPS(cmap, 0, 0xFFF5, 0xFFFF);
    EXPECT_MAPS(cmap, 0, 0xFFF6, 0);  // (code + idDelta) modulo 65536 is 0: found, glyph 0
    EXPECT_ABSENT(cmap, 0, 0xFFFF);   // the closing segment maps nothing
    EXPECT_ABSENT(cmap, 0, 0x10000);
    EXPECT_ABSENT(cmap, 0, 0x10020);
    EXPECT_ABSENT(cmap, 0, 0xFFFFFFFFu);
}

TEST(CmapTableTest, Format4Limits) {
    CmapTable cmap;
    // segCountX2 0 is refused.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4({})}})), kFontDataError);
    // The four arrays and the pad must fit: 4 x segCountX2 + 10 bytes after the first 6.
    const std::vector<Segment> plain = {{0x41, 0x5A, 5}, {0xFFFF, 0xFFFF, 1}};
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4(plain)}})), 0);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4(plain, -1, 1)}})), kFontDataError);
    // A header cut after searchRange: fewer than 8 bytes after the first 6.
    Bytes cut = format4(plain);
    cut.resize(13);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, cut}})), kFontDataError);

    // A glyph array must hold idRangeOffset + 2 x (end - start + 1) bytes from idRangeOffset[k] to the
    // table's end: exactly enough is kept, one byte less refused.
    const std::vector<Segment> arrays = {{0x41, 0x43, 0, {1, 2, 3}}, {0xFFFF, 0xFFFF, 1}};
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4(arrays)}})), 0);
    EXPECT_MAPS(cmap, 0, 0x43, 3);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4(arrays, -1, 1)}})), kFontDataError);

    // The bound is the 'cmap' table's end, not the subtable's: an array that runs into the next subtable
    // is accepted and read from there (the format-0 header: 0x0000, 0x0106, 0x0000).
    const Bytes intoNext = format4(arrays, -1, 6);
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, intoNext}, {1, 0, format0()}})), 0);
    EXPECT_ABSENT(cmap, 0, 0x41);
    EXPECT_MAPS(cmap, 0, 0x42, 0x0106);
    EXPECT_ABSENT(cmap, 0, 0x43);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4(arrays, -1, 8)}, {1, 0, format0()}})), 0);
    EXPECT_EQ(parse(cmap, cmapTable({{1, 0, format0()}, {3, 1, format4(arrays, -1, 1)}})), kFontDataError);

    // The closing segment (end 0xFFFF) is not checked, whatever its idRangeOffset, and maps nothing.
    std::vector<Segment> wild = {{0x41, 0x5A, 5}, {0xF000, 0xFFFF, 0, {}, 0xFFFE}};
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4(wild)}})), 0);
    EXPECT_ABSENT(cmap, 0, 0xF000);
    EXPECT_ABSENT(cmap, 0, 0xFFFF);
    // Nor is a segment without a glyph array (idRangeOffset 0), even with start above end.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4({{0x50, 0x40, 0}, {0xFFFF, 0xFFFF, 1}})}})), 0);
    EXPECT_ABSENT(cmap, 0, 0x45);
    // With a glyph array, start above end gives idRangeOffset + 2 x (end - start + 1), computed signed
    // and compared unsigned: negative is refused ...
    EXPECT_EQ(parse(cmap, cmapTable({{3, 1, format4({{0x50, 0x40, 0, {}, 4}, {0xFFFF, 0xFFFF, 1}})}})),
              kFontDataError);
    // ... while start = end + 1 needs just idRangeOffset bytes, and the segment never matches.
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4({{0x41, 0x40, 0, {}, 4}, {0xFFFF, 0xFFFF, 1}})}})), 0);
    EXPECT_FALSE(cmap.subtables[0].ordered);
    EXPECT_ABSENT(cmap, 0, 0x40);
    EXPECT_ABSENT(cmap, 0, 0x41);

    // One segment (segCountX2 2): the search probes entry 0 only.
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4({{0x10, 0x20, 1}})}})), 0);
    EXPECT_MAPS(cmap, 0, 0x10, 0x11);
    EXPECT_ABSENT(cmap, 0, 0x21);
    // An odd segCountX2 counts segCountX2 / 2 segments; 1 counts none.
    Bytes odd = format4({{0x10, 0x20, 1}});
    odd[7] = 1;
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, odd}})), 0);
    EXPECT_ABSENT(cmap, 0, 0x10);
}

// The search in every real font must find what the format's own search finds when the font's searchRange
// is right; with a wrong searchRange that search misses characters or leaves the array, ours does not.
TEST(CmapTableTest, Format4WrongSearchRangeStillFindsEverySegment) {
    std::vector<Segment> segments;
    for (uint16_t k = 0; k < 21; ++k)
        segments.push_back({uint16_t(0x100 * k + 0x20), uint16_t(0x100 * k + 0x40), int16_t(k)});
    segments.push_back({0xFFFF, 0xFFFF, 1});  // 22 segments: the right searchRange is 32
    CmapTable right;
    const Bytes rightTable = cmapTable({{3, 1, format4(segments)}});
    ASSERT_EQ(parse(right, rightTable), 0);
    const cmapref::Format4 reference{rightTable.data(), uint32_t(rightTable.size()), 12};
    ASSERT_EQ(reference.searchRange(), 32u);

    for (int32_t searchRange : {0, 1, 2, 4, 16, 30, 33, 64, 128, 0x7FFF, 0xFFFE, 0xFFFF}) {
        CmapTable cmap;
        const Bytes table = cmapTable({{3, 1, format4(segments, searchRange)}});
        ASSERT_EQ(parse(cmap, table), 0);
        const cmapref::Format4 stored{table.data(), uint32_t(table.size()), 12};
        uint32_t missedByStored = 0, outsideByStored = 0;
        for (uint32_t code = 0; code <= 0x10000; ++code) {
            const cmapref::Lookup expected = reference.lookup(code);
            const Mapped m = lookup(cmap, 0, code);
            ASSERT_EQ(m.status, expected.found ? 0 : kGlyphAbsent) << searchRange << " " << code;
            ASSERT_EQ(m.glyph, expected.glyph) << searchRange << " " << code;
            const cmapref::Lookup guided = stored.lookup(code);
            if (guided.outside) {
                ++outsideByStored;
            } else if (expected.found && !guided.found) {
                ++missedByStored;
            }
        }
        std::printf("searchRange %5d: the stored-range search misses %u codes, probes outside for %u\n",
                    searchRange, missedByStored, outsideByStored);
        // Larger powers of two only add probes past the array, which step down; every other wrong value
        // loses characters or leaves the array.
        const bool harmless = searchRange == 33 || searchRange == 64 || searchRange == 128;
        if (!harmless) {
            EXPECT_GT(missedByStored + outsideByStored, 0u) << searchRange;
        }
    }
}

// Random subtables with the right searchRange, sorted or not, overlapping or not: every answer is the
// format's own search's answer, in any order of lookups (the search hint must never change one).
TEST(CmapTableTest, Format4MatchesTheGuidedSearchOnCraftedSegments) {
    std::mt19937 random(8);
    uint32_t unordered = 0, ordered = 0;
    for (int round = 0; round < 400; ++round) {
        const bool sorted = round % 2 == 0;
        const uint32_t n = 1 + random() % (round < 200 ? 12 : 70);
        std::vector<Segment> segments;
        uint32_t next = random() % 8;
        for (uint32_t k = 0; k < n; ++k) {
            Segment s{};
            if (sorted) {
                s.start = uint16_t(next);
                s.end = uint16_t(next + random() % 6);
                next = s.end + 1 + random() % 4;
            } else {
                s.start = uint16_t(random() % 300);
                s.end = uint16_t(s.start + random() % 40);
            }
            s.idDelta = int16_t(random());
            if (random() % 3 == 0)
                for (uint32_t c = s.start; c <= s.end; ++c)
                    s.glyphs.push_back(uint16_t(random() % 5 == 0 ? 0 : random()));
            segments.push_back(s);
        }
        if (random() % 2) segments.push_back({0xFFFF, 0xFFFF, 1});
        // An overlap with the closing segment: the 0xFFFF rule applies to whichever segment is found.
        if (round % 7 == 3) segments.push_back({0xFFF0, 0xFFFF, 3});
        CmapTable cmap;
        const Bytes table = cmapTable({{3, 1, format4(segments)}});
        ASSERT_EQ(parse(cmap, table), 0);
        (cmap.subtables[0].ordered ? ordered : unordered)++;
        const cmapref::Format4 reference{table.data(), uint32_t(table.size()), 12};
        std::vector<uint32_t> codes;
        for (uint32_t c = 0; c < 0x200; ++c) codes.push_back(c);
        for (uint32_t c = 0xFFE0; c <= 0x10001; ++c) codes.push_back(c);
        for (int pass = 0; pass < 3; ++pass) {
            if (pass == 1) std::shuffle(codes.begin(), codes.end(), random);
            if (pass == 2) std::reverse(codes.begin(), codes.end());
            for (uint32_t code : codes) {
                const cmapref::Lookup expected = reference.lookup(code);
                ASSERT_FALSE(expected.outside);
                const Mapped m = lookup(cmap, 0, code);
                ASSERT_EQ(m.status, expected.found ? 0 : kGlyphAbsent)
                    << "round " << round << " code " << code;
                ASSERT_EQ(m.glyph, expected.glyph) << "round " << round << " code " << code;
            }
        }
    }
    EXPECT_GT(ordered, 100u);
    EXPECT_GT(unordered, 100u);
}

// A code held by two overlapping segments maps through the one the search meets first, not the lowest;
// in an unsorted table the search may never reach the segment that holds a code.
TEST(CmapTableTest, Format4OverlapFollowsTheSearchPath) {
    // Four segments, searchRange 8: the first probe is entry 3, then entry 1 or 5 (past the end: down to
    // 4), then entry 0 or 2.
    const std::vector<Segment> segments = {
        {0x10, 0x20, 1}, {0x40, 0x55, 2}, {0x45, 0x5A, 3}, {0x58, 0x60, 4}};
    CmapTable cmap;
    ASSERT_EQ(parse(cmap, cmapTable({{3, 1, format4(segments)}})), 0);
    EXPECT_FALSE(cmap.subtables[0].ordered);
    // 0x50, in entries 1 and 2: entry 3 (start 0x58) steps down to entry 1, which holds it.
    EXPECT_MAPS(cmap, 0, 0x50, 0x52);
    // 0x56, in entry 2 only: entry 3 steps down to entry 1 (end 0x55), up to entry 2.
    EXPECT_MAPS(cmap, 0, 0x56, 0x59);
    // 0x59, in entries 2 and 3: entry 3 is probed first.
    EXPECT_MAPS(cmap, 0, 0x59, 0x5D);

    // Entry 0 holds 0xC2, but every probe's end is below it, so the search goes up and past the end.
    CmapTable unsorted;
    ASSERT_EQ(
        parse(unsorted,
              cmapTable(
                  {{3, 1, format4({{0xC0, 0xC5, 1}, {0x60, 0x70, 1}, {0x80, 0x90, 1}, {0xA0, 0xB0, 1}})}})),
        0);
    EXPECT_ABSENT(unsorted, 0, 0xC2);
    EXPECT_MAPS(unsorted, 0, 0x65, 0x66);
    EXPECT_MAPS(unsorted, 0, 0xB0, 0xB1);
}

// ---------------------------------------------------------------------------------------------------------
// Format 12.

TEST(CmapTableTest, Format12) {
    CmapTable cmap;
    const std::vector<Group> groups = {
        {0x20, 0x7E, 1}, {0x100, 0x17F, 200}, {0x1F600, 0x1F64F, 500}, {0x10FFFD, 0x10FFFF, 0xFFFFFFFE}};
    ASSERT_EQ(parse(cmap, cmapTable({{3, 10, format12(groups)}})), 0);
    EXPECT_TRUE(cmap.subtables[0].ordered);
    EXPECT_EQ(cmap.subtables[0].dataOffset, 12u + 16);
    EXPECT_ABSENT(cmap, 0, 0x1F);
    EXPECT_MAPS(cmap, 0, 0x20, 1);
    EXPECT_MAPS(cmap, 0, 0x7E, 0x5F);
    EXPECT_ABSENT(cmap, 0, 0x7F);
    EXPECT_MAPS(cmap, 0, 0x17F, 0x7F + 200);
    EXPECT_MAPS(cmap, 0, 0x1F64F, 0x4F + 500);
    EXPECT_MAPS(cmap, 0, 0x10FFFE, 0xFFFFFFFF);
    EXPECT_MAPS(cmap, 0, 0x10FFFF, 0);  // startGlyphID + offset modulo 2^32
    EXPECT_ABSENT(cmap, 0, 0x110000);
    EXPECT_ABSENT(cmap, 0, 0xFFFFFFFF);

    // Refusals: no group; groups claimed beyond the table; a group starting before the previous end or
    // ending before its start.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12({})}})), kFontDataError);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12(groups, 5)}})), kFontDataError);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12(groups, 0x15555556)}})),
              kFontDataError);  // 12n wraps in 32 bits
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12({{0x20, 0x30, 1}, {0x2F, 0x40, 1}})}})),
              kFontDataError);
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12({{0x20, 0x30, 1}, {0x41, 0x40, 1}})}})),
              kFontDataError);
    // Fewer groups than the table could hold are fine.
    EXPECT_EQ(parse(cmap, cmapTable({{3, 10, format12(groups, 3)}})), 0);
    EXPECT_ABSENT(cmap, 0, 0x10FFFE);

    // A group may start at the previous group's end: that code maps through whichever group the
    // bisection meets first (lo 0, hi 3: mid 1 first).
    ASSERT_EQ(
        parse(cmap,
              cmapTable({{3, 10, format12({{0x20, 0x30, 100}, {0x30, 0x40, 200}, {0x40, 0x50, 300}})}})),
        0);
    EXPECT_FALSE(cmap.subtables[0].ordered);
    EXPECT_MAPS(cmap, 0, 0x30, 200);
    EXPECT_MAPS(cmap, 0, 0x40, 216);
    EXPECT_MAPS(cmap, 0, 0x2F, 115);
    EXPECT_MAPS(cmap, 0, 0x41, 301);

    // A header cut inside numGroups, at the table's very end: refused, and numGroups is not read (the
    // bytes are a buffer of exactly the table's size, so the sanitizers see any read past it).
    for (uint32_t keep = 12; keep < 16; ++keep) {
        Bytes cut = format12(groups);
        cut.resize(keep);
        const Bytes table = cmapTable({{3, 10, cut}});
        const std::vector<uint8_t> exact(table.begin(), table.end());
        EXPECT_EQ(cmap.parse(exact.data(), uint32_t(exact.size())), kFontDataError) << keep;
    }
}

TEST(CmapTableTest, Format12WithMoreThan65535Groups) {
    std::vector<Group> groups;
    for (uint32_t k = 0; k < 70000; ++k) groups.push_back({3 * k, 3 * k + 1, k});
    CmapTable cmap;
    ASSERT_EQ(parse(cmap, cmapTable({{3, 10, format12(groups)}})), 0);
    EXPECT_EQ(cmap.subtables[0].parameters[2], 1);
    EXPECT_EQ(cmap.subtables[0].parameters[3], 70000 - 65536);
    for (uint32_t code : {0u, 1u, 3u * 65535 + 1, 3u * 65536, 3u * 69999 + 1})
        EXPECT_MAPS(cmap, 0, code, code / 3 + code % 3);
    for (uint32_t code : {2u, 3u * 65536 + 2, 3u * 70000}) EXPECT_ABSENT(cmap, 0, code);
}

// ---------------------------------------------------------------------------------------------------------
// Several threads mapping through one table: the search hint is shared, the answers must not change.

TEST(CmapTableTest, ConcurrentLookupsGiveTheSameAnswers) {
    std::vector<Segment> segments;
    std::mt19937 random(3);
    uint32_t next = 0x20;
    while (next < 0xF000) {
        Segment s{uint16_t(next), uint16_t(next + random() % 30), int16_t(random())};
        next = s.end + 2 + random() % 50;
        segments.push_back(s);
    }
    segments.push_back({0xFFFF, 0xFFFF, 1});
    std::vector<Group> groups;
    for (uint32_t code = 0x20; code < 0x40000; code += 40) groups.push_back({code, code + 20, code});
    CmapTable cmap;
    const Bytes table = cmapTable({{3, 1, format4(segments)}, {3, 10, format12(groups)}});
    ASSERT_EQ(parse(cmap, table), 0);
    ASSERT_TRUE(cmap.subtables[0].ordered && cmap.subtables[1].ordered);
    const cmapref::Format4 f4{table.data(), uint32_t(table.size()), cmap.subtables[0].dataOffset - 14};
    const cmapref::Format12 f12{table.data(), cmap.subtables[1].dataOffset - 16};

    std::vector<uint32_t> failures(4, 0);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 order(t);
            for (uint32_t i = 0; i < 200000; ++i) {
                const uint32_t code = t % 2 ? order() % 0x10000 : (i * (t + 1)) % 0x10000;
                const uint16_t index = uint16_t(i % 2);
                uint32_t glyph = 0;
                const int16_t status = cmap.lookup(index, index ? code * 4 : code, glyph);
                const cmapref::Lookup expected = index ? f12.lookup(code * 4) : f4.lookup(code);
                if (status != (expected.found ? 0 : kGlyphAbsent) || glyph != expected.glyph) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (uint32_t t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0u) << "thread " << t;
}

// ---------------------------------------------------------------------------------------------------------
// Every 'cmap' of the real corpus: each stored format-4 subtable whose searchRange is right gives exactly
// the answers of the search its header describes, for every code, in order and shuffled; format 12 gives
// the bisection's answers at every group's edges and over a sample of all codes; 0 and 6 their arrays.

TEST(CmapTableTest, RealFontsMatchTheReferenceReaders) {
    const std::vector<std::string> files = corpus::fontFiles();
    ASSERT_FALSE(files.empty()) << "no fonts under /usr/share/fonts: install the test run's font packages";
    std::mt19937 random(1);
    uint32_t faces = 0, parsed = 0, f4Right = 0, f4Wrong = 0, f4Unordered = 0, f12 = 0, f12Shared = 0,
             other = 0;
    std::vector<uint32_t> shuffled(0x10000);
    for (uint32_t c = 0; c < 0x10000; ++c) shuffled[c] = c;
    for (const std::string& path : files) {
        for (uint32_t face = 0, n = corpus::faceCount(path); face < n; ++face) {
            corpus::Bytes table;
            if (!corpus::readTable(path, face, "cmap", table)) continue;
            ++faces;
            CmapTable cmap;
            const int16_t status = parse(cmap, table);
            if (status != 0) {
                ADD_FAILURE() << path << "#" << face << ": parse " << status;
                continue;
            }
            ++parsed;
            for (uint16_t i = 0; i < cmap.count; ++i) {
                const CmapSubtable& s = cmap.subtables[i];
                const std::string where =
                    path + "#" + std::to_string(face) + " subtable " + std::to_string(i);
                if (s.format == 4) {
                    const cmapref::Format4 ref{table.data(), uint32_t(table.size()), s.dataOffset - 14};
                    const bool right = ref.searchRange() == ref.rightSearchRange();
                    (right ? f4Right : f4Wrong)++;
                    if (!s.ordered) ++f4Unordered;
                    std::shuffle(shuffled.begin(), shuffled.end(), random);
                    for (int pass = 0; pass < 2; ++pass) {
                        for (uint32_t k = 0; k < 0x10000; k += corpus::kCodeStride) {
                            const uint32_t code = pass ? shuffled[k] : k;
                            const cmapref::Lookup expected =
                                ref.lookup(code, right ? -1 : int64_t(ref.rightSearchRange()));
                            const Mapped m = lookup(cmap, i, code);
                            ASSERT_FALSE(expected.outside) << where;
                            ASSERT_EQ(m.status, expected.found ? 0 : kGlyphAbsent)
                                << where << " code " << code;
                            ASSERT_EQ(m.glyph, expected.glyph) << where << " code " << code;
                        }
                    }
                } else if (s.format == 12) {
                    ++f12;
                    const cmapref::Format12 ref{table.data(), s.dataOffset - 16};
                    if (!s.ordered) ++f12Shared;
                    std::vector<uint32_t> codes;
                    for (uint32_t k = 0; k < ref.numGroups(); ++k)
                        for (uint32_t code : {ref.start(k) - 1, ref.start(k), ref.end(k), ref.end(k) + 1})
                            codes.push_back(code);
                    for (uint32_t code = 0; code <= 0x10FFFF; code += 97 * corpus::kCodeStride)
                        codes.push_back(code);
                    for (int pass = 0; pass < 2; ++pass) {
                        if (pass) std::shuffle(codes.begin(), codes.end(), random);
                        for (uint32_t code : codes) {
                            const cmapref::Lookup expected = ref.lookup(code);
                            const Mapped m = lookup(cmap, i, code);
                            ASSERT_EQ(m.status, expected.found ? 0 : kGlyphAbsent)
                                << where << " code " << code;
                            ASSERT_EQ(m.glyph, expected.glyph) << where << " code " << code;
                        }
                    }
                } else if (s.format == 6 || s.format == 0) {
                    ++other;
                    const uint32_t first = s.format == 6 ? s.parameters[0] : 0;
                    const uint32_t entries = s.format == 6 ? s.parameters[1] : 256;
                    for (uint32_t code = 0; code < 0x10000; code += corpus::kCodeStride) {
                        const Mapped m = lookup(cmap, i, code);
                        const bool inside = code >= first && code - first < entries;
                        ASSERT_EQ(m.status, inside ? 0 : kGlyphAbsent) << where << " code " << code;
                        if (!inside) continue;
                        const uint32_t expected =
                            s.format == 6 ? cmapref::be16(table.data() + s.dataOffset + 2 * (code - first))
                                          : table[s.dataOffset + code];
                        ASSERT_EQ(m.glyph, expected) << where << " code " << code;
                    }
                }
            }
        }
    }
    std::printf(
        "%u faces with a 'cmap', %u parsed; format 4: %u with the right searchRange, %u with a wrong "
        "one, %u unsorted or overlapping; format 12: %u (%u with a shared group end); formats 0/6: %u\n",
        faces, parsed, f4Right, f4Wrong, f4Unordered, f12, f12Shared, other);
    EXPECT_GT(f4Right, 0u);
    EXPECT_GT(f12, 0u);
}

}  // namespace
