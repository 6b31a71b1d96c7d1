// FontCatalog::load on arbitrary bytes, then every cell and every string of the result: each pointer must
// lie inside the storage block and each string must end with a NUL inside it; every full name must be
// found again by findByFullName. A failed load must leave the catalog empty.
#include <cstdint>
#include <cstdlib>

#include "fontid/FontCatalog.h"
#include "sfnt/Status.h"

namespace {

struct StorageCheck {
    uintptr_t begin = 0;
    uintptr_t end = 0;

    bool holds(const void* p, size_t bytes) const {
        const uintptr_t at = reinterpret_cast<uintptr_t>(p);
        return p && at >= begin && at <= end && bytes <= end - at;
    }
    void string(const char16_t* s) const {
        if (!holds(s, sizeof(char16_t))) std::abort();
        for (const char16_t* c = s;; ++c) {
            if (!holds(c, sizeof(char16_t))) std::abort();
            if (*c == 0) break;
        }
    }
    void list(int32_t count, const char16_t* const* names) const {
        if (count < 0) std::abort();
        if (count == 0) return;
        if (!holds(names, size_t(count) * sizeof(names[0]))) std::abort();
        for (int32_t i = 0; i < count; ++i) string(names[i]);
    }
};

bool sameString(const char16_t* a, const char16_t* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FontCatalog catalog;
    const int32_t status = catalog.load(data, size);
    if (status != kOk && status != kGeneralError && status != kOutOfMemory) std::abort();

    StorageCheck storage;
    storage.begin = reinterpret_cast<uintptr_t>(catalog.storage());
    storage.end = storage.begin + catalog.storageSize();
    if (status != kOk && catalog.storage()) std::abort();

    for (int group = -1; group <= kCatalogGroups; ++group)
        for (int slot = -1; slot <= kCatalogSlots; ++slot) {
            const CatalogCell& cell = catalog.cell(group, slot);
            if (cell.count < 0) std::abort();
            if (cell.count == 0) continue;
            if (status != kOk || group < 0 || group >= kCatalogGroups || slot < 0 || slot >= kCatalogSlots)
                std::abort();
            if (!storage.holds(cell.entries, size_t(cell.count) * sizeof(CatalogEntry))) std::abort();
            for (int32_t i = 0; i < cell.count; ++i) {
                const CatalogEntry& e = cell.entries[i];
                storage.string(e.displayName);
                storage.string(e.postScriptName);
                storage.string(e.furtherName);
                storage.list(e.fullNameCount, e.fullNames);
                storage.list(e.otherNameCount, e.otherNames);
                // Every full name is found, in this entry or in one that the search order puts first.
                for (int32_t n = 0; n < e.fullNameCount; ++n) {
                    int32_t foundGroup = -1;
                    const int32_t found = catalog.findByFullName(slot, e.fullNames[n], foundGroup);
                    if (found < 0 || foundGroup < 0 || foundGroup > group) std::abort();
                    if (foundGroup == group && found > i) std::abort();
                    const CatalogCell& hit = catalog.cell(foundGroup, slot);
                    if (found >= hit.count) std::abort();
                    bool holds = false;
                    for (int32_t k = 0; k < hit.entries[found].fullNameCount; ++k)
                        holds = holds || sameString(hit.entries[found].fullNames[k], e.fullNames[n]);
                    if (!holds) std::abort();
                }
            }
        }
    int32_t group = -1;
    for (int slot = -1; slot <= kCatalogSlots; ++slot) (void)catalog.findByFullName(slot, u"", group);
    catalog.release();
    catalog.release();
    return 0;
}
