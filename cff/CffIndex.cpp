// CFF INDEX views. Layout at `position` of the CFF table:
//   0          u16      count                 (0: nothing follows, the INDEX is 2 bytes)
//   2          u8       offSize               1..4
//   3          offSize  offset[0..count]      1-based, ascending, offset[0] == 1
//   3 + (count + 1) x offSize                 data area of offset[count] - 1 bytes
// Element i is data[offset[i] - 1 .. offset[i + 1] - 2]. Every bound is checked before anything is read,
// with sums that cannot wrap, so no offset taken from the file leads outside [cff, cff + cffLength).
#include "cff/CffIndex.h"

#include "sfnt/ByteReader.h"

namespace {

// An element of a charstring or subroutine INDEX is at most this long (its length is kept in 16 bits).
constexpr uint32_t kCffMaxElementLength = 65535;

// Subroutine-number bias thresholds of Type 2 charstrings.
constexpr uint32_t kSmallSubrCount = 1240;
constexpr uint32_t kMediumSubrCount = 33900;

}  // namespace

void CffIndex::release() {
    count = 0;
    offSize = 0;
    offsets = nullptr;
    dataStart = 0;
    totalSize = 0;
}

uint32_t CffIndex::offsetAt(uint32_t i) const {
    const uint8_t* p = offsets + size_t(i) * offSize;
    uint32_t v = 0;
    for (unsigned k = 0; k < offSize; ++k) v = (v << 8) | p[k];
    return v;
}

int16_t CffIndex::parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) {
    const uint32_t available = (cff != nullptr && position < cffLength) ? cffLength - position : 0;
    return parseWindow(available ? cff + position : nullptr, available, available, position);
}

uint32_t CffIndex::headerAndOffsetsSize(const uint8_t* start, uint32_t length) {
    // An empty INDEX, or an offSize that parse() refuses, needs no offsets.
    if (length < 3 || loadU16(start) == 0 || start[2] == 0 || start[2] > 4) return 3;
    return 3 + (uint32_t(loadU16(start)) + 1) * start[2];
}

int16_t CffIndex::parseWindow(const uint8_t* window, uint32_t windowLength, uint32_t available,
                              uint32_t position) {
    if (!window) windowLength = 0;
    // Every read below stays inside the window; the decisions are taken on the table's bytes (`available`),
    // so a window that ends with the table gives exactly the answers of a whole-table parse.
    if (windowLength > available) windowLength = available;
    if (available < 2 || windowLength < 2) return KORV_FAIL(kFontDataError);
    const uint8_t* p = window;
    count = loadU16(p);
    if (count == 0) {
        totalSize = 2;
        return 0;
    }
    if (available < 3 || windowLength < 3) return KORV_FAIL(kFontDataError);
    offSize = p[2];
    if (offSize == 0 || offSize > 4) return KORV_FAIL(kFontDataError);

    // At most 65536 x 4 + 3 bytes: no 32-bit overflow.
    const uint32_t offsetBytes = (uint32_t(count) + 1) * offSize;
    if (available < offsetBytes + 3 || windowLength < offsetBytes + 3) return KORV_FAIL(kFontDataError);
    offsets = p + 3;
    dataStart = position + 3 + offsetBytes;  // inside the table: checked just above

    // The last offset may be anything up to 0xFFFFFFFF: size the INDEX in 64 bits.
    const uint32_t last = offsetAt(count);
    const uint64_t size = uint64_t(last) + 2 + offsetBytes;
    if (size > available) return KORV_FAIL(kFontDataError);
    totalSize = uint32_t(size);

    // Offsets must not descend (equal neighbours are empty elements) and must start at 1. The whole walk
    // runs before the first offset is judged.
    uint32_t previous = offsetAt(0);
    const uint32_t first = previous;
    for (uint32_t i = 1; i <= count; ++i) {
        const uint32_t current = offsetAt(i);
        if (current < previous) return KORV_FAIL(kFontDataError);
        previous = current;
    }
    if (first != 1) return KORV_FAIL(kFontDataError);
    return 0;
}

void CffIndex::getElement(uint16_t index, uint32_t& start, uint32_t& length) const {
    const uint32_t from = offsetAt(index);
    start = dataStart + from - 1;
    length = offsetAt(uint32_t(index) + 1) - from;
}

int16_t CffCharStringsIndex::parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) {
    const int16_t status = CffIndex::parse(cff, cffLength, position);
    if (status != 0) return status;
    maxElementLength = 0;
    if (count == 0) return 0;
    uint32_t previous = offsetAt(0);
    for (uint32_t i = 1; i <= count; ++i) {
        const uint32_t current = offsetAt(i);
        const uint32_t length = current - previous;  // ascending: checked by the base parse
        if (length > kCffMaxElementLength) return KORV_FAIL(kFontDataError);
        if (length > maxElementLength) maxElementLength = uint16_t(length);
        previous = current;
    }
    return 0;
}

int16_t CffSubrIndex::parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) {
    const int16_t status = CffCharStringsIndex::parse(cff, cffLength, position);
    if (status != 0) return status;
    bias = cffSubrBias(count);
    return 0;
}

uint16_t cffSubrBias(uint32_t count) {
    if (count == 0) return 0;
    if (count < kSmallSubrCount) return 107;
    if (count < kMediumSubrCount) return 1131;
    return 32768;
}
