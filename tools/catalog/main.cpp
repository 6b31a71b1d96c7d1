// korv-catalog: writes a FontCat.awfc catalog from a text description, or prints a catalog as such a
// description (--dump) by loading it the way the identification does. See README.md for the format.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fontid/FontCatalog.h"
#include "sfnt/Status.h"
#include "tools/catalog/CatalogDump.h"
#include "tools/catalog/CatalogWriter.h"

namespace {

constexpr const char* kUsage =
    "usage: korv-catalog DESCRIPTION OUTPUT.awfc    write a catalog from a text description\n"
    "       korv-catalog --dump CATALOG [OUTPUT]    print a catalog as a description (stdout by default)\n"
    "       korv-catalog --help\n";

bool readFile(const std::string& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(static_cast<const char*>(data), std::streamsize(size));
    out.close();
    return bool(out);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "korv-catalog: %s\n", message.c_str());
    return 1;
}

int build(const std::string& descriptionPath, const std::string& outputPath) {
    std::string text;
    if (!readFile(descriptionPath, text)) return fail("cannot read " + descriptionPath);
    awfc::Catalog catalog;
    awfc::ParseError parseError;
    if (!awfc::parseCatalogText(text, catalog, parseError))
        return fail(descriptionPath + ":" + std::to_string(parseError.line) + ": " + parseError.message);
    std::vector<uint8_t> image;
    std::string error;
    if (!awfc::writeCatalog(catalog, image, error)) {
        // Writer messages start with "line N: " when the line is known.
        if (error.rfind("line ", 0) == 0) {
            const size_t colon = error.find(':');
            return fail(descriptionPath + ":" + error.substr(5, colon - 5) + error.substr(colon));
        }
        return fail(descriptionPath + ": " + error);
    }
    if (!writeFile(outputPath, image.data(), image.size())) return fail("cannot write " + outputPath);
    return 0;
}

int dump(const std::string& catalogPath, const char* outputPath) {
    std::string image;
    if (!readFile(catalogPath, image)) return fail("cannot read " + catalogPath);
    FontCatalog catalog;
    const int32_t status = catalog.load(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    if (status == kOutOfMemory) return fail(catalogPath + ": not enough memory to load the catalog (-108)");
    if (status != kOk)
        return fail(catalogPath + ": not a version-4.0 catalog, more than 32 tables, or malformed (status " +
                    std::to_string(status) + ")");
    const awfc::Catalog description = awfc::describeCatalog(catalog);
    size_t entries = 0;
    for (const awfc::Table& t : description.tables) entries += t.records.size();
    std::string text = "# " + catalogPath + ": " + std::to_string(image.size()) + " bytes; " +
                       std::to_string(description.tables.size()) + " filled cells, " +
                       std::to_string(entries) + " entries, " + std::to_string(catalog.storageSize()) +
                       " bytes in memory\n";
    text += awfc::formatCatalogText(description);
    if (!outputPath) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : fail("cannot write the output");
    }
    if (!writeFile(outputPath, text.data(), text.size()))
        return fail(std::string("cannot write ") + outputPath);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--dump") == 0)
        return dump(argv[2], argc == 4 ? argv[3] : nullptr);
    if (argc == 3 && argv[1][0] != '-') return build(argv[1], argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
