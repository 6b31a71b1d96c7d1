#include "fontid/NameDecoding.h"

#include <gtest/gtest.h>

#include <string>

#include "sfnt/Status.h"
#include "support/FontBytes.h"
#include "support/SfntBuilder.h"

namespace {

// Decodes into a buffer pre-filled with a marker, so that "left as it was" is visible.
std::u16string decode(const Bytes& bytes, uint16_t platform, uint16_t encoding,
                      int capacity = kFullNameCapacity) {
    std::u16string buffer(size_t(capacity), u'\0');
    buffer[0] = u'#';
    decodeNameString(bytes.data(), uint32_t(bytes.size()), platform, encoding, buffer.data(), capacity);
    return std::u16string(buffer.c_str());
}

std::u16string ansi(const std::string& bytes) {
    char16_t out[kFullNameCapacity];
    out[0] = u'#';
    convertAnsiName(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), out,
                    kFullNameCapacity);
    return out;
}

struct Collected {
    int32_t status;
    std::u16string slot[kFullNameSlotCount];
};

Collected collect(const Bytes& table) {
    FullNameSlots slots;
    for (auto& s : slots.slot) s[0] = u'#';
    Collected c;
    c.status = collectFullNames(table.data(), uint32_t(table.size()), slots);
    for (int i = 0; i < kFullNameSlotCount; ++i) c.slot[i] = slots.slot[i];
    return c;
}

int32_t validate(const Bytes& table) {
    return validateNameTable(table.data(), uint32_t(table.size()));
}

// "あ" in Windows-31J, repeated.
std::string sjisA(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += "\x82\xa0";
    return s;
}

}  // namespace

TEST(NameDecodingTest, WindowsUnicodeIsUtf16BigEndianCutToTheBuffer) {
    EXPECT_EQ(decode(utf16be(u"Font 名前"), 3, 1), u"Font 名前");
    EXPECT_EQ(decode(utf16be(u"\U0001F600x"), 3, 10), u"\U0001F600x");
    Bytes odd = utf16be(u"AB");
    odd.push_back(0x43);  // a lone last byte is dropped
    EXPECT_EQ(decode(odd, 3, 1), u"AB");
    // 300 bytes are 150 units: the first 127 are kept.
    const std::u16string longName(150, u'ロ');
    EXPECT_EQ(decode(utf16be(longName), 3, 1), longName.substr(0, 127));
    EXPECT_EQ(decode(utf16be(u"abc"), 3, 1, 3), u"ab");
    EXPECT_EQ(decode(utf16be(u"abc"), 3, 1, 1), u"");
    EXPECT_EQ(decode({}, 3, 1), u"");
}

TEST(NameDecodingTest, AnsiEncodingsAndUndecodedOnes) {
    const Bytes sjis = asBytes("\x83\x65\x83\x58\x83\x67");  // テスト
    EXPECT_EQ(decode(sjis, 3, 2), u"テスト");                // Windows ShiftJIS
    EXPECT_EQ(decode(sjis, 1, 1), u"テスト");                // Macintosh Japanese
    EXPECT_EQ(decode(asBytes("Roman"), 1, 0), u"Roman");
    // Not decoded: the destination keeps what it held.
    EXPECT_EQ(decode(utf16be(u"x"), 3, 0), u"#");
    EXPECT_EQ(decode(utf16be(u"x"), 3, 3), u"#");
    EXPECT_EQ(decode(utf16be(u"x"), 3, 9), u"#");
    EXPECT_EQ(decode(asBytes("x"), 1, 2), u"#");
    EXPECT_EQ(decode(utf16be(u"x"), 0, 3), u"#");
    EXPECT_EQ(decode(utf16be(u"x"), 2, 1), u"#");
}

TEST(NameDecodingTest, AnsiConversionFitsAtMost127Units) {
    EXPECT_EQ(ansi(std::string(127, 'a')), std::u16string(127, u'a'));
    // Exactly 128 units fill the buffer: the terminator takes the last one.
    EXPECT_EQ(ansi(std::string(128, 'a')), std::u16string(127, u'a'));
    // One more and the conversion fails: empty.
    EXPECT_EQ(ansi(std::string(129, 'a')), u"");
    EXPECT_EQ(ansi(sjisA(128)), std::u16string(127, u'あ'));
    EXPECT_EQ(ansi(sjisA(129)), u"");
    EXPECT_EQ(ansi(""), u"");
}

TEST(NameDecodingTest, SlotsBySource) {
    const Collected c = collect(nameTable({
        windowsName(u"ゴシック", 0x0411),
        macName("\x83\x53\x83\x56\x83\x62\x83\x4e", 11, 1),  // ゴシック in Windows-31J
        windowsName(u"Gothic", 0x0409), macName("Gothic Mac", 0, 0),
        windowsName(u"Simplified", 0x0804),  // Chinese: no slot
        windowsName(u"Family", 0x0409, 1),   // not a full name
        macName("Other", 2, 0),              // a Macintosh language without a slot
    }));
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.slot[0], u"ゴシック");
    EXPECT_EQ(c.slot[1], u"ゴシック");
    EXPECT_EQ(c.slot[2], u"Gothic");
    EXPECT_EQ(c.slot[3], u"Gothic Mac");

    // Every slot starts empty; a Chinese name fills none.
    const Collected chinese = collect(nameTable({windowsName(u"Simplified", 0x0804)}));
    for (const auto& s : chinese.slot) EXPECT_EQ(s, u"");
}

TEST(NameDecodingTest, SlotSpecialCases) {
    NameRecordParts shiftJis = windowsName(u"", 0x0411);
    shiftJis.encoding = 2;
    shiftJis.text = asBytes("\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(collect(nameTable({shiftJis})).slot[0], u"テスト");

    // The Macintosh Japanese slot takes the ANSI code page whatever the encoding; too long becomes empty.
    EXPECT_EQ(collect(nameTable({macName("Roman", 11, 0)})).slot[1], u"Roman");
    EXPECT_EQ(collect(nameTable({macName(sjisA(129), 11, 1)})).slot[1], u"");
    EXPECT_EQ(collect(nameTable({windowsName(std::u16string(150, u'ロ'), 0x0411)})).slot[0],
              std::u16string(127, u'ロ'));
    // The Macintosh English slot decodes only encodings 0 and 1.
    EXPECT_EQ(collect(nameTable({macName("Roman", 0, 3)})).slot[3], u"");

    // The later record wins, unless it is not decoded.
    NameRecordParts symbol = windowsName(u"Symbol", 0x0409);
    symbol.encoding = 0;
    const Collected twice =
        collect(nameTable({windowsName(u"First", 0x0409), windowsName(u"Second", 0x0409), symbol}));
    EXPECT_EQ(twice.slot[2], u"Second");
}

TEST(NameDecodingTest, RecordsPastTheTableAreSkippedButFailValidation) {
    NameRecordParts past = windowsName(u"", 0x0411);
    past.rawPlacement = true;
    past.offset = 0;
    past.length = 200;
    const Bytes table = nameTable({past, windowsName(u"English", 0x0409)});
    const Collected c = collect(table);
    EXPECT_EQ(c.status, kOk);
    EXPECT_EQ(c.slot[0], u"");
    EXPECT_EQ(c.slot[2], u"English");
    EXPECT_EQ(validate(table), kParamError);

    // Of any name ID; the largest 16-bit fields must not wrap.
    NameRecordParts copyright = windowsName(u"", 0x0409, 0);
    copyright.rawPlacement = true;
    copyright.offset = 0xFFFF;
    copyright.length = 0xFFFF;
    EXPECT_EQ(validate(nameTable({copyright})), kParamError);

    // A string that ends exactly at the table's end is inside; one byte further is not.
    const Bytes fits = nameTable({windowsName(u"AB", 0x0409)});
    EXPECT_EQ(validate(fits), kOk);
    EXPECT_EQ(collect(fits).slot[2], u"AB");
    const Bytes cut(fits.begin(), fits.end() - 1);
    EXPECT_EQ(validate(cut), kParamError);
    EXPECT_EQ(collect(cut).slot[2], u"");
}

TEST(NameDecodingTest, HeaderChecks) {
    // Shorter than the header.
    EXPECT_EQ(collect(Bytes(5, 0)).status, kParamError);
    EXPECT_EQ(validate(Bytes(5, 0)), kParamError);
    FullNameSlots slots;
    EXPECT_EQ(collectFullNames(nullptr, 0, slots), kParamError);
    // An empty table of 6 bytes is sound.
    EXPECT_EQ(collect(nameTable({})).status, kOk);
    EXPECT_EQ(validate(nameTable({})), kOk);

    const Bytes good = nameTable({windowsName(u"A", 0x0409)});  // count 1, stringOffset 18, 20 bytes
    // Records past the table.
    Bytes bad = good;
    bad[3] = 2;
    EXPECT_EQ(collect(bad).status, kParamError);
    EXPECT_EQ(validate(bad), kParamError);
    // stringOffset inside the records, or past the table.
    bad = good;
    bad[5] = 17;
    EXPECT_EQ(collect(bad).status, kParamError);
    EXPECT_EQ(validate(bad), kParamError);
    bad[5] = 21;
    EXPECT_EQ(collect(bad).status, kParamError);
    EXPECT_EQ(validate(bad), kParamError);
    // stringOffset at the table's end, the record's string then lies past it.
    bad[5] = 20;
    EXPECT_EQ(collect(bad).status, kOk);
    EXPECT_EQ(validate(bad), kParamError);
    // The largest count.
    bad = good;
    bad[2] = bad[3] = 0xFF;
    EXPECT_EQ(collect(bad).status, kParamError);
}
