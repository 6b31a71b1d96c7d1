// TrueType outlines per second over every glyph of every 'glyf' face of the corpus (collections included),
// unscaled and at 16 ppem, paired with FreeType: FT_LOAD_NO_SCALE, and FT_LOAD_NO_HINTING at 16 ppem. Both
// sides produce the outline in memory (FreeType its points, tags and contour ends in the glyph slot, we our
// entries in an outline record), glyph after glyph, each with its reused working state.
//
// The Google Benchmark functions time one pass over the corpus each. After them, unless only listing,
// the program runs --rounds=N (default 5) paired rounds, each timing our pass and FreeType's back to back
// (in alternating order, in CPU time), and prints each round's ratios and their medians; then --slowest=K
// (default 10) single glyphs of ours, each timed over many loads, beside FreeType's time for the same glyph.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/PairedBench.h"
#include "sfnt/TrueTypeFont.h"
#include "support/FontCorpus.h"

namespace {

constexpr uint16_t kPpem = 16;

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

struct Face {
    std::string where;
    const corpus::Bytes* bytes = nullptr;
    std::unique_ptr<TrueTypeFont> font;
    GlyphWork work;
    std::unique_ptr<OutlineScaler> scaler;
    FT_Face ft = nullptr;
};

class Corpus {
public:
    Corpus() {
        FT_Init_FreeType(&m_library);
        m_outline.reset(newGlyphOutline(1000));
        for (const std::string& path : corpus::fontFiles()) {
            auto bytes = std::make_unique<corpus::Bytes>();
            if (!corpus::readFile(path, *bytes)) continue;
            const uint32_t count = corpus::faceCount(path);
            bool used = false;
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t offset = 0;
                const bool collection = bytes->size() >= 4 && !std::memcmp(bytes->data(), "ttcf", 4);
                if (collection && !testCollectionHeader(bytes->data(), uint32_t(bytes->size()), i, offset))
                    continue;
                auto face = std::make_unique<Face>();
                face->font = std::make_unique<TrueTypeFont>();
                if (face->font->loadTrueType(bytes->data(), uint32_t(bytes->size()), offset) != 0) continue;
                if (face->font->prepareGlyphWork(face->work) != 0) continue;
                if (FT_New_Memory_Face(m_library, bytes->data(), FT_Long(bytes->size()), FT_Long(i),
                                       &face->ft)) {
                    face->font->releaseGlyphWork(face->work);
                    continue;
                }
                face->scaler.reset(face->font->newScaler());
                face->scaler->setSize(kPpem, kPpem);
                face->where = path + (collection ? "#" + std::to_string(i) : "");
                face->bytes = bytes.get();
                glyphs += face->font->glyphCount;
                faces.push_back(std::move(face));
                used = true;
            }
            if (used) m_files.push_back(std::move(bytes));
        }
    }
    ~Corpus() {
        for (auto& f : faces) {
            f->font->releaseGlyphWork(f->work);
            FT_Done_Face(f->ft);
        }
        FT_Done_FreeType(m_library);
    }

    // One pass of ours over every glyph; returns the number of failed glyphs.
    uint64_t oursPass(bool scaled) {
        uint64_t failed = 0;
        GlyphOutline& o = *m_outline;
        for (auto& f : faces) {
            TrueTypeFont& font = *f->font;
            for (uint32_t g = 0; g < font.glyphCount; ++g) {
                o.clear();
                if (font.getGlyphOutline(g, f->work, o) != 0) {
                    ++failed;
                    continue;
                }
                if (scaled && f->scaler->scaleOutline(o, nullptr) != 0) ++failed;
                benchmark::DoNotOptimize(o.points);
            }
        }
        return failed;
    }

    uint64_t freeTypePass(bool scaled) {
        uint64_t failed = 0;
        const FT_Int32 flags = scaled ? FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP : FT_LOAD_NO_SCALE;
        for (auto& f : faces) {
            if (scaled) FT_Set_Pixel_Sizes(f->ft, kPpem, kPpem);
            const FT_Long count = f->ft->num_glyphs;
            for (FT_Long g = 0; g < count; ++g) {
                if (FT_Load_Glyph(f->ft, FT_UInt(g), flags)) ++failed;
                benchmark::DoNotOptimize(f->ft->glyph->outline.points);
            }
        }
        return failed;
    }

    // Nanoseconds per load of one glyph, over `loads` loads.
    double oursGlyph(Face& f, uint32_t g, int loads) {
        GlyphOutline& o = *m_outline;
        const double start = paired::cpuSeconds();
        for (int i = 0; i < loads; ++i) {
            o.clear();
            benchmark::DoNotOptimize(f.font->getGlyphOutline(g, f.work, o));
        }
        return (paired::cpuSeconds() - start) * 1e9 / loads;
    }
    double freeTypeGlyph(Face& f, uint32_t g, int loads) {
        const double start = paired::cpuSeconds();
        for (int i = 0; i < loads; ++i) benchmark::DoNotOptimize(FT_Load_Glyph(f.ft, g, FT_LOAD_NO_SCALE));
        return (paired::cpuSeconds() - start) * 1e9 / loads;
    }

    GlyphOutline& outline() { return *m_outline; }

    std::vector<std::unique_ptr<Face>> faces;
    uint64_t glyphs = 0;

private:
    FT_Library m_library = nullptr;
    std::vector<std::unique_ptr<corpus::Bytes>> m_files;
    std::unique_ptr<GlyphOutline, OutlineDeleter> m_outline;
};

Corpus& theCorpus() {
    static Corpus c;
    return c;
}

void BM_OursUnscaled(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.oursPass(false));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_FreeTypeUnscaled(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.freeTypePass(false));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_Ours16ppem(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.oursPass(true));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_FreeType16ppem(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.freeTypePass(true));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
BENCHMARK(BM_OursUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeTypeUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours16ppem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeType16ppem)->Unit(benchmark::kMillisecond);

void pairedRounds(int rounds) {
    Corpus& c = theCorpus();
    std::printf("\npaired rounds over %zu faces, %llu glyphs (glyphs per second, in millions)\n",
                c.faces.size(), (unsigned long long)c.glyphs);
    std::printf("round  ours-unscaled  FreeType-unscaled  ratio   ours-16ppem  FreeType-16ppem  ratio\n");
    std::vector<double> unscaledRatios, scaledRatios, oursU, ftU, ours16, ft16;
    uint64_t oursFailed = 0, ftFailed = 0;
    for (int r = 0; r < rounds; ++r) {
        double t[4];
        // Alternate which side goes first, so that neither always runs on a warmer cache.
        for (int k = 0; k < 2; ++k) {
            const bool oursFirst = (r + k) % 2 == 0;
            const bool scaled = k == 1;
            for (int side = 0; side < 2; ++side) {
                const bool ours = (side == 0) == oursFirst;
                const double start = paired::cpuSeconds();
                const uint64_t failed = ours ? c.oursPass(scaled) : c.freeTypePass(scaled);
                t[(scaled ? 2 : 0) + (ours ? 0 : 1)] = paired::cpuSeconds() - start;
                if (r == 0) (ours ? oursFailed : ftFailed) += failed;
            }
        }
        const double g = double(c.glyphs) / 1e6;
        oursU.push_back(g / t[0]);
        ftU.push_back(g / t[1]);
        ours16.push_back(g / t[2]);
        ft16.push_back(g / t[3]);
        unscaledRatios.push_back(t[1] / t[0]);
        scaledRatios.push_back(t[3] / t[2]);
        std::printf("%5d  %13.3f  %17.3f  %5.2f   %11.3f  %15.3f  %5.2f\n", r + 1, oursU.back(), ftU.back(),
                    unscaledRatios.back(), ours16.back(), ft16.back(), scaledRatios.back());
    }
    std::printf("median %13.3f  %17.3f  %5.2f   %11.3f  %15.3f  %5.2f\n", paired::median(oursU),
                paired::median(ftU), paired::median(unscaledRatios), paired::median(ours16),
                paired::median(ft16), paired::median(scaledRatios));
    std::printf("failed glyphs per pass (unscaled + 16 ppem): ours %llu, FreeType %llu\n",
                (unsigned long long)oursFailed, (unsigned long long)ftFailed);
}

// The slowest single glyphs: a glyph's cost grows with its entries, so the largest glyphs of every face
// (by entries, found in one pass) are timed over many loads each, and the slowest of them printed.
void slowestGlyphs(size_t count) {
    Corpus& c = theCorpus();
    struct Glyph {
        uint32_t entries;
        Face* face;
        uint32_t glyph;
        double ours = 0, theirs = 0;
    };
    std::vector<Glyph> largest;
    GlyphOutline& o = c.outline();
    for (auto& f : c.faces) {
        for (uint32_t g = 0; g < f->font->glyphCount; ++g) {
            o.clear();
            if (f->font->getGlyphOutline(g, f->work, o) != 0) continue;
            largest.push_back({o.pointCount, f.get(), g});
        }
    }
    const size_t candidates = std::min(largest.size(), 5 * count);
    std::partial_sort(largest.begin(), largest.begin() + long(candidates), largest.end(),
                      [](const Glyph& a, const Glyph& b) { return a.entries > b.entries; });
    largest.resize(candidates);
    for (Glyph& g : largest) {
        g.ours = c.oursGlyph(*g.face, g.glyph, 2000);
        g.theirs = c.freeTypeGlyph(*g.face, g.glyph, 2000);
    }
    std::sort(largest.begin(), largest.end(), [](const Glyph& a, const Glyph& b) { return a.ours > b.ours; });
    std::printf(
        "\nslowest single glyphs of ours among the %zu largest (unscaled, CPU ns per load over 2000 loads)\n",
        candidates);
    std::printf("%9s %9s %6s %8s %8s %6s  %s\n", "ours ns", "FreeType", "ratio", "entries", "contours",
                "glyph", "face");
    for (size_t i = 0; i < largest.size() && i < count; ++i) {
        const Glyph& g = largest[i];
        o.clear();
        (void)g.face->font->getGlyphOutline(g.glyph, g.face->work, o);
        std::printf("%9.0f %9.0f %6.2f %8u %8u %6u  %s\n", g.ours, g.theirs, g.theirs / g.ours, o.pointCount,
                    o.contourCount, g.glyph, g.face->where.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    return paired::run(argc, argv, pairedRounds, slowestGlyphs);
}
