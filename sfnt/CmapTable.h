// The character map ('cmap') of a font: the table's encoding records and the subtables the font objects
// can use, with one lookup per subtable format. Layout (big-endian):
//   table       0 u16 version (0)   2 u16 numTables   4 + 8 x i: u16 platformID, u16 encodingID, u32 offset
//   format 0    0 u16 format  2 u16 length  4 u16 language  6 u8 glyphIdArray[256]
//   format 2    ... 6 u16 subHeaderKeys[256]  518 subHeaders (u16 firstCode, u16 entryCount, i16 idDelta,
//               u16 idRangeOffset), glyphIdArray
//   format 4    ... 6 u16 segCountX2, searchRange, entrySelector, rangeShift  14 u16 endCode[segCount],
//               u16 reservedPad, startCode[segCount], i16 idDelta[segCount], u16 idRangeOffset[segCount], ...
//   format 6    ... 6 u16 firstCode  8 u16 entryCount  10 u16 glyphIdArray[entryCount]
//   format 12   0 u16 format  2 u16 reserved  4 u32 length  8 u32 language  12 u32 numGroups
//               16 groups of (u32 startCharCode, u32 endCharCode, u32 startGlyphID)
// The table object keeps a reference into the caller's buffer; nothing is copied or allocated.
#pragma once

#include <cstdint>

#include "sfnt/Limits.h"
#include "sfnt/Status.h"

class CmapTable;
struct CmapSubtable;

// A subtable's mapping operation: `data` is the table's start + the subtable's dataOffset; the subtable
// carries its four decoded parameters and its search state. 0 with `glyph` set, or 2 (kGlyphAbsent, glyph
// 0) for a code the subtable does not map.
using CmapLookup = int16_t (*)(const CmapTable& table, const CmapSubtable& subtable, const uint8_t* data,
                               uint32_t code, uint32_t& glyph);

constexpr uint32_t kCmapPageShift = 11;    // 32 pages of 2048 codes cover 0..0xFFFF
constexpr uint64_t kCmapNoHint = 0x10000;  // segment 0, codes 1 to 0: matches no code

struct CmapSubtable {
    uint16_t platformID = 0;
    uint16_t encodingID = 0;
    uint32_t dataOffset = 0;  // from the table's start to the data after the format's header
    CmapLookup lookup = nullptr;
    uint16_t format = 0;
    uint32_t length = 0;    // the subtable's own length field, as stored
    uint32_t language = 0;  // likewise
    // Format 4: segCountX2, searchRange, entrySelector, rangeShift; format 6: firstCode, entryCount;
    // format 12: numGroups' high and low 16 bits; formats 0 and 2: unused.
    uint16_t parameters[4] = {};

    // Not in the file. Formats 4 and 12: true when every segment (group) starts at or before its end and
    // after the previous one's end, so that a code lies in at most one of them and any search finds that
    // one; the lookup may then start from the segment it found last. Otherwise the lookup walks exactly
    // the bisection of the format, whose answer for a code in several segments depends on its path.
    bool ordered = false;
    // Where the last lookup ended, as a starting point for the next one (format 4: the segment and the
    // codes it is the first to end at or above; format 12: the group). One 64-bit value read and written
    // with relaxed atomic accesses, so that several threads may map through one font; it only saves work
    // and never changes an answer. The initial value names an empty code range.
    mutable uint64_t searchHint = kCmapNoHint;
    // Format 4 with ordered segments: for each page of 2048 codes (kCmapPageShift) of 0..0xFFFF, the first
    // segment whose end is at or above the page's first code, and the segment count after the last page.
    // A code's segment lies between its page's entry and the next one, so the search starts there. Built
    // by parse, read only afterwards.
    uint16_t pageFirst[(0x10000 >> kCmapPageShift) + 1] = {};
};

class CmapTable {
public:
    virtual ~CmapTable() = default;
    // count = 0, reference cleared. Fine on any state, fine twice.
    virtual void release();
    // Validates the table inside the caller's buffer and keeps the subtables it can use: 0 or
    // kFontDataError.
    [[nodiscard]] virtual int16_t parse(const uint8_t* bytes, uint32_t length);

    // Maps a code through stored subtable `index`: 0 or 2 (kGlyphAbsent); kNoCharMap when index >= count.
    [[nodiscard]] int16_t lookup(uint16_t index, uint32_t code, uint32_t& glyph) const {
        if (index >= count) return int16_t(kNoCharMap);
        const CmapSubtable& subtable = subtables[index];
        return subtable.lookup(*this, subtable, data + subtable.dataOffset, code, glyph);
    }

    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint16_t count = 0;
    CmapSubtable subtables[kMaxCmapSubtables];
};
