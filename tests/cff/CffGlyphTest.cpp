// Glyph access of CFF fonts on crafted OpenType CFF fonts: the hint record (slots 2 and 4), outlines by glyph
// (slot 5: absent glyphs, the Font DICT through FDSelect with its widths and local subroutines, empty
// charstrings, the hint record's Font DICT index) and by character (slot 6), and the working state made by
// prepareGlyphWork. Outlines compare as text in font units.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cff/CffFont.h"
#include "cff/LoadFont.h"
#include "cff/Type2Interpreter.h"
#include "sfnt/OutlineText.h"
#include "support/FontBytes.h"
#include "support/SfntBuilder.h"
#include "support/Type2Charstring.h"
#include "tests/sfnt/TrueTypeParts.h"

namespace {

using type2::assemble;

constexpr uint16_t kOpCharStrings = 17;
constexpr uint16_t kOpPrivate = 18;
constexpr uint16_t kOpSubrs = 19;
constexpr uint16_t kOpDefaultWidthX = 20;
constexpr uint16_t kOpNominalWidthX = 21;
constexpr uint16_t kOpRos = 256 + 30;
constexpr uint16_t kOpFdArray = 256 + 36;
constexpr uint16_t kOpFdSelect = 256 + 37;

struct PrivateSpec {
    int32_t defaultWidthX = 0;
    int32_t nominalWidthX = 0;
    std::vector<Bytes> subrs;
};

// A CID-keyed CFF table: header, Name, Top DICT (ROS, CharStrings, FDSelect, FDArray), String and Global
// Subr INDEXes, CharStrings, FDSelect format 3 from (first glyph, fd) ranges, FDArray, then each Private
// DICT followed by its local Subr INDEX. Offsets are written in the 5-byte integer form, so that sizes are
// known before the offsets.
Bytes cidCff(const std::vector<Bytes>& charStrings, const std::vector<Bytes>& globalSubrs,
             const std::vector<std::pair<uint16_t, uint8_t>>& ranges,
             const std::vector<PrivateSpec>& privates) {
    auto privateDict = [](const PrivateSpec& p) {
        Bytes d = cat({dictInt32(p.defaultWidthX), dictOp(kOpDefaultWidthX), dictInt32(p.nominalWidthX),
                       dictOp(kOpNominalWidthX)});
        if (!p.subrs.empty()) d = cat({d, dictInt32(int32_t(d.size() + 6)), dictOp(kOpSubrs)});
        return d;
    };
    FontBytes fdSelect;
    fdSelect.u8(3).u16(uint32_t(ranges.size()));
    for (const auto& r : ranges) fdSelect.u16(r.first).u8(r.second);
    fdSelect.u16(uint32_t(charStrings.size()));

    auto topDict = [](uint32_t cs, uint32_t fds, uint32_t fda) {
        return cat({dictInt(0), dictInt(0), dictInt(0), dictOp(kOpRos), dictInt32(int32_t(cs)),
                    dictOp(kOpCharStrings), dictInt32(int32_t(fds)), dictOp(kOpFdSelect),
                    dictInt32(int32_t(fda)), dictOp(kOpFdArray)});
    };
    const Bytes names = cffIndex({asBytes("Test-CID")});
    const Bytes strings = cffIndex({});
    const Bytes gsubrs = cffIndex(globalSubrs);
    const Bytes charStringsIndex = cffIndex(charStrings);
    const uint32_t topSize = uint32_t(cffIndex({topDict(0, 0, 0)}, 4).size());
    const uint32_t charStringsAt =
        4 + uint32_t(names.size()) + topSize + uint32_t(strings.size() + gsubrs.size());
    const uint32_t fdSelectAt = charStringsAt + uint32_t(charStringsIndex.size());
    const uint32_t fdArrayAt = fdSelectAt + uint32_t(fdSelect.size());
    std::vector<Bytes> fontDictsSized(privates.size(), cat({dictInt32(0), dictInt32(0), dictOp(kOpPrivate)}));
    uint32_t at = fdArrayAt + uint32_t(cffIndex(fontDictsSized, 4).size());
    std::vector<Bytes> fontDicts, tail;
    for (const PrivateSpec& p : privates) {
        const Bytes d = privateDict(p);
        fontDicts.push_back(cat({dictInt32(int32_t(d.size())), dictInt32(int32_t(at)), dictOp(kOpPrivate)}));
        tail.push_back(d);
        at += uint32_t(d.size());
        if (!p.subrs.empty()) {
            tail.push_back(cffIndex(p.subrs));
            at += uint32_t(tail.back().size());
        }
    }
    FontBytes b;
    b.u8(1).u8(0).u8(4).u8(4);
    b.bytes(names)
        .bytes(cffIndex({topDict(charStringsAt, fdSelectAt, fdArrayAt)}, 4))
        .bytes(strings)
        .bytes(gsubrs);
    b.bytes(charStringsIndex).bytes(fdSelect.vec()).bytes(cffIndex(fontDicts, 4));
    for (const Bytes& t : tail) b.bytes(t);
    return b.vec();
}

Bytes head(uint16_t unitsPerEm) {
    Bytes h(54, 0);
    h[18] = uint8_t(unitsPerEm >> 8);
    h[19] = uint8_t(unitsPerEm);
    return h;
}

// An OpenType CFF font around `cff`; its 'cmap' maps 'A' to glyph 1 through a (3,1) subtable, or only
// through a (1,0) one.
Bytes otf(const Bytes& cff, bool windowsCmap = true) {
    SfntBuilder s("OTTO");
    s.table("CFF ", cff)
        .table("cmap", ttparts::cmap({{uint16_t(windowsCmap ? 3 : 1), uint16_t(windowsCmap ? 1 : 0)}}))
        .table("head", head(1000))
        .table("maxp", Bytes{0, 0, 0x50, 0, 0, 1})
        .table("name", ttparts::name());
    return s.build();
}

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

// A loaded font with its working state and an outline record, as a caller holds them.
struct Loaded {
    explicit Loaded(Bytes bytes) : file(std::move(bytes)) {
        int16_t status = -1;
        font = loadFontFace(file.data(), uint32_t(file.size()), 0, status);
        EXPECT_EQ(status, 0);
        if (!font) return;
        EXPECT_EQ(font->prepareGlyphWork(work), 0);
        outline.reset(font->newOutline());
        hints = font->newHintRecord();
        work.hints = &hints;
    }
    ~Loaded() {
        if (font) font->releaseGlyphWork(work);
        delete hints;
    }
    int16_t glyph(uint32_t g) {
        outline->clear();
        return font->getGlyphOutline(g, work, *outline);
    }
    int16_t character(uint32_t code) {
        outline->clear();
        return font->getCharOutline(code, work, *outline);
    }
    std::string text() const { return outlineText(*outline); }

    Bytes file;
    std::unique_ptr<SfntFont> font;
    GlyphWork work;
    std::unique_ptr<GlyphOutline, OutlineDeleter> outline;
    HintRecord* hints = nullptr;
};

TEST(CffGlyphTest, HintRecordSlots) {
    CffFont font;
    EXPECT_EQ(font.hintingKind(), 0x5354454Du);  // 'STEM'
    std::unique_ptr<HintRecord> record(font.newHintRecord());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->tag, 0x5354454Du);
    EXPECT_EQ(record->status, 0);
    EXPECT_EQ(record->fdIndex, -1);
    EXPECT_EQ(record->maskCount, 0u);
    EXPECT_EQ(record->maskCapacity, 0u);
    EXPECT_EQ(record->masks, nullptr);
    EXPECT_EQ(record->hStemCount + record->vStemCount, 0);
    // The growth: 8 entries at a time while short, by half the list beyond 16.
    HintMaskEntry entry{};
    std::vector<uint32_t> capacities;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(record->appendMask(entry), 0);
        if (capacities.empty() || capacities.back() != record->maskCapacity)
            capacities.push_back(record->maskCapacity);
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{8, 16, 24, 36, 54}));
    record->clear();
    EXPECT_EQ(record->maskCount, 0u);
    EXPECT_EQ(record->maskCapacity, 54u);  // clear keeps the list
    record->release();
    EXPECT_EQ(record->masks, nullptr);
    EXPECT_EQ(record->maskCapacity, 0u);
    record->release();  // fine twice
}

TEST(CffGlyphTest, OutlinesThroughFontDicts) {
    // Font DICT 0: default 500, nominal 100, no subroutines; 1: default 600, nominal 200, local subroutine 0
    // draws a box; 2: default 700, nominal 300. Glyph 5 names Font DICT 3, which the font does not have.
    const std::vector<Bytes> charStrings = {
        {},                                                     // 0: empty
        assemble("10 0 0 rmoveto -107 callsubr endchar"),       // 1: fd 1, local subroutine
        assemble("50 50 rmoveto -107 callgsubr endchar"),       // 2: fd 1, global subroutine
        assemble("5 5 rmoveto 10 hlineto 10 vlineto endchar"),  // 3: fd 2
        assemble("1 2 hstem 3 4 vstem hintmask x:C0 endchar"),  // 4: fd 2, hints
        assemble("endchar"),                                    // 5: fd 3
    };
    const Bytes cff = cidCff(
        charStrings, {assemble("20 hlineto 20 vlineto -20 hlineto return")}, {{0, 0}, {1, 1}, {3, 2}, {5, 3}},
        {{500, 100, {}}, {600, 200, {assemble("100 hlineto 100 vlineto -100 hlineto")}}, {700, 300, {}}});
    Loaded f(otf(cff));
    ASSERT_TRUE(f.font);
    auto& font = static_cast<CffFont&>(*f.font);
    ASSERT_EQ(font.fdCount, 3);
    ASSERT_EQ(font.charStrings.count, 6);

    ASSERT_EQ(f.glyph(0), 0);
    EXPECT_EQ(f.outline->advance, 500 * 64);
    EXPECT_EQ(f.text(), "");
    EXPECT_EQ(f.hints->fdIndex, 0);

    ASSERT_EQ(f.glyph(1), 0);
    EXPECT_EQ(f.outline->advance, 210 * 64);
    EXPECT_EQ(f.text(), "M 0 0 L 100 0 L 100 100 L 0 100 L 0 0 Z\n");
    EXPECT_EQ(f.hints->fdIndex, 1);

    ASSERT_EQ(f.glyph(2), 0);
    EXPECT_EQ(f.outline->advance, 600 * 64);
    EXPECT_EQ(f.text(), "M 50 50 L 70 50 L 70 70 L 50 70 L 50 50 Z\n");

    ASSERT_EQ(f.glyph(3), 0);
    EXPECT_EQ(f.outline->advance, 700 * 64);
    EXPECT_EQ(f.text(), "M 5 5 L 15 5 L 15 15 L 5 5 Z\n");
    EXPECT_EQ(f.hints->fdIndex, 2);

    ASSERT_EQ(f.glyph(4), 0);
    EXPECT_EQ(f.hints->hStemCount, 1);
    EXPECT_EQ(f.hints->vStemCount, 1);
    EXPECT_EQ(f.hints->maskCount, 1u);
    EXPECT_EQ(f.hints->stems[1].position, 3 * 64);

    // A Font DICT index beyond the font's: refused. A failure leaves fdIndex as it was.
    EXPECT_EQ(f.glyph(5), kFontDataError);
    EXPECT_EQ(f.hints->fdIndex, 2);
    // Glyphs at or beyond the CharStrings count are absent.
    EXPECT_EQ(f.glyph(6), 2);
    EXPECT_EQ(f.glyph(0xFFFFFFFFu), 2);

    // The empty glyph clears the record it is given: it describes this glyph, which has no stems.
    ASSERT_EQ(f.glyph(4), 0);
    ASSERT_EQ(f.glyph(0), 0);
    EXPECT_EQ(f.hints->hStemCount + f.hints->vStemCount, 0);
    EXPECT_EQ(f.hints->maskCount, 0u);

    // Without a hint record (work.hints null, or pointing at null) the outline is the same.
    HintRecord* none = nullptr;
    f.work.hints = &none;
    ASSERT_EQ(f.glyph(1), 0);
    EXPECT_EQ(f.text(), "M 0 0 L 100 0 L 100 100 L 0 100 L 0 0 Z\n");
    f.work.hints = nullptr;
    ASSERT_EQ(f.glyph(1), 0);
    EXPECT_EQ(f.text(), "M 0 0 L 100 0 L 100 100 L 0 100 L 0 0 Z\n");
}

// The Font DICT of each glyph through FDSelect format 3, whatever the order of the loads: the working state
// remembers the range of the last glyph and starts there, so ascending, descending, strided and repeated
// loads, an empty range (two equal firsts), a hint beyond the ranges and a hint left by another font must
// all give what the bisection of fontDictOf() gives.
TEST(CffGlyphTest, FontDictRangesInAnyOrder) {
    const std::vector<std::pair<uint16_t, uint8_t>> ranges = {{0, 0}, {3, 1},  {3, 2},  {7, 2},
                                                              {8, 0}, {20, 1}, {21, 2}, {30, 0}};
    const std::vector<PrivateSpec> privates = {{500, 0, {}}, {600, 0, {}}, {700, 0, {}}};
    Loaded f(otf(cidCff(std::vector<Bytes>(40, assemble("endchar")), {}, ranges, privates)));
    Loaded g(otf(cidCff(std::vector<Bytes>(10, assemble("endchar")), {}, {{0, 2}, {9, 1}}, privates)));
    ASSERT_TRUE(f.font && g.font);
    auto& font = static_cast<const CffFont&>(*f.font);
    ASSERT_EQ(font.fdSelectSize, ranges.size());

    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < 40; ++i) order.push_back(i);
    for (uint32_t i = 40; i-- > 0;) order.push_back(i);
    for (uint32_t i = 0; i < 40 * 7; i += 7) order.push_back(i % 40);
    for (uint32_t i : {5u, 5u, 39u, 0u, 21u, 20u, 22u, 3u, 2u, 7u, 8u}) order.push_back(i);
    for (uint32_t glyph : order) {
        ASSERT_EQ(f.glyph(glyph), 0) << glyph;
        EXPECT_EQ(f.hints->fdIndex, font.fontDictOf(glyph)) << glyph;
        EXPECT_EQ(f.outline->advance, (500 + 100 * font.fontDictOf(glyph)) * 64) << glyph;
    }

    // A hint far beyond the ranges, and one left by a font with more ranges used with one that has fewer.
    f.work.interpreter->fdRangeHint = 0xFFFFFFFFu;
    ASSERT_EQ(f.glyph(25), 0);
    EXPECT_EQ(f.hints->fdIndex, 2);
    g.work.interpreter->fdRangeHint = 7;
    for (uint32_t glyph : {9u, 0u, 8u}) {
        ASSERT_EQ(g.glyph(glyph), 0);
        EXPECT_EQ(g.hints->fdIndex, glyph == 9 ? 1 : 2) << glyph;
    }
}

TEST(CffGlyphTest, OutlinesByCharacter) {
    const std::vector<Bytes> charStrings = {assemble("endchar"), assemble("0 0 rmoveto 40 hlineto endchar")};
    const Bytes cff = cidCff(charStrings, {}, {{0, 0}}, {{500, 100, {}}});
    Loaded f(otf(cff));
    ASSERT_TRUE(f.font);
    ASSERT_EQ(f.character('A'), 0);
    EXPECT_EQ(f.text(), "M 0 0 L 40 0 L 0 0 Z\n");
    EXPECT_EQ(f.character('B'), 2);  // not mapped: the mapping's own status
    Loaded mac(otf(cff, false));
    ASSERT_TRUE(mac.font);
    EXPECT_EQ(mac.character('A'), kNoCharMap);  // no (3,1) subtable
}

TEST(CffGlyphTest, WorkingState) {
    const std::vector<Bytes> charStrings = {assemble("random random random endchar")};
    const Bytes cff = cidCff(charStrings, {}, {{0, 0}}, {{500, 100, {}}});
    Loaded f(otf(cff));
    ASSERT_TRUE(f.font);
    // prepareGlyphWork points the interpreter at the font's table.
    Type2Interpreter* t = f.work.interpreter;
    ASSERT_NE(t, nullptr);
    auto& font = static_cast<CffFont&>(*f.font);
    EXPECT_EQ(t->data, font.data);
    EXPECT_EQ(t->cffOffset, font.cffOffset);
    EXPECT_EQ(t->cffLength, font.cffLength);
    EXPECT_EQ(t->randomSeed, 0);
    // The seed starts at 0 in every working state, so the same loads give the same values.
    ASSERT_EQ(f.glyph(0), 0);
    const std::vector<int32_t> first(t->stack, t->stack + t->stackCount);
    Loaded g(otf(cff));
    ASSERT_EQ(g.glyph(0), 0);
    EXPECT_EQ(std::vector<int32_t>(g.work.interpreter->stack,
                                   g.work.interpreter->stack + g.work.interpreter->stackCount),
              first);
    // An interpreter pointed elsewhere is pointed back at the font on the next glyph.
    t->data = nullptr;
    t->cffOffset = 12345;
    EXPECT_EQ(f.glyph(0), 0);
    // Without working state the font cannot run a charstring.
    GlyphWork empty;
    EXPECT_EQ(f.font->getGlyphOutline(0, empty, *f.outline), kParamError);
    f.font->releaseGlyphWork(f.work);
    EXPECT_EQ(f.work.interpreter, nullptr);
}

}  // namespace
