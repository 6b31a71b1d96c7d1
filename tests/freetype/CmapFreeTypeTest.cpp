// The character map against FreeType over the real font corpus. For every face whose 'cmap' has a
// (3,1) subtable, every code point 0..0xFFFF is mapped through our first stored (3,1) subtable and through
// FreeType's FT_Get_Char_Index with the same (3,1) charmap selected explicitly (FreeType would otherwise
// prefer (3,10)); likewise every (3,10) format-12 subtable over 0..0x10FFFF. Every difference is printed
// with the rule of ours that explains it; a difference that no rule explains fails the test.
//
// The rules that make us answer differently from FreeType:
//   glyph-count      FreeType answers 0 for a glyph id at or above the face's glyph count; the character
//                    map does not know the glyph count and returns the id it holds.
//   end-0xFFFF       a format-4 segment whose endCode is 0xFFFF maps nothing, whatever its start.
//   bisection-path   format 4 with unsorted or overlapping segments: the answer is the first segment on
//                    the bisection path that holds the code (FreeType looks at neighbouring segments too).
//   table-refused    our parse refuses the whole 'cmap' (an unusable format among the candidates, ...),
//                    so the face has no character map at all.
//   freetype-refused FreeType's validation dropped a subtable that our rules accept.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sfnt/CmapTable.h"
#include "support/CmapReference.h"
#include "support/FontCorpus.h"

namespace {

// Under the sanitizers every face is still loaded and compared, but over a sample of the code points.
constexpr uint32_t kCodeStride = corpus::kCodeStride;
// Format 12 over 0..0x10FFFF: every code below 0x30000 (all assigned planes' populated part), then a sample.
constexpr uint32_t kWideStride = 61;

struct Tally {
    uint64_t faces = 0, codes = 0, same = 0;
    std::map<std::string, uint64_t> byRule;
    uint64_t unexplained = 0;
};

// One run of consecutive codes that differ with the same rule, printed as one line.
struct Run {
    std::string where, rule;
    uint32_t first = 0, last = 0, ours = 0, theirs = 0;
    uint32_t count = 0;
    void flush() {
        if (!count) return;
        std::printf("  DIFF %s U+%04X", where.c_str(), first);
        if (last != first) std::printf("..U+%04X (%u codes)", last, count);
        std::printf(": ours %u, FreeType %u [%s]\n", ours, theirs, rule.c_str());
        count = 0;
    }
    // Codes come in steps of `stride`: a gap larger than that starts a new run.
    void add(const std::string& w, const std::string& r, uint32_t code, uint32_t stride, uint32_t o,
             uint32_t t) {
        if (count && (w != where || r != rule || code > last + stride)) flush();
        if (!count) {
            where = w;
            rule = r;
            first = code;
            ours = o;
            theirs = t;
        }
        last = code;
        ++count;
    }
};

class FreeTypeLibrary {
public:
    FreeTypeLibrary() { EXPECT_EQ(FT_Init_FreeType(&m_library), 0); }
    ~FreeTypeLibrary() { FT_Done_FreeType(m_library); }
    FT_Library get() const { return m_library; }

private:
    FT_Library m_library = nullptr;
};

int findCharmap(FT_Face face, int platform, int encoding) {
    for (int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->platform_id == platform && face->charmaps[i]->encoding_id == encoding)
            return i;
    return -1;
}

int findStored(const CmapTable& cmap, uint16_t platform, uint16_t encoding, uint16_t format = 0) {
    for (int i = 0; i < cmap.count; ++i)
        if (cmap.subtables[i].platformID == platform && cmap.subtables[i].encodingID == encoding &&
            (format == 0 || cmap.subtables[i].format == format))
            return i;
    return -1;
}

// Why our answer differs from FreeType's for one code, or "" when no rule explains it.
std::string ruleFor(const CmapTable& cmap, const CmapSubtable& subtable, uint32_t code, int16_t status,
                    uint32_t ours, uint32_t theirs, FT_Face face) {
    if (status == 0 && theirs == 0 && ours >= uint32_t(face->num_glyphs)) return "glyph-count";
    if (subtable.format != 4) return "";
    const cmapref::Format4 f4{cmap.data, cmap.length, subtable.dataOffset - 14};
    const std::vector<uint32_t> holding = f4.holding(code);
    if (status != 0 && !holding.empty() && f4.end(2 * holding.front()) == 0xFFFF) return "end-0xFFFF";
    if (!subtable.ordered && !holding.empty()) {
        // Does another segment that holds the code give FreeType's answer, or is the one it uses
        // unreachable for the bisection?
        for (uint32_t k : holding) {
            const cmapref::Lookup other = f4.glyphAt(2 * k, code);
            if ((other.found ? other.glyph : 0) == theirs) return "bisection-path";
        }
    }
    return "";
}

void compareSubtable(const std::string& where, const CmapTable& cmap, int index, FT_Face face,
                     uint32_t lastCode, uint32_t denseUpTo, uint32_t sparseStride, Tally& tally) {
    const CmapSubtable& subtable = cmap.subtables[index];
    Run run;
    ++tally.faces;
    for (uint64_t c = 0; c <= lastCode; c += (c < denseUpTo ? kCodeStride : sparseStride)) {
        const uint32_t code = uint32_t(c);
        const uint32_t stride = c < denseUpTo ? kCodeStride : sparseStride;
        uint32_t glyph = 0xDEADBEEF;
        const int16_t status = cmap.lookup(uint16_t(index), code, glyph);
        if (status != 0 && status != kGlyphAbsent) {
            ADD_FAILURE() << where << " U+" << std::hex << code << ": status " << std::dec << status;
            continue;
        }
        const uint32_t ours = status == 0 ? glyph : 0;
        const uint32_t theirs = FT_Get_Char_Index(face, code);
        ++tally.codes;
        if (ours == theirs) {
            ++tally.same;
            continue;
        }
        std::string rule = ruleFor(cmap, subtable, code, status, ours, theirs, face);
        if (rule.empty()) {
            rule = "UNEXPLAINED";
            ++tally.unexplained;
        }
        ++tally.byRule[rule];
        run.add(where, rule, code, stride, ours, theirs);
    }
    run.flush();
}

void printTally(const char* what, const Tally& tally) {
    std::printf("%s: %llu subtables, %llu codes compared, %llu the same\n", what,
                (unsigned long long)tally.faces, (unsigned long long)tally.codes,
                (unsigned long long)tally.same);
    for (const auto& [rule, n] : tally.byRule)
        std::printf("  %-16s %llu codes\n", rule.c_str(), (unsigned long long)n);
}

TEST(CmapFreeTypeTest, CorpusMapsLikeFreeType) {
    const std::vector<std::string> files = corpus::fontFiles();
    ASSERT_FALSE(files.empty()) << "no fonts under /usr/share/fonts: install the test run's font packages";
    FreeTypeLibrary library;
    Tally bmp, wide;
    uint64_t faces = 0, withThreeOne = 0, refused = 0;
    for (const std::string& path : files) {
        const uint32_t faceCount = corpus::faceCount(path);
        for (uint32_t f = 0; f < faceCount; ++f) {
            const std::string where = path + "#" + std::to_string(f);
            corpus::Bytes table;
            FT_Face face = nullptr;
            if (FT_New_Face(library.get(), path.c_str(), FT_Long(f), &face) != 0) {
                std::printf("  NOTE %s: FreeType cannot open the face\n", where.c_str());
                continue;
            }
            ++faces;
            const int ftThreeOne = findCharmap(face, 3, 1);
            const int ftThreeTen = findCharmap(face, 3, 10);
            CmapTable cmap;
            int16_t status = kFontDataError;
            if (corpus::readTable(path, f, "cmap", table))
                status = cmap.parse(table.data(), uint32_t(table.size()));
            const int threeOne = status == 0 ? findStored(cmap, 3, 1) : -1;
            if (status != 0 && ftThreeOne >= 0) {
                std::printf(
                    "  DIFF %s: our parse refuses the 'cmap' (%d); FreeType has a (3,1) charmap "
                    "[table-refused]\n",
                    where.c_str(), status);
                ++refused;
            }
            if (threeOne >= 0 && ftThreeOne < 0)
                std::printf(
                    "  DIFF %s: FreeType has no (3,1) charmap; ours is format %u [freetype-refused]\n",
                    where.c_str(), cmap.subtables[threeOne].format);
            if (threeOne >= 0 && ftThreeOne >= 0) {
                ++withThreeOne;
                ASSERT_EQ(FT_Set_Charmap(face, face->charmaps[ftThreeOne]), 0);
                compareSubtable(where + " (3,1) format " + std::to_string(cmap.subtables[threeOne].format),
                                cmap, threeOne, face, 0xFFFF, 0x10000, 1, bmp);
            }
            const int threeTen = status == 0 ? findStored(cmap, 3, 10, 12) : -1;
            if (threeTen >= 0 && ftThreeTen < 0)
                std::printf("  DIFF %s: FreeType has no (3,10) charmap [freetype-refused]\n", where.c_str());
            if (threeTen >= 0 && ftThreeTen >= 0) {
                ASSERT_EQ(FT_Set_Charmap(face, face->charmaps[ftThreeTen]), 0);
                compareSubtable(where + " (3,10) format 12", cmap, threeTen, face, 0x10FFFF, 0x30000,
                                kWideStride, wide);
            }
            FT_Done_Face(face);
        }
    }
    std::printf(
        "%llu files, %llu faces opened by FreeType, %llu with a (3,1) subtable on both sides, %llu "
        "'cmap' tables refused\n",
        (unsigned long long)files.size(), (unsigned long long)faces, (unsigned long long)withThreeOne,
        (unsigned long long)refused);
    printTally("(3,1) over 0..0xFFFF", bmp);
    printTally("(3,10) format 12 over 0..0x10FFFF", wide);
    EXPECT_GT(withThreeOne, 0u);
    EXPECT_EQ(bmp.unexplained + wide.unexplained, 0u) << "differences no rule explains: see the DIFF lines";
}

}  // namespace
