// Exact integer arithmetic for the font code: 16.16 fixed point (value x 65536) and 64-bit intermediates
// passed as two 32-bit words, high word first. No floating point anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

using Fixed = int32_t;
constexpr Fixed kFixedOne = 0x10000;

// Statuses of these routines; callers map a non-zero one to their own failure.
constexpr int16_t kMathOk = 0;
constexpr int16_t kMathDivideByZero = 4;
constexpr int16_t kMathOverflow = 6;

// The long divisions' masks: entry n = 2^n - 1, n = 0..32.
extern const uint32_t kLowBitMasks[33];

// out = the full 64-bit product of a and b (high word, low word).
void Mul32x32To64(uint32_t a, uint32_t b, uint32_t& outHigh, uint32_t& outLow);

// out = a x b / d rounded half up in magnitude; 0, 4 (d == 0, out = INT32_MAX) or 6 (the rounded quotient
// needs more than 31 bits, out = INT32_MAX). a or b zero gives 0 with status 0, even when d is 0.
[[nodiscard]] int16_t FixedMulDiv(int32_t a, int32_t b, int32_t d, int32_t& out);

// a x b / 65536 rounded half up in magnitude; 0 when the magnitude does not fit in 31 bits.
Fixed FixedMul(Fixed a, Fixed b);

// out = floor(sqrt(a) x 65536) for the integer a >= 0, computed digit by digit (callers refuse negative
// operands; they give 0). From a = 2^30 on the root no longer fits a Fixed and out saturates at INT32_MAX.
void FixedSqrt(Fixed a, Fixed& out);

// out = (high:low) / d for the signed 64-bit value high:low, rounded half up in magnitude, as a signed 64-bit
// value in two words. Status 0; 4 when d == 0 and the value is not (out = 0); 6 for -2^63 / -1, the one
// quotient no signed 64-bit value holds (out = 2^63 - 1).
[[nodiscard]] int16_t WideDivide(uint32_t high, uint32_t low, int32_t d, uint32_t& outHigh, uint32_t& outLow);

// Copies count bytes, source first; handles overlap in either direction. Moves 32-bit words when both
// addresses agree modulo 4, 16-bit units when they agree modulo 2, bytes otherwise.
void MoveBytes(const void* source, void* destination, size_t count);

// Sets count consecutive 32-bit words to 0.
void ZeroWords(uint32_t* destination, size_t count);
