// The Type 2 charstring interpreter: runs a CFF glyph's charstring with its subroutines and appends move,
// line and cubic entries (26.6, font units x 64) to an outline record, records the advance width, and
// collects stem hints and hint masks into a hint record.
#pragma once

#include <cstdint>

#include "cff/CffIndex.h"
#include "sfnt/GlyphOutline.h"
#include "sfnt/Limits.h"

class Type2Interpreter {
public:
    // Interprets the charstring at CFF position `start` of `length` bytes: 0, kFontDataError, kOutOfMemory.
    [[nodiscard]] int16_t run(uint32_t start, uint32_t length, GlyphOutline& outline, HintRecord* hints);

    const uint8_t* data = nullptr;  // the file buffer
    uint32_t dataSize = 0;
    uint32_t cffOffset = 0;
    uint32_t cffLength = 0;
    int32_t stack[kType2MaxOperands] = {};  // 26.6
    int16_t stackCount = 0;
    int16_t stackBase = 0;
    int16_t hintCount = 0;
    int32_t currentX = 0, currentY = 0;
    int32_t startX = 0, startY = 0;
    GlyphOutline* outline = nullptr;
    OutlinePoint* cursor = nullptr;
    HintRecord* hints = nullptr;
    int32_t randomSeed = 0;
    const CffSubrIndex* globalSubrs = nullptr;
    const CffSubrIndex* localSubrs = nullptr;
    int32_t defaultWidthX = 0;
    int32_t nominalWidthX = 0;
};
