// Identification of arbitrary bytes against a small fixed catalog whose names match the seed fonts, so that
// the match paths run as well as the refusals. Both ways of reading the file run and must agree. Besides the
// whole flow (which needs 512 bytes before it looks further), the two procedures and the name-table readers
// run on the bytes directly, so that short inputs reach them too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fontid/Explain.h"
#include "fontid/FontCatalog.h"
#include "fontid/Identify.h"
#include "fontid/NameDecoding.h"

namespace {

// A minimal catalog writer: version 4.0, one table per (group, tag), each record with a display name,
// a PostScript name and full names; strings are a 4-byte length and the bytes padded to 4.
struct Entry {
    std::string postScriptName;
    std::vector<std::string> fullNames;
};
struct Table {
    uint32_t group;
    const char* tag;
    std::vector<Entry> entries;
};

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void putString(std::vector<uint8_t>& out, const std::string& s) {
    put32(out, uint32_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    while (out.size() % 4) out.push_back(0);
}

std::vector<uint8_t> writeCatalog(const std::vector<Table>& tables) {
    std::vector<uint8_t> out;
    put32(out, 0x00040000);
    put32(out, uint32_t(tables.size()));
    const size_t indexStart = out.size();
    out.resize(indexStart + 16 * tables.size());
    for (size_t t = 0; t < tables.size(); ++t) {
        std::vector<uint8_t> entry;
        put32(entry, tables[t].group);
        const char* tag = tables[t].tag;
        put32(entry, (uint32_t(uint8_t(tag[0])) << 24) | (uint32_t(uint8_t(tag[1])) << 16) |
                         (uint32_t(uint8_t(tag[2])) << 8) | uint8_t(tag[3]));
        put32(entry, uint32_t(out.size()));
        put32(entry, 0);
        std::copy(entry.begin(), entry.end(), out.begin() + std::ptrdiff_t(indexStart + 16 * t));
        put32(out, uint32_t(tables[t].entries.size()));
        for (const Entry& e : tables[t].entries) {
            for (int i = 0; i < 2; ++i) put32(out, 0);  // four 16-bit values
            putString(out, "Display");
            putString(out, e.postScriptName);
            put32(out, 0);  // itemCount
            put32(out, uint32_t(e.fullNames.size()));
            for (const std::string& n : e.fullNames) putString(out, n);
            put32(out, 0);       // value
            putString(out, "");  // further name
            put32(out, 0);       // otherNameCount
        }
    }
    return out;
}

const FontCatalog& fuzzCatalog() {
    static FontCatalog catalog;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        const std::vector<uint8_t> image = writeCatalog({
            // "true" strings are in the ANSI code page: "\x83\x74\x83\x40\x83\x59" is ファズ.
            {0, "true", {{"", {"Fuzz Sans", "\x83\x74\x83\x40\x83\x59"}}, {"", {"Fuzz Serif"}}}},
            {1, "sbix", {{"", {"Fuzz Sbix"}}}},
            {2, "COLR", {{"", {"Fuzz Color", "Fuzz Sans"}}}},
            {0, "OTTO", {{"FuzzSans-Regular", {}}, {"", {}}}},
            {7, "OTTO", {{"FuzzHidden-Regular", {}}}},
        });
        if (catalog.load(image.data(), image.size()) != 0) __builtin_trap();
    }
    return catalog;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FontCatalog& catalog = fuzzCatalog();
    FontIdentity identity;
    FontKind kind = kindNone;
    IdentifyTrace trace;
    const int32_t status =
        identifyFontData(data, size, catalog, identity, &kind, {ImageReading::Ranges, nullptr, &trace});
    (void)explainIdentification(status, identity, trace, catalog);
    // Reading the whole file must answer exactly as reading the examined ranges does.
    FontIdentity whole;
    FontKind wholeKind = kindNone;
    const int32_t wholeStatus =
        identifyFontData(data, size, catalog, whole, &wholeKind, {ImageReading::WholeFile, nullptr});
    if (status != wholeStatus || kind != wholeKind || identity.group != whole.group ||
        identity.formatSlot != whole.formatSlot || identity.entryIndex != whole.entryIndex)
        __builtin_trap();

    if (size > UINT32_MAX) return 0;
    const MemoryImage image(data, uint32_t(size));
    (void)identifyOpenType(image, catalog, identity);
    for (FontKind k : {kindTrueType, kindTrueTypeCollection}) {
        TableRecord records[kMaxTableRecords];
        uint16_t count = 0;
        if (readTableRecords(image, k, records, count) == 0)
            (void)identifyTrueType(image, records, count, catalog, identity);
    }

    FullNameSlots slots;
    (void)collectFullNames(data, uint32_t(size), slots);
    (void)validateNameTable(data, uint32_t(size));
    return 0;
}
