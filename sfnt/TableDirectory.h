// The sfnt offset table and table directory, as the font files store them (big-endian):
//   offset table   0 u32 sfntVersion   4 u16 numTables   6 u16 searchRange   8 u16 entrySelector
//                  10 u16 rangeShift
//   table record   12 + 16 x i: u32 tag, u32 checksum, u32 offset, u32 length
// Offsets count from the start of the file, also for a member of a collection.
#pragma once

#include <cstdint>

#include "sfnt/ByteReader.h"
#include "sfnt/Limits.h"

struct OffsetTable {
    uint32_t sfntVersion = 0;
    uint16_t numTables = 0;
    uint16_t searchRange = 0;
    uint16_t entrySelector = 0;
    uint16_t rangeShift = 0;
};

// One 16-byte table-directory entry.
struct TableRecord {
    uint32_t tag = 0;
    uint32_t checksum = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};

constexpr uint32_t kOffsetTableSize = 12;
constexpr uint32_t kTableRecordSize = 16;
