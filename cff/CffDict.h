// The CFF DICT parser: decodes operands, checks each operator's operand count against one fixed table and
// hands complete operators to a handler. It knows nothing of what the operators mean.
#pragma once

#include <cstdint>

#include "sfnt/FixedMath.h"
#include "sfnt/Limits.h"
#include "sfnt/Status.h"

// Two-byte operators 12 b are passed as 256 + b.
constexpr uint16_t kCffOpEscape = 256;

class CffDictHandler {
public:
    virtual ~CffDictHandler() = default;
    virtual void release() {}
    // operands[i] is the value, or for isReal[i] == 1 the 16.16 value. A non-zero result stops the parse.
    [[nodiscard]] virtual int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                             const int32_t* operands) = 0;
};

// Parses data[0 .. length - 1]; 0, kFontDataError, or the first non-zero handler status.
[[nodiscard]] int16_t parseCffDict(CffDictHandler& handler, const uint8_t* data, uint32_t length);

// Converts the text of a real operand ("-1.5E-3") into 16.16; false when the text is not a number of the
// accepted form or is out of range. Accepted: an optional leading '-', digits with at most one '.', then
// optionally 'E' or 'e', an optional '-' and exponent digits. The mantissa's digits must form a positive
// i32, and the value must lie below 32767 in magnitude. Negative exponents round half up in magnitude, also
// below 10^-9 (5E-10 gives 0, 2147483647E-10 gives 14074).
[[nodiscard]] bool parseCffReal(const char* text, uint32_t length, Fixed& value);
