// The CFF font object: loadCffTable's steps, acceptance rules and statuses on crafted tables (header, the
// four INDEXes, Top DICT, CharStrings, FDSelect formats 0 and 3, FDArray up to 256 Font DICTs, Private
// DICTs and their local Subrs), the three DICT handlers, fontDictOf, release, the clearing of a failed load,
// and loadFontFace on crafted OpenType CFF fonts and CFF collection members.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cff/CffFont.h"
#include "cff/LoadFont.h"
#include "support/FontBytes.h"
#include "support/SfntBuilder.h"
#include "tests/sfnt/TrueTypeParts.h"

namespace {

constexpr uint16_t kOpCharStrings = 17;
constexpr uint16_t kOpPrivate = 18;
constexpr uint16_t kOpSubrs = 19;
constexpr uint16_t kOpRos = 256 + 30;
constexpr uint16_t kOpFdArray = 256 + 36;
constexpr uint16_t kOpFdSelect = 256 + 37;

// An integer operand in its 5-byte form, so that a DICT's length does not depend on the offsets in it.
Bytes fixedInt(int64_t v) {
    return dictInt32(int32_t(v));
}

Bytes ops(std::initializer_list<Bytes> parts) {
    return cat(parts);
}

// A CFF table laid out as: header, Name, Top DICT, String and Global Subr INDEXes, CharStrings INDEX,
// FDSelect, FDArray INDEX, then each Private DICT followed by its local Subr INDEX.
struct CffLayout {
    uint8_t major = 1, hdrSize = 4, offSize = 4;
    Bytes topExtra;                   // Top DICT operators before the generated ones
    std::vector<Bytes> moreTopDicts;  // Top DICTs after the first
    bool emptyTopDictIndex = false;
    std::vector<Bytes> globalSubrs = {Bytes{11}};
    uint32_t glyphs = 3;           // charstrings of one byte each (endchar)
    bool cid = false;              // ROS, FDSelect and FDArray instead of Private
    Bytes fdSelect;                // the FDSelect bytes as stored (CID fonts)
    std::vector<Bytes> fontDicts;  // extra operators of each Font DICT (CID fonts)
    // Private DICT i (name-keyed: only 0); nullopt: the Font DICT has no Private operator.
    std::vector<std::optional<Bytes>> privates = {Bytes{}};
    std::vector<std::vector<Bytes>> localSubrs;  // per Private DICT; empty: no Subrs operator
    int64_t privateSizeDelta = 0;                // added to every stored Private size
};

struct Built {
    Bytes bytes;
    uint32_t charStrings = 0, fdSelect = 0, fdArray = 0;
    std::vector<uint32_t> privateAt, privateSize;
};

Built buildCff(const CffLayout& s) {
    Built out;
    // Private DICT bodies, each with a Subrs operator pointing right after itself when it has subrs.
    std::vector<Bytes> privateBodies;
    for (size_t i = 0; i < s.privates.size(); ++i) {
        if (!s.privates[i]) {
            privateBodies.emplace_back();
            continue;
        }
        Bytes body = *s.privates[i];
        if (i < s.localSubrs.size() && !s.localSubrs[i].empty())
            body = cat({body, fixedInt(int64_t(body.size()) + 6), dictOp(kOpSubrs)});
        privateBodies.push_back(body);
    }
    std::vector<Bytes> charStrings(s.glyphs, Bytes{14});

    // Sizes that do not depend on offsets.
    const Bytes names = cffIndex({asBytes("Test")});
    const Bytes strings = cffIndex({});
    const Bytes gsubrs = cffIndex(s.globalSubrs);
    const Bytes charStringsIndex = cffIndex(charStrings);
    auto topDict = [&](uint32_t cs, uint32_t fds, uint32_t fda, uint32_t privSize, uint32_t privAt) {
        Bytes t = cat({s.topExtra, fixedInt(cs), dictOp(kOpCharStrings)});
        if (s.cid)
            return cat({t, dictInt(0), dictInt(0), dictInt(0), dictOp(kOpRos), fixedInt(fds),
                        dictOp(kOpFdSelect), fixedInt(fda), dictOp(kOpFdArray)});
        if (!privateBodies.empty() && s.privates[0])
            t = cat({t, fixedInt(privSize), fixedInt(privAt), dictOp(kOpPrivate)});
        return t;
    };
    auto topIndex = [&](const Bytes& first) {
        std::vector<Bytes> dicts = {first};
        for (const Bytes& more : s.moreTopDicts) dicts.push_back(more);
        return s.emptyTopDictIndex ? cffIndex({}) : cffIndex(dicts, 4);
    };
    const size_t topSize = topIndex(topDict(0, 0, 0, 0, 0)).size();

    uint32_t at = s.hdrSize + uint32_t(names.size() + topSize + strings.size() + gsubrs.size());
    out.charStrings = at;
    at += uint32_t(charStringsIndex.size());
    out.fdSelect = at;
    at += uint32_t(s.fdSelect.size());
    // Font DICTs: their own operators, then Private (size, offset) with fixed-size operands.
    auto fontDict = [&](size_t i, uint32_t privSize, uint32_t privAt) {
        Bytes extra = i < s.fontDicts.size() ? s.fontDicts[i] : Bytes{};
        if (i < s.privates.size() && s.privates[i])
            return cat({extra, fixedInt(privSize), fixedInt(privAt), dictOp(kOpPrivate)});
        return extra;
    };
    const size_t fdCount = s.cid ? std::max(s.fontDicts.size(), s.privates.size()) : 0;
    std::vector<Bytes> fontDictsSized;
    for (size_t i = 0; i < fdCount; ++i) fontDictsSized.push_back(fontDict(i, 0, 0));
    out.fdArray = at;
    at += s.cid ? uint32_t(cffIndex(fontDictsSized, 4).size()) : 0;
    for (size_t i = 0; i < privateBodies.size(); ++i) {
        out.privateAt.push_back(at);
        out.privateSize.push_back(uint32_t(int64_t(privateBodies[i].size()) + s.privateSizeDelta));
        at += uint32_t(privateBodies[i].size());
        if (i < s.localSubrs.size() && !s.localSubrs[i].empty())
            at += uint32_t(cffIndex(s.localSubrs[i]).size());
    }

    FontBytes b;
    b.u8(s.major).u8(0).u8(s.hdrSize).u8(s.offSize);
    b.zeros(s.hdrSize > 4 ? s.hdrSize - 4u : 0);
    b.bytes(names);
    const uint32_t priv0Size = out.privateSize.empty() ? 0 : out.privateSize[0];
    const uint32_t priv0At = out.privateAt.empty() ? 0 : out.privateAt[0];
    b.bytes(topIndex(topDict(out.charStrings, out.fdSelect, out.fdArray, priv0Size, priv0At)));
    b.bytes(strings).bytes(gsubrs).bytes(charStringsIndex).bytes(s.fdSelect);
    if (s.cid) {
        std::vector<Bytes> dicts;
        for (size_t i = 0; i < fdCount; ++i)
            dicts.push_back(fontDict(i, i < out.privateSize.size() ? out.privateSize[i] : 0,
                                     i < out.privateAt.size() ? out.privateAt[i] : 0));
        b.bytes(cffIndex(dicts, 4));
    }
    for (size_t i = 0; i < privateBodies.size(); ++i) {
        b.bytes(privateBodies[i]);
        if (i < s.localSubrs.size() && !s.localSubrs[i].empty()) b.bytes(cffIndex(s.localSubrs[i]));
    }
    out.bytes = b.vec();
    return out;
}

// Loads a copy of `table` that lives until the end of the test program (the font points into it).
int16_t load(CffFont& font, const Bytes& table) {
    static std::deque<Bytes> kept;
    kept.push_back(table);
    return font.loadCffTable(kept.back().data(), uint32_t(kept.back().size()));
}

Bytes fdSelect0(const std::vector<uint8_t>& fds) {
    FontBytes b;
    b.u8(0);
    for (uint8_t fd : fds) b.u8(fd);
    return b.vec();
}

// Format 3 from (first glyph, fd) ranges and a sentinel.
Bytes fdSelect3(const std::vector<std::pair<uint16_t, uint8_t>>& ranges, uint16_t sentinel) {
    FontBytes b;
    b.u8(3).u16(uint32_t(ranges.size()));
    for (const auto& r : ranges) b.u16(r.first).u8(r.second);
    b.u16(sentinel);
    return b.vec();
}

// A CID-keyed font description with `n` Font DICTs, Private DICT i holding defaultWidthX i.
CffLayout cidLayout(size_t n, Bytes fdSelect, uint32_t glyphs) {
    CffLayout s;
    s.cid = true;
    s.glyphs = glyphs;
    s.fdSelect = std::move(fdSelect);
    s.privates.clear();
    for (size_t i = 0; i < n; ++i) s.privates.push_back(cat({dictInt(int32_t(i)), dictOp(20)}));
    return s;
}

}  // namespace

TEST(CffFontTest, ConstructionAndRelease) {
    auto font = std::make_unique<CffFont>();
    EXPECT_EQ(font->formatTag, CffFont::kTag);
    EXPECT_EQ(font->unitsPerEm, 1000);
    EXPECT_EQ(font->fdCount, 0);
    EXPECT_EQ(font->charStrings.count, 0);
    EXPECT_EQ(font->privateDicts[255].blueScale, kCffDefaultBlueScale);
    EXPECT_EQ(font->fontDictOf(7), 0);

    CffLayout s;
    s.localSubrs = {{Bytes{11}, Bytes{11}}};
    const Built b = buildCff(s);
    ASSERT_EQ(load(*font, b.bytes), 0);
    ASSERT_EQ(font->localSubrs[0].count, 2);
    font->release();
    EXPECT_EQ(font->charStrings.count, 0);
    EXPECT_EQ(font->globalSubrs.count, 0);
    EXPECT_EQ(font->localSubrs[0].count, 0);
    EXPECT_EQ(font->fdSelectData, nullptr);
    EXPECT_EQ(font->cmapIndex, -1);
    font->release();  // fine twice
}

TEST(CffFontTest, HeaderRules) {
    CffLayout s;
    CffFont font;
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.cffHeaderOffSize, 4);

    // Minor version and offSize are not examined; a longer header is skipped.
    s.offSize = 9;
    s.hdrSize = 7;
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.cffHeaderOffSize, 9);
    Bytes minor = buildCff(s).bytes;
    minor[1] = 0xFF;
    EXPECT_EQ(load(font, minor), 0);

    s = CffLayout();
    s.major = 2;
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
    s = CffLayout();
    s.hdrSize = 3;
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
    EXPECT_EQ(font.loadCffTable(buildCff(CffLayout()).bytes.data(), 3), kFontDataError);
    EXPECT_EQ(font.loadCffTable(nullptr, 0), kFontDataError);
}

TEST(CffFontTest, NameKeyedFont) {
    CffLayout s;
    s.topExtra = ops({dictInt(-100), dictInt(-200), dictInt(1100), dictInt(900), dictOp(5)});
    s.glyphs = 5;
    s.globalSubrs = std::vector<Bytes>(1240, Bytes{11});
    s.privates = {ops({dictInt(500), dictOp(20), dictInt(-30), dictOp(21), dictInt(80), dictOp(10),
                       dictInt(90), dictOp(11)})};
    s.localSubrs = {std::vector<Bytes>(1239, Bytes{11})};
    const Built b = buildCff(s);
    CffFont font;
    ASSERT_EQ(load(font, b.bytes), 0);
    EXPECT_EQ(font.charStrings.count, 5);
    EXPECT_EQ(font.charStrings.maxElementLength, 1);
    EXPECT_EQ(font.globalSubrs.count, 1240);
    EXPECT_EQ(font.globalSubrs.bias, 1131);
    EXPECT_EQ(font.fdCount, 1);
    EXPECT_EQ(font.fdSelectFormat, 0);
    EXPECT_EQ(font.fdSelectData, nullptr);
    // FontBBox -100 -200 1100 900 as top, left, bottom, right.
    EXPECT_EQ(font.fontBBox[0], 900);
    EXPECT_EQ(font.fontBBox[1], -100);
    EXPECT_EQ(font.fontBBox[2], -200);
    EXPECT_EQ(font.fontBBox[3], 1100);
    const CffPrivateDict& p = font.privateDicts[0];
    EXPECT_EQ(p.defaultWidthX, 500);
    EXPECT_EQ(p.nominalWidthX, -30);
    ASSERT_EQ(p.stemHCount, 1);
    EXPECT_EQ(p.stemH[0], 80 * 64);
    ASSERT_EQ(p.stemVCount, 1);
    EXPECT_EQ(p.stemV[0], 90 * 64);
    EXPECT_EQ(p.subrsOffset, int32_t(b.privateSize[0]));
    EXPECT_EQ(font.localSubrs[0].count, 1239);
    EXPECT_EQ(font.localSubrs[0].bias, 107);
    for (uint32_t g = 0; g < 5; ++g) EXPECT_EQ(font.fontDictOf(g), 0);

    // Only the first Top DICT is read: a second one with a bad CharStrings offset changes nothing.
    s.moreTopDicts = {ops({dictInt(3), dictOp(kOpCharStrings)})};
    CffFont two;
    ASSERT_EQ(load(two, buildCff(s).bytes), 0);
    EXPECT_EQ(two.charStrings.count, 5);

    // FontBBox values are cut to 16 bits; a real operand is refused.
    s = CffLayout();
    s.topExtra = ops({dictInt(70000), dictInt(0), dictInt(-70000), dictInt(32768), dictOp(5)});
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.fontBBox[0], -32768);
    EXPECT_EQ(font.fontBBox[1], 4464);
    EXPECT_EQ(font.fontBBox[3], -4464);
    s.topExtra = ops({dictInt(0), dictInt(0), dictReal("1.5"), dictInt(0), dictOp(5)});
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
}

TEST(CffFontTest, EmptyAndMissingPieces) {
    CffFont font;
    // An empty Top DICT INDEX is an empty Top DICT: CharStrings at position 0, which reads the header as an
    // INDEX of 256 elements that the table cannot hold.
    CffLayout s;
    s.emptyTopDictIndex = true;
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);

    // A name-keyed font whose Private size is 0 keeps fdCount at 0; no Private operator likewise.
    s = CffLayout();
    s.privates = {std::nullopt};
    s.topExtra = cat({dictInt(0), dictInt(40), dictOp(kOpPrivate)});
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.fdCount, 0);
    s.topExtra = {};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.fdCount, 0);

    // ROS without FDSelect and FDArray loads as name-keyed from the Top DICT's Private operator.
    s = CffLayout();
    s.topExtra = ops({dictInt(1), dictInt(2), dictInt(0), dictOp(kOpRos)});
    s.privates = {ops({dictInt(321), dictOp(20)})};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.fdCount, 1);
    EXPECT_EQ(font.privateDicts[0].defaultWidthX, 321);
}

TEST(CffFontTest, PrivateDictHandler) {
    CffFont font;
    CffLayout s;
    // StdHW then a StemSnapH of 14: the StdHW width and the first 11 StemSnapH values.
    Bytes snap;
    for (int i = 1; i <= 14; ++i) snap = cat({snap, dictInt(i * 10)});
    s.privates = {cat({dictInt(50), dictOp(10), snap, dictOp(256 + 12),
                       // StdVW as a real, then StemSnapV with a real: both shifted to 26.6.
                       dictReal("2.5"), dictOp(11), dictInt(3), dictReal("-1.25"), dictOp(256 + 13),
                       // Widths as reals: -0.5 stored as -1, 2.75 as 2.
                       dictReal("-.5"), dictOp(20), dictReal("2.75"), dictOp(21)})};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    const CffPrivateDict& p = font.privateDicts[0];
    ASSERT_EQ(p.stemHCount, 12);
    EXPECT_EQ(p.stemH[0], 50 * 64);
    for (int i = 1; i < 12; ++i) EXPECT_EQ(p.stemH[i], i * 10 * 64) << i;  // no running sum
    ASSERT_EQ(p.stemVCount, 3);
    EXPECT_EQ(p.stemV[0], 160);  // 2.5 x 64
    EXPECT_EQ(p.stemV[1], 192);  // 3 x 64
    EXPECT_EQ(p.stemV[2], -80);  // -1.25 x 64
    EXPECT_EQ(p.defaultWidthX, -1);
    EXPECT_EQ(p.nominalWidthX, 2);

    // Thirteen StdHW: the thirteenth is dropped. An integer too large for 26.6 saturates.
    Bytes many;
    for (int i = 0; i < 13; ++i) many = cat({many, dictInt(i + 1), dictOp(10)});
    s.privates = {cat({many, dictInt32(INT32_MAX), dictOp(11)})};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.privateDicts[0].stemHCount, 12);
    EXPECT_EQ(font.privateDicts[0].stemH[11], 12 * 64);
    EXPECT_EQ(font.privateDicts[0].stemV[0], INT32_MAX);

    // Subrs as a real is refused.
    s.privates = {cat({dictReal("4"), dictOp(kOpSubrs)})};
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
}

TEST(CffFontTest, AlignmentZones) {
    CffFont font;
    CffLayout s;
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    // Defaults when the operators are absent.
    EXPECT_EQ(font.privateDicts[0].blueValueCount, 0);
    EXPECT_EQ(font.privateDicts[0].otherBlueCount, 0);
    EXPECT_EQ(font.privateDicts[0].blueScale, 2597);  // 0.039625 in 16.16
    EXPECT_EQ(font.privateDicts[0].blueShift, 7 * 64);
    EXPECT_EQ(font.privateDicts[0].blueFuzz, 64);

    // BlueValues -15 0 500 515 stored as deltas -15 15 500 15; OtherBlues of 12 values keep 10.
    Bytes others;
    for (int i = 0; i < 12; ++i) others = cat({others, dictInt(i == 0 ? -250 : 5)});
    s.privates = {cat({dictInt(-15), dictInt(15), dictInt(500), dictReal("15.5"), dictOp(6), others,
                       dictOp(7), dictReal(".0625"), dictOp(256 + 9), dictInt(3), dictOp(256 + 10),
                       dictInt(0), dictOp(256 + 11)})};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    const CffPrivateDict& p = font.privateDicts[0];
    ASSERT_EQ(p.blueValueCount, 4);
    EXPECT_EQ(p.blueValues[0], -15 * 64);
    EXPECT_EQ(p.blueValues[1], 0);
    EXPECT_EQ(p.blueValues[2], 500 * 64);
    EXPECT_EQ(p.blueValues[3], 515 * 64 + 32);
    ASSERT_EQ(p.otherBlueCount, 10);
    EXPECT_EQ(p.otherBlues[0], -250 * 64);
    EXPECT_EQ(p.otherBlues[9], -205 * 64);
    EXPECT_EQ(p.blueScale, 4096);
    EXPECT_EQ(p.blueShift, 3 * 64);
    EXPECT_EQ(p.blueFuzz, 0);
    // The width and stem fields are untouched by the zones.
    EXPECT_EQ(p.stemHCount, 0);
    EXPECT_EQ(p.defaultWidthX, 0);
}

TEST(CffFontTest, FdSelectFormat3) {
    // Ranges starting at 0, 5, 5 with the sentinel equal to the glyph count load.
    CffFont font;
    ASSERT_EQ(load(font, buildCff(cidLayout(3, fdSelect3({{0, 2}, {5, 0}, {5, 1}}, 9), 9)).bytes), 0);
    EXPECT_EQ(font.fdCount, 3);
    EXPECT_EQ(font.fdSelectFormat, 3);
    EXPECT_EQ(font.fdSelectSize, 3);
    EXPECT_EQ(font.fdSelectGlyphCount, 9);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(font.privateDicts[i].defaultWidthX, i);
    for (uint32_t g = 0; g < 5; ++g) EXPECT_EQ(font.fontDictOf(g), 2) << g;
    for (uint32_t g = 5; g < 9; ++g) EXPECT_EQ(font.fontDictOf(g), 1) << g;  // the empty range 5..4 skipped
    EXPECT_EQ(font.fontDictOf(9), 0);                                        // beyond the sentinel

    // Glyphs before the first range have no Font DICT: 0. Many ranges exercise the bisection.
    std::vector<std::pair<uint16_t, uint8_t>> ranges;
    for (uint16_t i = 0; i < 200; ++i) ranges.push_back({uint16_t(3 + i * 7), uint8_t(i % 5)});
    const uint16_t glyphs = 3 + 200 * 7;
    ASSERT_EQ(load(font, buildCff(cidLayout(5, fdSelect3(ranges, glyphs), glyphs)).bytes), 0);
    for (uint32_t g = 0; g < glyphs; ++g) {
        const int32_t expected = g < 3 ? 0 : int32_t(((g - 3) / 7) % 5);
        ASSERT_EQ(font.fontDictOf(g), expected) << g;
    }

    // No ranges at all: the sentinel must still equal the glyph count.
    ASSERT_EQ(load(font, buildCff(cidLayout(2, fdSelect3({}, 4), 4)).bytes), 0);
    EXPECT_EQ(font.fontDictOf(2), 0);

    // Refusals: descending firsts, a sentinel one below the glyph count or below the last first, a table
    // too short for the ranges it announces.
    EXPECT_EQ(load(font, buildCff(cidLayout(3, fdSelect3({{0, 0}, {5, 1}, {3, 2}}, 9), 9)).bytes),
              kFontDataError);
    EXPECT_EQ(load(font, buildCff(cidLayout(3, fdSelect3({{0, 0}, {5, 1}}, 8), 9)).bytes), kFontDataError);
    EXPECT_EQ(load(font, buildCff(cidLayout(2, fdSelect3({{0, 0}, {5, 1}}, 4), 4)).bytes), kFontDataError);
    Built cut = buildCff(cidLayout(1, fdSelect3({{0, 0}}, 3), 3));
    // Announce 2 ranges in a table whose FDSelect is the last thing: cut the table after it.
    cut.bytes[cut.fdSelect + 2] = 2;
    cut.bytes.resize(cut.fdSelect + 1 + 2 + 3 * 2 + 1);
    EXPECT_EQ(load(font, cut.bytes), kFontDataError);
}

TEST(CffFontTest, FdSelectFormat0AndOtherFormats) {
    CffFont font;
    ASSERT_EQ(load(font, buildCff(cidLayout(4, fdSelect0({3, 1, 0, 2, 3}), 5)).bytes), 0);
    EXPECT_EQ(font.fdSelectFormat, 0);
    EXPECT_EQ(font.fdSelectSize, 5);
    const int32_t expected[] = {3, 1, 0, 2, 3};
    for (uint32_t g = 0; g < 5; ++g) EXPECT_EQ(font.fontDictOf(g), expected[g]);
    EXPECT_EQ(font.fontDictOf(5), 0);
    // Font DICT indices are not compared with fdCount.
    ASSERT_EQ(load(font, buildCff(cidLayout(2, fdSelect0({0, 9, 1}), 3)).bytes), 0);
    EXPECT_EQ(font.fontDictOf(1), 9);

    // One byte too few for the glyph count: the FDSelect is the last thing of a table without Private DICTs.
    CffLayout s = cidLayout(0, fdSelect0({0, 0, 0}), 3);
    s.fontDicts = {Bytes{}};
    Built b = buildCff(s);
    ASSERT_EQ(load(font, b.bytes), 0);
    // Move FDSelect to the table's end with one entry missing.
    Bytes shortSelect = b.bytes;
    const uint32_t at = uint32_t(shortSelect.size());
    shortSelect.insert(shortSelect.end(), {0, 0, 0});
    Bytes exact = shortSelect;
    exact.push_back(0);
    auto pointTo = [&](Bytes& bytes, uint32_t position) {
        // The Top DICT's FDSelect operand is the fixed 5-byte integer before operator 12 37.
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            if (bytes[i] == 12 && bytes[i + 1] == 37 && bytes[i - 5] == 29) {
                bytes[i - 4] = uint8_t(position >> 24);
                bytes[i - 3] = uint8_t(position >> 16);
                bytes[i - 2] = uint8_t(position >> 8);
                bytes[i - 1] = uint8_t(position);
                return;
            }
        FAIL() << "no FDSelect operator";
    };
    pointTo(shortSelect, at);
    pointTo(exact, at);
    EXPECT_EQ(load(font, shortSelect), kFontDataError);
    EXPECT_EQ(load(font, exact), 0);
    // An FDSelect offset at the table's end.
    pointTo(exact, uint32_t(exact.size()));
    EXPECT_EQ(load(font, exact), kFontDataError);

    // Formats 1, 2 and 4 fail.
    for (uint8_t format : {1, 2, 4}) {
        Bytes select = fdSelect0({0, 0, 0});
        select[0] = format;
        EXPECT_EQ(load(font, buildCff(cidLayout(1, select, 3)).bytes), kFontDataError) << int(format);
    }
}

TEST(CffFontTest, FdArrayLimitAndFontDicts) {
    CffFont font;
    // 256 Font DICTs load, each with its own Private DICT; 257 fail.
    std::vector<uint8_t> fds(256);
    for (int i = 0; i < 256; ++i) fds[i] = uint8_t(255 - i);
    ASSERT_EQ(load(font, buildCff(cidLayout(256, fdSelect0(fds), 256)).bytes), 0);
    EXPECT_EQ(font.fdCount, 256);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(font.privateDicts[i].defaultWidthX, i);
    EXPECT_EQ(font.fontDictOf(0), 255);
    std::vector<uint8_t> fds257(257, 0);
    EXPECT_EQ(load(font, buildCff(cidLayout(257, fdSelect0(fds257), 257)).bytes), kFontDataError);
    EXPECT_EQ(font.fdCount, 0);

    // A Font DICT without Private keeps its place in fdCount; its Private DICT is not read.
    CffLayout s = cidLayout(3, fdSelect0({0, 1, 2}), 3);
    s.privates[1] = std::nullopt;
    s.localSubrs = {{}, {}, {Bytes{11}}};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.fdCount, 3);
    EXPECT_EQ(font.privateDicts[1].defaultWidthX, 0);
    EXPECT_EQ(font.privateDicts[2].defaultWidthX, 2);
    EXPECT_EQ(font.localSubrs[2].count, 1);
    EXPECT_EQ(font.localSubrs[0].count, 0);

    // Font DICT operators of the wrong form.
    s = cidLayout(1, fdSelect0({0}), 1);
    s.fontDicts = {cat({dictReal("1.5"), dictInt(0), dictOp(kOpPrivate)})};
    s.privates = {std::nullopt};
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
    s.fontDicts = {cat({dictInt(1), dictOp(kOpPrivate)})};  // one operand: the DICT parser refuses it
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
}

TEST(CffFontTest, TopDictOperandsOfTheWrongForm) {
    CffFont font;
    // charset, CharStrings, FDArray and FDSelect with a real operand: the handler refuses at once.
    for (uint16_t op : {uint16_t(15), kOpCharStrings, kOpFdArray, kOpFdSelect}) {
        CffLayout s;
        s.topExtra = cat({dictReal("2"), dictOp(op)});
        EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError) << op;
        s.topExtra = cat({dictInt(2), dictOp(op)});  // the integer form is kept (and later replaced)
        EXPECT_EQ(load(font, buildCff(s).bytes), 0) << op;
    }
    // Private with a real operand.
    CffLayout s;
    s.privates = {std::nullopt};
    s.topExtra = cat({dictInt(0), dictReal("3.5"), dictOp(kOpPrivate)});
    EXPECT_EQ(load(font, buildCff(s).bytes), kFontDataError);
}

TEST(CffFontTest, PositionsOutsideTheTableFailCleanly) {
    CffFont font;
    // A Private DICT that runs one byte past the table's end.
    CffLayout s;
    s.privates = {ops({dictInt(5), dictOp(20)})};
    Built b = buildCff(s);
    ASSERT_EQ(load(font, b.bytes), 0);
    Bytes cut = b.bytes;
    cut.pop_back();
    EXPECT_EQ(load(font, cut), kFontDataError);

    // Private offsets and sizes that are huge or negative, CharStrings far away or negative.
    for (int64_t offset : {int64_t(INT32_MAX), int64_t(-4), int64_t(b.bytes.size())}) {
        CffLayout t;
        t.privates = {std::nullopt};
        t.topExtra = cat({fixedInt(2), fixedInt(offset), dictOp(kOpPrivate)});
        EXPECT_EQ(load(font, buildCff(t).bytes), kFontDataError) << offset;
        t.topExtra = cat({fixedInt(INT32_MAX), fixedInt(4), dictOp(kOpPrivate)});
        EXPECT_EQ(load(font, buildCff(t).bytes), kFontDataError);
        t.topExtra = cat({fixedInt(-1), fixedInt(4), dictOp(kOpPrivate)});
        EXPECT_EQ(load(font, buildCff(t).bytes), kFontDataError);
    }

    // Subrs offsets that land outside the table: past the end, far past, and before its start.
    for (int64_t subrs : {int64_t(100000), int64_t(INT32_MAX), int64_t(-100000)}) {
        CffLayout t;
        t.privates = {cat({fixedInt(subrs), dictOp(kOpSubrs)})};
        EXPECT_EQ(load(font, buildCff(t).bytes), kFontDataError) << subrs;
    }
    // A negative Subrs offset that lands inside the table reads the INDEX there (the Global Subr INDEX).
    CffLayout g;
    g.globalSubrs = {Bytes{11}, Bytes{11}, Bytes{11}};
    Built gb = buildCff(g);
    const int64_t globalsAt = gb.charStrings - int64_t(cffIndex(g.globalSubrs).size());
    g.privates = {cat({fixedInt(globalsAt - gb.privateAt[0]), dictOp(kOpSubrs)})};
    gb = buildCff(g);
    ASSERT_EQ(load(font, gb.bytes), 0);
    EXPECT_EQ(font.localSubrs[0].count, 3);

    // The table must lie inside the file buffer the owner set.
    Built ok = buildCff(CffLayout());
    CffFont owned;
    owned.data = ok.bytes.data();
    owned.dataSize = uint32_t(ok.bytes.size());
    EXPECT_EQ(owned.loadCffTable(ok.bytes.data(), uint32_t(ok.bytes.size())), 0);
    EXPECT_EQ(owned.loadCffTable(ok.bytes.data() + 1, uint32_t(ok.bytes.size())), kFontDataError);
    owned.dataSize -= 1;
    EXPECT_EQ(owned.loadCffTable(ok.bytes.data(), uint32_t(ok.bytes.size())), kFontDataError);
}

TEST(CffFontTest, FailedLoadClearsAndReloadStartsSlotsAfresh) {
    CffFont font;
    CffLayout s = cidLayout(3, fdSelect3({{0, 1}, {2, 2}}, 4), 4);
    s.privates[2] = cat({dictInt(40), dictOp(10), dictInt(7), dictOp(20)});
    s.localSubrs = {{Bytes{11}}};
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    ASSERT_EQ(font.fdCount, 3);
    ASSERT_EQ(font.privateDicts[2].stemHCount, 1);

    // Loading the same table again on the same object gives the same slots (no stems appended twice).
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    EXPECT_EQ(font.privateDicts[2].stemHCount, 1);
    EXPECT_EQ(font.localSubrs[0].count, 1);

    // A table that fails late (its last Private DICT is malformed) leaves nothing behind.
    CffLayout bad = s;
    bad.privates[2] = Bytes{22};  // a reserved operand byte
    EXPECT_EQ(load(font, buildCff(bad).bytes), kFontDataError);
    EXPECT_EQ(font.charStrings.count, 0);
    EXPECT_EQ(font.globalSubrs.count, 0);
    EXPECT_EQ(font.fdCount, 0);
    EXPECT_EQ(font.fdSelectData, nullptr);
    EXPECT_EQ(font.fdSelectFormat, 0);
    EXPECT_EQ(font.localSubrs[0].count, 0);
    EXPECT_EQ(font.privateDicts[2].stemHCount, 0);
    EXPECT_EQ(font.privateDicts[2].defaultWidthX, 0);
    EXPECT_EQ(font.fontBBox[0], 0);
    EXPECT_EQ(font.fontDictOf(3), 0);

    // A table with fewer Font DICTs resets the slots the earlier one filled beyond its own: a glyph whose
    // FDSelect entry names such a slot finds defaults, not the other table's Private DICT.
    CffLayout five = cidLayout(5, fdSelect0({0, 1, 2, 3, 4}), 5);
    five.localSubrs = {{}, {}, {}, {}, {Bytes{11}, Bytes{11}}};
    ASSERT_EQ(load(font, buildCff(five).bytes), 0);
    ASSERT_EQ(font.localSubrs[4].count, 2);
    ASSERT_EQ(font.privateDicts[4].defaultWidthX, 4);
    ASSERT_EQ(load(font, buildCff(cidLayout(2, fdSelect0({0, 4}), 2)).bytes), 0);
    EXPECT_EQ(font.fdCount, 2);
    EXPECT_EQ(font.fontDictOf(1), 4);
    EXPECT_EQ(font.localSubrs[4].count, 0);
    EXPECT_EQ(font.privateDicts[4].defaultWidthX, 0);

    // A second table with neither FDArray nor Private keeps fdCount (and the slots) of the first.
    ASSERT_EQ(load(font, buildCff(s).bytes), 0);
    CffLayout bare;
    bare.privates = {std::nullopt};
    ASSERT_EQ(load(font, buildCff(bare).bytes), 0);
    EXPECT_EQ(font.fdCount, 3);
    EXPECT_EQ(font.privateDicts[2].defaultWidthX, 7);
}

namespace {

// An OpenType CFF font with the shared tables.
SfntBuilder otto(const Bytes& cff, uint16_t unitsPerEm = 1000) {
    SfntBuilder b("OTTO");
    b.table("CFF ", cff).table("cmap", ttparts::cmap({{3, 1}})).table("head", ttparts::head(unitsPerEm));
    b.table("name", ttparts::name());
    return b;
}

}  // namespace

TEST(CffFontTest, LoadFontFaceOpenTypeAndCollections) {
    CffLayout s;
    s.glyphs = 7;
    const Bytes cff = buildCff(s).bytes;
    const Bytes file = otto(cff, 2048).build();
    int16_t status = 1;
    std::unique_ptr<SfntFont> font = loadFontFace(file.data(), uint32_t(file.size()), 0, status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(font->formatTag, CffFont::kTag);
    const auto& cffFont = static_cast<const CffFont&>(*font);
    EXPECT_EQ(font->glyphCount, 7u);
    EXPECT_EQ(font->unitsPerEm, 2048);
    EXPECT_EQ(cffFont.charStrings.count, 7);
    // The views point into the file buffer, at the CFF table.
    EXPECT_GT(cffFont.charStrings.offsets, cffFont.data + cffFont.cffOffset);
    EXPECT_LT(cffFont.charStrings.offsets, cffFont.data + cffFont.cffOffset + cffFont.cffLength);
    EXPECT_EQ(loadU32(cffFont.data + cffFont.cffOffset), loadU32(cff.data()));
    EXPECT_EQ(cffFont.cffLength, cff.size());
    uint32_t glyph = 0;
    EXPECT_EQ(font->charToGlyph('A', glyph), 0);
    EXPECT_EQ(glyph, 1u);
    EXPECT_EQ(loadFontFace(file.data(), uint32_t(file.size()), 1, status), nullptr);
    EXPECT_EQ(status, kParamError);

    // A malformed CFF table fails the face with the load's status.
    Bytes bad = cff;
    bad[0] = 2;
    const Bytes badFile = otto(bad).build();
    EXPECT_EQ(loadFontFace(badFile.data(), uint32_t(badFile.size()), 0, status), nullptr);
    EXPECT_EQ(status, kFontDataError);

    // Two CFF tables: both load, but the glyph count and units per em stay as constructed.
    SfntBuilder two = otto(cff, 2048);
    two.table("CFF ", cff);
    const Bytes twoFile = two.build();
    font = loadFontFace(twoFile.data(), uint32_t(twoFile.size()), 0, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(font->glyphCount, 0u);
    EXPECT_EQ(font->unitsPerEm, 1000);
    // No CFF table: loads without glyphs.
    SfntBuilder none("OTTO");
    none.table("cmap", ttparts::cmap({{3, 1}})).table("head", ttparts::head()).table("name", ttparts::name());
    const Bytes noneFile = none.build();
    font = loadFontFace(noneFile.data(), uint32_t(noneFile.size()), 0, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(font->glyphCount, 0u);

    // Members of a CFF collection load with fontOffset at the member; offsets count from the file's start.
    CffLayout s2;
    s2.glyphs = 11;
    const Bytes collection = buildCollection({otto(cff, 2048), otto(buildCff(s2).bytes, 1024)});
    for (uint32_t face = 0; face < 2; ++face) {
        font = loadFontFace(collection.data(), uint32_t(collection.size()), face, status);
        ASSERT_EQ(status, 0) << face;
        EXPECT_EQ(font->formatTag, CffFont::kTag);
        EXPECT_NE(font->fontOffset, 0u);
        EXPECT_EQ(font->glyphCount, face == 0 ? 7u : 11u);
        EXPECT_EQ(font->unitsPerEm, face == 0 ? 2048 : 1024);
    }
    EXPECT_EQ(loadFontFace(collection.data(), uint32_t(collection.size()), 2, status), nullptr);
    EXPECT_EQ(status, kParamError);
}
