// CFF INDEX views. Layout at `position` of the CFF table:
//   0          u16      count                 (0: nothing follows, the INDEX is 2 bytes)
//   2          u8       offSize               1..4
//   3          offSize  offset[0..count]      1-based, ascending, offset[0] == 1
//   3 + (count + 1) x offSize                 data area of offset[count] - 1 bytes
// Element i is data[offset[i] - 1 .. offset[i + 1] - 2]. Every bound is checked before anything is read,
// with sums that cannot wrap, so no offset taken from the file leads outside [cff, cff + cffLength).
#include "cff/CffIndex.h"

#include <algorithm>

#include "sfnt/ByteReader.h"

namespace {

// An element of a charstring or subroutine INDEX is at most this long (its length is kept in 16 bits).
constexpr uint32_t kCffMaxElementLength = 65535;

// Subroutine-number bias thresholds of Type 2 charstrings.
constexpr uint32_t kSmallSubrCount = 1240;
constexpr uint32_t kMediumSubrCount = 33900;

// Calls visit(offset) for the next `n` offsets of `width` bytes (1..4) in `r`, until it returns false; false
// when `r` does not hold them all. The span is taken from the reader (one bounds check for all of it), then
// read with fixed-size loads inside it.
template <typename Visit>
bool forEachOffset(ByteReader& r, uint8_t width, uint32_t n, Visit visit) {
    const uint8_t* p = r.bytes(size_t(n) * width);
    if (!p) return false;
    auto walk = [&](auto load) {
        for (uint32_t i = 0; i < n; ++i, p += width)
            if (!visit(load(p))) return;
    };
    switch (width) {
        case 1:
            walk([](const uint8_t* q) { return uint32_t(q[0]); });
            break;
        case 2:
            walk([](const uint8_t* q) { return uint32_t(loadU16(q)); });
            break;
        case 3:
            walk([](const uint8_t* q) { return (uint32_t(q[0]) << 16) | loadU16(q + 1); });
            break;
        default:
            walk([](const uint8_t* q) { return loadU32(q); });
            break;
    }
    return true;
}

}  // namespace

void CffIndex::release() {
    count = 0;
    offSize = 0;
    offsets = nullptr;
    dataStart = 0;
    totalSize = 0;
}

uint32_t CffIndex::offsetAt(uint32_t i) const {
    // The offset array of a parsed INDEX is count + 1 entries; outside it (or before a parse) the answer is
    // 0.
    ByteReader r(offsets, offsets ? (size_t(count) + 1) * offSize : 0);
    r.skip(size_t(i) * offSize);
    return r.uN(offSize);
}

int16_t CffIndex::parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) {
    const uint32_t available = (cff != nullptr && position < cffLength) ? cffLength - position : 0;
    return parseWindow(available ? cff + position : nullptr, available, available, position);
}

uint32_t CffIndex::headerAndOffsetsSize(const uint8_t* start, uint32_t length) {
    ByteReader r(start, length);
    const uint16_t entries = r.u16();
    const uint8_t width = r.u8();
    // An empty INDEX, or an offSize that parse() refuses, needs no offsets.
    if (!r.ok() || entries == 0 || width == 0 || width > 4) return 3;
    return 3 + (uint32_t(entries) + 1) * width;
}

int16_t CffIndex::parseWindow(const uint8_t* window, uint32_t windowLength, uint32_t available,
                              uint32_t position) {
    // Every read goes through the window's reader; the decisions are taken on the table's bytes
    // (`available`), so a window that ends with the table gives exactly the answers of a whole-table parse.
    ByteReader r(window, std::min(windowLength, available));
    if (available < 2) return KORV_FAIL(kFontDataError);
    count = r.u16();
    if (!r.ok()) return KORV_FAIL(kFontDataError);
    if (count == 0) {
        totalSize = 2;
        return 0;
    }
    if (available < 3) return KORV_FAIL(kFontDataError);
    offSize = r.u8();
    if (!r.ok() || offSize == 0 || offSize > 4) return KORV_FAIL(kFontDataError);

    // At most 65536 x 4 + 3 bytes: no 32-bit overflow.
    const uint32_t offsetBytes = (uint32_t(count) + 1) * offSize;
    if (available < offsetBytes + 3) return KORV_FAIL(kFontDataError);
    const uint8_t* offsetArray = r.bytes(offsetBytes);
    if (!offsetArray) return KORV_FAIL(kFontDataError);
    offsets = offsetArray;
    dataStart = position + 3 + offsetBytes;  // inside the table: checked just above

    // Offsets must not descend (equal neighbours are empty elements) and must start at 1. The whole walk
    // runs before the first offset is judged; the last offset, which sizes the INDEX, is judged first.
    ByteReader o(offsetArray, offsetBytes);
    o.skip(size_t(count) * offSize);
    // The last offset may be anything up to 0xFFFFFFFF: size the INDEX in 64 bits.
    const uint64_t size = uint64_t(o.uN(offSize)) + 2 + offsetBytes;
    if (size > available) return KORV_FAIL(kFontDataError);
    totalSize = uint32_t(size);

    o.seek(0);
    const uint32_t first = o.uN(offSize);
    uint32_t previous = first;
    bool ascending = true;
    const bool walked = forEachOffset(o, offSize, count, [&](uint32_t current) {
        ascending = current >= previous;
        previous = current;
        return ascending;
    });
    if (!walked || !ascending || first != 1) return KORV_FAIL(kFontDataError);
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
    ByteReader o(offsets, (size_t(count) + 1) * offSize);
    uint32_t previous = o.uN(offSize);
    uint32_t longest = 0;
    (void)forEachOffset(o, offSize, count, [&](uint32_t current) {  // inside the parsed offsets
        const uint32_t length = current - previous;                 // ascending: checked by the base parse
        previous = current;
        if (length > longest) longest = length;
        return longest <= kCffMaxElementLength;
    });
    if (longest > kCffMaxElementLength) return KORV_FAIL(kFontDataError);
    maxElementLength = uint16_t(longest);
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
