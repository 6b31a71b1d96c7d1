#include "sfnt/ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/FontBytes.h"

TEST(ByteReaderTest, ReadsBigEndianValuesBuiltByFontBytes) {
    FontBytes b;
    b.u8(0x12).u16(0x3456).u24(0x789ABC).u32(0xDEF01234).tag("OS/2").u16(0xFFFE);
    ByteReader r(b.data(), b.size());
    EXPECT_EQ(r.u8(), 0x12);
    EXPECT_EQ(r.u16(), 0x3456);
    EXPECT_EQ(r.u24(), 0x789ABCu);
    EXPECT_EQ(r.u32(), 0xDEF01234u);
    EXPECT_EQ(r.u32(), makeTag('O', 'S', '/', '2'));
    EXPECT_EQ(r.s16(), -2);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReaderTest, ShortReadLatchesFailureAndReturnsZero) {
    const uint8_t data[3] = {1, 2, 3};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.u16(), 0x0102);
    EXPECT_EQ(r.u16(), 0);  // one byte left: fails
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0);  // stays failed even though a byte is left
    EXPECT_EQ(r.position(), 2u);
}

TEST(ByteReaderTest, SubRangesNeverWrapAround) {
    const uint8_t data[8] = {};
    ByteReader r(data, sizeof data);
    EXPECT_TRUE(r.sub(0, 8).ok());
    EXPECT_TRUE(r.sub(8, 0).ok());
    EXPECT_FALSE(r.sub(9, 0).ok());
    EXPECT_FALSE(r.sub(4, 5).ok());
    EXPECT_FALSE(r.sub(1, std::numeric_limits<size_t>::max()).ok());
    EXPECT_FALSE(r.sub(std::numeric_limits<size_t>::max(), 2).ok());
    EXPECT_TRUE(r.fits(0xFFFFFFFFull * 0 + 4, 4));
    EXPECT_FALSE(r.fits(0xFFFFFFFFull, 0xFFFFFFFFull));
}

TEST(ByteReaderTest, VariableWidthOffsets) {
    const uint8_t data[] = {0xAB, 0x01, 0x02, 0x01, 0x02, 0x03, 0x01, 0x02, 0x03, 0x04};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.uN(1), 0xABu);
    EXPECT_EQ(r.uN(2), 0x0102u);
    EXPECT_EQ(r.uN(3), 0x010203u);
    EXPECT_EQ(r.uN(4), 0x01020304u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.uN(5), 0u);
    EXPECT_FALSE(r.ok());
}

TEST(ByteReaderTest, NullDataIsEmpty) {
    ByteReader r(nullptr, 100);
    EXPECT_EQ(r.size(), 0u);
    EXPECT_EQ(r.u8(), 0);
    EXPECT_FALSE(r.ok());
}
