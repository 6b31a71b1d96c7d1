#include "support/SfntBuilder.h"

#include <gtest/gtest.h>

TEST(SfntBuilderTest, DictOperandEncodings) {
    EXPECT_EQ(dictInt(0), Bytes{139});
    EXPECT_EQ(dictInt(-107), Bytes{32});
    EXPECT_EQ(dictInt(108), (Bytes{247, 0}));
    EXPECT_EQ(dictInt(1131), (Bytes{250, 255}));
    EXPECT_EQ(dictInt(-1131), (Bytes{254, 255}));
    EXPECT_EQ(dictInt(-32768), (Bytes{28, 0x80, 0x00}));
    EXPECT_EQ(dictInt(100000), (Bytes{29, 0, 1, 0x86, 0xA0}));
    EXPECT_EQ(dictReal("1.5E2"), (Bytes{30, 0x1A, 0x5B, 0x2F}));
    EXPECT_EQ(dictReal("-2.25"), (Bytes{30, 0xE2, 0xA2, 0x5F}));
    EXPECT_EQ(dictReal("1E-3"), (Bytes{30, 0x1C, 0x3F}));
    EXPECT_EQ(dictOp(17), Bytes{17});
    EXPECT_EQ(dictOp(256 + 30), (Bytes{12, 30}));
}

TEST(SfntBuilderTest, CffIndexLayout) {
    EXPECT_EQ(cffIndex({}), (Bytes{0, 0}));
    EXPECT_EQ(cffIndex({asBytes("ab"), {}}), (Bytes{0, 2, 1, 1, 3, 3, 'a', 'b'}));
    EXPECT_EQ(cffIndex({asBytes("a")}, 3), (Bytes{0, 1, 3, 0, 0, 1, 0, 0, 2, 'a'}));
}

TEST(SfntBuilderTest, DirectoryAndCollectionOffsets) {
    SfntBuilder s;
    s.table("glyf", Bytes(5, 1)).table("name", Bytes(2, 2)).rawRecord("DSIG", 7, 9);
    const Bytes font = s.build();
    ASSERT_EQ(font.size(), 512u);
    const auto u32 = [&](const Bytes& b, size_t at) {
        return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
    };
    EXPECT_EQ(u32(font, 0), 0x00010000u);
    EXPECT_EQ(font[5], 3);
    EXPECT_EQ(u32(font, 12), tagValue("glyf"));
    EXPECT_EQ(u32(font, 12 + 8), 12u + 48);      // glyf right after the records
    EXPECT_EQ(u32(font, 28 + 8), 12u + 48 + 8);  // name after glyf, 4-byte aligned
    EXPECT_EQ(u32(font, 44 + 8), 7u);
    EXPECT_EQ(u32(font, 44 + 12), 9u);

    const Bytes ttc = buildCollection({s, s}, 600);
    EXPECT_EQ(u32(ttc, 0), tagValue("ttcf"));
    EXPECT_EQ(u32(ttc, 8), 2u);
    EXPECT_EQ(u32(ttc, 12), 600u);
    const uint32_t second = u32(ttc, 16);
    EXPECT_EQ(second % 4, 0u);
    EXPECT_EQ(u32(ttc, 600 + 12 + 8), 600u + 12 + 48);  // offsets count from the start of the file
    EXPECT_EQ(u32(ttc, second + 12 + 8), second + 12 + 48);
}

TEST(SfntBuilderTest, NameTableLayout) {
    const Bytes t = nameTable({windowsName(u"A", 0x0411), macName("xy", 11, 1)});
    // format, count, stringOffset = 6 + 2 x 12; records; strings back to back.
    EXPECT_EQ(t, (Bytes{0, 0, 0, 2, 0, 30, 0,  3, 0, 1, 0x04, 0x11, 0, 4, 0,   2,   0,
                        0, 0, 1, 0, 1, 0,  11, 0, 4, 0, 2,    0,    2, 0, 'A', 'x', 'y'}));
}
