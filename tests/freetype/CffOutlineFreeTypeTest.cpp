// CFF outlines against FreeType, and advance widths against fontTools, over the real font corpus: every
// glyph of every CFF face (the OpenType CFF fonts, and every face of the CID-keyed CFF collections).
//
// Outlines: FreeType's FT_LOAD_NO_SCALE outline (font units), decomposed with FT_Outline_Decompose into move,
// line and cubic entries, against slot 5's entries (26.6) within one font unit. Before comparing, both sides
// are brought to one form:
//   - a closing line that returns to the contour's start is dropped (FreeType's decomposition always ends a
//     contour with one; we append one only when the last point is elsewhere);
//   - lines of zero length are dropped (FreeType's charstring engine skips them; the interpreter appends an
//     entry for every line operand pair);
//   - contours made of their move entry alone are dropped (FreeType draws nothing for a moveto that is not
//     followed by a segment; every moveto starts a contour here).
// The counts of what was dropped are printed.
//
// Advances: the width that fontTools decodes from each charstring (tests/support/cff_widths.py), rounded
// down to a whole unit, against slot 5's advance.
//
// Where slot 5 fails and FreeType does not, one of our rules must explain it (the test prints the rule):
//   contours>72       the glyph draws more contours than an outline record holds
//   stems>64          the glyph declares more stems than a hint record holds and a hint mask can address
//                     (8 mask bytes); found by running the glyph again without a hint record
//   operator-budget   the glyph runs more operators than kType2OperatorBudget
// The largest operator count, point count and contour count met are printed: the budget must stay far
// above every real glyph.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cff/CffFont.h"
#include "cff/LoadFont.h"
#include "cff/Type2Interpreter.h"
#include "support/FontCorpus.h"

namespace {

// Under the sanitizers every face is still loaded, but a sample of its glyphs is compared.
#ifdef KORV_CORPUS_SANITIZED
constexpr uint32_t kGlyphStride = 101;
#else
constexpr uint32_t kGlyphStride = 1;
#endif

constexpr int32_t kTolerance = 64;  // one font unit in 26.6
constexpr int kShownPerFace = 5;    // differences printed in full per face

// CFF fonts of the test run's packages that must be here (the run installs them).
const char* const kRequiredFonts[] = {
    "/usr/share/fonts/opentype/freefont/FreeSerif.otf",
    "/usr/share/fonts/opentype/freefont/FreeSans.otf",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
};

struct Entry {
    int32_t kind;
    int32_t x, y, cx1, cy1, cx2, cy2;  // 26.6
};
using Contour = std::vector<Entry>;

std::string entryText(const Entry& e) {
    char buf[160];
    switch (e.kind) {
        case kOutlineMove:
            std::snprintf(buf, sizeof buf, "M %g %g", e.x / 64.0, e.y / 64.0);
            break;
        case kOutlineLine:
            std::snprintf(buf, sizeof buf, "L %g %g", e.x / 64.0, e.y / 64.0);
            break;
        case kOutlineCubic:
            std::snprintf(buf, sizeof buf, "C %g %g %g %g %g %g", e.cx1 / 64.0, e.cy1 / 64.0, e.cx2 / 64.0,
                          e.cy2 / 64.0, e.x / 64.0, e.y / 64.0);
            break;
        default:
            std::snprintf(buf, sizeof buf, "?%d", e.kind);
            break;
    }
    return buf;
}

// ---- FreeType's outline, decomposed into entries (font units to 26.6).

struct Decomposer {
    std::vector<Contour> contours;
    static Entry at(int32_t kind, const FT_Vector* to) {
        return {kind, int32_t(to->x * 64), int32_t(to->y * 64), 0, 0, 0, 0};
    }
    static int move(const FT_Vector* to, void* user) {
        static_cast<Decomposer*>(user)->contours.push_back({at(kOutlineMove, to)});
        return 0;
    }
    static int line(const FT_Vector* to, void* user) {
        static_cast<Decomposer*>(user)->contours.back().push_back(at(kOutlineLine, to));
        return 0;
    }
    static int conic(const FT_Vector*, const FT_Vector* to, void* user) {
        static_cast<Decomposer*>(user)->contours.back().push_back(at(kOutlineQuadratic, to));
        return 0;
    }
    static int cubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        Entry e = at(kOutlineCubic, to);
        e.cx1 = int32_t(c1->x * 64);
        e.cy1 = int32_t(c1->y * 64);
        e.cx2 = int32_t(c2->x * 64);
        e.cy2 = int32_t(c2->y * 64);
        static_cast<Decomposer*>(user)->contours.back().push_back(e);
        return 0;
    }
};

std::vector<Contour> ourContours(const GlyphOutline& o) {
    std::vector<Contour> contours;
    for (uint32_t c = 0; c < o.contourCount; ++c) {
        Contour contour;
        for (uint32_t i = o.contourStart[c]; i < o.contourStart[c + 1]; ++i) {
            const OutlinePoint& p = o.points[i];
            contour.push_back({p.kind, p.x, p.y, p.cx1, p.cy1, p.cx2, p.cy2});
        }
        contours.push_back(std::move(contour));
    }
    return contours;
}

struct Dropped {
    uint64_t zeroLines = 0, closingLines = 0, lonelyMoves = 0;
};

// The one form both sides are compared in (see the file comment).
void normalize(std::vector<Contour>& contours, Dropped& dropped) {
    std::vector<Contour> kept;
    for (Contour& c : contours) {
        Contour out;
        for (const Entry& e : c) {
            if (e.kind == kOutlineLine && !out.empty() && e.x == out.back().x && e.y == out.back().y) {
                ++dropped.zeroLines;
                continue;
            }
            out.push_back(e);
        }
        if (out.size() > 1 && out.back().kind == kOutlineLine && out.back().x == out.front().x &&
            out.back().y == out.front().y) {
            out.pop_back();
            ++dropped.closingLines;
        }
        if (out.size() == 1) {
            ++dropped.lonelyMoves;
            continue;
        }
        kept.push_back(std::move(out));
    }
    contours = std::move(kept);
}

bool near(int32_t a, int32_t b) {
    return std::abs(int64_t(a) - b) <= kTolerance;
}

bool sameEntry(const Entry& a, const Entry& b) {
    if (a.kind != b.kind || !near(a.x, b.x) || !near(a.y, b.y)) return false;
    if (a.kind == kOutlineCubic)
        return near(a.cx1, b.cx1) && near(a.cy1, b.cy1) && near(a.cx2, b.cx2) && near(a.cy2, b.cy2);
    return true;
}

// "" when equal, else where they part.
std::string firstDifference(const std::vector<Contour>& ours, const std::vector<Contour>& theirs) {
    if (ours.size() != theirs.size())
        return "contours " + std::to_string(ours.size()) + " vs " + std::to_string(theirs.size());
    for (size_t c = 0; c < ours.size(); ++c) {
        const size_t n = std::max(ours[c].size(), theirs[c].size());
        for (size_t i = 0; i < n; ++i) {
            const bool haveOurs = i < ours[c].size(), haveTheirs = i < theirs[c].size();
            if (haveOurs && haveTheirs && sameEntry(ours[c][i], theirs[c][i])) continue;
            return "contour " + std::to_string(c) + " entry " + std::to_string(i) + ": ours " +
                   (haveOurs ? entryText(ours[c][i]) : "(none)") + ", FreeType " +
                   (haveTheirs ? entryText(theirs[c][i]) : "(none)");
        }
    }
    return "";
}

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

// ---- fontTools' widths.

// The widths fontTools decodes for each of `faces` (path, face), by one run of cff_widths.py: per face, the
// width of every kGlyphStride-th glyph (NaN for the others) in font units.
std::vector<std::vector<double>> fontToolsWidths(const std::vector<std::pair<std::string, uint32_t>>& faces) {
    std::vector<std::vector<double>> widths(faces.size());
    std::string command =
        "/usr/bin/python3 " KORV_SOURCE_DIR "/tests/support/cff_widths.py " + std::to_string(kGlyphStride);
    for (const auto& [path, face] : faces) command += " '" + path + "' " + std::to_string(face);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return widths;
    char line[4096];
    size_t current = faces.size();
    while (std::fgets(line, sizeof line, pipe)) {
        unsigned glyph = 0;
        double width = 0;
        if (std::strncmp(line, "face ", 5) == 0) {
            // "face PATH FACE glyphs N": the faces come in the order asked.
            current = current == faces.size() ? 0 : current + 1;
            const char* glyphs = std::strstr(line, " glyphs ");
            if (current < faces.size() && glyphs)
                widths[current].assign(std::strtoul(glyphs + 8, nullptr, 10), std::nan(""));
        } else if (current < faces.size() && std::sscanf(line, "%u %lf", &glyph, &width) == 2 &&
                   glyph < widths[current].size()) {
            widths[current][glyph] = width;
        }
    }
    pclose(pipe);
    return widths;
}

// The version tag of face `face` of a file (a collection member's, or the single font's); 0 when unreadable.
uint32_t faceVersion(const std::string& path, uint32_t face) {
    std::ifstream in(path, std::ios::binary);
    auto be32 = [&](uint64_t at) {
        uint8_t b[4] = {};
        in.clear();
        in.seekg(std::streamoff(at));
        in.read(reinterpret_cast<char*>(b), 4);
        return in.gcount() == 4
                   ? (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]
                   : 0u;
    };
    const uint32_t version = be32(0);
    if (version != 0x74746366) return face == 0 ? version : 0;  // 'ttcf'
    return be32(be32(12 + 4 * uint64_t(face)));
}

// True when the glyph, run again without a hint record, declares more stems than a mask can address.
bool stemsBeyondLimit(SfntFont& font, uint32_t glyph, GlyphWork& work) {
    std::unique_ptr<GlyphOutline, OutlineDeleter> scratch(font.newOutline());
    HintRecord** hints = work.hints;
    work.hints = nullptr;
    const int16_t status = font.getGlyphOutline(glyph, work, *scratch);
    work.hints = hints;
    return status != 0 && work.interpreter->hintCount > int(kType2MaxStems);
}

// Every CFF face of the corpus, file by file: (path, face).
struct CffFace {
    std::string path;
    uint32_t face;
};
std::vector<CffFace> cffFaces() {
    std::vector<CffFace> faces;
    for (const std::string& path : corpus::fontFiles()) {
        const uint32_t count = corpus::faceCount(path);
        for (uint32_t face = 0; face < count; ++face)
            if (faceVersion(path, face) == CffFont::kTag) faces.push_back({path, face});
    }
    return faces;
}

void requireTestRunFonts() {
    for (const char* required : kRequiredFonts) {
        corpus::Bytes probe;
        ASSERT_TRUE(corpus::readFile(required, probe))
            << required << " is missing (fonts-freefont-otf, fonts-noto-cjk)";
    }
}

// One loaded face with what its glyphs need.
struct LoadedFace {
    std::string where;
    corpus::Bytes bytes;
    std::unique_ptr<SfntFont> font;
    CffFont* cff = nullptr;
    GlyphWork work;
    std::unique_ptr<GlyphOutline, OutlineDeleter> outline;
    HintRecord* hints = nullptr;

    bool load(const CffFace& f) {
        where = f.path + "#" + std::to_string(f.face);
        int16_t status = 0;
        if (!corpus::readFile(f.path, bytes)) return false;
        font = loadFontFace(bytes.data(), uint32_t(bytes.size()), f.face, status);
        if (!font) {
            std::printf("  FACE %s: loadFontFace %d\n", where.c_str(), status);
            return false;
        }
        cff = dynamic_cast<CffFont*>(font.get());
        if (!cff || font->prepareGlyphWork(work) != 0) return false;
        outline.reset(font->newOutline());
        hints = font->newHintRecord();
        work.hints = &hints;  // hints too: the stem and mask paths run on every real glyph
        return outline && hints;
    }
    ~LoadedFace() {
        if (font) font->releaseGlyphWork(work);
        delete hints;
    }
};

TEST(CffOutlineFreeTypeTest, EveryGlyphOfEveryCffFace) {
    requireTestRunFonts();
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    uint64_t faces = 0, glyphs = 0, same = 0, differ = 0, ourFailures = 0, theirFailures = 0, bothFail = 0;
    uint64_t unexplained = 0;
    std::map<std::string, uint64_t> rules;
    Dropped oursDropped, theirsDropped;
    uint32_t maxOperators = 0, maxPoints = 0, maxContours = 0;
    std::string maxOperatorsWhere;

    for (const CffFace& f : cffFaces()) {
        LoadedFace face;
        const bool loaded = face.load(f);
        FT_Face ft = nullptr;
        const FT_Error ftOpened = face.bytes.empty()
                                      ? 1
                                      : FT_New_Memory_Face(library, face.bytes.data(),
                                                           FT_Long(face.bytes.size()), FT_Long(f.face), &ft);
        if (!loaded || ftOpened) {
            EXPECT_TRUE(loaded || ftOpened)
                << face.where << ": FreeType opens the face, slot 5 cannot be used";
            if (ft) FT_Done_Face(ft);
            continue;
        }
        ++faces;
        const uint32_t count = face.cff->charStrings.count;
        uint64_t faceDiffer = 0, faceOurFail = 0, faceTheirFail = 0, faceUnexplained = 0;
        int shown = 0;
        for (uint32_t g = 0; g < count; g += kGlyphStride) {
            ++glyphs;
            face.outline->clear();
            const int16_t ours = face.font->getGlyphOutline(g, face.work, *face.outline);
            const uint32_t operators = face.work.interpreter->operatorsExecuted;
            if (operators > maxOperators) {
                maxOperators = operators;
                maxOperatorsWhere = face.where + " glyph " + std::to_string(g);
            }
            maxPoints = std::max(maxPoints, face.outline->pointCount);
            maxContours = std::max(maxContours, face.outline->contourCount);
            const FT_Error theirs = FT_Load_Glyph(ft, g, FT_LOAD_NO_SCALE);

            if (ours != 0 && theirs != 0) {
                ++bothFail;
                continue;
            }
            if (theirs != 0) {
                ++theirFailures;
                ++faceTheirFail;
                if (shown++ < kShownPerFace)
                    std::printf("  %s glyph %u: FreeType fails (%d), slot 5 loads it\n", face.where.c_str(),
                                g, theirs);
                continue;
            }
            if (ours != 0) {
                ++ourFailures;
                ++faceOurFail;
                std::string rule = "unexplained";
                if (ft->glyph->outline.n_contours > int(kMaxOutlineContours))
                    rule = "contours>72";
                else if (operators == kType2OperatorBudget)
                    rule = "operator-budget";
                else if (stemsBeyondLimit(*face.font, g, face.work))
                    rule = "stems>64";
                ++rules[rule];
                if (rule == "unexplained") {
                    ++unexplained;
                    ++faceUnexplained;
                }
                if (shown++ < kShownPerFace || rule == "unexplained")
                    std::printf("  %s glyph %u: slot 5 status %d, FreeType loads it (%d contours): %s\n",
                                face.where.c_str(), g, ours, ft->glyph->outline.n_contours, rule.c_str());
                continue;
            }

            Decomposer decomposer;
            const FT_Outline_Funcs funcs = {
                Decomposer::move, Decomposer::line, Decomposer::conic, Decomposer::cubic, 0, 0};
            ASSERT_EQ(FT_Outline_Decompose(&ft->glyph->outline, &funcs, &decomposer), 0);
            std::vector<Contour> mine = ourContours(*face.outline);
            normalize(mine, oursDropped);
            normalize(decomposer.contours, theirsDropped);
            const std::string difference = firstDifference(mine, decomposer.contours);
            if (difference.empty()) {
                ++same;
            } else {
                ++differ;
                ++faceDiffer;
                if (shown++ < kShownPerFace)
                    std::printf("  %s glyph %u: %s\n", face.where.c_str(), g, difference.c_str());
            }
        }
        std::printf(
            "FACE %s: %u glyphs, %llu differ, slot 5 fails %llu (%llu unexplained), FreeType fails %llu\n",
            face.where.c_str(), (count + kGlyphStride - 1) / kGlyphStride, (unsigned long long)faceDiffer,
            (unsigned long long)faceOurFail, (unsigned long long)faceUnexplained,
            (unsigned long long)faceTheirFail);
        std::fflush(stdout);
        FT_Done_Face(ft);
    }
    FT_Done_FreeType(library);

    std::printf("\nCFF faces %llu, glyphs compared %llu (every %u.), same %llu, differ %llu\n",
                (unsigned long long)faces, (unsigned long long)glyphs, kGlyphStride, (unsigned long long)same,
                (unsigned long long)differ);
    std::printf("slot 5 fails where FreeType loads: %llu", (unsigned long long)ourFailures);
    for (const auto& [rule, n] : rules) std::printf(", %s %llu", rule.c_str(), (unsigned long long)n);
    std::printf("\nFreeType fails where slot 5 loads: %llu; both fail: %llu\n",
                (unsigned long long)theirFailures, (unsigned long long)bothFail);
    std::printf(
        "dropped before comparing, ours / FreeType's: zero-length lines %llu / %llu, closing lines %llu / "
        "%llu, move-only contours %llu / %llu\n",
        (unsigned long long)oursDropped.zeroLines, (unsigned long long)theirsDropped.zeroLines,
        (unsigned long long)oursDropped.closingLines, (unsigned long long)theirsDropped.closingLines,
        (unsigned long long)oursDropped.lonelyMoves, (unsigned long long)theirsDropped.lonelyMoves);
    std::printf("largest glyph: %u operators executed (%s; budget %u), %u entries, %u contours\n",
                maxOperators, maxOperatorsWhere.c_str(), kType2OperatorBudget, maxPoints, maxContours);

    EXPECT_GE(faces, 42u);  // FreeFont's 12 and the 30 faces of the Noto CJK collections at least
    EXPECT_EQ(differ, 0u);
    EXPECT_EQ(unexplained, 0u);
    // The budget stays far above any real glyph.
    EXPECT_LT(uint64_t(maxOperators) * 20, kType2OperatorBudget);
}

TEST(CffOutlineFreeTypeTest, AdvancesAgainstFontTools) {
    requireTestRunFonts();
    // fontTools decodes each CFF table once; the faces of a collection share theirs.
    const std::vector<CffFace> faces = cffFaces();
    std::map<std::string, size_t> tableOf;  // file and table position -> index into `tables`
    std::vector<std::pair<std::string, uint32_t>> tables;
    std::vector<size_t> faceTable(faces.size(), SIZE_MAX);
    for (size_t i = 0; i < faces.size(); ++i) {
        LoadedFace face;
        if (!face.load(faces[i])) continue;
        const std::string key = faces[i].path + "@" + std::to_string(face.cff->cffOffset);
        auto [it, added] = tableOf.emplace(key, tables.size());
        if (added) tables.emplace_back(faces[i].path, faces[i].face);
        faceTable[i] = it->second;
    }
    const std::vector<std::vector<double>> widths = fontToolsWidths(tables);

    uint64_t compared = 0, differ = 0, faceCount = 0;
    for (size_t i = 0; i < faces.size(); ++i) {
        if (faceTable[i] == SIZE_MAX) continue;
        LoadedFace face;
        ASSERT_TRUE(face.load(faces[i]));
        const std::vector<double>& decoded = widths[faceTable[i]];
        const uint32_t count = face.cff->charStrings.count;
        EXPECT_EQ(decoded.size(), count) << face.where << ": fontTools' glyph count";
        ++faceCount;
        uint64_t faceDiffer = 0;
        for (uint32_t g = 0; g < count && g < decoded.size(); g += kGlyphStride) {
            face.outline->clear();
            if (face.font->getGlyphOutline(g, face.work, *face.outline) != 0 || std::isnan(decoded[g]))
                continue;
            ++compared;
            if (face.outline->advance != int64_t(std::floor(decoded[g])) * 64) {
                ++differ;
                if (faceDiffer++ < kShownPerFace)
                    std::printf("  %s glyph %u: advance %g, fontTools width %g\n", face.where.c_str(), g,
                                face.outline->advance / 64.0, decoded[g]);
            }
        }
    }
    std::printf(
        "advances against fontTools: %llu glyphs of %llu faces (%zu CFF tables) compared, %llu differ\n",
        (unsigned long long)compared, (unsigned long long)faceCount, tables.size(),
        (unsigned long long)differ);
    EXPECT_GE(faceCount, 42u);
    EXPECT_GT(compared, 0u);
    EXPECT_EQ(differ, 0u);
}

}  // namespace
