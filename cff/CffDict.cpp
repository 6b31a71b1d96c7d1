// CFF DICT parser. A DICT is a sequence of operands followed by their operator:
//   0..21         operator (12 b is the two-byte operator 256 + b)
//   28 hi lo      16-bit signed integer
//   29 b1..b4     32-bit signed integer
//   30 nibbles    real number, ended by a 0xF nibble
//   32..246       b0 - 139
//   247..250 b1   (b0 - 247) x 256 + b1 + 108
//   251..254 b1   -(b0 - 251) x 256 - b1 - 108
//   22..27, 31, 255 reserved
// Operand counts are checked against one fixed table for every operator, so a DICT that one handler
// accepts is structurally acceptable to all. Nothing here allocates: operands and the real's text live on
// the stack.
#include "cff/CffDict.h"

#include "sfnt/ByteReader.h"

namespace {

// How an operator's operand count is judged.
enum class Rule : uint8_t {
    kError,    // reserved operator: the DICT is malformed
    kIgnored,  // operands dropped, no handler call
    kOne,      // exactly 1
    kTwo,      // exactly 2
    kThree,    // exactly 3
    kFour,     // exactly 4
    kSix,      // exactly 6
    kUpTo14,   // 0..14, all passed on
};

// Most operands a delta-array operator (BlueValues, StemSnapH …) may carry.
constexpr uint16_t kCffMaxDeltaOperands = 14;

Rule ruleFor(uint16_t op) {
    if (op < kCffOpEscape) {
        switch (op) {
            case 5:
                return Rule::kFour;  // FontBBox
            case 6:                  // BlueValues
            case 7:                  // OtherBlues
            case 14:                 // XUID
                return Rule::kUpTo14;
            case 8:  // FamilyBlues
            case 9:  // FamilyOtherBlues
                return Rule::kIgnored;
            case 12:
                return Rule::kError;  // the escape itself never gets here
            case 18:
                return Rule::kTwo;  // Private: size, offset
            default:
                return op <= 21 ? Rule::kOne : Rule::kError;
        }
    }
    const uint16_t b = uint16_t(op - kCffOpEscape);
    if (b <= 6) return Rule::kOne;       // notice string .. CharstringType
    if (b == 7) return Rule::kSix;       // FontMatrix
    if (b <= 11) return Rule::kOne;      // StrokeWidth, BlueScale, BlueShift, BlueFuzz
    if (b <= 13) return Rule::kUpTo14;   // StemSnapH, StemSnapV
    if (b == 14) return Rule::kOne;      // ForceBold
    if (b == 15) return Rule::kIgnored;  // reserved, tolerated
    if (b == 16) return Rule::kError;    // reserved
    if (b <= 21) return Rule::kOne;      // LanguageGroup .. PostScript
    if (b <= 23) return Rule::kIgnored;  // BaseFontName, BaseFontBlend
    if (b <= 29) return Rule::kError;    // reserved
    if (b == 30) return Rule::kThree;    // ROS
    if (b <= 38) return Rule::kOne;      // CIDFontVersion .. FontName
    return Rule::kError;                 // reserved
}

// Checks `count` against the rule; on success `passed` is the number of operands the handler sees.
bool countFits(Rule rule, uint16_t count, uint16_t& passed) {
    switch (rule) {
        case Rule::kOne:
            passed = 1;
            break;
        case Rule::kTwo:
            passed = 2;
            break;
        case Rule::kThree:
            passed = 3;
            break;
        case Rule::kFour:
            passed = 4;
            break;
        case Rule::kSix:
            passed = 6;
            break;
        case Rule::kUpTo14:
            passed = count;
            return count <= kCffMaxDeltaOperands;
        case Rule::kError:
        case Rule::kIgnored:
            return false;
    }
    return count == passed;
}

// Nibble translation of real operands; 0xC expands to "E-".
constexpr char kRealNibbleText[] = "0123456789.EE*-*";

// Reads the nibbles of a real operand that follow in `r` into `text`, up to and including the byte that
// holds the 0xF end nibble. False when the data ends before a 0xF nibble or the text would pass
// kCffMaxRealText characters.
bool readRealText(ByteReader& r, char* text, uint32_t& textLength) {
    textLength = 0;
    auto append = [&](uint8_t nibble) {
        const uint32_t needed = nibble == 0xC ? 2 : 1;
        if (textLength + needed > kCffMaxRealText) return false;
        text[textLength++] = kRealNibbleText[nibble];
        if (nibble == 0xC) text[textLength++] = '-';
        return true;
    };
    while (r.remaining() > 0) {
        const uint8_t byte = r.u8();
        const uint8_t high = uint8_t(byte >> 4), low = uint8_t(byte & 0xF);
        if (high == 0xF) return true;
        if (!append(high)) return false;
        if (low == 0xF) return true;
        if (!append(low)) return false;
    }
    return false;  // no end nibble
}

}  // namespace

int16_t parseCffDict(CffDictHandler& handler, const uint8_t* data, uint32_t length) {
    int32_t operands[kCffMaxDictOperands];
    uint8_t isReal[kCffMaxDictOperands];
    uint16_t count = 0;
    ByteReader r(data, length);

    // Each read below is bounds-checked by the reader; a read past the end latches !ok(), which is tested
    // once per operand or operator.
    while (r.remaining() > 0) {
        const uint8_t b0 = r.u8();
        if (b0 <= 21) {
            uint16_t op = b0;
            if (b0 == 12) {
                op = uint16_t(kCffOpEscape + r.u8());
                if (!r.ok()) return KORV_FAIL(kFontDataError);
            }
            const Rule rule = ruleFor(op);
            if (rule == Rule::kIgnored) {
                count = 0;
                continue;
            }
            uint16_t passed = 0;
            if (!countFits(rule, count, passed)) return KORV_FAIL(kFontDataError);
            const int16_t status = handler.onOperator(op, passed, isReal, operands);
            if (status != 0) return status;
            count = 0;
            continue;
        }

        int32_t value = 0;
        uint8_t real = 0;
        if (b0 >= 32 && b0 <= 246) {
            value = int32_t(b0) - 139;
        } else if (b0 >= 247 && b0 <= 250) {
            value = (int32_t(b0) - 247) * 256 + r.u8() + 108;
        } else if (b0 >= 251 && b0 <= 254) {
            value = -(int32_t(b0) - 251) * 256 - r.u8() - 108;
        } else if (b0 == 28) {
            value = r.s16();
        } else if (b0 == 29) {
            value = r.s32();
        } else if (b0 == 30) {
            char text[kCffMaxRealText];
            uint32_t textLength = 0;
            if (!readRealText(r, text, textLength)) return KORV_FAIL(kFontDataError);
            if (!parseCffReal(text, textLength, value)) return KORV_FAIL(kFontDataError);
            real = 1;
        } else {
            return KORV_FAIL(kFontDataError);  // 22..27, 31, 255
        }
        if (!r.ok()) return KORV_FAIL(kFontDataError);  // an operand cut short by the end of the data
        if (count >= kCffMaxDictOperands) return KORV_FAIL(kFontDataError);
        operands[count] = value;
        isReal[count] = real;
        ++count;
    }
    return 0;  // operands after the last operator are dropped
}

namespace {

// Beyond this many exponent digits the exponent saturates. It is larger than any text (at most 2^32 - 1
// characters) can offset with fraction digits, so a saturated exponent still has the right sign and is far
// outside the range where a non-zero mantissa gives an in-range result.
constexpr int64_t kCffRealExponentCap = 10000000000;

// Largest value a positive real may reach before it is scaled to 16.16 (32767 itself is out of range).
constexpr int32_t kCffRealIntegerLimit = 32767;

// 10^n for n = 0..19 (10^19 is the largest power of ten below 2^64).
constexpr uint64_t powerOfTen(unsigned n) {
    uint64_t v = 1;
    for (unsigned i = 0; i < n; ++i) v *= 10;
    return v;
}

}  // namespace

bool parseCffReal(const char* text, uint32_t length, Fixed& value) {
    value = 0;
    enum class State { kInteger, kFraction, kExponent, kNegativeExponent };
    State state = State::kInteger;
    uint32_t i = 0;
    bool negative = false;
    if (length > 0 && text[0] == '-') {
        negative = true;
        i = 1;
    }
    int32_t mantissa = 0;
    // 64-bit: one step per fraction digit can run to -(2^32 - 1); exponent digits saturate at the cap.
    int64_t decimalExponent = 0;
    int64_t exponentDigits = 0;
    for (; i < length; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            const int32_t digit = c - '0';
            if (state == State::kInteger || state == State::kFraction) {
                // mantissa x 10 + digit must stay a positive i32: 214748364 takes the digits 0..7 only.
                if (mantissa > (INT32_MAX - digit) / 10) return false;
                mantissa = mantissa * 10 + digit;
                if (state == State::kFraction) --decimalExponent;
            } else {
                exponentDigits = exponentDigits * 10 + digit;
                if (exponentDigits > kCffRealExponentCap) exponentDigits = kCffRealExponentCap;
            }
        } else if (c == '.' && state == State::kInteger) {
            state = State::kFraction;
        } else if ((c == 'E' || c == 'e') && (state == State::kInteger || state == State::kFraction)) {
            state = State::kExponent;
        } else if (c == '-' && state == State::kExponent) {
            state = State::kNegativeExponent;
        } else {
            return false;
        }
    }
    if (state == State::kExponent) decimalExponent += exponentDigits;
    if (state == State::kNegativeExponent) decimalExponent -= exponentDigits;

    if (decimalExponent < 0) {
        if (decimalExponent >= -9) {
            // 10^-exponent fits 32 bits: the common path, rounded half up in magnitude.
            if (FixedMulDiv(mantissa, kFixedOne, int32_t(powerOfTen(unsigned(-decimalExponent))), value) != 0)
                return false;
        } else {
            // Below 10^-9 the divisor no longer fits 32 bits. The quotient then is at most
            // (2^31 - 1) x 2^16 / 10^10 < 14074, always in range: compute it exactly in 64 bits with the same
            // half-up rounding. From 10^-15 on mantissa x 65536 < 10^15 / 2, so the value rounds to 0 (5E-10
            // is 0 in 16.16, 2147483647E-10 is 14074).
            if (decimalExponent < -19) {
                value = 0;
            } else {
                const uint64_t divisor = powerOfTen(unsigned(-decimalExponent));
                const uint64_t scaled = uint64_t(mantissa) << 16;
                uint64_t quotient = scaled / divisor;
                if (scaled % divisor >= divisor - scaled % divisor) ++quotient;
                value = int32_t(quotient);
            }
        }
    } else {
        // mantissa x 10^exponent must stay below 32767: stop at the first step past it, and never loop
        // on a zero mantissa (0 x 10^n is 0 for any n).
        if (mantissa >= kCffRealIntegerLimit) return false;
        for (int64_t e = decimalExponent; e > 0 && mantissa != 0; --e) {
            mantissa *= 10;
            if (mantissa >= kCffRealIntegerLimit) return false;
        }
        value = mantissa * kFixedOne;
    }
    if (negative) value = -value;
    return true;
}
