// Hinted CFF outlines per second at 16 ppem over every glyph of every CFF face of the corpus (the OpenType
// CFF fonts and every face of the CID-keyed CFF collections), paired with FreeType's hinted loading
// (FT_LOAD_DEFAULT at 16 ppem: its CFF driver's hinter). Ours: slot 5 with a hint record, then the face's own
// scaler (slot 3, the CFF hinting scaler) with the record attached, scaling in place. A third pass loads the
// same outlines and scales them with the plain scaler, so that the hinting's own share shows.
//
// The Google Benchmark functions time one pass over the corpus each. After them, unless only listing, the
// program runs --rounds=N (default 5) paired rounds, each timing the passes back to back (in rotating order,
// in CPU time), and prints each round's rates and ratios and their medians; then the --slowest=K (default 10)
// slowest single glyphs of ours, each timed over many loads, beside FreeType's time for the same glyph.
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
#include "cff/CffFont.h"
#include "cff/CffHintingScaler.h"
#include "cff/LoadFont.h"
#include "support/FontCorpus.h"

namespace {

constexpr uint16_t kPpem = 16;

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

struct Face {
    std::string where;
    std::unique_ptr<SfntFont> font;
    uint32_t glyphCount = 0;
    GlyphWork work;
    std::unique_ptr<HintRecord> hints;
    HintRecord* hintPointer = nullptr;
    std::unique_ptr<OutlineScaler> scaler;
    std::unique_ptr<PlainScaler> plain;
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
                auto face = std::make_unique<Face>();
                int16_t status = 0;
                face->font = loadFontFace(bytes->data(), uint32_t(bytes->size()), i, status);
                if (!face->font || face->font->formatTag != CffFont::kTag) continue;
                if (face->font->prepareGlyphWork(face->work) != 0) continue;
                face->hints.reset(face->font->newHintRecord());
                face->scaler.reset(face->font->newScaler());
                face->plain = std::make_unique<PlainScaler>(face->font->unitsPerEm);
                if (!face->hints || !face->scaler ||
                    FT_New_Memory_Face(m_library, bytes->data(), FT_Long(bytes->size()), FT_Long(i),
                                       &face->ft) ||
                    FT_Set_Pixel_Sizes(face->ft, kPpem, kPpem)) {
                    face->font->releaseGlyphWork(face->work);
                    continue;
                }
                face->hintPointer = face->hints.get();
                face->work.hints = &face->hintPointer;
                face->scaler->setSize(kPpem, kPpem);  // (y, x)
                face->plain->setSize(kPpem, kPpem);
                face->glyphCount = static_cast<CffFont&>(*face->font).charStrings.count;
                face->where = path + (count > 1 ? "#" + std::to_string(i) : "");
                glyphs += face->glyphCount;
                faces.push_back(std::move(face));
                used = true;
            }
            if (used) m_files.push_back(std::move(bytes));
        }
        std::fprintf(stderr, "CFF corpus: %zu faces, %llu glyphs\n", faces.size(),
                     (unsigned long long)glyphs);
    }
    ~Corpus() {
        for (auto& f : faces) {
            f->font->releaseGlyphWork(f->work);
            FT_Done_Face(f->ft);
        }
        FT_Done_FreeType(m_library);
    }

    // One glyph of ours: loaded with its hints, then hinted (or, with `hinted` false, plainly scaled).
    int16_t oursGlyph(Face& f, uint32_t g, bool hinted) {
        GlyphOutline& o = *m_outline;
        o.clear();
        int16_t status = f.font->getGlyphOutline(g, f.work, o);
        if (status != 0) return status;
        if (hinted) {
            f.scaler->attachHints(f.hintPointer);
            status = f.scaler->scaleOutline(o, nullptr);
        } else {
            status = f.plain->scaleOutline(o, nullptr);
        }
        benchmark::DoNotOptimize(o.points);
        return status;
    }

    // One pass of each side over every glyph; each returns the number of failed glyphs.
    uint64_t oursPass(bool hinted) {
        uint64_t failed = 0;
        for (auto& f : faces)
            for (uint32_t g = 0; g < f->glyphCount; ++g) failed += oursGlyph(*f, g, hinted) != 0;
        return failed;
    }
    uint64_t freeTypePass() {
        uint64_t failed = 0;
        for (auto& f : faces) {
            for (uint32_t g = 0; g < f->glyphCount; ++g) {
                if (FT_Load_Glyph(f->ft, g, FT_LOAD_DEFAULT)) ++failed;
                benchmark::DoNotOptimize(f->ft->glyph->outline.points);
            }
        }
        return failed;
    }

    // Nanoseconds per glyph over `loads` loads.
    double oursTime(Face& f, uint32_t g, int loads, bool hinted) {
        const double start = paired::cpuSeconds();
        for (int i = 0; i < loads; ++i) benchmark::DoNotOptimize(oursGlyph(f, g, hinted));
        return (paired::cpuSeconds() - start) * 1e9 / loads;
    }
    double freeTypeTime(Face& f, uint32_t g, int loads) {
        const double start = paired::cpuSeconds();
        for (int i = 0; i < loads; ++i) benchmark::DoNotOptimize(FT_Load_Glyph(f.ft, g, FT_LOAD_DEFAULT));
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

void BM_OursHinted16(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.oursPass(true));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_OursPlain16(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.oursPass(false));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_FreeTypeHinted16(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.freeTypePass());
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
BENCHMARK(BM_OursHinted16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursPlain16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeTypeHinted16)->Unit(benchmark::kMillisecond);

void pairedRounds(int rounds) {
    Corpus& c = theCorpus();
    c.oursPass(true);  // a first untimed pass of each
    c.oursPass(false);
    c.freeTypePass();
    std::printf(
        "\npaired rounds over %zu CFF faces, %llu glyphs, %u ppem (glyphs per second, in thousands)\n",
        c.faces.size(), (unsigned long long)c.glyphs, kPpem);
    std::printf("round  hinted  FreeType hinted  ours/FreeType   plain   hinting's share of our time\n");
    std::vector<double> ours, ft, plain, ratio, share;
    uint64_t failed[3] = {};
    for (int r = 0; r < rounds; ++r) {
        double t[3];
        for (int k = 0; k < 3; ++k) {
            const int side = (r + k) % 3;  // rotate the order, so that no side always runs first
            const double start = paired::cpuSeconds();
            const uint64_t f = side == 0   ? c.oursPass(true)
                               : side == 1 ? c.freeTypePass()
                                           : c.oursPass(false);
            t[side] = paired::cpuSeconds() - start;
            if (r == 0) failed[side] = f;
        }
        const double g = double(c.glyphs) / 1e3;
        ours.push_back(g / t[0]);
        ft.push_back(g / t[1]);
        plain.push_back(g / t[2]);
        ratio.push_back(t[1] / t[0]);
        share.push_back(100.0 * (t[0] - t[2]) / t[0]);
        std::printf("%5d %7.0f  %15.0f  %13.2f %7.0f   %25.0f%%\n", r + 1, ours.back(), ft.back(),
                    ratio.back(), plain.back(), share.back());
    }
    std::printf("median %6.0f  %15.0f  %13.2f %7.0f   %25.0f%%\n", paired::median(ours), paired::median(ft),
                paired::median(ratio), paired::median(plain), paired::median(share));
    std::printf("failed glyphs per pass: ours %llu, FreeType %llu\n", (unsigned long long)failed[0],
                (unsigned long long)failed[1]);
}

void slowestGlyphs(size_t count) {
    Corpus& c = theCorpus();
    struct Slow {
        double ns;
        Face* face;
        uint32_t glyph;
    };
    std::vector<Slow> slow;
    for (auto& f : c.faces) {
        for (uint32_t g = 0; g < f->glyphCount; ++g) {
            const double ns = c.oursTime(*f, g, 4, true);
            if (slow.size() < count || ns > slow.back().ns) {
                slow.push_back({ns, f.get(), g});
                std::sort(slow.begin(), slow.end(), [](const Slow& a, const Slow& b) { return a.ns > b.ns; });
                if (slow.size() > count) slow.pop_back();
            }
        }
    }
    std::printf(
        "\nslowest single glyphs of ours (hinted at %u ppem, ns per glyph over 2000 loads; the plain "
        "scaling and FreeType's hinted load beside)\n",
        kPpem);
    std::printf("%9s %9s %9s %8s %8s %6s %6s %6s  %s\n", "hinted", "plain", "FreeType", "entries", "contours",
                "stems", "masks", "glyph", "face");
    for (const Slow& s : slow) {
        const double hinted = c.oursTime(*s.face, s.glyph, 2000, true);
        const double plain = c.oursTime(*s.face, s.glyph, 2000, false);
        const double ft = c.freeTypeTime(*s.face, s.glyph, 2000);
        GlyphOutline& o = c.outline();
        o.clear();
        const int16_t status = s.face->font->getGlyphOutline(s.glyph, s.face->work, o);
        const HintRecord& h = *s.face->hints;
        std::printf("%9.0f %9.0f %9.0f %8u %8u %6d %6u %6u  %s%s\n", hinted, plain, ft, o.pointCount,
                    o.contourCount, h.hStemCount + h.vStemCount, h.maskCount, s.glyph, s.face->where.c_str(),
                    status ? (" (status " + std::to_string(status) + ")").c_str() : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    return paired::run(argc, argv, pairedRounds, slowestGlyphs);
}
