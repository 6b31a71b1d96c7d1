// Reading CFF tables of the font corpus (every 'CFF ' table of the .otf files and of the CFF collections
// under /usr/share/fonts and the Latin Modern OpenType folder, each distinct table once, held in memory):
//
//   BM_CffToolkit     what the identification does with a table and a little more: the Name, Top DICT,
//                     String and Global Subr INDEXes, the Top DICT through parseCffDict, the CharStrings
//                     INDEX (every offset walked) and the Private DICT(s) through parseCffDict
//   BM_CffDictOnly    parseCffDict alone over every Top and Private DICT of the corpus
//   BM_LoadCffTable   CffFont::loadCffTable on every table (one font object, loaded again for each table)
//
// Counters: tables/s, and DICT bytes/s for the DICT benchmark.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cff/CffDict.h"
#include "cff/CffFont.h"
#include "cff/CffIndex.h"
#include "sfnt/ByteReader.h"

namespace fs = std::filesystem;

namespace {

struct DictRange {
    uint32_t table = 0;
    uint32_t start = 0;
    uint32_t length = 0;
};

struct Corpus {
    std::vector<std::vector<uint8_t>> tables;  // each distinct CFF table
    std::vector<DictRange> dicts;              // Top DICTs and Private DICTs
    uint64_t dictBytes = 0;
};

// Keeps the offsets a Top DICT names; counts every operator so the parse is not optimised away.
class OffsetsHandler : public CffDictHandler {
public:
    int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                       const int32_t* operands) override {
        (void)isReal;
        ++operators;
        if (op == 17 && operandCount == 1) charStrings = operands[0];
        if (op == 18 && operandCount == 2) {
            privateSize = operands[0];
            privateOffset = operands[1];
        }
        if (op == 256 + 36) fdArray = operands[0];
        return 0;
    }
    uint32_t operators = 0;
    int32_t charStrings = 0, privateSize = 0, privateOffset = 0, fdArray = 0;
};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The 'CFF ' tables of one file: a single OpenType font or every member of a collection.
void collectTables(const std::vector<uint8_t>& file, std::set<std::pair<uint32_t, uint32_t>>& seen,
                   std::vector<std::vector<uint8_t>>& out) {
    ByteReader r(file.data(), file.size());
    std::vector<uint32_t> fonts;
    if (r.u32() == 0x74746366) {  // 'ttcf'
        r.skip(4);
        const uint32_t n = r.u32();
        for (uint32_t i = 0; i < n && i < 64 && r.ok(); ++i) fonts.push_back(r.u32());
    } else {
        fonts.push_back(0);
    }
    for (uint32_t base : fonts) {
        ByteReader d(file.data(), file.size());
        d.seek(base);
        if (d.u32() != 0x4F54544F) continue;  // 'OTTO'
        const uint16_t numTables = d.u16();
        d.skip(6);
        for (uint16_t t = 0; t < numTables && d.ok(); ++t) {
            const uint32_t tag = d.u32();
            d.skip(4);
            const uint32_t offset = d.u32(), length = d.u32();
            if (tag != 0x43464620 || !d.fits(offset, length) || !d.ok()) continue;
            if (!seen.insert({offset, length}).second) continue;
            out.emplace_back(file.begin() + offset, file.begin() + offset + length);
        }
    }
}

const Corpus& corpus() {
    static const Corpus* c = [] {
        auto* result = new Corpus;
        std::vector<fs::path> files;
        for (const char* root : {"/usr/share/fonts", "/usr/share/texmf/fonts/opentype"}) {
            std::error_code ec;
            for (fs::recursive_directory_iterator
                     it(root, fs::directory_options::follow_directory_symlink, ec),
                 end;
                 it != end; it.increment(ec)) {
                const std::string ext = it->path().extension().string();
                if (it->is_regular_file(ec) && (ext == ".otf" || ext == ".ttc" || ext == ".OTF"))
                    files.push_back(fs::canonical(it->path(), ec));
            }
        }
        std::sort(files.begin(), files.end());
        files.erase(std::unique(files.begin(), files.end()), files.end());
        for (const fs::path& path : files) {
            std::set<std::pair<uint32_t, uint32_t>> seen;
            collectTables(readFile(path), seen, result->tables);
        }
        // The DICTs of each table: its Top DICT and the Private DICT it names.
        for (uint32_t t = 0; t < result->tables.size(); ++t) {
            const std::vector<uint8_t>& cff = result->tables[t];
            const uint32_t length = uint32_t(cff.size());
            if (length < 4) continue;
            CffIndex name, top;
            if (name.parse(cff.data(), length, cff[2]) != 0) continue;
            if (top.parse(cff.data(), length, cff[2] + name.totalSize) != 0 || top.count == 0) continue;
            uint32_t start = 0, size = 0;
            top.getElement(0, start, size);
            result->dicts.push_back({t, start, size});
            result->dictBytes += size;
            OffsetsHandler h;
            if (parseCffDict(h, cff.data() + start, size) != 0) continue;
            if (h.privateSize > 0 && h.privateOffset > 0 &&
                uint64_t(h.privateOffset) + h.privateSize <= length) {
                result->dicts.push_back({t, uint32_t(h.privateOffset), uint32_t(h.privateSize)});
                result->dictBytes += uint32_t(h.privateSize);
            }
        }
        return result;
    }();
    return *c;
}

void BM_CffToolkit(benchmark::State& state) {
    const Corpus& c = corpus();
    if (c.tables.empty()) {
        state.SkipWithError("no CFF tables in the corpus");
        return;
    }
    uint64_t sink = 0;
    for (auto _ : state) {
        for (const std::vector<uint8_t>& cff : c.tables) {
            const uint32_t length = uint32_t(cff.size());
            CffIndex name, top, strings;
            CffSubrIndex globals;
            uint32_t position = cff[2];
            if (name.parse(cff.data(), length, position) != 0) continue;
            position += name.totalSize;
            if (top.parse(cff.data(), length, position) != 0) continue;
            position += top.totalSize;
            if (strings.parse(cff.data(), length, position) != 0) continue;
            position += strings.totalSize;
            if (globals.parse(cff.data(), length, position) != 0) continue;
            uint32_t start = 0, size = 0;
            top.getElement(0, start, size);
            OffsetsHandler h;
            if (parseCffDict(h, cff.data() + start, size) != 0) continue;
            CffCharStringsIndex charStrings;
            if (charStrings.parse(cff.data(), length, uint32_t(h.charStrings)) != 0) continue;
            sink += charStrings.maxElementLength + h.operators;
            if (h.privateSize > 0 && uint64_t(h.privateOffset) + uint32_t(h.privateSize) <= length) {
                OffsetsHandler p;
                if (parseCffDict(p, cff.data() + h.privateOffset, uint32_t(h.privateSize)) == 0)
                    sink += p.operators;
            }
            if (h.fdArray > 0) {
                CffIndex fdArray;
                if (fdArray.parse(cff.data(), length, uint32_t(h.fdArray)) != 0) continue;
                for (uint16_t i = 0; i < fdArray.count; ++i) {
                    fdArray.getElement(i, start, size);
                    OffsetsHandler fd;
                    if (parseCffDict(fd, cff.data() + start, size) != 0) continue;
                    if (fd.privateSize <= 0 || uint64_t(fd.privateOffset) + uint32_t(fd.privateSize) > length)
                        continue;
                    OffsetsHandler p;
                    if (parseCffDict(p, cff.data() + fd.privateOffset, uint32_t(fd.privateSize)) == 0)
                        sink += p.operators;
                }
            }
        }
    }
    benchmark::DoNotOptimize(sink);
    state.counters["tables/s"] =
        benchmark::Counter(double(c.tables.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["tables"] = double(c.tables.size());
}
BENCHMARK(BM_CffToolkit)->Unit(benchmark::kMicrosecond);

void BM_CffDictOnly(benchmark::State& state) {
    const Corpus& c = corpus();
    uint64_t sink = 0;
    for (auto _ : state) {
        for (const DictRange& d : c.dicts) {
            OffsetsHandler h;
            if (parseCffDict(h, c.tables[d.table].data() + d.start, d.length) == 0) sink += h.operators;
        }
    }
    benchmark::DoNotOptimize(sink);
    state.counters["dicts"] = double(c.dicts.size());
    state.counters["dict bytes/s"] =
        benchmark::Counter(double(c.dictBytes) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CffDictOnly)->Unit(benchmark::kMicrosecond);

void BM_LoadCffTable(benchmark::State& state) {
    const Corpus& c = corpus();
    auto font = std::make_unique<CffFont>();
    uint64_t sink = 0, failures = 0;
    for (auto _ : state) {
        for (const std::vector<uint8_t>& cff : c.tables) {
            if (font->loadCffTable(cff.data(), uint32_t(cff.size())) != 0) ++failures;
            sink += font->charStrings.count + uint32_t(font->fdCount);
        }
    }
    benchmark::DoNotOptimize(sink);
    state.counters["tables/s"] =
        benchmark::Counter(double(c.tables.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["failed loads"] = double(failures) / double(state.iterations());
}
BENCHMARK(BM_LoadCffTable)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    (void)corpus();  // read the files before anything is timed
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
