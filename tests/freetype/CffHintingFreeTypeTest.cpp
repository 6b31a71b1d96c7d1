// The CFF hinting scaler over the hinted CFF glyphs the test run installs: every glyph of the FreeFont
// OpenType faces, and a sample of the Noto CJK collections' glyphs (their faces share one CFF table, so face
// 0 of each collection, every 16th glyph), at 10, 12, 16, 20 and 24 ppem. Per face and size it prints, and
// checks:
//   stems on the grid  of the outline points (end and control points) that lie exactly on an edge of one of
//                      the glyph's horizontal stems (hstem, hstemhm: both edges, or a ghost's one edge, in
//                      font units), the share whose hinted y is a whole pixel: at least 95%. FreeType's CFF
//                      hinter (FT_LOAD_DEFAULT) is shown beside it, measured on FreeType's own hinted points
//                      against the same stems; it keeps stem widths fractional and aligns mainly zone edges,
//                      so its share is far lower: a different design, printed for comparison only;
//   fidelity           no coordinate lies more than one pixel from the plain scaler's;
//   consistency        the local highs of x, z, v and w that lie in the x-height zone land on one pixel row,
//                      and so do the local lows in the baseline zone of a set of glyphs that stand on it;
//   straight lines     line entries that are horizontal or vertical in font units and stay so after hinting
//                      (a contour that runs through two hint masks must not bend): at most 0.25% bent.
// Glyphs without stems are counted apart (the scaler treats them as any other: zones only).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cff/CffFont.h"
#include "cff/CffHintingScaler.h"
#include "cff/LoadFont.h"
#include "support/FontCorpus.h"

namespace {

#ifdef KORV_CORPUS_SANITIZED
constexpr uint32_t kSanitizerStride = 13;
#else
constexpr uint32_t kSanitizerStride = 1;
#endif

constexpr uint16_t kSizes[] = {10, 12, 16, 20, 24};

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};
using Outline = std::unique_ptr<GlyphOutline, OutlineDeleter>;

struct Face {
    std::string path;
    uint32_t index = 0;
    uint32_t stride = 1;  // glyphs sampled
    std::string label() const { return path.substr(path.rfind('/') + 1) + "#" + std::to_string(index); }
};

// The FreeFont .otf faces and face 0 of each Noto CJK collection; both packages are in the test run.
std::vector<Face> hintedFaces() {
    std::vector<Face> faces;
    for (const std::string& path : corpus::fontFiles()) {
        const std::string name = path.substr(path.rfind('/') + 1);
        if (path.find("/freefont/") != std::string::npos && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".otf") == 0)
            faces.push_back({path, 0, kSanitizerStride});
        else if (name.rfind("Noto", 0) == 0 && name.find("CJK") != std::string::npos &&
                 name.compare(name.size() - 4, 4, ".ttc") == 0)
            faces.push_back({path, 0, 16 * kSanitizerStride});
    }
    return faces;
}

// Every coordinate pair of an outline in entry order, control points first.
struct Point {
    int32_t x, y;
    uint32_t entry;
};
void pointsOf(const GlyphOutline& o, std::vector<Point>& out) {
    out.clear();
    for (uint32_t i = 0; i < o.pointCount; ++i) {
        const OutlinePoint& p = o.points[i];
        if (p.kind == kOutlineCubic) out.push_back({p.cx1, p.cy1, i}), out.push_back({p.cx2, p.cy2, i});
        if (p.kind == kOutlineQuadratic) out.push_back({p.cx1, p.cy1, i});
        out.push_back({p.x, p.y, i});
    }
}

// y lies on an edge of one of the record's horizontal stems (26.6 font units).
bool onHorizontalStemEdge(const HintRecord& h, int64_t y) {
    const int count = std::min<int>(h.hStemCount, kType2MaxStems);
    for (int i = 0; i < count; ++i) {
        const Stem& s = h.stems[i];
        if (y == s.position || (s.width >= 0 && y == int64_t(s.position) + s.width)) return true;
    }
    return false;
}

// Rows of the local highs (or lows) of an outline whose original y lies in [lo, hi]: points whose nearest
// different neighbours along the contour (both ways round) both lie lower (higher).
void extremeRows(const GlyphOutline& source, const GlyphOutline& hinted, bool highs, int32_t lo, int32_t hi,
                 std::set<int32_t>& rows) {
    std::vector<Point> s, h;
    for (uint32_t c = 0; c < source.contourCount; ++c) {
        s.clear(), h.clear();
        for (uint32_t i = source.contourStart[c]; i < source.contourStart[c + 1]; ++i) {
            const OutlinePoint &p = source.points[i], &q = hinted.points[i];
            if (p.kind == kOutlineCubic) {
                s.push_back({p.cx1, p.cy1, i}), s.push_back({p.cx2, p.cy2, i});
                h.push_back({q.cx1, q.cy1, i}), h.push_back({q.cx2, q.cy2, i});
            }
            s.push_back({p.x, p.y, i}), h.push_back({q.x, q.y, i});
        }
        const size_t n = s.size();
        for (size_t i = 0; i < n; ++i) {
            if (s[i].y < lo || s[i].y > hi) continue;
            size_t a = (i + n - 1) % n, b = (i + 1) % n;
            while (a != i && s[a].y == s[i].y) a = (a + n - 1) % n;
            while (b != i && s[b].y == s[i].y) b = (b + 1) % n;
            if (a == i) continue;
            const bool extreme =
                highs ? (s[a].y < s[i].y && s[b].y < s[i].y) : (s[a].y > s[i].y && s[b].y > s[i].y);
            if (extreme) rows.insert(h[i].y);
        }
    }
}

class HintingSweep : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(FT_Init_FreeType(&m_library), 0); }
    void TearDown() override { FT_Done_FreeType(m_library); }
    FT_Library m_library = nullptr;
};

TEST_F(HintingSweep, StemsLandOnTheGridPointsStayWithinAPixelAndZonesLineUp) {
    const std::vector<Face> faces = hintedFaces();
    // Both packages are installed by the test run: a missing one is a failure, not a skip.
    ASSERT_GE(faces.size(), 12u) << "fonts-freefont-otf and fonts-noto-cjk must be installed";
    size_t cjk = 0;
    for (const Face& f : faces) cjk += f.stride > kSanitizerStride;
    ASSERT_GE(cjk, 1u) << "fonts-noto-cjk must be installed";

    std::printf("%-36s %4s %7s %20s %20s %8s %7s %16s\n", "face", "ppem", "glyphs", "ours on grid",
                "FreeType on grid", "max move", "zones", "bent lines");
    uint64_t allEdges = 0, allOurs = 0, allFtEdges = 0, allFt = 0;
    for (const Face& face : faces) {
        corpus::Bytes bytes;
        ASSERT_TRUE(corpus::readFile(face.path, bytes)) << face.path;
        int16_t status = 0;
        std::unique_ptr<SfntFont> base =
            loadFontFace(bytes.data(), uint32_t(bytes.size()), face.index, status);
        ASSERT_NE(base, nullptr) << face.label() << " status " << status;
        ASSERT_EQ(base->formatTag, CffFont::kTag) << face.label();
        CffFont& font = static_cast<CffFont&>(*base);
        FT_Face ft = nullptr;
        ASSERT_EQ(
            FT_New_Memory_Face(m_library, bytes.data(), FT_Long(bytes.size()), FT_Long(face.index), &ft), 0);

        GlyphWork work;
        ASSERT_EQ(font.prepareGlyphWork(work), 0);
        std::unique_ptr<HintRecord> record(font.newHintRecord());
        HintRecord* recordPointer = record.get();
        work.hints = &recordPointer;
        std::unique_ptr<OutlineScaler> scaler(font.newScaler());
        ASSERT_NE(scaler, nullptr);
        PlainScaler plainScaler(font.unitsPerEm);
        Outline source(font.newOutline()), plain(font.newOutline()), hinted(font.newOutline());
        std::vector<Point> a, b, c;
        std::vector<FT_Vector> unscaled;

        // The zones the consistency check looks at, from the Font DICT of 'x': the top zone holding the
        // highest point of x, and the zone holding the baseline.
        uint32_t xGlyph = 0;
        int32_t xLo = 1, xHi = 0, baseLo = 1, baseHi = 0;
        if (font.charToGlyph('x', xGlyph) == 0) {
            source->clear();
            if (font.getGlyphOutline(xGlyph, work, *source) == 0) {
                int32_t top = INT32_MIN;
                for (uint32_t i = 0; i < source->pointCount; ++i) top = std::max(top, source->points[i].y);
                const CffPrivateDict& d = font.privateDicts[std::max(0, record->fdIndex)];
                for (int16_t i = 0; i + 1 < d.blueValueCount; i += 2) {
                    const int32_t lo = d.blueValues[i], hi = d.blueValues[i + 1];
                    if (lo <= 0 && hi >= 0) baseLo = lo, baseHi = hi;
                    if (lo <= top && top <= hi && lo > 0) xLo = lo, xHi = hi;
                }
            }
        }

        for (uint16_t ppem : kSizes) {
            scaler->setSize(ppem, ppem);  // (y, x)
            plainScaler.setSize(ppem, ppem);
            ASSERT_EQ(FT_Set_Pixel_Sizes(ft, ppem, ppem), 0);
            uint64_t edges = 0, ours = 0, ftEdges = 0, ftOurs = 0, glyphs = 0, lines = 0, bent = 0;
            int64_t maxMove = 0;
            uint32_t worst = 0;
            for (uint32_t g = 0; g < font.glyphCount; g += face.stride) {
                source->clear();
                if (font.getGlyphOutline(g, work, *source) != 0) continue;  // the outline tests name these
                if (record->hStemCount == 0 && record->vStemCount == 0) continue;
                ++glyphs;
                plain->clear(), hinted->clear();
                ASSERT_EQ(plainScaler.scaleOutline(*source, plain.get()), 0);
                scaler->attachHints(record.get());
                ASSERT_EQ(scaler->scaleOutline(*source, hinted.get()), 0) << face.label() << " glyph " << g;
                pointsOf(*source, a), pointsOf(*plain, b), pointsOf(*hinted, c);
                for (uint32_t k = 0; k < source->contourCount; ++k) {
                    for (uint32_t i = source->contourStart[k] + 1; i < source->contourStart[k + 1]; ++i) {
                        const OutlinePoint &p0 = source->points[i - 1], &p1 = source->points[i];
                        if (p1.kind != kOutlineLine) continue;
                        const bool level = p0.y == p1.y && p0.x != p1.x,
                                   upright = p0.x == p1.x && p0.y != p1.y;
                        if (!level && !upright) continue;
                        ++lines;
                        const OutlinePoint &h0 = hinted->points[i - 1], &h1 = hinted->points[i];
                        bent += (level && h0.y != h1.y) || (upright && h0.x != h1.x);
                    }
                }
                ASSERT_EQ(a.size(), c.size());
                for (size_t i = 0; i < a.size(); ++i) {
                    const int64_t move =
                        std::max(std::abs(int64_t(c[i].x) - b[i].x), std::abs(int64_t(c[i].y) - b[i].y));
                    if (move > maxMove) maxMove = move, worst = g;
                    if (onHorizontalStemEdge(*record, a[i].y)) {
                        ++edges;
                        ours += (c[i].y & 63) == 0;
                    }
                }
                // FreeType: its unscaled and hinted points correspond one to one.
                if (FT_Load_Glyph(ft, g, FT_LOAD_NO_SCALE) != 0) continue;
                const FT_Outline& u = ft->glyph->outline;
                unscaled.assign(u.points, u.points + u.n_points);
                if (FT_Load_Glyph(ft, g, FT_LOAD_DEFAULT) != 0) continue;
                const FT_Outline& h = ft->glyph->outline;
                if (size_t(h.n_points) != unscaled.size()) continue;
                for (size_t i = 0; i < unscaled.size(); ++i) {
                    if (!onHorizontalStemEdge(*record, int64_t(unscaled[i].y) * 64)) continue;
                    ++ftEdges;
                    ftOurs += (h.points[i].y & 63) == 0;
                }
            }

            // Consistency at this size.
            std::set<int32_t> tops, baselines;
            for (const char* s = "xzvwHIEnmilkhTuoe"; *s; ++s) {
                uint32_t g = 0;
                if (font.charToGlyph(uint32_t(*s), g) != 0) continue;
                source->clear(), hinted->clear();
                if (font.getGlyphOutline(g, work, *source) != 0) continue;
                scaler->attachHints(record.get());
                ASSERT_EQ(scaler->scaleOutline(*source, hinted.get()), 0);
                if (std::strchr("xzvw", *s)) extremeRows(*source, *hinted, true, xLo, xHi, tops);
                extremeRows(*source, *hinted, false, baseLo, baseHi, baselines);
            }
            std::string rows = std::to_string(tops.size()) + "+" + std::to_string(baselines.size());

            char ourText[32], ftText[32];
            std::snprintf(ourText, sizeof ourText, "%.1f%% of %llu", edges ? 100.0 * ours / edges : 0.0,
                          (unsigned long long)edges);
            std::snprintf(ftText, sizeof ftText, "%.1f%% of %llu", ftEdges ? 100.0 * ftOurs / ftEdges : 0.0,
                          (unsigned long long)ftEdges);
            char bentText[32];
            std::snprintf(bentText, sizeof bentText, "%.3f%% of %llu", lines ? 100.0 * bent / lines : 0.0,
                          (unsigned long long)lines);
            std::printf("%-36s %4u %7llu %20s %20s %5.2f px %7s %16s\n", face.label().c_str(), ppem,
                        (unsigned long long)glyphs, ourText, ftText, maxMove / 64.0, rows.c_str(), bentText);
            allEdges += edges, allOurs += ours, allFtEdges += ftEdges, allFt += ftOurs;

            EXPECT_GT(edges, 0u) << face.label();
            EXPECT_GE(ours * 100, edges * 95) << face.label() << " at " << ppem << " ppem";
            EXPECT_LE(maxMove, 64) << face.label() << " at " << ppem << " ppem, glyph " << worst;
            EXPECT_LE(bent * 400, lines) << face.label() << " at " << ppem << " ppem: straight lines bent";
            // Every face of the run has Latin glyphs: exactly one row each, and the baseline at 0.
            EXPECT_EQ(tops.size(), 1u) << face.label() << " at " << ppem << " ppem: x-height rows";
            EXPECT_EQ(baselines.size(), 1u) << face.label() << " at " << ppem << " ppem: baseline rows";
            EXPECT_EQ(baselines.empty() ? -1 : *baselines.begin(), 0) << face.label();
        }
        font.releaseGlyphWork(work);
        FT_Done_Face(ft);
    }
    std::printf(
        "all faces and sizes: ours %.1f%% of %llu stem-edge points on the grid, FreeType %.1f%% of %llu\n",
        allEdges ? 100.0 * allOurs / allEdges : 0.0, (unsigned long long)allEdges,
        allFtEdges ? 100.0 * allFt / allFtEdges : 0.0, (unsigned long long)allFtEdges);
}

}  // namespace
