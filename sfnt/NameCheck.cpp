// The structure check of a 'name' table (layout in NameCheck.h).
#include "sfnt/NameCheck.h"

#include "sfnt/ByteReader.h"

bool readNameHeader(const uint8_t* table, uint32_t length, NameStringStart rule, NameHeader& header) {
    if (!table || length < kNameHeaderSize) return false;
    ByteReader r(table, length);
    r.skip(2);  // format, not tested
    header.count = r.u16();
    header.stringOffset = r.u16();
    const uint32_t recordsEnd = kNameHeaderSize + kNameRecordSize * uint32_t(header.count);
    if (!r.ok() || recordsEnd > length || header.stringOffset < recordsEnd) return false;
    return rule == NameStringStart::AfterRecords || header.stringOffset <= length;
}

NameRecord readNameRecord(const uint8_t* table, uint32_t length, uint16_t index) {
    ByteReader r(table, length);
    r.seek(kNameHeaderSize + kNameRecordSize * uint32_t(index));
    NameRecord n;
    n.platformID = r.u16();
    n.encodingID = r.u16();
    n.languageID = r.u16();
    n.nameID = r.u16();
    n.length = r.u16();
    n.offset = r.u16();
    return n;
}

bool nameTableSound(const uint8_t* table, uint32_t length, NameStringStart rule) {
    NameHeader header;
    if (!readNameHeader(table, length, rule, header)) return false;
    for (uint16_t i = 0; i < header.count; ++i)
        if (!nameStringInside(header, readNameRecord(table, length, i), length)) return false;
    return true;
}
