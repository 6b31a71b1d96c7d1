// Character-map lookups over the machine's font corpus, paired with FreeType in one run: every code point
// 0..0xFFFF of every face that has a (3,1) subtable, mapped through SfntFont::charToGlyph (our subtable
// selected by cmapIndex, as a loaded font maps) and through FT_Get_Char_Index with the same (3,1) charmap
// selected. Codes in ascending order (a text's run of neighbouring characters, and the sweep a tool makes)
// and in one fixed random order (the search from scratch). Also the parse of each face's 'cmap', and the
// load of every face of the corpus from memory (loadFontFace beside FT_New_Memory_Face, each face once per
// round; faces either side refuses are left out of both).
//
// bench/cmap_ratio.py runs this several times and reports the median of the per-run ratios.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cff/LoadFont.h"
#include "sfnt/SfntFont.h"
#include "support/FontCorpus.h"

namespace {

struct Face {
    std::string where;
    corpus::Bytes cmapBytes;
    std::unique_ptr<SfntFont> font;  // only its 'cmap' and cmapIndex are set
    FT_Face ftFace = nullptr;
};

struct Corpus {
    FT_Library library = nullptr;
    std::vector<Face> faces;
    std::vector<uint32_t> randomCodes;

    Corpus() {
        FT_Init_FreeType(&library);
        for (const std::string& path : corpus::fontFiles()) {
            for (uint32_t f = 0, n = corpus::faceCount(path); f < n; ++f) {
                Face face;
                face.where = path + "#" + std::to_string(f);
                if (!corpus::readTable(path, f, "cmap", face.cmapBytes)) continue;
                face.font = std::make_unique<SfntFont>();
                SfntFont& font = *face.font;
                if (font.cmap.parse(face.cmapBytes.data(), uint32_t(face.cmapBytes.size())) != 0) continue;
                for (uint16_t i = 0; i < font.cmap.count; ++i) {
                    if (font.cmap.subtables[i].platformID == 3 && font.cmap.subtables[i].encodingID == 1) {
                        font.cmapIndex = int16_t(i);
                        break;
                    }
                }
                if (font.cmapIndex < 0) continue;
                if (FT_New_Face(library, path.c_str(), FT_Long(f), &face.ftFace) != 0) continue;
                FT_CharMap charmap = nullptr;
                for (int i = 0; i < face.ftFace->num_charmaps && !charmap; ++i)
                    if (face.ftFace->charmaps[i]->platform_id == 3 &&
                        face.ftFace->charmaps[i]->encoding_id == 1)
                        charmap = face.ftFace->charmaps[i];
                if (!charmap || FT_Set_Charmap(face.ftFace, charmap) != 0) {
                    FT_Done_Face(face.ftFace);
                    continue;
                }
                faces.push_back(std::move(face));
            }
        }
        randomCodes.resize(0x10000);
        for (uint32_t c = 0; c < 0x10000; ++c) randomCodes[c] = c;
        std::shuffle(randomCodes.begin(), randomCodes.end(), std::mt19937(2024));
        std::fprintf(stderr, "cmap corpus: %zu faces with a (3,1) subtable on both sides\n", faces.size());
    }
    ~Corpus() {
        for (Face& face : faces) FT_Done_Face(face.ftFace);
        FT_Done_FreeType(library);
    }
};

const Corpus& corpusFaces() {
    static const Corpus c;
    return c;
}

// The font is used through its base class, as a caller holding a loaded font would.
uint64_t sweepOurs(const SfntFont& font, const uint32_t* codes) {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < 0x10000; ++i) {
        uint32_t glyph = 0;
        const uint32_t code = codes ? codes[i] : i;
        if (font.charToGlyph(code, glyph) == 0) sum += glyph;
    }
    return sum;
}

uint64_t sweepFreeType(FT_Face face, const uint32_t* codes) {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < 0x10000; ++i) sum += FT_Get_Char_Index(face, codes ? codes[i] : i);
    return sum;
}

template <bool kOurs, bool kRandom>
void BM_Lookup(benchmark::State& state) {
    const Corpus& c = corpusFaces();
    const uint32_t* codes = kRandom ? c.randomCodes.data() : nullptr;
    uint64_t checksum = 0;
    for (auto _ : state) {
        for (const Face& face : c.faces) {
            checksum += kOurs ? sweepOurs(*face.font, codes) : sweepFreeType(face.ftFace, codes);
        }
        benchmark::DoNotOptimize(checksum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.faces.size()) * 0x10000);
    state.counters["faces"] = double(c.faces.size());
}

// Parse of each face's 'cmap' table (the work readTableDirectory does for it when a font loads).
void BM_ParseCmap(benchmark::State& state) {
    const Corpus& c = corpusFaces();
    for (auto _ : state) {
        for (const Face& face : c.faces) {
            CmapTable cmap;
            const int16_t status = cmap.parse(face.cmapBytes.data(), uint32_t(face.cmapBytes.size()));
            benchmark::DoNotOptimize(status);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.faces.size()));
}

// Every face of every corpus file, its file in memory.
struct LoadCorpus {
    FT_Library library = nullptr;
    std::vector<corpus::Bytes> files;
    std::vector<std::pair<size_t, uint32_t>> faces;  // (file, face)

    LoadCorpus() {
        FT_Init_FreeType(&library);
        for (const std::string& path : corpus::fontFiles()) {
            corpus::Bytes bytes;
            if (!corpus::readFile(path, bytes) || bytes.size() > UINT32_MAX) continue;
            bool any = false;
            for (uint32_t f = 0, n = corpus::faceCount(path); f < n; ++f) {
                int16_t status = 0;
                const bool ours = loadFontFace(bytes.data(), uint32_t(bytes.size()), f, status) != nullptr;
                FT_Face face = nullptr;
                const bool theirs =
                    FT_New_Memory_Face(library, bytes.data(), FT_Long(bytes.size()), FT_Long(f), &face) == 0;
                if (theirs) FT_Done_Face(face);
                if (!ours || !theirs) continue;
                faces.emplace_back(files.size(), f);
                any = true;
            }
            if (any) files.push_back(std::move(bytes));
        }
        std::fprintf(stderr, "load corpus: %zu faces both load, of %zu files\n", faces.size(), files.size());
    }
    ~LoadCorpus() { FT_Done_FreeType(library); }
};

const LoadCorpus& loadCorpus() {
    static const LoadCorpus c;
    return c;
}

template <bool kOurs>
void BM_LoadFace(benchmark::State& state) {
    const LoadCorpus& c = loadCorpus();
    uint64_t checksum = 0;
    for (auto _ : state) {
        for (const auto& [file, f] : c.faces) {
            const corpus::Bytes& bytes = c.files[file];
            if (kOurs) {
                int16_t status = 0;
                std::unique_ptr<SfntFont> font =
                    loadFontFace(bytes.data(), uint32_t(bytes.size()), f, status);
                checksum += font ? font->glyphCount : 0;
            } else {
                FT_Face face = nullptr;
                if (FT_New_Memory_Face(c.library, bytes.data(), FT_Long(bytes.size()), FT_Long(f), &face) ==
                    0) {
                    checksum += uint64_t(face->num_glyphs);
                    FT_Done_Face(face);
                }
            }
        }
        benchmark::DoNotOptimize(checksum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.faces.size()));
    state.counters["faces"] = double(c.faces.size());
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Lookup, true, false)->Name("CmapLookup/ours/ascending")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Lookup, false, false)
    ->Name("CmapLookup/freetype/ascending")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Lookup, true, true)->Name("CmapLookup/ours/random")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Lookup, false, true)->Name("CmapLookup/freetype/random")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseCmap)->Name("CmapParse/per-corpus")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LoadFace, true)->Name("FaceLoad/ours")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_LoadFace, false)->Name("FaceLoad/freetype")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
