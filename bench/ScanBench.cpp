// Throughput of the scan worker (both passes, real identification, real folders):
//
//   BM_ScanGeneratedTree  a generated tree of 10,000 files: small non-font files, crafted TrueType fonts
//                         (some in the catalog), and copies of a few real fonts
//   BM_ScanRealCorpus     the machine's font folder /usr/share/fonts
//   BM_WalkOnly           the generated tree with an identification that answers at once: the cost of the
//                         walk and the list alone
//
// Counters: files/s (files met by the listing pass), bytes read per scan (the process's read() bytes), and
// the peak resident memory of the process so far. The page cache is warm after the first iteration.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/FontScan.h"
#include "app/KorvApp.h"
#include "app/posix/PosixPlatform.h"
#include "platform/Text.h"
#include "sfnt/Status.h"
#include "support/SfntBuilder.h"
#include "tools/catalog/CatalogWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTreeFiles = 10000;
constexpr int kFolders = 100;  // as 10 folders of 10 subfolders: the walk keeps at most 64 pending folders

// The process's bytes read through read() so far (rchar of /proc/self/io).
uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

double peakResidentKilobytes() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss);
}

// A user interface that does nothing: the worker only needs the application object's fields.
class NoUi final : public UserInterfacePort {
public:
    void initFramework() override {}
    bool registerTransparentImageClass() override { return true; }
    ProgressWindow* showProgress() override { return nullptr; }
    void pumpMessage() override {}
    SaveDialogResult runSaveDialog(const char16_t*, const char16_t*, const char16_t*,
                                   std::u16string&) override {
        return SaveDialogResult::Cancelled;
    }
    void showMessage(uint32_t) override {}
    void runInstructionsDialog() override {}
    void cleanup() override {}
};

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The machine laid out once for all benchmarks: a catalog and the generated tree.
struct Machine {
    Machine() {
        root = fs::temp_directory_path() / ("korv-bench-" + std::to_string(getpid()));
        fs::create_directories(root / "home");
        setenv("HOME", (root / "home").c_str(), 1);  // no per-user font folder

        awfc::Catalog catalog;
        awfc::Table table;
        table.group = 1;
        table.tag = tagValue("true");
        for (int i = 0; i < 200; ++i) {
            awfc::Record r;
            r.displayName = "Bench " + std::to_string(i);
            r.postScriptName = "Bench-" + std::to_string(i);
            r.fullNames.emplace_back("Bench Font " + std::to_string(i));
            table.records.push_back(r);
        }
        for (const char* name : {"DejaVu Sans", "IPAGothic", "Noto Sans CJK JP"}) {
            awfc::Record r;
            r.displayName = name;
            r.postScriptName = name;
            r.fullNames.emplace_back(name);
            table.records.push_back(r);
        }
        awfc::Table otto;
        otto.group = 2;
        otto.tag = tagValue("OTTO");
        for (const char* name : {"FreeSans", "FreeSerif", "FreeMono"}) {
            awfc::Record r;
            r.displayName = name;
            r.postScriptName = name;
            otto.records.push_back(r);
        }
        catalog.tables = {table, otto};
        Bytes image;
        std::string error;
        if (!awfc::writeCatalog(catalog, image, error)) std::fprintf(stderr, "catalog: %s\n", error.c_str());
        catalogPath = root / "FontCat.awfc";
        writeFile(catalogPath, image);

        // 10,000 files in 10 x 10 folders of 100: 30 copies of real fonts, 970 crafted fonts (half of them in
        // the catalog), 9,000 small non-font files (half named like fonts).
        tree = root / "fonts";
        const char* realFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                   "/usr/share/fonts/opentype/freefont/FreeSans.otf",
                                   "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"};
        int made = 0;
        for (int folder = 0; folder < kFolders; ++folder) {
            const fs::path dir =
                tree / ("folder" + std::to_string(folder / 10)) / ("sub" + std::to_string(folder % 10));
            fs::create_directories(dir);
            for (int i = 0; i < kTreeFiles / kFolders; ++i, ++made) {
                const std::string stem = "f" + std::to_string(made);
                if (made % 333 == 0 && fs::exists(realFonts[(made / 333) % 3])) {
                    const fs::path source = realFonts[(made / 333) % 3];
                    fs::copy_file(source, dir / (stem + source.extension().string()));
                } else if (made % 10 == 1) {
                    const std::u16string name = utf8ToUtf16("Bench Font " + std::to_string(made % 400));
                    writeFile(dir / (stem + ".ttf"),
                              SfntBuilder::trueType(nameTable({windowsName(name)})).build());
                } else {
                    Bytes junk(600 + size_t(made % 7) * 100, uint8_t(made));
                    writeFile(dir / (stem + (made % 2 ? ".ttf" : ".txt")), junk);
                }
            }
        }
    }
    ~Machine() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    fs::path root, catalogPath, tree;
};

Machine& machine() {
    static Machine m;
    return m;
}

int32_t answerAtOnce(const char16_t*, const FontCatalog&, FontIdentity& result) {
    result.reset();
    return kOk;
}

void scan(benchmark::State& state, const fs::path& fonts, IdentifyFontFileFn identify) {
    Machine& m = machine();
    PosixPlatform platform;
    NoUi ui;
    const std::u16string catalog = utf8ToUtf16(m.catalogPath.string());
    const std::u16string folder = utf8ToUtf16(fonts.string());
    int64_t files = 0, listed = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        CKorvApp app(platform, ui);
        std::copy(catalog.begin(), catalog.end(), app.m_szCatalogPath);
        std::copy(folder.begin(), folder.end(), app.m_szFontsFolder);
        const uint64_t before = bytesReadSoFar();
        ScanFonts(app, identify);
        bytes += bytesReadSoFar() - before;
        files += app.m_nProgressTotal.load();
        if (app.m_pJsonBuffer) {
            const std::string text(app.m_pJsonBuffer, size_t(app.m_nJsonLength));
            int64_t n = 0;
            for (size_t at = text.find("filename"); at != std::string::npos;
                 at = text.find("filename", at + 1))
                ++n;
            listed = n;
        }
        benchmark::DoNotOptimize(app.m_nStatus);
    }
    state.SetItemsProcessed(files);
    state.counters["files"] = double(files) / double(state.iterations());
    state.counters["files/s"] = benchmark::Counter(double(files), benchmark::Counter::kIsRate);
    state.counters["listed"] = double(listed);
    state.counters["MB_read/scan"] = double(bytes) / double(state.iterations()) / 1e6;
    state.counters["peak_RSS_MB"] = peakResidentKilobytes() / 1024.0;
}

void BM_ScanGeneratedTree(benchmark::State& state) {
    scan(state, machine().tree, nullptr);
}
void BM_ScanRealCorpus(benchmark::State& state) {
    scan(state, "/usr/share/fonts", nullptr);
}
void BM_WalkOnly(benchmark::State& state) {
    scan(state, machine().tree, answerAtOnce);
}

BENCHMARK(BM_WalkOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanGeneratedTree)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanRealCorpus)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
