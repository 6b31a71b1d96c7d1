// TrueType outlines against FreeType over the real font corpus: every glyph of every TrueType face (every
// 'glyf' face of every file, collections included).
//
// Unscaled: FreeType's FT_LOAD_NO_SCALE outline, decomposed (FT_Outline_Decompose, coordinates shifted to
// 26.6 before midpoints are taken) into move, line and quadratic entries, against slot 5's entries: equal
// for glyphs without a component transform, within one font unit (64) where a transform is applied
// (FreeType transforms font units and rounds each point; we keep 26.6).
//
// Scaled, at 12 and 16 ppem: FreeType's unhinted outline (FT_LOAD_NO_HINTING) against ours scaled by the
// font's own scaler, within 2/64 pixel. FreeType scales each point with rounding and takes midpoints after
// scaling; we scale the 26.6 outline with truncation, so a point may be 1/64 lower and a midpoint another
// 1/64 off. Components: FreeType scales a component's offset on its own (rounded), we scale the sum, which
// adds at most one more 1/64.
//
// Where slot 5 fails and FreeType does not, a rule of ours must explain it, found here by reading the glyph
// independently:
//   contours>71        the glyph has more contours than an outline record takes (71)
//   zero-contours      a glyph (or component) with data whose numberOfContours is 0 (or below -1)
//   maxp-points        more points than maxp allows (the larger of maxPoints and maxCompositePoints)
//   maxp-contours      more contours than maxp allows (the larger of maxContours and maxCompositeContours)
//   maxp-components    a composite with more components than maxComponentElements
//   maxp-depth         composites nested deeper than maxComponentDepth
// Our own bounds (kMaxCompositeDepth levels, kMaxComponentsPerGlyph components) must never be what refuses
// a glyph of the corpus; the largest depth and component count seen are printed.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sfnt/TrueTypeFont.h"
#include "support/FontCorpus.h"

namespace {

// Under the sanitizers every face is still loaded, but a sample of its glyphs is compared.
#ifdef KORV_CORPUS_SANITIZED
constexpr uint32_t kGlyphStride = 13;
#else
constexpr uint32_t kGlyphStride = 1;
#endif

constexpr int32_t kUnscaledTransformTolerance = 64;  // one font unit in 26.6
constexpr int32_t kScaledTolerance = 2;              // 2/64 pixel
const int kSizes[] = {12, 16};

// The fonts of the test run's packages that must be here (the run installs them).
const char* const kRequiredFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf",
};

uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// ---- An independent reading of a face's glyphs, to name the rule behind a refusal. ----

struct Face {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint32_t glyf = 0, glyfLength = 0, loca = 0, locaLength = 0, maxp = 0, head = 0, hmtx = 0, hmtxLength = 0;
    uint16_t numberOfHMetrics = 0;
    bool longLoca = false;
    uint16_t numGlyphs = 0;
    uint16_t maxPoints = 0, maxContours = 0, maxCompositePoints = 0, maxCompositeContours = 0;
    uint16_t maxComponentElements = 0, maxComponentDepth = 0;
};

bool readFace(const uint8_t* data, size_t size, uint32_t offset, Face& f) {
    f.data = data;
    f.size = size;
    if (uint64_t(offset) + 12 > size) return false;
    const uint16_t n = be16(data + offset + 4);
    if (uint64_t(offset) + 12 + 16ull * n > size) return false;
    bool haveGlyf = false, haveLoca = false, haveMaxp = false, haveHead = false, haveHhea = false;
    for (uint16_t i = 0; i < n; ++i) {
        const uint8_t* r = data + offset + 12 + 16 * i;
        const uint32_t at = be32(r + 8), length = be32(r + 12);
        if (uint64_t(at) + length > size) continue;
        if (!std::memcmp(r, "glyf", 4)) haveGlyf = true, f.glyf = at, f.glyfLength = length;
        if (!std::memcmp(r, "loca", 4)) haveLoca = true, f.loca = at, f.locaLength = length;
        if (!std::memcmp(r, "maxp", 4) && length >= 32) haveMaxp = true, f.maxp = at;
        if (!std::memcmp(r, "head", 4) && length >= 54) haveHead = true, f.head = at;
        if (!std::memcmp(r, "hmtx", 4)) f.hmtx = at, f.hmtxLength = length;
        if (!std::memcmp(r, "hhea", 4) && length >= 36)
            haveHhea = true, f.numberOfHMetrics = be16(data + at + 34);
    }
    if (!(haveGlyf && haveLoca && haveMaxp && haveHead && haveHhea)) return false;
    const uint8_t* m = data + f.maxp;
    f.numGlyphs = be16(m + 4);
    f.maxPoints = be16(m + 6);
    f.maxContours = be16(m + 8);
    f.maxCompositePoints = be16(m + 10);
    f.maxCompositeContours = be16(m + 12);
    f.maxComponentElements = be16(m + 28);
    f.maxComponentDepth = be16(m + 30);
    f.longLoca = be16(data + f.head + 50) != 0;
    return true;
}

// The bytes of glyph g inside 'glyf'; false when 'loca' or 'glyf' cannot give them.
bool glyphRange(const Face& f, uint32_t g, uint32_t& start, uint32_t& length) {
    uint32_t a, b;
    if (f.longLoca) {
        if (4ull * g + 8 > f.locaLength) return false;
        a = be32(f.data + f.loca + 4 * g);
        b = be32(f.data + f.loca + 4 * g + 4);
    } else {
        if (2ull * g + 4 > f.locaLength) return false;
        a = 2u * be16(f.data + f.loca + 2 * g);
        b = 2u * be16(f.data + f.loca + 2 * g + 2);
    }
    if (b < a || uint64_t(f.glyf) + b > f.size) return false;
    start = f.glyf + a;
    length = b - a;
    return true;
}

// A glyph's left side bearing from 'hmtx' (0 when it is not there).
int32_t sideBearing(const Face& f, uint32_t g) {
    const uint32_t at =
        g < f.numberOfHMetrics ? 4 * g + 2 : 4u * f.numberOfHMetrics + 2 * (g - f.numberOfHMetrics);
    return uint64_t(at) + 2 <= f.hmtxLength ? int16_t(be16(f.data + f.hmtx + at)) : 0;
}

// The x origin FreeType gives a glyph, as xMin - side bearing in font units: a composite takes it from its
// last component flagged USE_MY_METRICS (that component's own origin, before its offset), so that its
// outline starts where that component's metrics say. We take every glyph's own 'hmtx' side bearing and
// header xMin. A different origin moves the whole outline by a constant.
int32_t freeTypeOrigin(const Face& f, uint32_t g, int level = 0) {
    uint32_t start, length;
    if (level > 16 || g >= f.numGlyphs || !glyphRange(f, g, start, length) || length < 10) return 0;
    const uint8_t* p = f.data + start;
    const int32_t own = int16_t(be16(p + 2)) - sideBearing(f, g);
    if (int16_t(be16(p)) != -1) return own;
    int32_t origin = own;
    uint32_t at = 10;
    uint16_t flags;
    do {
        if (at + 4 > length) return origin;
        flags = be16(p + at);
        const uint16_t child = be16(p + at + 2);
        if (flags & 0x0200) origin = freeTypeOrigin(f, child, level + 1);
        at += 4 + ((flags & 1) ? 4 : 2) + ((flags & 0x08) ? 2 : 0) + ((flags & 0x40) ? 4 : 0) +
              ((flags & 0x80) ? 8 : 0);
    } while (flags & 0x20);
    return origin;
}

struct GlyphFacts {
    bool readable = true;  // every glyph and component could be read
    bool zeroContours = false;
    bool transformed = false;  // some component has a scale or matrix
    uint32_t contours = 0, points = 0;
    uint32_t depth = 0;              // composite levels (a composite of simple glyphs: 1)
    uint32_t widestComposite = 0;    // most components in one composite
    uint32_t componentsVisited = 0;  // all components, nested ones included
};

void walk(const Face& f, uint32_t g, uint32_t level, GlyphFacts& facts) {
    if (level > 64 || facts.componentsVisited > 1000000 || g >= f.numGlyphs) {
        facts.readable = false;
        return;
    }
    uint32_t start, length;
    if (!glyphRange(f, g, start, length)) {
        facts.readable = false;
        return;
    }
    if (length == 0) return;
    if (length < 10) {
        facts.readable = false;
        return;
    }
    const uint8_t* p = f.data + start;
    const int16_t n = int16_t(be16(p));
    if (n > 0) {
        if (10 + 2u * n > length) {
            facts.readable = false;
            return;
        }
        facts.contours += uint32_t(n);
        facts.points += uint32_t(be16(p + 10 + 2 * (n - 1))) + 1;
        return;
    }
    if (n != -1) {
        facts.zeroContours = true;
        return;
    }
    facts.depth = std::max(facts.depth, level + 1);
    uint32_t at = 10, components = 0;
    uint16_t flags;
    do {
        if (at + 4 > length) {
            facts.readable = false;
            return;
        }
        flags = be16(p + at);
        const uint16_t child = be16(p + at + 2);
        at += 4 + ((flags & 1) ? 4 : 2);
        if (flags & 0x08) at += 2, facts.transformed = true;
        if (flags & 0x40) at += 4, facts.transformed = true;
        if (flags & 0x80) at += 8, facts.transformed = true;
        ++components;
        ++facts.componentsVisited;
        walk(f, child, level + 1, facts);
    } while (flags & 0x20);
    facts.widestComposite = std::max(facts.widestComposite, components);
}

// The rule of ours that refuses the glyph, or "" when none does.
std::string refusingRule(const Face& f, const GlyphFacts& facts) {
    if (facts.zeroContours) return "zero-contours";
    if (facts.depth > f.maxComponentDepth) return "maxp-depth";
    if (facts.widestComposite > f.maxComponentElements) return "maxp-components";
    if (facts.points > std::max(f.maxPoints, f.maxCompositePoints)) return "maxp-points";
    if (facts.contours > std::max(f.maxContours, f.maxCompositeContours)) return "maxp-contours";
    if (facts.contours > kMaxTrueTypeContours) return "contours>71";
    return "";
}

// ---- FreeType's outline as entries. ----

struct Entry {
    int kind;
    int64_t x, y, cx, cy;
};

int moveTo(const FT_Vector* to, void* user) {
    static_cast<std::vector<Entry>*>(user)->push_back({kOutlineMove, to->x, to->y, 0, 0});
    return 0;
}
int lineTo(const FT_Vector* to, void* user) {
    static_cast<std::vector<Entry>*>(user)->push_back({kOutlineLine, to->x, to->y, 0, 0});
    return 0;
}
int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    static_cast<std::vector<Entry>*>(user)->push_back(
        {kOutlineQuadratic, to->x, to->y, control->x, control->y});
    return 0;
}
int cubicTo(const FT_Vector*, const FT_Vector*, const FT_Vector* to, void* user) {
    static_cast<std::vector<Entry>*>(user)->push_back({kOutlineCubic, to->x, to->y, 0, 0});
    return 0;
}

bool decompose(FT_Outline& outline, int shift, std::vector<Entry>& out) {
    out.clear();
    FT_Outline_Funcs funcs = {moveTo, lineTo, conicTo, cubicTo, shift, 0};
    return FT_Outline_Decompose(&outline, &funcs, &out) == 0;
}

void ourEntries(const GlyphOutline& o, std::vector<Entry>& out) {
    out.clear();
    for (uint32_t i = 0; i < o.pointCount; ++i) {
        const OutlinePoint& p = o.points[i];
        out.push_back({p.kind, p.x, p.y, p.kind == kOutlineQuadratic ? p.cx1 : 0,
                       p.kind == kOutlineQuadratic ? p.cy1 : 0});
    }
}

// The largest coordinate difference, or -1 when the entry kinds or counts differ.
int64_t difference(const std::vector<Entry>& ours, const std::vector<Entry>& theirs, int64_t theirXShift) {
    if (ours.size() != theirs.size()) return -1;
    int64_t worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const Entry& a = ours[i];
        const Entry& b = theirs[i];
        if (a.kind != b.kind) return -1;
        const int64_t dx = a.x - b.x - theirXShift;
        const int64_t dcx = a.cx - b.cx - (a.kind == kOutlineQuadratic ? theirXShift : 0);
        worst = std::max<int64_t>({worst, dx < 0 ? -dx : dx, a.y > b.y ? a.y - b.y : b.y - a.y,
                                   dcx < 0 ? -dcx : dcx, a.cy > b.cy ? a.cy - b.cy : b.cy - a.cy});
    }
    return worst;
}

std::string entriesText(const std::vector<Entry>& entries, size_t limit = 12) {
    std::string s;
    for (size_t i = 0; i < entries.size() && i < limit; ++i) {
        const Entry& e = entries[i];
        static const char* kinds = "MLCQ";
        s += kinds[e.kind & 3];
        if (e.kind == kOutlineQuadratic) s += " " + std::to_string(e.cx) + " " + std::to_string(e.cy);
        s += " " + std::to_string(e.x) + " " + std::to_string(e.y) + " ";
    }
    if (entries.size() > limit) s += "...";
    return s;
}

struct Tally {
    uint64_t faces = 0, glyphs = 0, equal = 0, transformedWithin = 0, empty = 0;
    uint64_t mismatches = 0, unexplained = 0, freetypeOnlyFails = 0, bothFail = 0;
    std::map<std::string, uint64_t> refusedByRule;
    uint64_t scaledCompared = 0, scaledBeyond = 0;
    int64_t scaledWorst = 0, transformedWorst = 0;
    uint32_t deepest = 0, mostComponents = 0;
};

// Glyph ids as compact ranges ("3-7 9 12").
std::string ranges(const std::vector<uint32_t>& ids) {
    std::string s;
    for (size_t i = 0; i < ids.size();) {
        size_t j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + kGlyphStride) ++j;
        if (!s.empty()) s += ' ';
        s += std::to_string(ids[i]);
        if (j > i) s += "-" + std::to_string(ids[j]);
        i = j + 1;
    }
    return s;
}

struct FreeTypeLibrary {
    FT_Library library = nullptr;
    FreeTypeLibrary() { FT_Init_FreeType(&library); }
    ~FreeTypeLibrary() { FT_Done_FreeType(library); }
};

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

void compareFace(FT_Library library, const std::string& path, const corpus::Bytes& bytes, uint32_t faceIndex,
                 uint32_t offset, Tally& tally) {
    Face face;
    if (!readFace(bytes.data(), bytes.size(), offset, face)) return;  // not a 'glyf' face
    const std::string where = path + (faceIndex ? "#" + std::to_string(faceIndex) : "");

    TrueTypeFont font;
    const int16_t loaded = font.loadTrueType(bytes.data(), uint32_t(bytes.size()), offset);
    FT_Face ft = nullptr;
    const FT_Error ftOpened =
        FT_New_Memory_Face(library, bytes.data(), FT_Long(bytes.size()), FT_Long(faceIndex), &ft);
    if (loaded != 0) {
        // Loading is compared with FreeType elsewhere; here a face we cannot load is only noted.
        std::printf("  FACE %s: loadTrueType %d, FreeType %s\n", where.c_str(), loaded,
                    ftOpened ? "fails" : "opens");
        EXPECT_NE(ftOpened, 0) << where << ": FreeType opens a face that loadTrueType refuses";
        if (!ftOpened) FT_Done_Face(ft);
        return;
    }
    ASSERT_EQ(ftOpened, 0) << where;
    ++tally.faces;

    GlyphWork work;
    ASSERT_EQ(font.prepareGlyphWork(work), 0) << where;
    std::unique_ptr<GlyphOutline, OutlineDeleter> ours(font.newOutline()), scaled(font.newOutline());
    std::unique_ptr<OutlineScaler> scaler(font.newScaler());
    std::vector<Entry> mine, theirs;
    std::map<std::string, std::vector<uint32_t>> refused;
    uint64_t faceMismatches = 0;
    int64_t faceScaledWorst = 0;

    for (uint32_t g = 0; g < font.glyphCount; g += kGlyphStride) {
        ++tally.glyphs;
        GlyphFacts facts;
        walk(face, g, 0, facts);
        tally.deepest = std::max(tally.deepest, facts.depth);
        tally.mostComponents = std::max(tally.mostComponents, facts.componentsVisited);

        ours->clear();
        const int16_t status = font.getGlyphOutline(g, work, *ours);
        const FT_Error ftError = FT_Load_Glyph(ft, g, FT_LOAD_NO_SCALE);
        if (status != 0 || ftError != 0) {
            if (status != 0 && ftError != 0) {
                ++tally.bothFail;
                refused["both-fail"].push_back(g);
                continue;
            }
            if (status == 0) {
                ++tally.freetypeOnlyFails;
                refused["freetype-fails"].push_back(g);
                continue;
            }
            const std::string rule = facts.readable ? refusingRule(face, facts) : "";
            if (rule.empty()) {
                ++tally.unexplained;
                ADD_FAILURE() << where << " glyph " << g << ": status " << status
                              << " while FreeType loads it, and no rule of ours explains it";
                continue;
            }
            ++tally.refusedByRule[rule];
            refused[rule].push_back(g);
            continue;
        }
        if (ours->pointCount == 0) ++tally.empty;

        // Unscaled: FreeType's points in font units, shifted to 26.6 by the decomposition itself.
        EXPECT_TRUE(decompose(ft->glyph->outline, 6, theirs)) << where << " glyph " << g;
        ourEntries(*ours, mine);
        // Our x shift (side bearing - xMin) against FreeType's origin.
        uint32_t start = 0, length = 0;
        const int32_t xMin =
            glyphRange(face, g, start, length) && length >= 10 ? int16_t(be16(face.data + start + 2)) : 0;
        const int64_t originShift = int64_t(sideBearing(face, g) - xMin + freeTypeOrigin(face, g)) * 64;
        if (originShift && length) refused["use-my-metrics-origin"].push_back(g);
        const int64_t d = difference(mine, theirs, originShift);
        const int64_t allowed = facts.transformed ? kUnscaledTransformTolerance : 0;
        if (d < 0 || d > allowed) {
            ++tally.mismatches;
            if (++faceMismatches <= 5)
                ADD_FAILURE() << where << " glyph " << g << (facts.transformed ? " (transformed)" : "")
                              << ": differs by " << d << "\n  ours:     " << entriesText(mine)
                              << "\n  FreeType: " << entriesText(theirs);
            continue;
        }
        if (facts.transformed) {
            ++tally.transformedWithin;
            tally.transformedWorst = std::max(tally.transformedWorst, d);
        } else {
            ++tally.equal;
        }

        // Scaled, unhinted.
        for (int ppem : kSizes) {
            scaled->clear();
            scaler->setSize(uint16_t(ppem), uint16_t(ppem));
            ASSERT_EQ(scaler->scaleOutline(*ours, scaled.get()), 0) << where << " glyph " << g;
            ASSERT_EQ(FT_Set_Pixel_Sizes(ft, FT_UInt(ppem), FT_UInt(ppem)), 0) << where;
            ASSERT_EQ(FT_Load_Glyph(ft, g, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0)
                << where << " glyph " << g;
            EXPECT_TRUE(decompose(ft->glyph->outline, 0, theirs));
            ourEntries(*scaled, mine);
            const int64_t ds = difference(mine, theirs, originShift * ppem / font.unitsPerEm);
            ++tally.scaledCompared;
            if (ds >= 0) faceScaledWorst = std::max(faceScaledWorst, ds);
            if (ds < 0 || ds > kScaledTolerance) {
                ++tally.scaledBeyond;
                if (++faceMismatches <= 5)
                    ADD_FAILURE() << where << " glyph " << g << " at " << ppem << " ppem: differs by " << ds
                                  << "\n  ours:     " << entriesText(mine)
                                  << "\n  FreeType: " << entriesText(theirs);
            }
        }
    }
    tally.scaledWorst = std::max(tally.scaledWorst, faceScaledWorst);
    for (const auto& [rule, ids] : refused)
        std::printf("  %s %s: %zu glyph(s): %s\n",
                    rule == "freetype-fails" || rule == "both-fail" || rule == "use-my-metrics-origin"
                        ? "NOTE"
                        : "REFUSED",
                    where.c_str(), ids.size(), (rule + ": " + ranges(ids)).c_str());
    font.releaseGlyphWork(work);
    FT_Done_Face(ft);
}

TEST(OutlineFreeTypeTest, EveryTrueTypeGlyphOfTheCorpus) {
    const std::vector<std::string> files = corpus::fontFiles();
    for (const char* required : kRequiredFonts)
        ASSERT_NE(std::find(files.begin(), files.end(), required), files.end())
            << required << " is missing: tools/run_tests.sh installs it";

    FreeTypeLibrary ft;
    ASSERT_NE(ft.library, nullptr);
    Tally tally;
    for (const std::string& path : files) {
        corpus::Bytes bytes;
        if (!corpus::readFile(path, bytes)) continue;
        const uint32_t faces = corpus::faceCount(path);
        for (uint32_t i = 0; i < faces; ++i) {
            uint32_t offset = 0;
            if (faces > 1 || (bytes.size() >= 4 && !std::memcmp(bytes.data(), "ttcf", 4))) {
                if (!testCollectionHeader(bytes.data(), uint32_t(bytes.size()), i, offset)) continue;
            }
            compareFace(ft.library, path, bytes, i, offset, tally);
        }
    }
    std::printf(
        "TrueType faces %llu, glyphs %llu (every %u. glyph): equal %llu, transformed within 1 unit %llu "
        "(worst %lld/64), empty %llu\n",
        (unsigned long long)tally.faces, (unsigned long long)tally.glyphs, kGlyphStride,
        (unsigned long long)tally.equal, (unsigned long long)tally.transformedWithin,
        (long long)tally.transformedWorst, (unsigned long long)tally.empty);
    std::printf("refused by a rule of ours:");
    for (const auto& [rule, n] : tally.refusedByRule)
        std::printf(" %s %llu", rule.c_str(), (unsigned long long)n);
    std::printf("\nFreeType alone fails %llu, both fail %llu, unexplained %llu, unscaled mismatches %llu\n",
                (unsigned long long)tally.freetypeOnlyFails, (unsigned long long)tally.bothFail,
                (unsigned long long)tally.unexplained, (unsigned long long)tally.mismatches);
    std::printf("scaled at 12 and 16 ppem: %llu outlines, worst %lld/64, beyond 2/64: %llu\n",
                (unsigned long long)tally.scaledCompared, (long long)tally.scaledWorst,
                (unsigned long long)tally.scaledBeyond);
    std::printf("deepest composite %u levels (ours: %u), most components in one glyph %u (ours: %u)\n",
                tally.deepest, unsigned(kMaxCompositeDepth), tally.mostComponents,
                unsigned(kMaxComponentsPerGlyph));
    EXPECT_GT(tally.faces, 0u);
    EXPECT_LE(tally.deepest, kMaxCompositeDepth);
    EXPECT_LE(tally.mostComponents, kMaxComponentsPerGlyph);
}

}  // namespace
