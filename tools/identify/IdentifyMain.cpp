// korv-identify --catalog FILE [--explain] [--read ranges|whole] [--stats] font...
//
// Loads a catalog file and identifies each named font file against it, printing one line per file:
//   status <TAB> group <TAB> formatSlot <TAB> entryIndex <TAB> kind <TAB> path
// kind is the detected font kind (0 when the file is no candidate). --explain adds, after each file's line,
// one plain-English line that says why the file is or is not listed. --read chooses how a candidate is read:
// only the ranges the identification examines (the default, as the tool does) or the whole file; --stats
// prints the bytes and reads asked of the files to standard error at the end. Exit status 0 when the
// catalog loaded and every file was examined, whatever the files' statuses; 2 for a bad command line, 1
// when the catalog cannot be read or loaded.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fontid/Explain.h"
#include "fontid/FontCatalog.h"
#include "fontid/Identify.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace {

void printUsage(FILE* out) {
    std::fputs(
        "usage: korv-identify --catalog FILE [--explain] [--read ranges|whole] [--stats] font...\n"
        "Identifies each font file against the catalog FILE and prints one line per file:\n"
        "  status<TAB>group<TAB>formatSlot<TAB>entryIndex<TAB>kind<TAB>path\n"
        "kind is the detected font kind, 0 when the file is no candidate.\n"
        "  --explain      after each file's line, say in words why it is or is not listed\n"
        "  --read ranges  read only the byte ranges the identification examines (default)\n"
        "  --read whole   read each candidate file whole\n"
        "  --stats        print the bytes and reads asked of the font files to standard error\n",
        out);
}

// Reads a whole file through the platform's file calls; false with a message on failure.
bool readWholeFile(const char* path, std::vector<uint8_t>& bytes) {
    int error = 0;
    std::unique_ptr<File> file = openFileForReading(utf8ToUtf16(path).c_str(), error);
    if (!file) {
        std::fprintf(stderr, "korv-identify: cannot open %s (%s)\n", path, std::strerror(error));
        return false;
    }
    int64_t size = -1;
    if (file->seek(0, File::Origin::End)) size = file->tell();
    if (size < 0 || size > INT32_MAX || !file->seek(0, File::Origin::Start)) {
        std::fprintf(stderr, "korv-identify: cannot read %s\n", path);
        return false;
    }
    bytes.resize(size_t(size));
    if (size > 0 && file->read(bytes.data(), bytes.size()) != bytes.size()) {
        std::fprintf(stderr, "korv-identify: short read on %s\n", path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* catalogPath = nullptr;
    std::vector<const char*> fonts;
    IdentifyOptions options;
    ReadStats stats;
    bool printStats = false;
    bool explain = false;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsDone && (arg == "--help" || arg == "-h")) {
            printUsage(stdout);
            return 0;
        }
        if (!optionsDone && arg == "--catalog") {
            if (i + 1 >= argc) {
                std::fputs("korv-identify: --catalog needs a file\n", stderr);
                printUsage(stderr);
                return 2;
            }
            catalogPath = argv[++i];
        } else if (!optionsDone && arg == "--read") {
            const std::string mode = i + 1 < argc ? argv[++i] : "";
            if (mode == "ranges") {
                options.reading = ImageReading::Ranges;
            } else if (mode == "whole") {
                options.reading = ImageReading::WholeFile;
            } else {
                std::fputs("korv-identify: --read takes ranges or whole\n", stderr);
                printUsage(stderr);
                return 2;
            }
        } else if (!optionsDone && arg == "--explain") {
            explain = true;
        } else if (!optionsDone && arg == "--stats") {
            printStats = true;
            options.stats = &stats;
        } else if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "korv-identify: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return 2;
        } else {
            fonts.push_back(argv[i]);
        }
    }
    if (!catalogPath) {
        std::fputs("korv-identify: no catalog given\n", stderr);
        printUsage(stderr);
        return 2;
    }

    std::vector<uint8_t> image;
    if (!readWholeFile(catalogPath, image)) return 1;
    FontCatalog catalog;
    const int32_t loadStatus = catalog.load(image.data(), image.size());
    if (loadStatus != 0) {
        std::fprintf(stderr, "korv-identify: catalog %s does not load: status %d\n", catalogPath,
                     int(loadStatus));
        return 1;
    }

    for (const char* path : fonts) {
        FontIdentity identity;
        FontKind kind = kindNone;
        IdentifyTrace trace;
        options.trace = explain ? &trace : nullptr;
        const int32_t status = identifyFontFile(utf8ToUtf16(path).c_str(), catalog, identity, &kind, options);
        std::printf("%d\t%d\t%d\t%d\t%d\t%s\n", int(status), int(identity.group), int(identity.formatSlot),
                    int(identity.entryIndex), int(kind), path);
        if (explain) std::printf("  %s\n", explainIdentification(status, identity, trace, catalog).c_str());
    }
    catalog.release();
    if (printStats)
        std::fprintf(stderr, "read %llu bytes in %u reads from %zu files\n", (unsigned long long)stats.bytes,
                     unsigned(stats.reads), fonts.size());
    return std::fflush(stdout) == 0 ? 0 : 1;
}
