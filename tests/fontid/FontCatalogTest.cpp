#include "fontid/FontCatalog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "sfnt/ByteReader.h"
#include "sfnt/Status.h"
#include "support/FontBytes.h"
#include "tools/catalog/CatalogDump.h"
#include "tools/catalog/CatalogWriter.h"

namespace {

constexpr uint32_t kTagTrue = 0x74727565;
constexpr uint32_t kTagOtto = 0x4F54544F;
constexpr uint32_t kTagSbix = 0x73626978;
constexpr uint32_t kTagColr = 0x434F4C52;

// "そよみね" in UTF-8, and names in code page 932 and UTF-8.
const std::string kSoyomine = "\xE3\x81\x9D\xE3\x82\x88\xE3\x81\xBF\xE3\x81\xAD";
const std::string kMinchoCp932 = "\x96\xBE\x92\xA9\x91\xCC";  // 明朝体
const std::string kAfterCp932 = "\x8C\xE3";                   // 後
const std::string kAfterUtf8 = "\xE5\xBE\x8C";                // 後
const std::string kAUtf8 = "\xE3\x81\x82";                    // あ

awfc::Record record(awfc::Text display, awfc::Text postScript = "", std::vector<awfc::Text> fullNames = {}) {
    awfc::Record r;
    r.displayName = std::move(display);
    r.postScriptName = std::move(postScript);
    r.fullNames = std::move(fullNames);
    return r;
}

awfc::Table table(uint32_t group, uint32_t tag, std::vector<awfc::Record> records) {
    awfc::Table t;
    t.group = group;
    t.tag = tag;
    t.records = std::move(records);
    return t;
}

std::vector<uint8_t> image(const awfc::Catalog& catalog, awfc::Layout* layout = nullptr) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(awfc::writeCatalog(catalog, out, error, layout)) << error;
    return out;
}

std::vector<uint8_t> image(std::vector<awfc::Table> tables) {
    awfc::Catalog c;
    c.tables = std::move(tables);
    return image(c);
}

// Loads from a heap copy of exactly `size` bytes, so that a read past the end is caught by the sanitizers.
int32_t loadCopy(FontCatalog& catalog, const std::vector<uint8_t>& bytes, size_t size) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + ptrdiff_t(size));
    return catalog.load(copy.data(), copy.size());
}
int32_t loadCopy(FontCatalog& catalog, const std::vector<uint8_t>& bytes) {
    return loadCopy(catalog, bytes, bytes.size());
}
int32_t loadCopy(FontCatalog& catalog, const FontBytes& bytes) {
    return loadCopy(catalog, bytes.vec());
}

// A name with a number ("g3"); built by append (GCC 12 warns falsely on literal + to_string).
std::string numbered(const char* prefix, uint32_t n) {
    return std::string(prefix).append(std::to_string(n));
}

std::u16string str(const char16_t* s) {
    return s ? std::u16string(s) : std::u16string(u"<null>");
}

int totalEntries(const FontCatalog& catalog) {
    int n = 0;
    for (int g = 0; g < kCatalogGroups; ++g)
        for (int s = 0; s < kCatalogSlots; ++s) n += catalog.cell(g, s).count;
    return n;
}

void expectEmpty(const FontCatalog& catalog) {
    EXPECT_EQ(totalEntries(catalog), 0);
    EXPECT_EQ(catalog.storage(), nullptr);
    EXPECT_EQ(catalog.storageSize(), 0u);
}

// Every string of every entry is inside the storage block and terminated there.
void expectConsistent(const FontCatalog& catalog) {
    const auto begin = reinterpret_cast<uintptr_t>(catalog.storage());
    const uintptr_t end = begin + catalog.storageSize();
    auto inside = [&](const void* p, size_t bytes) {
        const auto at = reinterpret_cast<uintptr_t>(p);
        return p && at >= begin && at <= end && bytes <= end - at;
    };
    auto terminated = [&](const char16_t* s) {
        for (; inside(s, 2); ++s)
            if (*s == 0) return true;
        return false;
    };
    for (int g = 0; g < kCatalogGroups; ++g)
        for (int s = 0; s < kCatalogSlots; ++s) {
            const CatalogCell& cell = catalog.cell(g, s);
            ASSERT_GE(cell.count, 0);
            if (cell.count == 0) continue;
            ASSERT_TRUE(inside(cell.entries, size_t(cell.count) * sizeof(CatalogEntry)));
            for (int32_t i = 0; i < cell.count; ++i) {
                const CatalogEntry& e = cell.entries[i];
                ASSERT_TRUE(terminated(e.displayName));
                ASSERT_TRUE(terminated(e.postScriptName));
                ASSERT_TRUE(terminated(e.furtherName));
                ASSERT_GE(e.fullNameCount, 0);
                ASSERT_GE(e.otherNameCount, 0);
                if (e.fullNameCount) {
                    ASSERT_TRUE(inside(e.fullNames, size_t(e.fullNameCount) * sizeof(void*)));
                }
                if (e.otherNameCount) {
                    ASSERT_TRUE(inside(e.otherNames, size_t(e.otherNameCount) * sizeof(void*)));
                }
                for (int32_t n = 0; n < e.fullNameCount; ++n) ASSERT_TRUE(terminated(e.fullNames[n]));
                for (int32_t n = 0; n < e.otherNameCount; ++n) ASSERT_TRUE(terminated(e.otherNames[n]));
            }
        }
}

// A test allocator: counts calls, remembers the size, fails on request.
struct AllocatorProbe {
    static inline int calls = 0;
    static inline size_t lastSize = 0;
    static inline bool fail = false;
    static void* allocate(size_t size) {
        ++calls;
        lastSize = size;
        return fail ? nullptr : std::malloc(size);
    }
    AllocatorProbe() {
        calls = 0;
        lastSize = 0;
        fail = false;
        FontCatalog::setAllocatorForTesting(&allocate);
    }
    ~AllocatorProbe() { FontCatalog::setAllocatorForTesting(nullptr); }
};

// A catalog with a bit of everything, written from the sample description.
std::vector<uint8_t> sampleImage() {
    awfc::Catalog c;
    c.tables.push_back(table(0, kTagOtto, {record("游ゴシック体 M", "YuGothic-Medium", {"游ゴシック体 M"})}));
    c.tables.back().records[0].items.resize(2);
    c.tables.back().records[0].otherNames = {"Yu Gothic Medium"};
    c.tables.back().records[0].furtherName = "YuGothic";
    c.tables.push_back(table(3, kTagTrue,
                             {record("コハク角ゴ W3", "KohakuKakuPro-W3", {"コハク角ゴ Pro W3", "Kohaku W3"}),
                              record(kSoyomine + " Regular", "Soyomine-Regular", {kSoyomine + " R"}),
                              record("𠮷野家", "Yoshinoya", {"𠮷野家 Gothic"})}));
    c.tables.push_back(table(7, kTagColr, {record("カラー", "Color", {"カラー Regular"})}));
    c.tables.push_back(table(5, kTagSbix, {record("", "", {"Bitmap"})}));
    c.padding = 0xEE;
    return image(c);
}

}  // namespace

TEST(FontCatalogTest, EmptyCatalogs) {
    FontCatalog fresh;
    expectEmpty(fresh);
    int32_t group = 77;
    EXPECT_EQ(fresh.findByFullName(kSlotTrue, u"x", group), -1);

    FontBytes b;
    b.u32(kCatalogVersion).u32(0);
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, b), kOk);
    expectEmpty(catalog);
    for (int slot = 0; slot < kCatalogSlots; ++slot) EXPECT_EQ(catalog.findByFullName(slot, u"", group), -1);
    EXPECT_EQ(group, 77);  // untouched on a miss

    // Tables that hold no records need no storage at all.
    ASSERT_EQ(loadCopy(catalog, image({table(0, kTagTrue, {}), table(1, kTagColr, {})})), kOk);
    expectEmpty(catalog);
}

TEST(FontCatalogTest, AtMost32Tables) {
    // 32 tables in 32 different cells: all load. One more is refused although the version is right.
    // Stored groups without 3 and 5 (they land in rows 10 and 11), by three tags, plus two more.
    awfc::Catalog c;
    const uint32_t rows[] = {0, 1, 2, 4, 6, 7, 8, 9, 10, 11};
    const uint32_t tags[] = {kTagOtto, kTagTrue, kTagSbix};
    for (uint32_t i = 0; i < kCatalogMaxTables; ++i)
        c.tables.push_back(
            table(rows[i % 10], i < 30 ? tags[i / 10] : 0x4F434620, {record(numbered("n", i))}));
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    EXPECT_EQ(totalEntries(catalog), 32);

    c.tables.push_back(table(8, 0x74797031, {record("one too many")}));
    ASSERT_EQ(c.tables.size(), kCatalogMaxTables + 1);
    EXPECT_EQ(loadCopy(catalog, image(c)), kGeneralError);
    expectEmpty(catalog);

    // The count alone decides, whatever follows it.
    for (uint32_t count : {33u, 0x80000000u, 0xFFFFFFFFu}) {
        FontBytes b;
        b.u32(kCatalogVersion).u32(count).zeros(64);
        EXPECT_EQ(loadCopy(catalog, b), kGeneralError) << count;
    }
}

TEST(FontCatalogTest, OnlyVersion4IsRead) {
    const std::vector<uint8_t> good = image({table(0, kTagTrue, {record("A", "", {"A"})})});
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, good), kOk);
    for (uint32_t version : {0x00000000u, 0x00010000u, 0x00030000u, 0x0003FFFFu, 0x00040001u, 0x00048000u,
                             0x00050000u, 0x0006FFFFu, 0x00070000u, 0x00000400u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes = good;
        bytes[0] = uint8_t(version >> 24);
        bytes[1] = uint8_t(version >> 16);
        bytes[2] = uint8_t(version >> 8);
        bytes[3] = uint8_t(version);
        EXPECT_EQ(loadCopy(catalog, bytes), kGeneralError) << std::hex << version;
        expectEmpty(catalog);  // a failed load also drops what an earlier one held
    }
    // Too short for the header.
    for (size_t n = 0; n < 8; ++n) EXPECT_EQ(loadCopy(catalog, good, n), kGeneralError) << n;
    EXPECT_EQ(catalog.load(nullptr, 100), kGeneralError);
}

TEST(FontCatalogTest, AnsiAndUtf8Tables) {
    // The same bytes in a "true" table (code page 932) and in a "COLR" or "sbix" table (UTF-8).
    awfc::Catalog c;
    c.tables.push_back(
        table(0, kTagTrue, {record(awfc::Text::bytes(kMinchoCp932), awfc::Text::bytes(kAUtf8))}));
    c.tables.push_back(
        table(0, kTagColr, {record(awfc::Text::bytes(kMinchoCp932), awfc::Text::bytes(kAUtf8))}));
    c.tables.push_back(
        table(0, kTagSbix, {record(awfc::Text::bytes("\x82\xA0"), awfc::Text::bytes(kAfterUtf8))}));
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    const CatalogEntry& ansi = catalog.cell(0, kSlotTrue).entries[0];
    EXPECT_EQ(str(ansi.displayName), u"明朝体");
    EXPECT_EQ(str(ansi.postScriptName), u"縺\u30FB");  // UTF-8 bytes read as code page 932
    const CatalogEntry& colr = catalog.cell(0, kSlotColr).entries[0];
    EXPECT_EQ(str(colr.displayName), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");  // not UTF-8
    EXPECT_EQ(str(colr.postScriptName), u"あ");
    const CatalogEntry& sbix = catalog.cell(0, kSlotSbix).entries[0];
    EXPECT_EQ(str(sbix.displayName), u"\uFFFD\uFFFD");
    EXPECT_EQ(str(sbix.postScriptName), u"後");

    // Text written by the writer decodes back to itself in either kind of table.
    ASSERT_EQ(loadCopy(catalog, image({table(1, kTagTrue, {record("ｱｲ①ⅰ～", "", {"明朝体 W3"})}),
                                       table(1, kTagColr, {record("😀 emoji", "", {"明朝体 W3"})})})),
              kOk);
    EXPECT_EQ(str(catalog.cell(1, kSlotTrue).entries[0].displayName), u"ｱｲ①ⅰ～");
    EXPECT_EQ(str(catalog.cell(1, kSlotColr).entries[0].displayName), u"😀 emoji");
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"明朝体 W3", group), 0);
    EXPECT_EQ(catalog.findByFullName(kSlotColr, u"明朝体 W3", group), 0);
}

TEST(FontCatalogTest, SoyomineSwitchesTheRestOfTheTableToUtf8) {
    // Raw bytes throughout, so that only the reader decides how they are decoded.
    using awfc::Text;
    awfc::Record before =
        record(Text::bytes(kMinchoCp932), Text::bytes(kAfterCp932), {Text::bytes(kAfterCp932)});
    awfc::Record marker = record(Text::bytes(kSoyomine), Text::bytes(kAfterUtf8), {Text::bytes(kAfterUtf8)});
    marker.furtherName = Text::bytes(kAfterUtf8);
    marker.otherNames = {Text::bytes(kAfterUtf8)};
    awfc::Record after = record(Text::bytes(kAfterUtf8), Text::bytes(kAfterUtf8), {Text::bytes(kAfterUtf8)});
    awfc::Catalog c;
    c.tables.push_back(table(0, kTagTrue, {before, marker, after, after}));
    c.tables.push_back(table(1, kTagTrue, {record(Text::bytes(kAfterCp932), Text::bytes(kAfterCp932))}));
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    const CatalogCell& first = catalog.cell(0, kSlotTrue);
    ASSERT_EQ(first.count, 4);
    EXPECT_EQ(str(first.entries[0].displayName), u"明朝体");
    EXPECT_EQ(str(first.entries[0].fullNames[0]), u"後");
    // The marker record itself is UTF-8 already, in every one of its strings.
    EXPECT_EQ(str(first.entries[1].displayName), u"そよみね");
    EXPECT_EQ(str(first.entries[1].postScriptName), u"後");
    EXPECT_EQ(str(first.entries[1].fullNames[0]), u"後");
    EXPECT_EQ(str(first.entries[1].furtherName), u"後");
    EXPECT_EQ(str(first.entries[1].otherNames[0]), u"後");
    for (int i = 2; i < 4; ++i) {
        EXPECT_EQ(str(first.entries[i].displayName), u"後") << i;
        EXPECT_EQ(str(first.entries[i].fullNames[0]), u"後") << i;
    }
    // The next table starts in the ANSI code page again.
    EXPECT_EQ(str(catalog.cell(1, kSlotTrue).entries[0].displayName), u"後");

    // Only the first 12 bytes of the display name count: a cut marker, a marker after other text, or a
    // marker in another field switch nothing.
    for (const std::string& display : {kSoyomine.substr(0, 11), "X" + kSoyomine, std::string()}) {
        awfc::Record r = record(Text::bytes(display), Text::bytes(kSoyomine), {Text::bytes(kSoyomine)});
        ASSERT_EQ(loadCopy(catalog, image({table(2, kTagTrue, {r, record(Text::bytes(kAfterCp932))})})), kOk);
        EXPECT_EQ(str(catalog.cell(2, kSlotTrue).entries[1].displayName), u"後");
    }
    // The marker followed by more text switches too.
    ASSERT_EQ(
        loadCopy(catalog,
                 image({table(2, kTagTrue,
                              {record(Text::bytes(kSoyomine + " Pro")), record(Text::bytes(kAfterUtf8))})})),
        kOk);
    EXPECT_EQ(str(catalog.cell(2, kSlotTrue).entries[0].displayName), u"そよみね Pro");
    EXPECT_EQ(str(catalog.cell(2, kSlotTrue).entries[1].displayName), u"後");
}

TEST(FontCatalogTest, GroupsMapToRows) {
    auto named = [](uint32_t group, uint32_t tag) {
        return table(group, tag, {record(numbered("g", group), "", {numbered("g", group)})});
    };
    FontCatalog catalog;
    // Stored 3 and 5 become rows 10 and 11; rows 3 and 5 are filled by no stored value.
    ASSERT_EQ(loadCopy(catalog, image({named(3, kTagTrue), named(5, kTagTrue), named(4, kTagTrue)})), kOk);
    EXPECT_EQ(catalog.cell(3, kSlotTrue).count, 0);
    EXPECT_EQ(catalog.cell(5, kSlotTrue).count, 0);
    EXPECT_EQ(str(catalog.cell(10, kSlotTrue).entries[0].displayName), u"g3");
    EXPECT_EQ(str(catalog.cell(11, kSlotTrue).entries[0].displayName), u"g5");
    EXPECT_EQ(str(catalog.cell(4, kSlotTrue).entries[0].displayName), u"g4");
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"g3", group), 0);
    EXPECT_EQ(group, 10);

    ASSERT_EQ(loadCopy(catalog, image({named(10, kTagOtto), named(11, kTagOtto), named(0, kTagOtto)})), kOk);
    EXPECT_EQ(str(catalog.cell(10, kSlotOtto).entries[0].displayName), u"g10");
    EXPECT_EQ(str(catalog.cell(11, kSlotOtto).entries[0].displayName), u"g11");
    EXPECT_EQ(str(catalog.cell(0, kSlotOtto).entries[0].displayName), u"g0");

    // Groups 12..15 have no row, 16 and above fail the group test: all skipped, with their tables unread
    // (their offsets point nowhere).
    awfc::Catalog c;
    for (uint32_t g : {12u, 13u, 14u, 15u, 16u, 0x80000003u, 0xFFFFFFFFu}) {
        c.tables.push_back(named(g, kTagTrue));
        c.tables.back().offset = 0xFFFFFFF0;
    }
    c.tables.push_back(named(9, kTagTrue));
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    EXPECT_EQ(totalEntries(catalog), 1);
    EXPECT_EQ(catalog.cell(9, kSlotTrue).count, 1);
}

TEST(FontCatalogTest, TagsFillTheirSlots) {
    const struct {
        const char* tag;
        int slot;
    } tags[] = {{"OCF ", kSlotOcf},  {"typ1", kSlotTyp1}, {"OTTO", kSlotOtto}, {"true", kSlotTrue},
                {"psOC", kSlotPsOc}, {"pst1", kSlotPst1}, {"sbix", kSlotSbix}, {"COLR", kSlotColr}};
    awfc::Catalog c;
    for (const auto& t : tags) {
        const uint32_t tag = makeTag(t.tag[0], t.tag[1], t.tag[2], t.tag[3]);
        c.tables.push_back(table(2, tag, {record(t.tag)}));
    }
    // Unknown tags (letter case matters) are skipped, their tables unread.
    for (const char* unknown : {"TRUE", "otto", "OCF\0", "ttcf", "glyf"}) {
        c.tables.push_back(table(2, makeTag(unknown[0], unknown[1], unknown[2], unknown[3]), {record("x")}));
        c.tables.back().offset = 0xFFFFFFFF;
    }
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    EXPECT_EQ(totalEntries(catalog), 8);
    for (const auto& t : tags) {
        ASSERT_EQ(catalog.cell(2, t.slot).count, 1) << t.tag;
        EXPECT_EQ(utf16ToUtf8(str(catalog.cell(2, t.slot).entries[0].displayName)), t.tag);
    }
}

TEST(FontCatalogTest, RecordLayout) {
    // One record by hand: a string of length 0 takes only its length word; one of length 5 takes 4 + 8
    // bytes whatever its padding holds; the 12-byte items are read past.
    FontBytes b;
    b.u32(kCatalogVersion).u32(1);
    b.u32(0).tag("OTTO").u32(24).u32(0);
    b.u32(1);                                            // entryCount
    b.u16(1).u16(2).u16(3).u16(4);                       // values
    b.u32(0);                                            // displayName: empty
    b.u32(5).bytes("ABCDE").u8(0xFF).u8(0x00).u8(0x41);  // postScriptName with junk padding
    b.u32(2).bytes(std::string(24, '\x00'));             // two items that look like zero-length strings
    b.u32(2).u32(1).bytes("X").zeros(3).u32(4).bytes("Full");
    b.u32(0xDEADBEEF);               // value
    b.u32(3).bytes("Fur").u8(0x80);  // further name; its padding is not text
    b.u32(0);                        // no other names
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, b), kOk);
    const CatalogCell& cell = catalog.cell(0, kSlotOtto);
    ASSERT_EQ(cell.count, 1);
    const CatalogEntry& e = cell.entries[0];
    EXPECT_EQ(str(e.displayName), u"");
    EXPECT_EQ(str(e.postScriptName), u"ABCDE");
    ASSERT_EQ(e.fullNameCount, 2);
    EXPECT_EQ(str(e.fullNames[0]), u"X");
    EXPECT_EQ(str(e.fullNames[1]), u"Full");
    EXPECT_EQ(str(e.furtherName), u"Fur");
    EXPECT_EQ(e.otherNameCount, 0);
    // Exactly the bytes that the record takes: one byte less and it is refused.
    EXPECT_EQ(loadCopy(catalog, b.vec(), b.size() - 1), kGeneralError);

    // A file that ends right after its last string's bytes, without their padding, is whole; one that
    // cuts the bytes is not.
    awfc::Record last = record("d");
    last.otherNames = {"abc"};
    const std::vector<uint8_t> padded = image({table(0, kTagTrue, {last})});
    ASSERT_EQ(loadCopy(catalog, padded, padded.size() - 1), kOk);
    EXPECT_EQ(str(catalog.cell(0, kSlotTrue).entries[0].otherNames[0]), u"abc");
    EXPECT_EQ(loadCopy(catalog, padded, padded.size() - 2), kGeneralError);

    // A record with no items and no names stays in the catalog with an empty list.
    FontCatalog bare;
    ASSERT_EQ(loadCopy(bare, image({table(4, kTagTrue, {record(""), record("second", "", {"n"})})})), kOk);
    ASSERT_EQ(bare.cell(4, kSlotTrue).count, 2);
    EXPECT_EQ(bare.cell(4, kSlotTrue).entries[0].fullNameCount, 0);
    int32_t group = -1;
    EXPECT_EQ(bare.findByFullName(kSlotTrue, u"", group), -1);
    EXPECT_EQ(bare.findByFullName(kSlotTrue, u"n", group), 1);
}

TEST(FontCatalogTest, FindByFullNameOrder) {
    FontCatalog catalog;
    ASSERT_EQ(
        loadCopy(catalog, image({
                              // Row 10 comes first in the file but row 2 is searched first.
                              table(3, kTagTrue, {record("late", "", {"Shared", "Only10"})}),
                              table(2, kTagTrue,
                                    {record("a", "", {"Other", "Shared Bold"}),
                                     record("b", "", {"Shared", "Shared"}), record("c", "", {"Shared"})}),
                              table(2, kTagSbix, {record("s", "", {"Sbix Only"})}),
                          })),
        kOk);
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Shared", group), 1);  // row 2, entry 1 before entry 2
    EXPECT_EQ(group, 2);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Shared Bold", group), 0);  // second name of the list
    EXPECT_EQ(group, 2);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Only10", group), 0);
    EXPECT_EQ(group, 10);
    // Whole strings, case-sensitive; other columns are not searched.
    group = 99;
    for (const char16_t* miss :
         {u"Shared Bol", u"Shared Bold Italic", u"shared", u"SHARED", u"", u"Sbix Only"})
        EXPECT_EQ(catalog.findByFullName(kSlotTrue, miss, group), -1) << utf16ToUtf8(miss);
    EXPECT_EQ(catalog.findByFullName(kSlotSbix, u"Sbix Only", group), 0);
    EXPECT_EQ(group, 2);
    group = 99;
    for (int slot : {-1, kCatalogSlots, 1000}) EXPECT_EQ(catalog.findByFullName(slot, u"Shared", group), -1);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, nullptr, group), -1);
    EXPECT_EQ(group, 99);
    const std::pair<int, int> outside[] = {{-1, 3}, {kCatalogGroups, 3}, {2, -1}, {2, kCatalogSlots}};
    for (auto [g, s] : outside) EXPECT_EQ(catalog.cell(g, s).count, 0);
}

TEST(FontCatalogTest, LaterTableForACellReplacesTheEarlier) {
    const awfc::Table three = table(3, kTagTrue, {record("a1"), record("a2"), record("a3", "", {"n", "m"})});
    const awfc::Table one = table(10, kTagTrue, {record("b1", "", {"n"})});
    FontCatalog alone;
    ASSERT_EQ(loadCopy(alone, image({one})), kOk);
    FontCatalog catalog;
    // More records before fewer: the cell holds the later table's single record, and the storage is what
    // the later table alone needs (the earlier one is not read).
    ASSERT_EQ(loadCopy(catalog, image({three, one})), kOk);
    ASSERT_EQ(catalog.cell(10, kSlotTrue).count, 1);
    EXPECT_EQ(str(catalog.cell(10, kSlotTrue).entries[0].displayName), u"b1");
    EXPECT_EQ(catalog.storageSize(), alone.storageSize());
    expectConsistent(catalog);
    // Fewer before more.
    ASSERT_EQ(loadCopy(catalog, image({one, three})), kOk);
    ASSERT_EQ(catalog.cell(10, kSlotTrue).count, 3);
    EXPECT_EQ(str(catalog.cell(10, kSlotTrue).entries[2].displayName), u"a3");
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"n", group), 2);
    expectConsistent(catalog);
    // A replaced table is not read, so its being broken does not matter.
    awfc::Catalog c;
    c.tables = {three, one};
    c.tables[0].offset = 0x7FFFFFFF;
    ASSERT_EQ(loadCopy(catalog, image(c)), kOk);
    EXPECT_EQ(catalog.cell(10, kSlotTrue).count, 1);
}

TEST(FontCatalogTest, StorageIsOneBlockInLayoutOrder) {
    AllocatorProbe probe;
    const awfc::Table otto = table(0, kTagOtto, {record("ab", "c", {"d", "ef"})});
    awfc::Table colr = table(7, kTagColr, {record("g", "", {}), record("h", "", {"i"})});
    colr.records[1].otherNames = {"jk", "l"};
    colr.records[1].furtherName = "mn";
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image({colr, otto})), kOk);
    EXPECT_EQ(probe.calls, 1);
    // 3 entries, 3 full-name slots, 2 other-name slots; the strings with their terminators:
    // "g" "" "" / "h" "" "i" "mn" "jk" "l" / "ab" "c" "d" "ef" "".
    const size_t units = (2 + 1 + 1) + (2 + 1 + 2 + 3 + 3 + 2) + (3 + 2 + 2 + 3 + 1);
    const size_t expected = 3 * sizeof(CatalogEntry) + 5 * sizeof(char16_t*) + units * sizeof(char16_t);
    EXPECT_EQ(catalog.storageSize(), expected);
    EXPECT_EQ(probe.lastSize, expected);

    // Entry arrays row by row first (row 0 before row 7 although the file has COLR first), then the
    // full-name lists, the other-name lists and the characters.
    const auto* base = static_cast<const uint8_t*>(catalog.storage());
    const CatalogCell& first = catalog.cell(0, kSlotOtto);
    const CatalogCell& second = catalog.cell(7, kSlotColr);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(first.entries), base);
    EXPECT_EQ(second.entries, first.entries + 1);
    // Cells without entries point at their place too.
    EXPECT_EQ(catalog.cell(0, kSlotTrue).entries, first.entries + 1);
    const auto* names = reinterpret_cast<const uint8_t*>(base + 3 * sizeof(CatalogEntry));
    // The file order fills the lists: COLR's names come first.
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(second.entries[1].fullNames), names);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(first.entries[0].fullNames), names + sizeof(char16_t*));
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(second.entries[1].otherNames), names + 3 * sizeof(char16_t*));
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(second.entries[0].displayName), names + 5 * sizeof(char16_t*));
    expectConsistent(catalog);
}

TEST(FontCatalogTest, OutOfMemory) {
    AllocatorProbe probe;
    FontCatalog catalog;
    const std::vector<uint8_t> bytes = sampleImage();
    ASSERT_EQ(loadCopy(catalog, bytes), kOk);
    const size_t needed = catalog.storageSize();
    probe.fail = true;
    EXPECT_EQ(loadCopy(catalog, bytes), kOutOfMemory);
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(probe.lastSize, needed);
    expectEmpty(catalog);
    catalog.release();
}

TEST(FontCatalogTest, MalformedFilesAreRefused) {
    using awfc::Text;
    const awfc::Record good = record("disp", "ps", {"full"});
    struct Case {
        const char* what;
        awfc::Catalog catalog;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change) {
        awfc::Catalog c;
        c.tables = {table(1, kTagOtto, {good}), table(2, kTagTrue, {good, good})};
        change(c);
        cases.push_back({what, c});
    };
    add("table offset past the end", [](awfc::Catalog& c) { c.tables[1].offset = 0x10000; });
    add("table offset far past the end", [](awfc::Catalog& c) { c.tables[1].offset = 0xFFFFFFFF; });
    add("more entries than records", [](awfc::Catalog& c) { c.tables[1].entryCount = 3; });
    add("hostile entry count", [](awfc::Catalog& c) { c.tables[1].entryCount = 0x7FFFFFFF; });
    add("negative entry count", [](awfc::Catalog& c) { c.tables[1].entryCount = 0x80000000; });
    add("string longer than the file",
        [](awfc::Catalog& c) { c.tables[1].records[1].displayName.length = 1000; });
    add("negative string length",
        [](awfc::Catalog& c) { c.tables[0].records[0].postScriptName.length = 0x80000000; });
    add("length -1", [](awfc::Catalog& c) { c.tables[1].records[1].fullNames[0].length = 0xFFFFFFFF; });
    add("negative item count", [](awfc::Catalog& c) { c.tables[0].records[0].itemCount = 0xFFFFFFFF; });
    // 0x15555556 x 12 wraps around to 8 in 32 bits.
    add("wrapping item count", [](awfc::Catalog& c) { c.tables[0].records[0].itemCount = 0x15555556; });
    add("more items than bytes", [](awfc::Catalog& c) { c.tables[1].records[1].itemCount = 100; });
    add("negative full-name count",
        [](awfc::Catalog& c) { c.tables[1].records[0].fullNameCount = 0x80000000; });
    add("huge full-name count", [](awfc::Catalog& c) { c.tables[1].records[0].fullNameCount = 0x7FFFFFFF; });
    add("more other names than bytes", [](awfc::Catalog& c) { c.tables[1].records[1].otherNameCount = 5; });
    add("negative other-name count",
        [](awfc::Catalog& c) { c.tables[0].records[0].otherNameCount = 0xFFFFFFFF; });
    add("table index longer than the file", [](awfc::Catalog& c) {
        c.tables.clear();
        c.tableCount = 2;
    });
    AllocatorProbe probe;
    for (const Case& k : cases) {
        FontCatalog catalog;
        ASSERT_EQ(loadCopy(catalog, sampleImage()), kOk);
        probe.calls = 0;
        EXPECT_EQ(loadCopy(catalog, image(k.catalog)), kGeneralError) << k.what;
        EXPECT_EQ(probe.calls, 0) << k.what << ": nothing is allocated for a refused file";
        expectEmpty(catalog);
    }
}

TEST(FontCatalogTest, TruncatedOrDamagedImages) {
    const std::vector<uint8_t> bytes = sampleImage();
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, bytes), kOk);
    // The last record ends with a count word: every shorter image is a truncated catalog.
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_EQ(loadCopy(catalog, bytes, n), kGeneralError) << n;
        expectEmpty(catalog);
    }
    // Any single damaged byte: refused or a consistent catalog, never a read outside the image.
    for (size_t at = 0; at < bytes.size(); ++at)
        for (uint8_t value : {uint8_t(0x00), uint8_t(0x80), uint8_t(0xFF), uint8_t(bytes[at] ^ 0x01)}) {
            std::vector<uint8_t> damaged = bytes;
            damaged[at] = value;
            const int32_t status = loadCopy(catalog, damaged);
            ASSERT_TRUE(status == kOk || status == kGeneralError) << at << " " << status;
            if (status == kOk)
                expectConsistent(catalog);
            else
                expectEmpty(catalog);
        }
}

TEST(FontCatalogTest, ReleaseAndReload) {
    FontCatalog catalog;
    catalog.release();
    ASSERT_EQ(loadCopy(catalog, sampleImage()), kOk);
    EXPECT_EQ(totalEntries(catalog), 6);
    catalog.release();
    expectEmpty(catalog);
    catalog.release();
    expectEmpty(catalog);
    // A second load replaces what the first one held.
    ASSERT_EQ(loadCopy(catalog, sampleImage()), kOk);
    ASSERT_EQ(loadCopy(catalog, image({table(6, kTagTrue, {record("only")})})), kOk);
    EXPECT_EQ(totalEntries(catalog), 1);
    EXPECT_EQ(str(catalog.cell(6, kSlotTrue).entries[0].displayName), u"only");
}

TEST(FontCatalogTest, SampleDescriptionLoadsAsWritten) {
    // The sample description under tests/data, through the text parser, the writer and the reader.
    const std::string path = std::string(KORV_TEST_DATA) + "/catalog/sample.txt";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    std::fclose(f);
    awfc::Catalog description;
    awfc::ParseError error;
    ASSERT_TRUE(awfc::parseCatalogText(text, description, error)) << error.line << ": " << error.message;
    FontCatalog catalog;
    ASSERT_EQ(loadCopy(catalog, image(description)), kOk);
    expectConsistent(catalog);
    int32_t group = -1;
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"Kohaku Kaku Gothic Pro W3", group), 0);
    EXPECT_EQ(group, 10);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"そよみね Regular", group), 1);
    EXPECT_EQ(catalog.findByFullName(kSlotTrue, u"𠮷野家 Gothic", group), 2);
    EXPECT_EQ(catalog.findByFullName(kSlotColr, u"カラー絵文字 Regular", group), 0);
    EXPECT_EQ(group, 7);
    EXPECT_EQ(str(catalog.cell(0, kSlotOtto).entries[0].postScriptName), u"YuGothic-Medium");
    EXPECT_EQ(str(catalog.cell(11, kSlotSbix).entries[0].displayName), u"  spaced  ");

    // What the reader keeps is exactly the description's names.
    const awfc::Catalog loaded = awfc::describeCatalog(catalog);
    size_t records = 0;
    for (const awfc::Table& t : loaded.tables) records += t.records.size();
    EXPECT_EQ(records, 6u);
    EXPECT_EQ(loaded.tables[0].records[0].otherNames, std::vector<awfc::Text>{"Yu Gothic Medium"});
}
