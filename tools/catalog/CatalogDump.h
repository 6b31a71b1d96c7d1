// The description of a loaded catalog: what the korv-catalog tool prints with --dump, and what tests
// compare loaded catalogs with. It holds what the reader keeps: each cell with entries becomes one table
// whose group is the cell's row (row 10 also holds stored group 3, row 11 stored group 5) and whose tag is
// the slot's; the fields the reader does not keep (the values, the items, the value before the further
// name) stay zero, and cells without entries do not appear.
#pragma once

#include <string>

#include "fontid/FontCatalog.h"
#include "platform/Text.h"
#include "tools/catalog/CatalogWriter.h"

namespace awfc {

// The tag of a format slot; 0 for the slots no tag fills (6..10).
inline uint32_t tagOfSlot(int slot) {
    switch (slot) {
        case kSlotOcf:
            return 0x4F434620;  // "OCF "
        case kSlotTyp1:
            return 0x74797031;  // "typ1"
        case kSlotOtto:
            return 0x4F54544F;  // "OTTO"
        case kSlotTrue:
            return 0x74727565;  // "true"
        case kSlotPsOc:
            return 0x70734F43;  // "psOC"
        case kSlotPst1:
            return 0x70737431;  // "pst1"
        case kSlotSbix:
            return 0x73626978;  // "sbix"
        case kSlotColr:
            return 0x434F4C52;  // "COLR"
        default:
            return 0;
    }
}

inline Text describeString(const char16_t* s) {
    return Text(s ? utf16ToUtf8(s) : std::string());
}

inline Catalog describeCatalog(const FontCatalog& catalog) {
    Catalog out;
    for (int group = 0; group < kCatalogGroups; ++group)
        for (int slot = 0; slot < kCatalogSlots; ++slot) {
            const CatalogCell& cell = catalog.cell(group, slot);
            if (cell.count <= 0) continue;
            Table t;
            t.group = uint32_t(group);
            t.tag = tagOfSlot(slot);
            for (int32_t i = 0; i < cell.count; ++i) {
                const CatalogEntry& e = cell.entries[i];
                Record r;
                r.displayName = describeString(e.displayName);
                r.postScriptName = describeString(e.postScriptName);
                for (int32_t n = 0; n < e.fullNameCount; ++n)
                    r.fullNames.push_back(describeString(e.fullNames[n]));
                r.furtherName = describeString(e.furtherName);
                for (int32_t n = 0; n < e.otherNameCount; ++n)
                    r.otherNames.push_back(describeString(e.otherNames[n]));
                t.records.push_back(std::move(r));
            }
            out.tables.push_back(std::move(t));
        }
    return out;
}

}  // namespace awfc
