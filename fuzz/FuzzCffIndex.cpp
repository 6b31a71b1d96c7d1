// CffIndex::parse at a position taken from the input, then the INDEXes that follow it (as the Name, Top
// DICT, String and Global Subr INDEXes follow each other), through all three views. Input layout:
//   0       u8   flags: bit 0 reads the position from the end of the 32-bit range instead
//   1..2    u16  position
//   3..     the CFF buffer
// Every element of a parsed INDEX must lie inside the buffer, and the derived views must agree with the
// plain one: same status except for an element longer than 65535 bytes, the longest element, the bias.
#include <cstdint>
#include <cstdlib>

#include "cff/CffIndex.h"

namespace {

volatile uint32_t g_sink = 0;

// Walks every element of a successfully parsed INDEX; returns the longest element's length.
uint32_t checkElements(const CffIndex& index, const uint8_t* cff, uint32_t cffLength, uint32_t position) {
    if (index.totalSize < 2 || uint64_t(position) + index.totalSize > cffLength) std::abort();
    if (index.count == 0) return 0;
    if (index.offSize < 1 || index.offSize > 4) std::abort();
    if (index.offsets != cff + position + 3) std::abort();
    if (index.dataStart != position + 3 + (uint32_t(index.count) + 1) * index.offSize) std::abort();
    uint32_t longest = 0;
    uint32_t checksum = 0;
    for (uint32_t i = 0; i < index.count; ++i) {
        uint32_t start = 0, length = 0;
        index.getElement(uint16_t(i), start, length);
        if (start < index.dataStart || uint64_t(start) + length > uint64_t(position) + index.totalSize)
            std::abort();
        for (uint32_t k = 0; k < length; ++k) checksum += cff[start + k];  // ASan checks each byte
        if (length > longest) longest = length;
    }
    g_sink = checksum;  // keeps the reads from being optimised away
    return longest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size - 3 > 0xFFFFFFFFu) return 0;
    const uint8_t* cff = data + 3;
    const uint32_t cffLength = uint32_t(size - 3);
    uint32_t position = (uint32_t(data[1]) << 8) | data[2];
    if (data[0] & 1) position = 0xFFFFFFFFu - position;

    for (int step = 0; step < 4; ++step) {
        CffIndex plain;
        const int16_t status = plain.parse(cff, cffLength, position);
        if (status != 0 && status != kFontDataError) std::abort();

        CffCharStringsIndex charStrings;
        const int16_t charStringsStatus = charStrings.parse(cff, cffLength, position);
        CffSubrIndex subrs;
        const int16_t subrsStatus = subrs.parse(cff, cffLength, position);
        if (charStringsStatus != subrsStatus) std::abort();
        if (status != 0) {
            if (charStringsStatus == 0) std::abort();
            return 0;
        }

        const uint32_t longest = checkElements(plain, cff, cffLength, position);
        if (charStringsStatus == 0) {
            if (longest > 65535 || charStrings.maxElementLength != longest) std::abort();
            if (subrs.maxElementLength != longest || subrs.bias != cffSubrBias(subrs.count)) std::abort();
            if (subrs.count != plain.count || subrs.totalSize != plain.totalSize) std::abort();
        } else if (longest <= 65535) {
            std::abort();
        }

        plain.release();
        if (plain.count || plain.offSize || plain.offsets || plain.dataStart || plain.totalSize) std::abort();
        position += charStrings.totalSize ? charStrings.totalSize : 2;
        if (charStringsStatus != 0) return 0;
    }
    return 0;
}
