// The full names of a TrueType font's `name` table. The table's layout and its structure check are in
// sfnt/NameCheck.h, shared with the font objects.
#include "fontid/NameDecoding.h"

#include "platform/Text.h"
#include "sfnt/ByteReader.h"
#include "sfnt/NameCheck.h"
#include "sfnt/Status.h"

namespace {

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

// The identification's header rule: the strings start after the records and inside the table.
constexpr NameStringStart kIdentificationRule = NameStringStart::AfterRecordsInsideTable;

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
    if (!readNameHeader(table, length, kIdentificationRule, header)) return KORV_FAIL(kParamError);
    for (uint16_t i = 0; i < header.count; ++i) {
        const NameRecord record = readNameRecord(table, length, i);
        if (!nameStringInside(header, record, length) || record.nameID != kFullNameId) continue;
        const uint8_t* text = table + header.stringOffset + record.offset;
        if (record.platformID == kPlatformWindows) {
            if (record.languageID == kWindowsJapanese)
                decodeNameString(text, record.length, record.platformID, record.encodingID,
                                 slots.slot[kSlotWindowsJapanese], kFullNameCapacity);
            else if (record.languageID == kWindowsEnglishUs)
                decodeNameString(text, record.length, record.platformID, record.encodingID,
                                 slots.slot[kSlotWindowsEnglish], kFullNameCapacity);
        } else if (record.platformID == kPlatformMacintosh) {
            // Macintosh Japanese names are taken in the ANSI code page whatever their encoding says.
            if (record.languageID == kMacJapanese)
                convertAnsiName(text, record.length, slots.slot[kSlotMacJapanese], kFullNameCapacity);
            else if (record.languageID == kMacEnglish)
                decodeNameString(text, record.length, record.platformID, record.encodingID,
                                 slots.slot[kSlotMacEnglish], kFullNameCapacity);
        }
    }
    return kOk;
}

int32_t validateNameTable(const uint8_t* table, uint32_t length) {
    return nameTableSound(table, length, kIdentificationRule) ? kOk : KORV_FAIL(kParamError);
}
