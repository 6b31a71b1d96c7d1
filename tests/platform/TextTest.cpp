#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string convert(unsigned codePage, const std::string& bytes, int capacity = 256) {
    std::u16string out(size_t(capacity), u'\0');
    const int n = multiByteToWideChar(codePage, bytes.data(), int(bytes.size()), out.data(), capacity);
    out.resize(size_t(n));
    return out;
}

}  // namespace

TEST(TextTest, AnsiCodePageIsWindows31J) {
    // "あ日" in Shift_JIS, plus the NEC and IBM extensions that only Windows-31J has (①, ⅰ).
    EXPECT_EQ(convert(kCodePageAnsi, "\x82\xa0\x93\xfa"), u"あ日");
    EXPECT_EQ(convert(kCodePageAnsi, "\x87\x40\xfa\x40"), u"①ⅰ");
    EXPECT_EQ(convert(kCodePageAnsi, "ABC\\~"), u"ABC\\~");  // ASCII range maps to itself
    EXPECT_EQ(convert(kCodePageAnsi, "\xb1"), u"ｱ");           // half-width katakana
}

TEST(TextTest, LengthQueryAndFit) {
    const std::string sjis = "\x82\xa0\x82\xa2\x82\xa4";  // あいう
    EXPECT_EQ(multiByteToWideChar(kCodePageAnsi, sjis.data(), int(sjis.size()), nullptr, 0), 3);
    char16_t exact[3];
    EXPECT_EQ(multiByteToWideChar(kCodePageAnsi, sjis.data(), int(sjis.size()), exact, 3), 3);
    char16_t small[2];
    EXPECT_EQ(multiByteToWideChar(kCodePageAnsi, sjis.data(), int(sjis.size()), small, 2), 0);
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, "abc", 3, small, 2), 0);
    // -1 converts through the terminator and counts it.
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, "abc", 0, nullptr, 0), 0);
    EXPECT_EQ(multiByteToWideChar(1252, "abc", 3, nullptr, 0), 0);  // only 0 and 65001 are known
}

TEST(TextTest, InvalidInputIsReplacedNotRefused) {
    EXPECT_EQ(convert(kCodePageUtf8, "a\xff" "b"), u"a\uFFFD" "b");
    EXPECT_EQ(convert(kCodePageUtf8, "\xe3\x81"), u"\uFFFD");             // cut-off sequence
    EXPECT_EQ(convert(kCodePageUtf8, "\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(convert(kCodePageUtf8, "\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(convert(kCodePageAnsi, "\x82"), u"\u30FB");  // lead byte without its trail byte
    EXPECT_EQ(convert(kCodePageAnsi, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(TextTest, Utf8RoundTripAndFit) {
    const std::u16string s = u"フォント\U0001F600x";
    const std::string u8 = utf16ToUtf8(s);
    EXPECT_EQ(u8, "フォント\xf0\x9f\x98\x80x");
    EXPECT_EQ(utf8ToUtf16(u8), s);
    EXPECT_EQ(wideCharToUtf8(s.data(), -1, nullptr, 0), int(u8.size()) + 1);
    char small[4];
    EXPECT_EQ(wideCharToUtf8(s.data(), int(s.size()), small, 4), 0);
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(utf16ToUtf8(lone), "\xef\xbf\xbd" "a");
}
