// The sfnt offset table and table directory, as the font files store them (big-endian):
//   offset table   0 u32 sfntVersion   4 u16 numTables   6 u16 searchRange   8 u16 entrySelector
//                  10 u16 rangeShift
//   table record   12 + 16 x i: u32 tag, u32 checksum, u32 offset, u32 length
// Offsets count from the start of the file, also for a member of a collection.
//
// One reader serves the font objects and the identification. Each caller maps its faults to its own status
// (the font objects refuse a directory without tables; the identification accepts one), so the reader only
// says what it found.
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
// The largest directory: the offset table and kMaxTableRecords records.
constexpr uint32_t kMaxDirectorySize = kOffsetTableSize + kTableRecordSize * kMaxTableRecords;

// The bytes of a font file, seen through views of [offset, offset + length): a buffer in memory (the font
// objects), or a file read only where it is viewed (the identification).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint32_t size() const = 0;
    // A reader over [offset, offset + length); !ok() when that range is not inside the bytes.
    virtual ByteReader view(uint32_t offset, uint32_t length) const = 0;
};

// Bytes that the caller keeps alive in memory.
class MemoryBytes final : public ByteSource {
public:
    MemoryBytes(const uint8_t* data, uint32_t size) : m_data(data), m_size(data ? size : 0) {}
    uint32_t size() const override { return m_size; }
    ByteReader view(uint32_t offset, uint32_t length) const override {
        return ByteReader(m_data, m_size).sub(offset, length);
    }

private:
    const uint8_t* m_data;
    uint32_t m_size;
};

enum class DirectoryFault : uint8_t {
    None,
    NoOffsetTable,  // the bytes end before base + 12
    TooManyTables,  // numTables above kMaxTableRecords
    NoDirectory,    // the bytes end inside the table records
};

// Reads the offset table at `base` into `out` (filled as soon as its 12 bytes are there, before any test)
// and then its numTables records, in file order, into `records` (room for kMaxTableRecords). Views exactly
// two ranges: the 12-byte offset table and the records. A directory of 0 tables is not a fault here.
[[nodiscard]] DirectoryFault readSfntDirectory(const ByteSource& bytes, uint32_t base, OffsetTable& out,
                                               TableRecord* records);

// True when the table's bytes [offset, offset + length) lie inside `size` bytes (no 32-bit wrap-around).
inline bool tableInside(const TableRecord& record, uint64_t size) {
    return uint64_t(record.offset) + record.length <= size;
}
