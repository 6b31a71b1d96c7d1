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

// out = a x b / d rounded half up in magnitude; 0, 4 (d == 0, out = INT32_MAX) or 6 (quotient needs more than
// 31 bits, out = INT32_MAX).
[[nodiscard]] int16_t FixedMulDiv(int32_t a, int32_t b, int32_t d, int32_t& out);

// a x b / 65536 rounded half up in magnitude; 0 when the magnitude does not fit in 31 bits.
Fixed FixedMul(Fixed a, Fixed b);

// out = floor(sqrt(a) x 65536), a >= 0 (callers refuse negative operands).
void FixedSqrt(Fixed a, Fixed& out);

// out = (high:low) / d rounded half up in magnitude, as a signed 64-bit value in two words; status 0 or 4.
[[nodiscard]] int16_t WideDivide(uint32_t high, uint32_t low, int32_t d, uint32_t& outHigh, uint32_t& outLow);

// Copies count bytes, source first; handles overlap in either direction.
void MoveBytes(const void* source, void* destination, size_t count);

// Sets count consecutive 32-bit words to 0.
void ZeroWords(uint32_t* destination, size_t count);
