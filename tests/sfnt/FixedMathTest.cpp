#include "sfnt/FixedMath.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

__extension__ typedef __int128 Int128;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Reference a x b / d, rounded half up in magnitude, in 64/128-bit arithmetic.
struct MulDivResult {
    int16_t status;
    int32_t out;
};
MulDivResult referenceMulDiv(int32_t a, int32_t b, int32_t d) {
    if (a == 0 || b == 0) return {0, 0};
    if (d == 0) return {4, kMax};
    const Int128 product = Int128(a) * b;
    const Int128 magnitude = product < 0 ? -product : product;
    const Int128 divisor = d < 0 ? -Int128(d) : Int128(d);
    Int128 q = magnitude / divisor;
    if (2 * (magnitude % divisor) >= divisor) ++q;
    if (q > kMax) return {6, kMax};
    const bool negative = (product < 0) != (d < 0);
    return {0, int32_t(negative ? -q : q)};
}

int32_t referenceFixedMul(int32_t a, int32_t b) {
    const int64_t product = int64_t(a) * b;
    const uint64_t magnitude = product < 0 ? uint64_t(-product) : uint64_t(product);
    uint64_t q = magnitude >> 16;
    if (magnitude & 0x8000u) ++q;
    if (q > uint64_t(kMax)) return 0;
    return product < 0 ? -int32_t(q) : int32_t(q);
}

uint64_t isqrt(uint64_t v) {
    uint64_t lo = 0, hi = 1ull << 32;  // sqrt(2^64) bound
    while (lo < hi) {                  // largest r with r^2 <= v
        const uint64_t mid = lo + (hi - lo + 1) / 2;
        if (Int128(mid) * mid <= Int128(v))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

struct WideResult {
    int16_t status;
    uint32_t high, low;
};
WideResult referenceWideDivide(uint32_t high, uint32_t low, int32_t d) {
    const int64_t value = int64_t((uint64_t(high) << 32) | low);
    if (value == 0) return {0, 0, 0};
    if (d == 0) return {4, 0, 0};
    const Int128 magnitude = value < 0 ? -Int128(value) : Int128(value);
    const Int128 divisor = d < 0 ? -Int128(d) : Int128(d);
    Int128 q = magnitude / divisor;
    if (2 * (magnitude % divisor) >= divisor) ++q;
    const bool negative = (value < 0) != (d < 0);
    if (!negative && q > std::numeric_limits<int64_t>::max()) return {6, 0x7FFFFFFFu, 0xFFFFFFFFu};
    const uint64_t bits = uint64_t(negative ? -q : q);
    return {0, uint32_t(bits >> 32), uint32_t(bits)};
}

// Values that stress carries and boundaries, plus random ones of every magnitude.
std::vector<int32_t> interestingValues(std::mt19937& rng, size_t randomCount) {
    std::vector<int32_t> v = {0,          1,           -1,     2,      -2,         3,
                              -3,         0x7FFF,      0x8000, 0xFFFF, 0x10000,    -0x10000,
                              0x10001,    0x55555555,  kMax,   kMin,   kMax - 1,   kMin + 1,
                              0x40000000, -0x40000000, 46341,  -46341, 0x7FFF0000, 1000000000};
    for (size_t i = 0; i < randomCount; ++i) {
        const uint32_t bits = uint32_t(rng());
        const unsigned width = rng() % 32;  // spread over magnitudes, not just huge values
        int32_t x = int32_t(bits >> (31 - width));
        if ((rng() & 1) && x != kMin) x = -x;
        v.push_back(x);
    }
    return v;
}

}  // namespace

TEST(FixedMathTest, MaskTableHoldsLowBitMasks) {
    for (unsigned n = 0; n <= 32; ++n) EXPECT_EQ(kLowBitMasks[n], uint32_t((uint64_t(1) << n) - 1)) << n;
}

TEST(FixedMathTest, Mul32x32To64MatchesNativeProduct) {
    std::mt19937 rng(12345);
    std::vector<uint32_t> values = {0,           1,           2,           0xFFFF,      0x10000,    0x1FFFF,
                                    0xFFFFFFFFu, 0xFFFF0000u, 0x8000FFFFu, 0x80000000u, 0x7FFFFFFFu};
    for (int i = 0; i < 2000; ++i) values.push_back(uint32_t(rng()));
    for (size_t i = 0; i < values.size(); ++i) {
        for (size_t j = 0; j < values.size(); j += 7) {
            uint32_t high = 0, low = 0;
            Mul32x32To64(values[i], values[j], high, low);
            const uint64_t expected = uint64_t(values[i]) * values[j];
            ASSERT_EQ((uint64_t(high) << 32) | low, expected) << values[i] << " x " << values[j];
        }
    }
}

TEST(FixedMathTest, FixedMulDivKnownCases) {
    int32_t out = 0;
    EXPECT_EQ(FixedMulDiv(kFixedOne, 3, 2, out), kMathOk);
    EXPECT_EQ(out, kFixedOne + kFixedOne / 2);
    EXPECT_EQ(FixedMulDiv(-3, 1, 2, out), kMathOk);
    EXPECT_EQ(out, -2);  // -1.5 rounds away from zero
    EXPECT_EQ(FixedMulDiv(3, 1, 2, out), kMathOk);
    EXPECT_EQ(out, 2);
    EXPECT_EQ(FixedMulDiv(5, 1, 3, out), kMathOk);
    EXPECT_EQ(out, 2);  // 1.67
    EXPECT_EQ(FixedMulDiv(4, 1, 3, out), kMathOk);
    EXPECT_EQ(out, 1);  // 1.33

    EXPECT_EQ(FixedMulDiv(kMax, 2, 1, out), kMathOverflow);
    EXPECT_EQ(out, kMax);
    EXPECT_EQ(FixedMulDiv(5, 7, 0, out), kMathDivideByZero);
    EXPECT_EQ(out, kMax);
    out = 99;
    EXPECT_EQ(FixedMulDiv(0, 7, 0, out), kMathOk);  // a zero factor wins over a zero divisor
    EXPECT_EQ(out, 0);
    EXPECT_EQ(FixedMulDiv(7, 0, 3, out), kMathOk);
    EXPECT_EQ(out, 0);

    // INT32_MIN operands: magnitudes are 2^31.
    EXPECT_EQ(FixedMulDiv(kMin, 1, kMin, out), kMathOk);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(FixedMulDiv(kMin, kMin, kMin, out), kMathOverflow);  // 2^31 does not fit 31 bits
    EXPECT_EQ(FixedMulDiv(kMin, 1, 1, out), kMathOverflow);
    EXPECT_EQ(FixedMulDiv(kMin, 1, -2, out), kMathOk);
    EXPECT_EQ(out, 0x40000000);
    EXPECT_EQ(FixedMulDiv(kMax, kMax, kMax, out), kMathOk);
    EXPECT_EQ(out, kMax);
    EXPECT_EQ(FixedMulDiv(kMax, -kMax, kMax, out), kMathOk);
    EXPECT_EQ(out, -kMax);
}

TEST(FixedMathTest, FixedMulDivRoundingIntoBit31IsAnOverflow) {
    // 0x55555555 x 3 / 2 = 0x7FFFFFFF.8: the rounded magnitude 2^31 fits no positive i32.
    int32_t out = 0;
    EXPECT_EQ(FixedMulDiv(0x55555555, 3, 2, out), kMathOverflow);
    EXPECT_EQ(out, kMax);
    EXPECT_EQ(FixedMulDiv(0x55555555, -3, 2, out), kMathOverflow);
    EXPECT_EQ(out, kMax);
    EXPECT_EQ(FixedMulDiv(0x55555555, 3, 3, out), kMathOk);
    EXPECT_EQ(out, 0x55555555);
}

TEST(FixedMathTest, FixedMulDivMatchesWideReferenceOnRandomValues) {
    std::mt19937 rng(20240611);
    const std::vector<int32_t> values = interestingValues(rng, 150);
    size_t checked = 0;
    for (int32_t a : values)
        for (int32_t b : values)
            for (size_t k = 0; k < values.size(); k += 9) {
                const int32_t d = values[(k + size_t(uint32_t(a)) % 5) % values.size()];
                int32_t out = 12345;
                const int16_t status = FixedMulDiv(a, b, d, out);
                const MulDivResult expected = referenceMulDiv(a, b, d);
                ASSERT_EQ(status, expected.status) << a << " " << b << " " << d;
                ASSERT_EQ(out, expected.out) << a << " " << b << " " << d;
                ++checked;
            }
    EXPECT_GT(checked, 100000u);
    // Divisors of every magnitude, products that nearly fill 64 bits.
    for (int i = 0; i < 200000; ++i) {
        const int32_t a = int32_t(rng()), b = int32_t(rng());
        const int32_t d = int32_t(rng()) >> (rng() % 32);
        int32_t out = 0;
        const int16_t status = FixedMulDiv(a, b, d, out);
        const MulDivResult expected = referenceMulDiv(a, b, d);
        ASSERT_EQ(status, expected.status) << a << " " << b << " " << d;
        ASSERT_EQ(out, expected.out) << a << " " << b << " " << d;
    }
}

TEST(FixedMathTest, FixedMulKnownCasesAndReference) {
    EXPECT_EQ(FixedMul(kFixedOne, kFixedOne), kFixedOne);
    EXPECT_EQ(FixedMul(kMax, kMax), 0);  // overflow gives 0, not a saturated value
    EXPECT_EQ(FixedMul(kMin, kMin), 0);
    EXPECT_EQ(FixedMul(kMin, kFixedOne), 0);  // magnitude 2^31 does not fit 31 bits
    EXPECT_EQ(FixedMul(kMax, kFixedOne), kMax);
    EXPECT_EQ(FixedMul(0, kMax), 0);
    EXPECT_EQ(FixedMul(3 * kFixedOne / 2, -2 * kFixedOne), -3 * kFixedOne);
    EXPECT_EQ(FixedMul(1, kFixedOne / 2), 1);    // 0.5 in raw units rounds up
    EXPECT_EQ(FixedMul(-1, kFixedOne / 2), -1);  // and away from zero
    EXPECT_EQ(FixedMul(1, kFixedOne / 2 - 1), 0);
    std::mt19937 rng(777);
    const std::vector<int32_t> values = interestingValues(rng, 600);
    for (int32_t a : values)
        for (int32_t b : values) ASSERT_EQ(FixedMul(a, b), referenceFixedMul(a, b)) << a << " x " << b;
}

TEST(FixedMathTest, FixedSqrtIsFloorOfRootInFixed) {
    Fixed out = -1;
    FixedSqrt(4, out);
    EXPECT_EQ(out, 2 * kFixedOne);
    FixedSqrt(0, out);
    EXPECT_EQ(out, 0);
    FixedSqrt(1, out);
    EXPECT_EQ(out, kFixedOne);
    FixedSqrt(2, out);
    EXPECT_EQ(out, 92681);  // 1.41421356 x 65536 = 92681.9
    FixedSqrt(-5, out);
    EXPECT_EQ(out, 0);
    // The largest operand whose root still fits a Fixed, and the first that saturates.
    FixedSqrt(0x3FFFFFFF, out);
    EXPECT_EQ(out, int32_t(isqrt(uint64_t(0x3FFFFFFF) << 32)));
    FixedSqrt(0x40000000, out);
    EXPECT_EQ(out, kMax);
    FixedSqrt(kMax, out);
    EXPECT_EQ(out, kMax);

    std::mt19937 rng(99);
    std::vector<int32_t> values;
    for (int32_t i = 0; i < 5000; ++i) values.push_back(i);
    for (int32_t r = 2; r < 32768; r += 97) {  // around perfect squares
        values.push_back(r * r - 1);
        values.push_back(r * r);
        values.push_back(r * r + 1);
    }
    for (int i = 0; i < 100000; ++i) values.push_back(int32_t(rng() & 0x3FFFFFFFu) >> (rng() % 30));
    for (int32_t a : values) {
        FixedSqrt(a, out);
        ASSERT_EQ(out, int32_t(isqrt(uint64_t(a) << 32))) << a;
    }
}

TEST(FixedMathTest, WideDivideKnownCases) {
    uint32_t high = 1, low = 1;
    EXPECT_EQ(WideDivide(0, 0, 0, high, low), kMathOk);  // zero value wins over a zero divisor
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(WideDivide(0, 5, 0, high, low), kMathDivideByZero);
    EXPECT_EQ(WideDivide(0, 7, 2, high, low), kMathOk);
    EXPECT_EQ(low, 4u);                                                      // 3.5 rounds up
    EXPECT_EQ(WideDivide(0xFFFFFFFFu, 0xFFFFFFF9u, 2, high, low), kMathOk);  // -7 / 2 = -3.5 -> -4
    EXPECT_EQ(high, 0xFFFFFFFFu);
    EXPECT_EQ(low, 0xFFFFFFFCu);
    EXPECT_EQ(WideDivide(0, 0xFFFFFFFFu, 1, high, low), kMathOk);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0xFFFFFFFFu);
    // Rounding carries into the high word: (2^33 - 1) / 2 = 2^32 - 0.5 -> 2^32.
    EXPECT_EQ(WideDivide(1, 0xFFFFFFFFu, 2, high, low), kMathOk);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(low, 0u);
    // -2^63 / -1 has no signed 64-bit result.
    EXPECT_EQ(WideDivide(0x80000000u, 0, -1, high, low), kMathOverflow);
    EXPECT_EQ(high, 0x7FFFFFFFu);
    EXPECT_EQ(low, 0xFFFFFFFFu);
    EXPECT_EQ(WideDivide(0x80000000u, 0, 1, high, low), kMathOk);
    EXPECT_EQ(high, 0x80000000u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(WideDivide(0x80000000u, 0, kMin, high, low), kMathOk);  // -2^63 / -2^31 = 2^32
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(low, 0u);
}

TEST(FixedMathTest, WideDivideMatchesWideReferenceOnRandomValues) {
    std::mt19937_64 rng(4242);
    std::vector<uint64_t> values = {0,
                                    1,
                                    uint64_t(-1),
                                    uint64_t(1) << 63,
                                    (uint64_t(1) << 63) - 1,
                                    0xFFFFFFFFull,
                                    0x100000000ull,
                                    uint64_t(-0x100000000ll)};
    for (int i = 0; i < 3000; ++i) values.push_back(rng() >> (rng() % 64));
    std::vector<int32_t> divisors = {1, -1, 2, -2, 3, 7, kMax, kMin, kMin + 1, 65536, -65536, 10, 1000000007};
    for (int i = 0; i < 60; ++i) divisors.push_back(int32_t(uint32_t(rng())) >> (rng() % 32));
    for (uint64_t v : values)
        for (int32_t d : divisors) {
            uint32_t high = 0, low = 0;
            const int16_t status = WideDivide(uint32_t(v >> 32), uint32_t(v), d, high, low);
            const WideResult expected = referenceWideDivide(uint32_t(v >> 32), uint32_t(v), d);
            ASSERT_EQ(status, expected.status) << v << " / " << d;
            ASSERT_EQ(high, expected.high) << v << " / " << d;
            ASSERT_EQ(low, expected.low) << v << " / " << d;
        }
}

TEST(FixedMathTest, MoveBytesShiftsUpByOneWithoutSmearing) {
    uint8_t buffer[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    MoveBytes(buffer, buffer + 1, 10);
    const uint8_t expected[12] = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
}

TEST(FixedMathTest, MoveBytesMatchesMemmoveForAllSmallOverlapsAndAlignments) {
    constexpr size_t kSize = 80;
    alignas(8) uint8_t buffer[kSize];
    uint8_t expected[kSize];
    size_t cases = 0;
    for (size_t from = 0; from < 12; ++from)
        for (size_t to = 0; to < 12; ++to)
            for (size_t count = 0; count <= 64; ++count) {
                for (size_t i = 0; i < kSize; ++i) buffer[i] = uint8_t(i * 7 + 3);
                std::memcpy(expected, buffer, kSize);
                std::memmove(expected + to, expected + from, count);
                MoveBytes(buffer + from, buffer + to, count);
                ASSERT_EQ(std::memcmp(buffer, expected, kSize), 0)
                    << "from " << from << " to " << to << " count " << count;
                ++cases;
            }
    EXPECT_EQ(cases, 12u * 12u * 65u);
}

TEST(FixedMathTest, MoveBytesLongRunsInBothDirectionsAndBetweenBuffers) {
    // More than one block of 256 words, overlapping either way, at every relative alignment.
    constexpr size_t kSize = 5000;
    std::vector<uint8_t> buffer(kSize), expected(kSize);
    for (size_t from : {0u, 1u, 2u, 3u, 600u, 601u, 602u, 603u})
        for (size_t to : {0u, 1u, 2u, 3u, 5u, 600u, 602u, 1203u})
            for (size_t count : {1023u, 1024u, 2049u, 3333u}) {
                for (size_t i = 0; i < kSize; ++i) buffer[i] = uint8_t(i ^ (i >> 8));
                expected = buffer;
                std::memmove(expected.data() + to, expected.data() + from, count);
                MoveBytes(buffer.data() + from, buffer.data() + to, count);
                ASSERT_EQ(buffer, expected) << "from " << from << " to " << to << " count " << count;
            }
    std::vector<uint8_t> source(3001), destination(3004, 0xEE);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 13);
    MoveBytes(source.data() + 1, destination.data() + 3, 3000);
    EXPECT_EQ(std::memcmp(destination.data() + 3, source.data() + 1, 3000), 0);
    EXPECT_EQ(destination[0], 0xEE);
    EXPECT_EQ(destination[2], 0xEE);
    EXPECT_EQ(destination[3003], 0xEE);
}

TEST(FixedMathTest, ZeroWordsClearsExactlyCountWords) {
    for (size_t count : {0u, 1u, 255u, 256u, 257u, 700u}) {
        std::vector<uint32_t> words(count + 2, 0xDEADBEEFu);
        ZeroWords(words.data() + 1, count);
        EXPECT_EQ(words.front(), 0xDEADBEEFu);
        EXPECT_EQ(words.back(), 0xDEADBEEFu);
        for (size_t i = 1; i <= count; ++i) ASSERT_EQ(words[i], 0u) << count << " " << i;
    }
}
