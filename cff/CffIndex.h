// CFF header and INDEX views. An INDEX is: count (u16); if count > 0, offSize (u8, 1..4), count + 1 offsets
// of offSize bytes (1-based), then the data area. Views point into the caller's CFF buffer and own nothing.
#pragma once

#include <cstdint>

#include "sfnt/Status.h"

class CffIndex {
public:
    virtual ~CffIndex() = default;
    // Drops the view: every field zero or null. Fine on any state, fine twice.
    virtual void release();
    // Parses the INDEX at `position` of the CFF buffer; 0 or kFontDataError. Fields are filled as they are
    // read, so after a failure they hold whatever had been read.
    [[nodiscard]] virtual int16_t parse(const uint8_t* cff, uint32_t cffLength, uint32_t position);
    // The same parse when only part of the table is at hand: `window` holds the table's bytes from
    // `position` on (at least the count, offSize and offsets, or every byte up to the table's end), and
    // `available` is the number of table bytes from `position` to the table's end. The result and the
    // fields are those of parse(); `offsets` points into the window.
    [[nodiscard]] int16_t parseWindow(const uint8_t* window, uint32_t windowLength, uint32_t available,
                                      uint32_t position);
    // How many bytes from an INDEX's start parseWindow() needs to see, given its first three bytes (fewer
    // when the table has fewer).
    static uint32_t headerAndOffsetsSize(const uint8_t* start, uint32_t length);
    // start = dataStart + offset[index] - 1, length = offset[index + 1] - offset[index].
    // No range check: the caller guarantees index < count.
    void getElement(uint16_t index, uint32_t& start, uint32_t& length) const;
    // offset[i], read big-endian at its width (i <= count).
    uint32_t offsetAt(uint32_t i) const;

    uint16_t count = 0;
    uint8_t offSize = 0;
    const uint8_t* offsets = nullptr;
    uint32_t dataStart = 0;
    uint32_t totalSize = 0;
};

class CffCharStringsIndex : public CffIndex {
public:
    [[nodiscard]] int16_t parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) override;
    uint16_t maxElementLength = 0;
};

class CffSubrIndex : public CffCharStringsIndex {
public:
    [[nodiscard]] int16_t parse(const uint8_t* cff, uint32_t cffLength, uint32_t position) override;
    uint16_t bias = 0;
};

// Type 2 subroutine-number bias for a subroutine count.
uint16_t cffSubrBias(uint32_t count);
