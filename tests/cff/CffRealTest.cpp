#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "cff/CffDict.h"

namespace {

// parseCffReal on a string: the 16.16 value, or the marker kFailed.
constexpr int64_t kFailed = INT64_MIN;
int64_t real(const std::string& text) {
    Fixed value = 12345;
    if (!parseCffReal(text.data(), uint32_t(text.size()), value)) return kFailed;
    return value;
}

}  // namespace

TEST(CffRealTest, CommonForms) {
    EXPECT_EQ(real("1.5E2"), 150 * 65536);
    EXPECT_EQ(real(".5"), 32768);
    EXPECT_EQ(real("-2.25"), -147456);
    EXPECT_EQ(real("1E-3"), 66);  // 65.536 rounded
    EXPECT_EQ(real("1e2"), 100 * 65536);
    EXPECT_EQ(real("0"), 0);
    EXPECT_EQ(real("0.039625"), 2597);  // a BlueScale: 2596.864
    EXPECT_EQ(real("-0.001"), -66);     // rounded away from zero in magnitude
    EXPECT_EQ(real("12345E-1"), 80904192);
    EXPECT_EQ(real("100000E-5"), 65536);
    EXPECT_EQ(real("0.00001E5"), 65536);
    EXPECT_EQ(real("5."), 5 * 65536);
    EXPECT_EQ(real("3E-5"), 2);  // 1.97
}

TEST(CffRealTest, IntegerRangeEndsBelow32767) {
    EXPECT_EQ(real("32766"), 32766 * 65536);
    EXPECT_EQ(real("32767"), kFailed);
    EXPECT_EQ(real("-32766"), -32766 * 65536);
    EXPECT_EQ(real("-32767"), kFailed);
    EXPECT_EQ(real("3276.6E1"), 32766 * 65536);
    EXPECT_EQ(real("3276.7E1"), kFailed);
    EXPECT_EQ(real("32766.9999"), 2147418105);  // through the division: fits
    EXPECT_EQ(real("2147483647E-5"), 1407374883);
    EXPECT_EQ(real("2147483647E-4"), kFailed);  // 214748.36 is no 16.16 value
}

TEST(CffRealTest, MalformedTextFails) {
    for (const char* text :
         {"1.2.3", "1E5E", "--1", "1-", "1*", "1E2.5", "1.5E-3-", "1E--2", "+1", " 1", "1 ", "0x10", "1,5"}) {
        EXPECT_EQ(real(text), kFailed) << text;
    }
}

TEST(CffRealTest, MantissaMustStayAPositiveInt32) {
    EXPECT_EQ(real("123456789E-5"), 80908641);  // a large mantissa with a negative exponent is fine
    EXPECT_EQ(real("2147483647E-10"), 14074);
    // 214748364 x 10 + 8 passes INT32_MAX: refused before the step, whatever the exponent.
    EXPECT_EQ(real("2147483648E-10"), kFailed);
    EXPECT_EQ(real("2147483649E-10"), kFailed);
    EXPECT_EQ(real("21474836.49E-2"), kFailed);
    EXPECT_EQ(real("99999999999E-12"), kFailed);
    // Leading zeros do not grow the mantissa.
    EXPECT_EQ(real("0000000000000000000000000000001"), 65536);
}

TEST(CffRealTest, ExponentsBelowMinusNineRoundExactly) {
    // 10^n no longer fits 32 bits; the value is still mantissa x 65536 / 10^n rounded half up.
    EXPECT_EQ(real("5E-10"), 0);
    EXPECT_EQ(real("-5E-10"), 0);
    EXPECT_EQ(real("152587890E-13"), 1);    // 0.99999999
    EXPECT_EQ(real("0.0000152587890"), 1);  // the same through fraction digits
    EXPECT_EQ(real("76293945E-13"), 0);     // 0.4999999980 units
    EXPECT_EQ(real("76293946E-13"), 1);     // 0.5000000045 units: half up
    EXPECT_EQ(real("-76293946E-13"), -1);
    EXPECT_EQ(real("2147483647E-14"), 1);
    EXPECT_EQ(real("2147483647E-15"), 0);
    EXPECT_EQ(real("2147483647E-19"), 0);
    EXPECT_EQ(real("2147483647E-20"), 0);
    EXPECT_EQ(real("1E-999"), 0);
}

TEST(CffRealTest, HugeExponentsEndQuickly) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(real("1E2147483647"), kFailed);
    EXPECT_EQ(real("1E99999999999999999999999999"), kFailed);  // exponent digits would overflow
    EXPECT_EQ(real("0E2147483647"), 0);                        // zero stays zero, without the loop
    EXPECT_EQ(real("0E99999999999999999999999999"), 0);
    EXPECT_EQ(real("1E-99999999999999999999999999"), 0);
    EXPECT_EQ(real("-7E-2147483648"), 0);
    EXPECT_EQ(real("1E4"), 10000 * 65536);
    EXPECT_EQ(real("1E5"), kFailed);
    EXPECT_EQ(real("0.0001E8"), 10000 * 65536);  // fraction digits offset the exponent
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));

    // Fraction digits offset the exponent however many there are: 0.000…1 with 200 zeros is 10^-201.
    std::string tiny = "0." + std::string(200, '0') + "1E202";
    EXPECT_EQ(real(tiny), 10 * 65536);
    std::string tinier = "0." + std::string(200, '0') + "1E99999999999999999999";
    EXPECT_EQ(real(tinier), kFailed);
}

TEST(CffRealTest, EdgeTextsTheGrammarAllows) {
    // Every part is optional: an empty text, a lone sign or point, or a missing exponent read as zero.
    EXPECT_EQ(real(""), 0);
    EXPECT_EQ(real("-"), 0);
    EXPECT_EQ(real("."), 0);
    EXPECT_EQ(real("2E"), 2 * 65536);
    EXPECT_EQ(real("2E-"), 2 * 65536);
    EXPECT_EQ(real("-.5"), -32768);
}
