// The structure check of a 'name' table, shared by the font objects and the identification. Layout
// (big-endian u16 values):
//   0 format   2 count   4 stringOffset   6 + 12 x i: record i
//   record: 0 platformID  2 encodingID  4 languageID  6 nameID  8 length  10 offset
// A string lies at table offset stringOffset + offset and is length bytes long. All three are 16-bit, so
// their sum fits easily in 32 bits; bounds are compared in that width and never as pointers.
#pragma once

#include <cstdint>

constexpr uint32_t kNameHeaderSize = 6;
constexpr uint32_t kNameRecordSize = 12;

struct NameHeader {
    uint16_t count = 0;
    uint16_t stringOffset = 0;
};

struct NameRecord {
    uint16_t platformID = 0, encodingID = 0, languageID = 0, nameID = 0, length = 0, offset = 0;
};

// Where the strings may start. Both rules want them after the records; the identification also wants
// stringOffset inside the table, which the font objects test only through the records' strings (so a table
// without records may give any stringOffset there).
enum class NameStringStart : uint8_t { AfterRecords, AfterRecordsInsideTable };

// The header: at least 6 bytes, the count records inside the table, the strings starting after them (and,
// by `rule`, not beyond the table). False when one of these fails; `header` is filled when 6 bytes are there.
[[nodiscard]] bool readNameHeader(const uint8_t* table, uint32_t length, NameStringStart rule,
                                  NameHeader& header);

// Record `index` (< header.count of a header that passed readNameHeader).
NameRecord readNameRecord(const uint8_t* table, uint32_t length, uint16_t index);

// True when the record's string [stringOffset + offset, + length) lies inside the table.
inline bool nameStringInside(const NameHeader& header, const NameRecord& record, uint32_t tableLength) {
    return uint32_t(header.stringOffset) + record.offset + record.length <= tableLength;
}

// The whole check: the header by `rule`, then every record's string (of any name ID) inside the table.
[[nodiscard]] bool nameTableSound(const uint8_t* table, uint32_t length, NameStringStart rule);
