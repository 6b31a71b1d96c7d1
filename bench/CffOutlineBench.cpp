// CFF outlines per second over every glyph of every CFF face of the corpus (the OpenType CFF fonts and every
// face of the CID-keyed CFF collections), unscaled, paired with HarfBuzz (hb_font_get_glyph_shape at the
// face's own units, into draw callbacks) and FreeType (FT_LOAD_NO_SCALE). We fill an outline record through
// slot 5 (without a hint record, as an unhinted caller loads glyphs), FreeType its glyph slot's outline;
// HarfBuzz hands each segment to callbacks that fold the coordinates into a sum. Each side reuses its working
// state glyph after glyph.
//
// The Google Benchmark functions time one pass over the corpus each. After them, unless only listing, the
// program runs --rounds=N (default 5) paired rounds, each timing the three passes back to back (in rotating
// order, in CPU time), and prints each round's rates and ratios and their medians; then the --slowest=K
// (default 10) slowest single glyphs of ours, each timed over many loads, beside HarfBuzz's and FreeType's
// time for the same glyph.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

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
#include "cff/LoadFont.h"
#include "cff/Type2Interpreter.h"
#include "support/FontCorpus.h"

namespace {

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

// HarfBuzz's draw callbacks: every point folded into one sum, so that nothing can be left out.
struct DrawSink {
    float sum = 0;
};
void hbMoveTo(hb_draw_funcs_t*, void* sink, hb_draw_state_t*, float x, float y, void*) {
    static_cast<DrawSink*>(sink)->sum += x + y;
}
void hbLineTo(hb_draw_funcs_t*, void* sink, hb_draw_state_t*, float x, float y, void*) {
    static_cast<DrawSink*>(sink)->sum += x + y;
}
void hbQuadraticTo(hb_draw_funcs_t*, void* sink, hb_draw_state_t*, float cx, float cy, float x, float y,
                   void*) {
    static_cast<DrawSink*>(sink)->sum += cx + cy + x + y;
}
void hbCubicTo(hb_draw_funcs_t*, void* sink, hb_draw_state_t*, float cx1, float cy1, float cx2, float cy2,
               float x, float y, void*) {
    static_cast<DrawSink*>(sink)->sum += cx1 + cy1 + cx2 + cy2 + x + y;
}
void hbClosePath(hb_draw_funcs_t*, void* sink, hb_draw_state_t*, void*) {
    static_cast<DrawSink*>(sink)->sum += 1;
}

struct Face {
    std::string where;
    std::unique_ptr<SfntFont> font;
    uint32_t glyphCount = 0;
    GlyphWork work;
    FT_Face ft = nullptr;
    hb_font_t* hb = nullptr;
};

class Corpus {
public:
    Corpus() {
        FT_Init_FreeType(&m_library);
        m_outline.reset(newGlyphOutline(1000));
        m_draw = hb_draw_funcs_create();
        hb_draw_funcs_set_move_to_func(m_draw, hbMoveTo, nullptr, nullptr);
        hb_draw_funcs_set_line_to_func(m_draw, hbLineTo, nullptr, nullptr);
        hb_draw_funcs_set_quadratic_to_func(m_draw, hbQuadraticTo, nullptr, nullptr);
        hb_draw_funcs_set_cubic_to_func(m_draw, hbCubicTo, nullptr, nullptr);
        hb_draw_funcs_set_close_path_func(m_draw, hbClosePath, nullptr, nullptr);
        hb_draw_funcs_make_immutable(m_draw);
        for (const std::string& path : corpus::fontFiles()) {
            auto bytes = std::make_unique<corpus::Bytes>();
            if (!corpus::readFile(path, *bytes)) continue;
            hb_blob_t* blob =
                hb_blob_create(reinterpret_cast<const char*>(bytes->data()), unsigned(bytes->size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr);
            const uint32_t count = corpus::faceCount(path);
            bool used = false;
            for (uint32_t i = 0; i < count; ++i) {
                auto face = std::make_unique<Face>();
                int16_t status = 0;
                face->font = loadFontFace(bytes->data(), uint32_t(bytes->size()), i, status);
                if (!face->font || face->font->formatTag != CffFont::kTag) continue;
                if (face->font->prepareGlyphWork(face->work) != 0) continue;
                if (FT_New_Memory_Face(m_library, bytes->data(), FT_Long(bytes->size()), FT_Long(i),
                                       &face->ft)) {
                    face->font->releaseGlyphWork(face->work);
                    continue;
                }
                hb_face_t* hbFace = hb_face_create(blob, i);
                face->hb = hb_font_create(hbFace);  // its scale is the face's units per em: unscaled
                hb_face_destroy(hbFace);
                face->glyphCount = static_cast<CffFont&>(*face->font).charStrings.count;
                face->where = path + (count > 1 ? "#" + std::to_string(i) : "");
                glyphs += face->glyphCount;
                faces.push_back(std::move(face));
                used = true;
            }
            hb_blob_destroy(blob);
            if (used) m_files.push_back(std::move(bytes));
        }
        std::fprintf(stderr, "CFF corpus: %zu faces, %llu glyphs\n", faces.size(),
                     (unsigned long long)glyphs);
    }
    ~Corpus() {
        for (auto& f : faces) {
            f->font->releaseGlyphWork(f->work);
            FT_Done_Face(f->ft);
            hb_font_destroy(f->hb);
        }
        hb_draw_funcs_destroy(m_draw);
        FT_Done_FreeType(m_library);
    }

    // One pass of each side over every glyph; each returns the number of failed glyphs.
    uint64_t oursPass() {
        uint64_t failed = 0;
        GlyphOutline& o = *m_outline;
        for (auto& f : faces) {
            SfntFont& font = *f->font;
            for (uint32_t g = 0; g < f->glyphCount; ++g) {
                o.clear();
                if (font.getGlyphOutline(g, f->work, o) != 0) ++failed;
                benchmark::DoNotOptimize(o.points);
            }
        }
        return failed;
    }
    uint64_t harfBuzzPass() {
        DrawSink sink;
        for (auto& f : faces)
            for (uint32_t g = 0; g < f->glyphCount; ++g) hb_font_get_glyph_shape(f->hb, g, m_draw, &sink);
        benchmark::DoNotOptimize(sink.sum);
        return 0;  // HarfBuzz reports no failure
    }
    uint64_t freeTypePass() {
        uint64_t failed = 0;
        for (auto& f : faces) {
            for (uint32_t g = 0; g < f->glyphCount; ++g) {
                if (FT_Load_Glyph(f->ft, g, FT_LOAD_NO_SCALE)) ++failed;
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
    double harfBuzzGlyph(Face& f, uint32_t g, int loads) {
        DrawSink sink;
        const double start = paired::cpuSeconds();
        for (int i = 0; i < loads; ++i) hb_font_get_glyph_shape(f.hb, g, m_draw, &sink);
        benchmark::DoNotOptimize(sink.sum);
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
    hb_draw_funcs_t* m_draw = nullptr;
    std::vector<std::unique_ptr<corpus::Bytes>> m_files;
    std::unique_ptr<GlyphOutline, OutlineDeleter> m_outline;
};

Corpus& theCorpus() {
    static Corpus c;
    return c;
}

void BM_OursUnscaled(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.oursPass());
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_HarfBuzzUnscaled(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.harfBuzzPass());
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
void BM_FreeTypeUnscaled(benchmark::State& state) {
    Corpus& c = theCorpus();
    for (auto _ : state) benchmark::DoNotOptimize(c.freeTypePass());
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.glyphs));
}
BENCHMARK(BM_OursUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarfBuzzUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeTypeUnscaled)->Unit(benchmark::kMillisecond);

void pairedRounds(int rounds) {
    Corpus& c = theCorpus();
    // A first untimed pass of each: HarfBuzz builds its per-face tables on first use.
    c.oursPass();
    c.harfBuzzPass();
    c.freeTypePass();
    std::printf(
        "\npaired rounds over %zu CFF faces, %llu glyphs, unscaled (glyphs per second, in thousands)\n",
        c.faces.size(), (unsigned long long)c.glyphs);
    std::printf("round     ours  HarfBuzz  FreeType   ours/HarfBuzz  ours/FreeType\n");
    std::vector<double> ours, hb, ft, hbRatio, ftRatio;
    uint64_t failed[3] = {};
    for (int r = 0; r < rounds; ++r) {
        double t[3];
        for (int k = 0; k < 3; ++k) {
            const int side = (r + k) % 3;  // rotate the order, so that no side always runs first
            const double start = paired::cpuSeconds();
            const uint64_t f = side == 0 ? c.oursPass() : side == 1 ? c.harfBuzzPass() : c.freeTypePass();
            t[side] = paired::cpuSeconds() - start;
            if (r == 0) failed[side] = f;
        }
        const double g = double(c.glyphs) / 1e3;
        ours.push_back(g / t[0]);
        hb.push_back(g / t[1]);
        ft.push_back(g / t[2]);
        hbRatio.push_back(t[1] / t[0]);
        ftRatio.push_back(t[2] / t[0]);
        std::printf("%5d %8.0f  %8.0f  %8.0f   %13.2f  %13.2f\n", r + 1, ours.back(), hb.back(), ft.back(),
                    hbRatio.back(), ftRatio.back());
    }
    std::printf("median %7.0f  %8.0f  %8.0f   %13.2f  %13.2f\n", paired::median(ours), paired::median(hb),
                paired::median(ft), paired::median(hbRatio), paired::median(ftRatio));
    std::printf("failed glyphs per pass: ours %llu, FreeType %llu\n", (unsigned long long)failed[0],
                (unsigned long long)failed[2]);
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
            const double ns = c.oursGlyph(*f, g, 4);
            if (slow.size() < count || ns > slow.back().ns) {
                slow.push_back({ns, f.get(), g});
                std::sort(slow.begin(), slow.end(), [](const Slow& a, const Slow& b) { return a.ns > b.ns; });
                if (slow.size() > count) slow.pop_back();
            }
        }
    }
    std::printf(
        "\nslowest single glyphs of ours (unscaled, ns per load over 2000 loads; HarfBuzz and FreeType "
        "beside)\n");
    std::printf("%9s %9s %9s %8s %8s %9s %6s  %s\n", "ours ns", "HarfBuzz", "FreeType", "entries", "contours",
                "operators", "glyph", "face");
    for (const Slow& s : slow) {
        const double ours = c.oursGlyph(*s.face, s.glyph, 2000);
        const double hb = c.harfBuzzGlyph(*s.face, s.glyph, 2000);
        const double ft = c.freeTypeGlyph(*s.face, s.glyph, 2000);
        GlyphOutline& o = c.outline();
        o.clear();
        const int16_t status = s.face->font->getGlyphOutline(s.glyph, s.face->work, o);
        std::printf("%9.0f %9.0f %9.0f %8u %8u %9u %6u  %s%s\n", ours, hb, ft, o.pointCount, o.contourCount,
                    s.face->work.interpreter->operatorsExecuted, s.glyph, s.face->where.c_str(),
                    status ? (" (status " + std::to_string(status) + ")").c_str() : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    return paired::run(argc, argv, pairedRounds, slowestGlyphs);
}
