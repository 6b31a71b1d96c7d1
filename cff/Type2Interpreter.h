// The Type 2 charstring interpreter: runs a CFF glyph's charstring with its subroutines and appends move,
// line and cubic entries (26.6, font units x 64) to an outline record, records the advance width, and
// collects stem hints and hint masks into a hint record.
//
// A charstring is a byte sequence of operands and operators:
//   32..246            the integer b - 139
//   247..250, b1       (b - 247) x 256 + b1 + 108
//   251..254, b1       -(b - 251) x 256 - b1 - 108
//   28, i16            a 16-bit signed integer
//   255, i32           a 16.16 fixed-point value
//   0..31 but 28       operators; 12 b is the escaped operator b; 10 callsubr, 29 callgsubr, 11 return
// Every operand is held in 26.6 (1.0 is 64) on a 48-entry stack.
//
// Arithmetic never wraps: sums, products and quotients are taken in 64 bits, and a stack value, a point, a
// stem edge or an advance that does not fit in a signed 32-bit 26.6 value is malformed data (kFontDataError),
// as is running more than kType2OperatorBudget operators in one glyph.
#pragma once

#include <cstdint>

#include "cff/CffIndex.h"
#include "sfnt/GlyphOutline.h"
#include "sfnt/Limits.h"

class Type2Interpreter {
public:
    // Interprets the charstring at CFF position `start` of `length` bytes: 0, kFontDataError, kOutOfMemory.
    // The entries are appended to `outline` (normally empty) and the advance is set; `hints`, when not null,
    // is cleared and then receives the glyph's stems and hint masks. After a failure the outline keeps the
    // entries appended before it, its contourStart sentinel written.
    [[nodiscard]] int16_t run(uint32_t start, uint32_t length, GlyphOutline& outline, HintRecord* hints);

    const uint8_t* data = nullptr;  // the file buffer
    uint32_t dataSize = 0;
    uint32_t cffOffset = 0;  // the CFF table: data[cffOffset .. cffOffset + cffLength)
    uint32_t cffLength = 0;
    int32_t stack[kType2MaxOperands] = {};  // 26.6
    int16_t stackCount = 0;
    int16_t stackBase = 0;  // 1 while the first operator runs with the width taken from the bottom
    int16_t hintCount = 0;  // stems declared so far in this charstring (saturates far above 64)
    int32_t currentX = 0, currentY = 0;
    int32_t startX = 0, startY = 0;
    GlyphOutline* outline = nullptr;
    OutlinePoint* cursor = nullptr;  // next free entry of outline->points
    HintRecord* hints = nullptr;
    int32_t randomSeed = 0;  // advanced by the random operator, never reset by a run
    const CffSubrIndex* globalSubrs = nullptr;
    const CffSubrIndex* localSubrs = nullptr;
    int32_t defaultWidthX = 0;  // font units
    int32_t nominalWidthX = 0;  // font units

    // Operators the last run executed, subroutine calls and returns included (at most the budget).
    uint32_t operatorsExecuted = 0;

    // The FDSelect range (format 3) of the last glyph the font looked up with this interpreter: where the
    // next lookup starts. A guess only, checked against the font's FDSelect before it is used.
    uint32_t fdRangeHint = 0;

private:
    friend struct Type2Operators;

    // A saved caller while a subroutine runs.
    struct Frame {
        const uint8_t* position;  // where the caller goes on
        const uint8_t* end;       // the caller's end
        const uint8_t* start;     // the subroutine's first byte
    };

    // Reads and runs operators from m_position until endchar or the end of the charstring: 0 or a status.
    int16_t interpret();
    // Takes the width before the first operator `op`, as the one-byte table's width count says.
    int16_t takeWidth(int32_t op);
    [[nodiscard]] int16_t grow(uint32_t entries);
    [[nodiscard]] int16_t room(uint32_t entries) {
        return uint32_t(m_limit - cursor) >= entries ? int16_t(0) : grow(entries);
    }
    void closeContour();

    const uint8_t* m_cff = nullptr;  // data + cffOffset
    const uint8_t* m_position = nullptr;
    const uint8_t* m_end = nullptr;
    int m_depth = 0;
    Frame m_frames[kType2MaxSubrDepth] = {};
    uint32_t m_budget = 0;            // operators still allowed
    OutlinePoint* m_limit = nullptr;  // end of outline->points' capacity
    bool m_open = false;              // a contour of this run is being built
};
