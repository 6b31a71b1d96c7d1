// The in-memory form of the desktop application's font catalog (FontCat.awfc): a grid of 12 groups by 13
// format slots, each cell an array of entries. Everything lives in one storage block obtained once.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kCatalogGroups = 12;  // rows 0..11 after mapping stored group 3 -> 10 and 5 -> 11
constexpr int kCatalogSlots = 13;   // columns: format slots 0..12 (6..10 never filled)
constexpr uint32_t kCatalogMaxTables = 32;
constexpr uint32_t kCatalogVersion = 0x00040000;
// Mapped groups above this are skipped by the group test; 12..15 pass it but have no row and are skipped
// as well, so nothing is ever written outside the grid.
constexpr uint32_t kCatalogMaxGroupTest = 15;

// Format slots of the tags the reader takes.
constexpr int kSlotOcf = 0;    // "OCF "
constexpr int kSlotTyp1 = 1;   // "typ1"
constexpr int kSlotOtto = 2;   // "OTTO"
constexpr int kSlotTrue = 3;   // "true"
constexpr int kSlotPsOc = 4;   // "psOC"
constexpr int kSlotPst1 = 5;   // "pst1"
constexpr int kSlotSbix = 11;  // "sbix"
constexpr int kSlotColr = 12;  // "COLR"

// One record of the catalog. Every string is NUL-terminated UTF-16 inside the catalog's storage and never
// null after a successful load; a string that could not be converted is empty. The fields the file does
// not interpret (the four values, the 12-byte items, the value before the further name) are not kept.
struct CatalogEntry {
    const char16_t* displayName = nullptr;     // NUL-terminated UTF-16, never null after load
    const char16_t* postScriptName = nullptr;  // NUL-terminated UTF-16, never null after load
    int32_t fullNameCount = 0;
    const char16_t* const* fullNames = nullptr;  // fullNameCount strings, file order
    // Kept for the support tool's dump; the identification does not look at them.
    const char16_t* furtherName = nullptr;  // the string after the uninterpreted value
    int32_t otherNameCount = 0;
    const char16_t* const* otherNames = nullptr;  // otherNameCount strings, file order
};

struct CatalogCell {
    int32_t count = 0;
    const CatalogEntry* entries = nullptr;
};

class FontCatalog {
public:
    FontCatalog() = default;
    ~FontCatalog() { release(); }
    FontCatalog(const FontCatalog&) = delete;
    FontCatalog& operator=(const FontCatalog&) = delete;

    // Parses a whole catalog file image: 0; kGeneralError (-1) for a file that is not a version-4.0
    // catalog, names more than 32 tables or is malformed; kOutOfMemory (-108). The image is not kept.
    // On failure the catalog is empty. Loading a catalog that holds data releases that data first.
    [[nodiscard]] int32_t load(const uint8_t* image, size_t size);

    // The entries of one cell; an empty cell for a group or slot outside the grid.
    const CatalogCell& cell(int group, int formatSlot) const;

    // Looks `name` up in the full names of column `formatSlot`, rows 0..11 ascending, entries ascending,
    // names in list order; exact, case-sensitive comparison of whole strings. Returns the entry index and
    // writes the row to `group`, or returns -1 (group untouched).
    int32_t findByFullName(int formatSlot, const char16_t* name, int32_t& group) const;

    // Frees the storage and empties every cell. Fine on any state, fine twice.
    void release();

    // The storage block (null and 0 when empty): every entry array, name list and string lies inside it.
    const void* storage() const { return m_storage; }
    size_t storageSize() const { return m_storageSize; }

    // Replaces the allocation of the storage block (tests of the out-of-memory path). The function must
    // return memory that std::free releases, or null; nullptr restores std::malloc.
    using Allocator = void* (*)(size_t);
    static void setAllocatorForTesting(Allocator allocate);

private:
    CatalogCell m_cells[kCatalogGroups][kCatalogSlots];
    void* m_storage = nullptr;
    size_t m_storageSize = 0;
};
