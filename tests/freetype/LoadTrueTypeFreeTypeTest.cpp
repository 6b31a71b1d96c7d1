// loadTrueType against FreeType over the real font corpus: every TrueType face that FreeType opens (a face
// with a 'glyf' table, single or a collection member) must load, or the refusal must come from one of the
// load's rules, which the test names by checking the face's tables itself, independently of the library:
//   directory         more than 48 tables, no tables, or a table past the end of the file
//   shared-minimum    'OS/2' under 78, 'head' under 54 or 'post' under 32 bytes
//   cmap-refused      the 'cmap' table fails its own validation (checked with CmapTable::parse alone)
//   name-refused      a 'name' record's string runs past the table (or its header is malformed)
//   shared-count      not exactly three records among 'cmap', 'head' and 'name'
//   hhea-minimum, maxp-minimum, maxp-version, glyph-tables (not exactly one each of 'glyf', 'hhea', 'hmtx',
//   'loca', 'maxp'), hmtx-length, loca-length, loca-glyph (a glyph longer than 65536 bytes or ending before
//   it starts)
// Every refusal is printed with its rule; one that no rule explains fails. Faces FreeType opens that are not
// TrueType (CFF, bitmap-only) are counted and printed, and faces we load that FreeType refuses are printed.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "sfnt/CmapTable.h"
#include "sfnt/TrueTypeFont.h"
#include "support/FontCorpus.h"

namespace {

using Bytes = corpus::Bytes;

uint16_t u16(const Bytes& b, uint64_t at) {
    return at + 2 <= b.size() ? uint16_t((b[at] << 8) | b[at + 1]) : 0;
}
uint32_t u32(const Bytes& b, uint64_t at) {
    return at + 4 <= b.size() ? (uint32_t(u16(b, at)) << 16) | u16(b, at + 2) : 0;
}

struct Table {
    uint64_t offset = 0, length = 0;
    int count = 0;
};

// The rule of the load that refuses this face, from its bytes; "" when none does.
std::string refusingRule(const Bytes& file, uint32_t base) {
    const uint16_t numTables = u16(file, base + 4);
    if (numTables == 0 || numTables > 48 || base + 12 + 16ull * numTables > file.size()) return "directory";
    std::map<std::string, Table> tables;
    for (uint16_t i = 0; i < numTables; ++i) {
        const uint64_t r = base + 12 + 16ull * i;
        const std::string tag(reinterpret_cast<const char*>(&file[r]), 4);
        Table& t = tables[tag];
        t.offset = u32(file, r + 8);
        t.length = u32(file, r + 12);
        ++t.count;
        if (t.offset + t.length > file.size()) return "directory";
    }
    auto has = [&](const char* tag) { return tables.count(tag) ? tables[tag].count : 0; };
    auto length = [&](const char* tag) { return tables[tag].length; };
    if ((has("OS/2") && length("OS/2") < 78) || (has("head") && length("head") < 54) ||
        (has("post") && length("post") < 32))
        return "shared-minimum";
    if (has("cmap")) {
        CmapTable cmap;
        if (cmap.parse(&file[tables["cmap"].offset], uint32_t(length("cmap"))) != 0) return "cmap-refused";
    }
    if (has("name")) {
        const uint64_t at = tables["name"].offset, len = length("name");
        const uint32_t count = u16(file, at + 2), strings = u16(file, at + 4);
        if (len < 6 || len < 12ull * count + 6 || strings < 12ull * count + 6) return "name-refused";
        for (uint32_t i = 0; i < count; ++i)
            if (strings + u16(file, at + 6 + 12 * i + 8) + u16(file, at + 6 + 12 * i + 10) > len)
                return "name-refused";
    }
    if (has("cmap") + has("head") + has("name") != 3) return "shared-count";
    if (has("hhea") && length("hhea") < 36) return "hhea-minimum";
    if (has("maxp") && length("maxp") < 32) return "maxp-minimum";
    if (has("maxp") && int32_t(u32(file, tables["maxp"].offset)) < 0x10000) return "maxp-version";
    for (const char* tag : {"glyf", "hhea", "hmtx", "loca", "maxp"})
        if (has(tag) != 1) return "glyph-tables";
    const uint32_t numGlyphs = u16(file, tables["maxp"].offset + 4);
    const uint32_t longMetrics = u16(file, tables["hhea"].offset + 34);
    if (numGlyphs < longMetrics || length("hmtx") < 2ull * (numGlyphs + longMetrics)) return "hmtx-length";
    const int16_t format = int16_t(u16(file, tables["head"].offset + 50));
    const uint64_t loca = tables["loca"].offset;
    if (length("loca") < (format != 0 ? 4ull : 2ull) * (numGlyphs + 1)) return "loca-length";
    for (uint32_t g = 0; g < numGlyphs; ++g) {
        const uint32_t start = format == 1 ? u32(file, loca + 4 * g) : 2u * u16(file, loca + 2 * g);
        const uint32_t end = format == 1 ? u32(file, loca + 4 * g + 4) : 2u * u16(file, loca + 2 * g + 2);
        if (end - start > 0x10000) return "loca-glyph";
    }
    return "";
}

TEST(LoadTrueTypeFreeTypeTest, EveryTrueTypeFaceFreeTypeOpensLoads) {
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    int trueTypeFaces = 0, loaded = 0, unexplained = 0, otherFaces = 0, onlyOurs = 0;
    std::map<std::string, int> byRule;
    const std::vector<std::string> files = corpus::fontFiles();
    for (const std::string& path : files) {
        Bytes file;
        if (!corpus::readFile(path, file) || file.size() < 12 || file.size() > UINT32_MAX) continue;
        const uint32_t size = uint32_t(file.size());
        const bool collection = u32(file, 0) == 0x74746366;  // 'ttcf'
        const uint32_t faces = corpus::faceCount(path);
        for (uint32_t i = 0; i < faces; ++i) {
            uint32_t base = 0;
            if (collection && !testCollectionHeader(file.data(), size, i, base)) {
                std::printf("collection header refused: %s face %u\n", path.c_str(), i);
                continue;
            }
            TrueTypeFont font;
            const int16_t status = font.loadTrueType(file.data(), size, base);
            font.release();

            FT_Face face = nullptr;
            const bool opened = FT_New_Face(library, path.c_str(), FT_Long(i), &face) == 0;
            FT_ULong glyfLength = 0;
            const bool trueType = opened && FT_IS_SFNT(face) &&
                                  FT_Load_Sfnt_Table(face, TTAG_glyf, 0, nullptr, &glyfLength) == 0;
            if (face) FT_Done_Face(face);
            if (!opened) {
                if (status == 0) {
                    ++onlyOurs;
                    std::printf("loaded here, refused by FreeType: %s face %u\n", path.c_str(), i);
                }
                continue;
            }
            if (!trueType) {
                ++otherFaces;
                if (status == 0)
                    std::printf("not TrueType to FreeType, loaded here: %s face %u\n", path.c_str(), i);
                continue;
            }
            ++trueTypeFaces;
            if (status == 0) {
                ++loaded;
                continue;
            }
            const std::string rule = refusingRule(file, base);
            if (rule.empty()) {
                ++unexplained;
                std::printf("UNEXPLAINED status %d: %s face %u\n", status, path.c_str(), i);
            } else {
                ++byRule[rule];
                std::printf("refused (%s): %s face %u\n", rule.c_str(), path.c_str(), i);
            }
        }
    }
    FT_Done_FreeType(library);
    std::printf(
        "%zu files: %d TrueType faces FreeType opens, %d loaded, %d refused by a named rule, "
        "%d unexplained; %d other faces (CFF, bitmap-only); %d loaded here only\n",
        files.size(), trueTypeFaces, loaded, trueTypeFaces - loaded - unexplained, unexplained, otherFaces,
        onlyOurs);
    for (const auto& [rule, count] : byRule) std::printf("  %s: %d\n", rule.c_str(), count);
    EXPECT_GT(trueTypeFaces, 0);
    EXPECT_EQ(unexplained, 0);
}

// The rule finder itself, on a real font changed in one place per rule: the load refuses each change and
// the finder names the rule, so that a refusal in the sweep above is explained by the right name.
TEST(LoadTrueTypeFreeTypeTest, RuleFinderNamesEachRefusal) {
    Bytes original;
    ASSERT_TRUE(corpus::readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", original));
    auto record = [&](const Bytes& b, const char* tag) {
        for (uint16_t i = 0; i < u16(b, 4); ++i)
            if (std::string(reinterpret_cast<const char*>(&b[12 + 16 * i]), 4) == tag) return 12 + 16 * i;
        return -1;
    };
    auto setLength = [&](Bytes& b, const char* tag, uint32_t length) {
        const int r = record(b, tag);
        for (int k = 0; k < 4; ++k) b[r + 12 + k] = uint8_t(length >> (24 - 8 * k));
    };
    auto rename = [&](Bytes& b, const char* tag, const char* to) {
        const int r = record(b, tag);
        for (int k = 0; k < 4; ++k) b[r + k] = uint8_t(to[k]);
    };
    struct Case {
        const char* rule;
        void (*change)(Bytes&, decltype(setLength)&, decltype(rename)&);
    };
    const Case cases[] = {
        {"shared-minimum", [](Bytes& b, auto& len, auto&) { len(b, "OS/2", 77); }},
        {"hhea-minimum", [](Bytes& b, auto& len, auto&) { len(b, "hhea", 35); }},
        {"maxp-minimum", [](Bytes& b, auto& len, auto&) { len(b, "maxp", 31); }},
        {"hmtx-length", [](Bytes& b, auto& len, auto&) { len(b, "hmtx", 100); }},
        {"loca-length", [](Bytes& b, auto& len, auto&) { len(b, "loca", 100); }},
        {"shared-count", [](Bytes& b, auto&, auto& name) { name(b, "name", "nam2"); }},
        {"glyph-tables", [](Bytes& b, auto&, auto& name) { name(b, "hmtx", "glyf"); }},
        {"directory", [](Bytes& b, auto& len, auto&) { len(b, "post", 0x7FFFFFFF); }},
    };
    for (const Case& c : cases) {
        Bytes changed = original;
        c.change(changed, setLength, rename);
        TrueTypeFont font;
        EXPECT_EQ(font.loadTrueType(changed.data(), uint32_t(changed.size()), 0), kFontDataError) << c.rule;
        EXPECT_EQ(refusingRule(changed, 0), c.rule);
    }
    EXPECT_EQ(refusingRule(original, 0), "");
}

}  // namespace
