// The one reader of an sfnt offset table and its table directory (layout in TableDirectory.h).
#include "sfnt/TableDirectory.h"

DirectoryFault readSfntDirectory(const ByteSource& bytes, uint32_t base, OffsetTable& out,
                                 TableRecord* records) {
    const uint64_t size = bytes.size();
    if (size < uint64_t(base) + kOffsetTableSize) return DirectoryFault::NoOffsetTable;
    ByteReader header = bytes.view(base, kOffsetTableSize);
    out.sfntVersion = header.u32();
    out.numTables = header.u16();
    out.searchRange = header.u16();
    out.entrySelector = header.u16();
    out.rangeShift = header.u16();
    if (!header.ok()) return DirectoryFault::NoOffsetTable;

    const uint16_t count = out.numTables;
    if (count > kMaxTableRecords) return DirectoryFault::TooManyTables;
    const uint64_t recordsStart = uint64_t(base) + kOffsetTableSize;
    if (size < recordsStart + uint64_t(kTableRecordSize) * count) return DirectoryFault::NoDirectory;
    ByteReader r = bytes.view(uint32_t(recordsStart), kTableRecordSize * uint32_t(count));
    for (uint16_t i = 0; i < count; ++i) {
        records[i].tag = r.u32();
        records[i].checksum = r.u32();
        records[i].offset = r.u32();
        records[i].length = r.u32();
    }
    return r.ok() ? DirectoryFault::None : DirectoryFault::NoDirectory;
}
