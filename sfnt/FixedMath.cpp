// Exact integer arithmetic for the font code. Magnitudes are taken in unsigned arithmetic (so |INT32_MIN| is
// 2^31, not an overflow), 64-bit intermediates travel as two 32-bit words, and the divisions are long
// divisions on a 32-bit remainder that bring the low word's bits in a few at a time.
#include "sfnt/FixedMath.h"

#include <cstring>

namespace {

constexpr uint32_t kInt32Max = 0x7FFFFFFFu;

// Words moved per block by the memory routines.
constexpr size_t kBlockWords = 256;

// |v| as an unsigned value; well defined for INT32_MIN.
uint32_t magnitude(int32_t v) {
    return v < 0 ? 0u - uint32_t(v) : uint32_t(v);
}

uint32_t leadingZeros(uint32_t v) {
    if (v == 0) return 32;
    uint32_t n = 0;
    while (!(v & 0x80000000u)) {
        v <<= 1;
        ++n;
    }
    return n;
}

// (high:low) / d for an unsigned divisor d in 1..2^31. The high word is divided first; then the remainder is
// shifted left by its leading zeros, as many top bits of the not yet consumed low word are brought in, the
// partial quotient lands at the bit position of the last bit brought in, and those bits are masked off the
// low word. Since the remainder is always below d <= 2^31 it has at least one leading zero, so every round
// consumes at least one bit.
void longDivide(uint32_t high, uint32_t low, uint32_t d, uint32_t& quotientHigh, uint32_t& quotientLow,
                uint32_t& remainder) {
    quotientHigh = high / d;
    uint32_t r = high % d;
    uint32_t q = 0;
    uint32_t bitsLeft = 32;  // low-word bits not yet brought down
    while (bitsLeft > 0) {
        uint32_t shift = leadingZeros(r);
        if (shift > bitsLeft) shift = bitsLeft;
        const uint32_t position = bitsLeft - shift;
        // The top `shift` bits of the remaining low bits; a 64-bit shift keeps a 32-bit step well defined.
        const uint32_t incoming = uint32_t(uint64_t(low) >> position);
        r = uint32_t(uint64_t(r) << shift) | incoming;
        low &= kLowBitMasks[position];
        bitsLeft = position;
        q += uint32_t(uint64_t(r / d) << position);
        r %= d;
    }
    quotientLow = q;
    remainder = r;
}

}  // namespace

const uint32_t kLowBitMasks[33] = {
    0x00000000u, 0x00000001u, 0x00000003u, 0x00000007u, 0x0000000Fu, 0x0000001Fu, 0x0000003Fu,
    0x0000007Fu, 0x000000FFu, 0x000001FFu, 0x000003FFu, 0x000007FFu, 0x00000FFFu, 0x00001FFFu,
    0x00003FFFu, 0x00007FFFu, 0x0000FFFFu, 0x0001FFFFu, 0x0003FFFFu, 0x0007FFFFu, 0x000FFFFFu,
    0x001FFFFFu, 0x003FFFFFu, 0x007FFFFFu, 0x00FFFFFFu, 0x01FFFFFFu, 0x03FFFFFFu, 0x07FFFFFFu,
    0x0FFFFFFFu, 0x1FFFFFFFu, 0x3FFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu,
};

void Mul32x32To64(uint32_t a, uint32_t b, uint32_t& outHigh, uint32_t& outLow) {
    const uint32_t aHigh = a >> 16, aLow = a & 0xFFFFu;
    const uint32_t bHigh = b >> 16, bLow = b & 0xFFFFu;
    const uint32_t lowLow = aLow * bLow;
    const uint32_t lowHigh = aLow * bHigh;
    const uint32_t highLow = aHigh * bLow;
    const uint32_t highHigh = aHigh * bHigh;
    // Middle column: the two cross products and the top half of lowLow, each below 2^32 - 2^17 + 1; add
    // them in two steps and count the carries out of 32 bits.
    uint32_t middle = lowHigh + (lowLow >> 16);  // cannot carry: (2^16 - 1)^2 + 2^16 - 1 < 2^32
    uint32_t carry = 0;
    middle += highLow;
    if (middle < highLow) carry = 1;
    outLow = (middle << 16) | (lowLow & 0xFFFFu);
    outHigh = highHigh + (middle >> 16) + (carry << 16);
}

int16_t FixedMulDiv(int32_t a, int32_t b, int32_t d, int32_t& out) {
    if (a == 0 || b == 0) {
        out = 0;
        return kMathOk;
    }
    if (d == 0) {
        out = int32_t(kInt32Max);
        return kMathDivideByZero;
    }
    uint32_t high = 0, low = 0;
    Mul32x32To64(magnitude(a), magnitude(b), high, low);
    const uint32_t divisor = magnitude(d);
    uint32_t quotientHigh = 0, quotient = 0, remainder = 0;
    longDivide(high, low, divisor, quotientHigh, quotient, remainder);
    if (quotientHigh != 0 || quotient > kInt32Max) {
        out = int32_t(kInt32Max);
        return kMathOverflow;
    }
    // Half up in magnitude; 2 x remainder is compared without doubling (remainder < divisor <= 2^31).
    if (remainder >= divisor - remainder) ++quotient;
    // Rounding can carry the magnitude to 2^31 (0x55555555 x 3 / 2); that no longer fits 31 bits either,
    // and as a positive i32 it would read as INT32_MIN, so it is an overflow as well.
    if (quotient > kInt32Max) {
        out = int32_t(kInt32Max);
        return kMathOverflow;
    }
    const bool negative = ((a < 0) != (b < 0)) != (d < 0);
    out = negative ? -int32_t(quotient) : int32_t(quotient);
    return kMathOk;
}

Fixed FixedMul(Fixed a, Fixed b) {
    if (a == 0 || b == 0) return 0;
    uint32_t high = 0, low = 0;
    Mul32x32To64(magnitude(a), magnitude(b), high, low);
    // The product shifted right by 16 must fit 31 bits: high below 2^15.
    if (high >= 0x8000u) return 0;
    uint32_t result = (high << 16) | (low >> 16);
    if (low & 0x8000u) ++result;  // half up in magnitude
    if (result > kInt32Max) return 0;
    return ((a < 0) != (b < 0)) ? -int32_t(result) : int32_t(result);
}

void FixedSqrt(Fixed a, Fixed& out) {
    if (a <= 0) {  // callers refuse negative operands; give them 0 rather than garbage
        out = 0;
        return;
    }
    // sqrt(a) x 65536 = sqrt(a x 2^32). Take a x 2^32 a byte (two base-16 digits) at a time from the top;
    // each byte yields one hexadecimal digit of the root.
    const uint64_t radicand = uint64_t(uint32_t(a)) << 32;
    uint64_t root = 0, remainder = 0;
    for (int shift = 56; shift >= 0; shift -= 8) {
        remainder = (remainder << 8) | ((radicand >> shift) & 0xFFu);
        uint64_t digit = 15;
        while ((2 * root * 16 + digit) * digit > remainder) --digit;
        remainder -= (2 * root * 16 + digit) * digit;
        root = root * 16 + digit;
    }
    // From a = 2^30 on the root is 2^31 or more and no longer a Fixed: saturate instead of wrapping to a
    // negative value.
    out = root > kInt32Max ? int32_t(kInt32Max) : int32_t(root);
}

int16_t WideDivide(uint32_t high, uint32_t low, int32_t d, uint32_t& outHigh, uint32_t& outLow) {
    if (high == 0 && low == 0) {
        outHigh = outLow = 0;
        return kMathOk;
    }
    if (d == 0) {
        outHigh = outLow = 0;
        return kMathDivideByZero;
    }
    const bool valueNegative = (high & 0x80000000u) != 0;
    if (valueNegative) {  // two's complement negation over both words
        low = 0u - low;
        high = ~high + (low == 0 ? 1u : 0u);
    }
    const uint32_t divisor = magnitude(d);
    uint32_t quotientHigh = 0, quotientLow = 0, remainder = 0;
    longDivide(high, low, divisor, quotientHigh, quotientLow, remainder);
    if (remainder >= divisor - remainder) {  // half up in magnitude, carry into the high word
        ++quotientLow;
        if (quotientLow == 0) ++quotientHigh;
    }
    // Only -2^63 / -1 gives a magnitude of 2^63 with a positive sign, which no signed 64-bit value holds.
    const bool negative = valueNegative != (d < 0);
    if (!negative && (quotientHigh & 0x80000000u)) {
        outHigh = kInt32Max;
        outLow = 0xFFFFFFFFu;
        return kMathOverflow;
    }
    if (negative) {
        quotientLow = 0u - quotientLow;
        quotientHigh = ~quotientHigh + (quotientLow == 0 ? 1u : 0u);
    }
    outHigh = quotientHigh;
    outLow = quotientLow;
    return kMathOk;
}

namespace {

// Moves of `count` units of 1, 2 or 4 bytes, forwards (from the first unit) or backwards (from the last).
// Units go through memcpy into a local, so no pointer is ever dereferenced at a type its address may not
// be aligned for; with pointers that share their alignment the compiler turns these into plain loads and
// stores.
template <size_t Unit>
void moveUnitsForward(const uint8_t*& source, uint8_t*& destination, size_t count) {
    while (count > 0) {
        const size_t block = count < kBlockWords ? count : kBlockWords;
        for (size_t i = 0; i < block; ++i) {
            uint8_t unit[Unit];
            std::memcpy(unit, source, Unit);
            std::memcpy(destination, unit, Unit);
            source += Unit;
            destination += Unit;
        }
        count -= block;
    }
}

template <size_t Unit>
void moveUnitsBackward(const uint8_t*& sourceEnd, uint8_t*& destinationEnd, size_t count) {
    while (count > 0) {
        const size_t block = count < kBlockWords ? count : kBlockWords;
        for (size_t i = 0; i < block; ++i) {
            sourceEnd -= Unit;
            destinationEnd -= Unit;
            uint8_t unit[Unit];
            std::memcpy(unit, sourceEnd, Unit);
            std::memcpy(destinationEnd, unit, Unit);
        }
        count -= block;
    }
}

// The unit both pointers can share: 4 when their addresses agree modulo 4, 2 when they agree modulo 2.
size_t sharedUnit(const void* a, const void* b) {
    const uintptr_t difference = reinterpret_cast<uintptr_t>(a) ^ reinterpret_cast<uintptr_t>(b);
    if ((difference & 3u) == 0) return 4;
    if ((difference & 1u) == 0) return 2;
    return 1;
}

}  // namespace

void MoveBytes(const void* source, void* destination, size_t count) {
    if (count == 0 || source == destination) return;
    const uint8_t* from = static_cast<const uint8_t*>(source);
    uint8_t* to = static_cast<uint8_t*>(destination);
    const uintptr_t fromAddress = reinterpret_cast<uintptr_t>(from);
    const uintptr_t toAddress = reinterpret_cast<uintptr_t>(to);
    const size_t unit = sharedUnit(from, to);

    if (toAddress > fromAddress && toAddress - fromAddress < count) {
        // The destination starts inside the source: copy from the end so no byte is overwritten before it
        // has been read. Head (here: the end) bytes until the end addresses are aligned to the unit.
        const uint8_t* fromEnd = from + count;
        uint8_t* toEnd = to + count;
        size_t left = count;
        while (left > 0 && (reinterpret_cast<uintptr_t>(fromEnd) & (unit - 1)) != 0) {
            *--toEnd = *--fromEnd;
            --left;
        }
        if (unit == 4) {
            moveUnitsBackward<4>(fromEnd, toEnd, left / 4);
            left %= 4;
        } else if (unit == 2) {
            moveUnitsBackward<2>(fromEnd, toEnd, left / 2);
            left %= 2;
        }
        while (left > 0) {
            *--toEnd = *--fromEnd;
            --left;
        }
        return;
    }

    size_t left = count;
    while (left > 0 && (reinterpret_cast<uintptr_t>(from) & (unit - 1)) != 0) {
        *to++ = *from++;
        --left;
    }
    if (unit == 4) {
        moveUnitsForward<4>(from, to, left / 4);
        left %= 4;
    } else if (unit == 2) {
        moveUnitsForward<2>(from, to, left / 2);
        left %= 2;
    }
    while (left > 0) {
        *to++ = *from++;
        --left;
    }
}

void ZeroWords(uint32_t* destination, size_t count) {
    while (count > 0) {
        const size_t block = count < kBlockWords ? count : kBlockWords;
        std::memset(destination, 0, block * sizeof(uint32_t));
        destination += block;
        count -= block;
    }
}
