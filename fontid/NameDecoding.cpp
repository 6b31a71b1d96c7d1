// The full names of a TrueType font's `name` table.
//
// `name` table (big-endian u16 values):
//   0 format   2 count   4 stringOffset   6 + 12 x i: record i
//   record: 0 platformID  2 encodingID  4 languageID  6 nameID  8 length  10 offset
// A string lies at table offset stringOffset + offset and is length bytes long. All three are 16-bit, so
// their sum fits easily in 32 bits; bounds are compared in that width and never as pointers.
#include "fontid/NameDecoding.h"

#include "platform/Text.h"
#include "sfnt/ByteReader.h"
#include "sfnt/Status.h"

namespace {

constexpr uint32_t kNameHeaderSize = 6;
constexpr uint32_t kNameRecordSize = 12;
constexpr uint16_t kFullNameId = 4;

constexpr uint16_t kPlatformMacintosh = 1;
constexpr uint16_t kPlatformWindows = 3;
constexpr uint16_t kWindowsJapanese = 0x0411;
constexpr uint16_t kWindowsEnglishUs = 0x0409;
constexpr uint16_t kMacJapanese = 11;
constexpr uint16_t kMacEnglish = 0;

// Slot order of the matching: Windows Japanese, Macintosh Japanese, Windows English, Macintosh English.
constexpr int kSlotWindowsJapanese = 0;
constexpr int kSlotMacJapanese = 1;
constexpr int kSlotWindowsEnglish = 2;
constexpr int kSlotMacEnglish = 3;

struct NameHeader {
    uint16_t count = 0;
    uint32_t stringOffset = 0;
};

// The header checks shared by the collection and the validation: the records must lie inside the table and
// the strings must start after them and inside the table.
bool readNameHeader(const uint8_t* table, uint32_t length, NameHeader& header) {
    if (!table || length < kNameHeaderSize) return false;
    ByteReader r(table, length);
    r.skip(2);  // format
    header.count = r.u16();
    header.stringOffset = r.u16();
    const uint32_t recordsEnd = kNameHeaderSize + kNameRecordSize * uint32_t(header.count);
    return r.ok() && recordsEnd <= length && header.stringOffset >= recordsEnd &&
           header.stringOffset <= length;
}

struct NameRecord {
    uint16_t platform = 0, encoding = 0, language = 0, nameId = 0, length = 0, offset = 0;
};

NameRecord readNameRecord(const uint8_t* table, uint32_t length, uint16_t index) {
    ByteReader r(table, length);
    r.seek(kNameHeaderSize + kNameRecordSize * uint32_t(index));
    NameRecord n;
    n.platform = r.u16();
    n.encoding = r.u16();
    n.language = r.u16();
    n.nameId = r.u16();
    n.length = r.u16();
    n.offset = r.u16();
    return n;
}

bool stringInside(const NameHeader& header, const NameRecord& record, uint32_t tableLength) {
    return header.stringOffset + uint32_t(record.offset) + uint32_t(record.length) <= tableLength;
}

}  // namespace

void convertAnsiName(const uint8_t* bytes, uint32_t length, char16_t* destination, int capacity) {
    if (!destination || capacity <= 0) return;
    // A name string is at most 65535 bytes, far below the conversion's int range; anything longer is cut to
    // that range without changing the outcome (it could never fit a name buffer).
    const int sourceLength = length > uint32_t(INT32_MAX) ? INT32_MAX : int(length);
    const int n = multiByteToWideChar(kCodePageAnsi, reinterpret_cast<const char*>(bytes), sourceLength,
                                      destination, capacity);
    // The call writes no terminator and fails (0) when the result does not fit, so a name of exactly
    // `capacity` units is cut by one and a longer one becomes empty.
    destination[n >= 0 && n < capacity ? n : capacity - 1] = 0;
}

void decodeNameString(const uint8_t* bytes, uint32_t length, uint16_t platform, uint16_t encoding,
                      char16_t* destination, int capacity) {
    if (!destination || capacity <= 0) return;
    if (platform == kPlatformWindows && (encoding == 1 || encoding == 10)) {
        // UTF-16 big-endian; an odd last byte is dropped and longer names are cut.
        uint32_t n = length / 2;
        if (n > uint32_t(capacity - 1)) n = uint32_t(capacity - 1);
        for (uint32_t i = 0; i < n; ++i) destination[i] = char16_t(loadU16(bytes + 2 * i));
        destination[n] = 0;
    } else if ((platform == kPlatformWindows && encoding == 2) ||
               (platform == kPlatformMacintosh && (encoding == 0 || encoding == 1))) {
        convertAnsiName(bytes, length, destination, capacity);
    }
    // Other platforms and encodings are not decoded: the destination stays as it was.
}

int32_t collectFullNames(const uint8_t* table, uint32_t length, FullNameSlots& slots) {
    for (auto& slot : slots.slot) slot[0] = 0;
    NameHeader header;
    if (!readNameHeader(table, length, header)) return KORV_FAIL(kParamError);
    for (uint16_t i = 0; i < header.count; ++i) {
        const NameRecord record = readNameRecord(table, length, i);
        if (!stringInside(header, record, length) || record.nameId != kFullNameId) continue;
        const uint8_t* text = table + header.stringOffset + record.offset;
        if (record.platform == kPlatformWindows) {
            if (record.language == kWindowsJapanese)
                decodeNameString(text, record.length, record.platform, record.encoding,
                                 slots.slot[kSlotWindowsJapanese], kFullNameCapacity);
            else if (record.language == kWindowsEnglishUs)
                decodeNameString(text, record.length, record.platform, record.encoding,
                                 slots.slot[kSlotWindowsEnglish], kFullNameCapacity);
        } else if (record.platform == kPlatformMacintosh) {
            // Macintosh Japanese names are taken in the ANSI code page whatever their encoding says.
            if (record.language == kMacJapanese)
                convertAnsiName(text, record.length, slots.slot[kSlotMacJapanese], kFullNameCapacity);
            else if (record.language == kMacEnglish)
                decodeNameString(text, record.length, record.platform, record.encoding,
                                 slots.slot[kSlotMacEnglish], kFullNameCapacity);
        }
    }
    return kOk;
}

int32_t validateNameTable(const uint8_t* table, uint32_t length) {
    NameHeader header;
    if (!readNameHeader(table, length, header)) return KORV_FAIL(kParamError);
    for (uint16_t i = 0; i < header.count; ++i)
        if (!stringInside(header, readNameRecord(table, length, i), length)) return KORV_FAIL(kParamError);
    return kOk;
}
