#include "support/FontBytes.h"

#include <gtest/gtest.h>

TEST(FontBytesTest, PatchesInPlace) {
    FontBytes b;
    b.u16(0).u32(0);
    b.patch16(0, 0xBEEF);
    b.patch32(2, 0x01020304);
    EXPECT_EQ(b.vec(), (std::vector<uint8_t>{0xBE, 0xEF, 1, 2, 3, 4}));
}

TEST(FontBytesTest, AlignsAndWritesUtf16) {
    FontBytes b;
    b.u8(1).align(4).utf16be(u"A\u3042");
    EXPECT_EQ(b.vec(), (std::vector<uint8_t>{1, 0, 0, 0, 0x00, 0x41, 0x30, 0x42}));
}
