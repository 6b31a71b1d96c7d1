#include "cff/CffIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/FontBytes.h"

namespace {

// An INDEX of the given elements with offsets of `offSize` bytes.
FontBytes buildIndex(const std::vector<std::string>& elements, unsigned offSize) {
    FontBytes b;
    b.u16(uint32_t(elements.size()));
    if (elements.empty()) return b;
    b.u8(offSize);
    uint32_t offset = 1;
    auto putOffset = [&](uint32_t v) {
        for (unsigned i = offSize; i-- > 0;) b.u8(v >> (8 * i));
    };
    putOffset(offset);
    for (const std::string& e : elements) {
        offset += uint32_t(e.size());
        putOffset(offset);
    }
    for (const std::string& e : elements) b.bytes(e);
    return b;
}

std::string elementText(const CffIndex& index, const FontBytes& b, uint16_t i) {
    uint32_t start = 0, length = 0;
    index.getElement(i, start, length);
    EXPECT_LE(uint64_t(start) + length, b.size());
    return std::string(reinterpret_cast<const char*>(b.data()) + start, length);
}

}  // namespace

TEST(CffIndexTest, EmptyIndexIsTwoBytesAndTouchesNothingElse) {
    FontBytes b;
    b.u16(0).u8(0xFF);  // a following byte that must not be read as offSize
    CffIndex index;
    ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0);
    EXPECT_EQ(index.count, 0);
    EXPECT_EQ(index.totalSize, 2u);
    EXPECT_EQ(index.offSize, 0);
    EXPECT_EQ(index.offsets, nullptr);
    EXPECT_EQ(index.dataStart, 0u);
    // Exactly two bytes at the end of the buffer are enough.
    ASSERT_EQ(index.parse(b.data(), 2, 0), 0);
}

TEST(CffIndexTest, ElementsOfEveryOffsetWidth) {
    const std::vector<std::string> elements = {"Alpha", "", "Gamma!", "d"};
    for (unsigned offSize = 1; offSize <= 4; ++offSize) {
        FontBytes b;
        b.bytes("pad");  // the INDEX does not start at 0
        b.bytes(buildIndex(elements, offSize).vec());
        b.bytes("next");
        CffIndex index;
        ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 3), 0) << offSize;
        EXPECT_EQ(index.count, 4);
        EXPECT_EQ(index.offSize, offSize);
        EXPECT_EQ(index.offsets, b.data() + 6);
        EXPECT_EQ(index.dataStart, 3 + 3 + 5 * offSize);
        EXPECT_EQ(index.totalSize, 13 + 2 + 5 * offSize);  // last offset 13: data area 12 bytes
        for (uint16_t i = 0; i < 4; ++i) EXPECT_EQ(elementText(index, b, i), elements[i]);
        EXPECT_EQ(index.offsetAt(4), 13u);
        // The next structure starts right after.
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 3 + index.totalSize, 4), "next");
    }
}

TEST(CffIndexTest, OffsetsAreReadAtTheirFullWidth) {
    // 24-bit offsets whose top byte matters: element 0 is 0x010000 bytes long.
    std::string big(0x10000, 'x');
    FontBytes b = buildIndex({big, "yz"}, 3);
    EXPECT_EQ(b.vec()[3], 0);  // offset[0] = 00 00 01
    CffIndex index;
    ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0);
    EXPECT_EQ(index.offsetAt(1), 0x10001u);
    EXPECT_EQ(index.offsetAt(2), 0x10003u);
    EXPECT_EQ(elementText(index, b, 1), "yz");
}

TEST(CffIndexTest, BadOffSizeFails) {
    for (unsigned offSize : {0u, 5u, 255u}) {
        FontBytes b;
        b.u16(1).u8(offSize).zeros(16);
        CffIndex index;
        EXPECT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), kFontDataError) << offSize;
    }
}

TEST(CffIndexTest, TruncatedAtEveryLengthFails) {
    for (unsigned offSize = 1; offSize <= 4; ++offSize) {
        FontBytes b;
        b.bytes("##");
        b.bytes(buildIndex({"one", "two", "three"}, offSize).vec());
        CffIndex index;
        ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 2), 0);
        for (uint32_t length = 0; length < b.size(); ++length) {
            // A copy of exactly `length` bytes, so ASan sees any read past it.
            std::vector<uint8_t> cut(b.vec().begin(), b.vec().begin() + length);
            CffIndex truncated;
            EXPECT_EQ(truncated.parse(cut.data(), length, 2), kFontDataError) << offSize << " " << length;
        }
    }
}

TEST(CffIndexTest, PositionAtOrPastTheEndFails) {
    FontBytes b = buildIndex({"a"}, 1);
    CffIndex index;
    const uint32_t size = uint32_t(b.size());
    EXPECT_EQ(index.parse(b.data(), size, size), kFontDataError);
    EXPECT_EQ(index.parse(b.data(), size, size - 1), kFontDataError);
    EXPECT_EQ(index.parse(b.data(), size, 0xFFFFFFFFu), kFontDataError);
    EXPECT_EQ(index.parse(nullptr, 0, 0), kFontDataError);
}

TEST(CffIndexTest, FirstOffsetMustBeOne) {
    // offsets 2, 3: one element of one byte, data area sized for the last offset, every other check passes.
    FontBytes b;
    b.u16(1).u8(1).u8(2).u8(3).bytes("ab");
    CffIndex index;
    EXPECT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), kFontDataError);
    // offset[0] = 0 fails as well.
    FontBytes zero;
    zero.u16(1).u8(1).u8(0).u8(2).bytes("a");
    EXPECT_EQ(index.parse(zero.data(), uint32_t(zero.size()), 0), kFontDataError);
}

TEST(CffIndexTest, DescendingOffsetsFailEqualOnesAreEmptyElements) {
    FontBytes equal;
    equal.u16(3).u8(1).u8(1).u8(1).u8(1).u8(3).bytes("ab");
    CffIndex index;
    ASSERT_EQ(index.parse(equal.data(), uint32_t(equal.size()), 0), 0);
    uint32_t start = 0, length = 9;
    index.getElement(0, start, length);
    EXPECT_EQ(length, 0u);
    index.getElement(2, start, length);
    EXPECT_EQ(length, 2u);

    FontBytes descending;
    descending.u16(3).u8(1).u8(1).u8(3).u8(2).u8(4).bytes("abc");
    EXPECT_EQ(index.parse(descending.data(), uint32_t(descending.size()), 0), kFontDataError);
}

TEST(CffIndexTest, DataShorterThanLastOffsetFails) {
    FontBytes b;
    b.u16(1).u8(1).u8(1).u8(9).bytes("abc");  // element 0 claims 8 bytes, 3 are there
    CffIndex index;
    EXPECT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), kFontDataError);
}

TEST(CffIndexTest, HugeOffsetsCannotWrapTheSizeCheck) {
    // last = 0xFFFFFFFF: in 32 bits last + 2 + 8 wraps to 9, which would fit the 12 bytes given.
    FontBytes b;
    b.u16(1).u8(4).u32(1).u32(0xFFFFFFFFu).bytes("abc");
    CffIndex index;
    EXPECT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), kFontDataError);
    // Every last offset near the top of the range.
    for (uint32_t last = 0xFFFFFFF0u; last != 0; ++last) {
        b.patch32(7, last);
        EXPECT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), kFontDataError) << last;
    }
    // A count whose offset array alone is larger than the data.
    FontBytes many;
    many.u16(0xFFFF).u8(4).u32(1).zeros(64);
    EXPECT_EQ(index.parse(many.data(), uint32_t(many.size()), 0), kFontDataError);
}

TEST(CffIndexTest, LargestCountIsAccepted) {
    FontBytes b;
    b.u16(0xFFFF).u8(1);
    for (uint32_t i = 0; i <= 0xFFFF; ++i) b.u8(1);  // 65535 empty elements
    CffIndex index;
    ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0);
    EXPECT_EQ(index.count, 0xFFFF);
    EXPECT_EQ(index.totalSize, b.size());
}

TEST(CffIndexTest, ReleaseClearsEverythingAndIsRepeatable) {
    FontBytes b = buildIndex({"abc", "de"}, 2);
    CffIndex index;
    ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0);
    index.release();
    index.release();
    EXPECT_EQ(index.count, 0);
    EXPECT_EQ(index.offSize, 0);
    EXPECT_EQ(index.offsets, nullptr);
    EXPECT_EQ(index.dataStart, 0u);
    EXPECT_EQ(index.totalSize, 0u);
    CffIndex fresh;
    fresh.release();
    EXPECT_EQ(fresh.offsets, nullptr);
}

TEST(CffIndexTest, CharStringsIndexKeepsLongestElement) {
    CffCharStringsIndex index;
    FontBytes b = buildIndex({"ab", "", "abcdefg", "xyz"}, 1);
    ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0);
    EXPECT_EQ(index.maxElementLength, 7);
    FontBytes empty = buildIndex({}, 1);
    ASSERT_EQ(index.parse(empty.data(), uint32_t(empty.size()), 0), 0);
    EXPECT_EQ(index.maxElementLength, 0);
    // Base failures come through unchanged.
    FontBytes bad;
    bad.u16(1).u8(5);
    EXPECT_EQ(index.parse(bad.data(), uint32_t(bad.size()), 0), kFontDataError);
}

TEST(CffIndexTest, CharStringLongerThan65535BytesFails) {
    CffCharStringsIndex index;
    FontBytes fits = buildIndex({"a", std::string(65535, 'x')}, 3);
    ASSERT_EQ(index.parse(fits.data(), uint32_t(fits.size()), 0), 0);
    EXPECT_EQ(index.maxElementLength, 65535);
    FontBytes over = buildIndex({"a", std::string(65536, 'x')}, 3);
    EXPECT_EQ(index.parse(over.data(), uint32_t(over.size()), 0), kFontDataError);
    // The plain view has no such limit.
    CffIndex plain;
    EXPECT_EQ(plain.parse(over.data(), uint32_t(over.size()), 0), 0);
}

TEST(CffIndexTest, SubroutineBiasThresholds) {
    EXPECT_EQ(cffSubrBias(0), 0);
    EXPECT_EQ(cffSubrBias(1), 107);
    EXPECT_EQ(cffSubrBias(1239), 107);
    EXPECT_EQ(cffSubrBias(1240), 1131);
    EXPECT_EQ(cffSubrBias(33899), 1131);
    EXPECT_EQ(cffSubrBias(33900), 32768);
    EXPECT_EQ(cffSubrBias(65535), 32768);

    // Through parse: counts of empty subroutines around each threshold.
    for (uint32_t count : {0u, 1239u, 1240u, 33899u, 33900u}) {
        FontBytes b;
        b.u16(count);
        if (count > 0) {
            b.u8(1);
            for (uint32_t i = 0; i <= count; ++i) b.u8(1);
        }
        CffSubrIndex index;
        ASSERT_EQ(index.parse(b.data(), uint32_t(b.size()), 0), 0) << count;
        EXPECT_EQ(index.bias, cffSubrBias(count)) << count;
        EXPECT_EQ(index.maxElementLength, 0);
    }
}
