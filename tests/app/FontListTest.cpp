#include "app/FontList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct List {
    explicit List(int32_t capacity) : buffer(size_t(capacity), '\xAA'), writer(buffer.data(), capacity) {}
    std::string text() const { return std::string(buffer.data(), size_t(writer.length())); }
    bool add(const std::string& name) { return writer.append(name.data(), name.size()); }
    std::vector<char> buffer;
    FontListWriter writer;
};

TEST(FontListTest, PiecesHaveTheirFixedSizes) {
    EXPECT_EQ(kJsonHeaderBytes, 37);
    EXPECT_EQ(kJsonClosingBytes, 7);
    List list(200);
    ASSERT_TRUE(list.writer.begin());
    EXPECT_EQ(list.writer.length(), 37);
    ASSERT_TRUE(list.add(""));
    EXPECT_EQ(list.writer.length(), 37 + 33);
    ASSERT_TRUE(list.add("ab"));
    EXPECT_EQ(list.writer.length(), 37 + 33 + 34 + 2);
}

TEST(FontListTest, EmptyListIsHeaderThenClosing) {
    List list(kJsonMinimumCapacity);
    ASSERT_TRUE(list.writer.begin());
    list.writer.finish();
    EXPECT_TRUE(list.writer.isEmpty());
    EXPECT_EQ(list.text(), "{\n  \"version\": \"1.0\",\n  \"fontlist\": [\n  ]\n}\n");
    EXPECT_EQ(list.buffer[size_t(list.writer.length())], '\0');
}

TEST(FontListTest, OneAndTwoEntriesByteForByte) {
    List one(128);
    ASSERT_TRUE(one.writer.begin());
    ASSERT_TRUE(one.add("font1.otf"));
    one.writer.finish();
    EXPECT_FALSE(one.writer.isEmpty());
    EXPECT_EQ(one.text(),
              "{\n  \"version\": \"1.0\",\n  \"fontlist\": [\n    {\n      \"filename\": \"font1.otf\"\n    "
              "}\n  ]\n}\n");

    List two(256);
    ASSERT_TRUE(two.writer.begin());
    ASSERT_TRUE(two.add("font1.otf"));
    ASSERT_TRUE(two.add("font2.ttf"));
    two.writer.finish();
    EXPECT_EQ(two.text(),
              "{\n"
              "  \"version\": \"1.0\",\n"
              "  \"fontlist\": [\n"
              "    {\n"
              "      \"filename\": \"font1.otf\"\n"
              "    },\n"
              "    {\n"
              "      \"filename\": \"font2.ttf\"\n"
              "    }\n"
              "  ]\n"
              "}\n");
}

TEST(FontListTest, ManyEntriesKeepOrderAndLength) {
    List list(kJsonBytesPerFile * 100);
    ASSERT_TRUE(list.writer.begin());
    std::string expected = kJsonHeader;
    for (int i = 0; i < 100; ++i) {
        const std::string name = "f" + std::to_string(i) + ".ttf";
        ASSERT_TRUE(list.add(name)) << i;
        expected += (i ? "," : "") + std::string("\n    {\n      \"filename\": \"") + name + "\"\n    }";
    }
    list.writer.finish();
    expected += kJsonClosing;
    EXPECT_EQ(list.text(), expected);
}

TEST(FontListTest, JapaneseNamesAreWrittenAsUtf8AndCountedInBytes) {
    const std::string name = "IPAゴシック.ttf";  // 4 kana of 3 bytes each
    ASSERT_EQ(name.size(), 3 + 12 + 4u);
    // Exactly room for header + entry + closing + terminator.
    const int32_t exact =
        kJsonHeaderBytes + kJsonFirstEntryBytes + int32_t(name.size()) + kJsonClosingBytes + 1;
    List fits(exact);
    ASSERT_TRUE(fits.writer.begin());
    ASSERT_TRUE(fits.add(name));
    fits.writer.finish();
    EXPECT_NE(fits.text().find("\"filename\": \"" + name + "\""), std::string::npos);
    EXPECT_EQ(fits.writer.length(), exact - 1);

    // One byte less: the entry is refused and nothing is written.
    List tight(exact - 1);
    ASSERT_TRUE(tight.writer.begin());
    EXPECT_FALSE(tight.add(name));
    EXPECT_EQ(tight.writer.length(), kJsonHeaderBytes);
    EXPECT_TRUE(tight.writer.isEmpty());
    tight.writer.finish();
    EXPECT_EQ(tight.text(), std::string(kJsonHeader) + kJsonClosing);
}

TEST(FontListTest, RefusedEntryDoesNotStopLaterSmallerOnes) {
    List list(kJsonHeaderBytes + kJsonFirstEntryBytes + 5 + kJsonClosingBytes + 1);
    ASSERT_TRUE(list.writer.begin());
    EXPECT_FALSE(list.add("longer-name.ttf"));
    EXPECT_TRUE(list.add("a.ttf"));
    list.writer.finish();
    EXPECT_NE(list.text().find("\"a.ttf\""), std::string::npos);
}

TEST(FontListTest, CharactersJsonForbidsRawAreEscaped) {
    const std::string name = std::string("a\"b\\c\n\t\x01\x1f") + "d.ttf";
    EXPECT_EQ(jsonEscapedLength(name.data(), name.size()), name.size() + 1 + 1 + 1 + 1 + 5 + 5);
    List list(512);
    ASSERT_TRUE(list.writer.begin());
    ASSERT_TRUE(list.add(name));
    list.writer.finish();
    EXPECT_NE(list.text().find(R"("filename": "a\"b\\c\n\t\u0001\u001Fd.ttf")"), std::string::npos)
        << list.text();
    // '/' and non-ASCII stay as they are.
    EXPECT_EQ(jsonEscapedLength("a/é", 4), 4u);
}

TEST(FontListTest, EscapesCountInTheRoomCheck) {
    const std::string name = "\x01.ttf";  // 5 bytes, 10 escaped
    List list(kJsonHeaderBytes + kJsonFirstEntryBytes + 9 + kJsonClosingBytes + 1);
    ASSERT_TRUE(list.writer.begin());
    EXPECT_FALSE(list.add(name));
}

TEST(FontListTest, CapacityIs128PerFileWithRoomForAnEmptyList) {
    EXPECT_EQ(fontListCapacity(0), kJsonMinimumCapacity);
    EXPECT_EQ(fontListCapacity(1), 128);
    EXPECT_EQ(fontListCapacity(1000), 128000);
    // The largest count whose capacity a 32-bit length can hold, and one past it.
    EXPECT_EQ(fontListCapacity(INT32_MAX / 128), int64_t(INT32_MAX / 128) * 128);
    EXPECT_EQ(fontListCapacity(INT32_MAX / 128 + 1), -1);
}

TEST(FontListTest, BufferBelowMinimumIsRefused) {
    List list(kJsonMinimumCapacity - 1);
    EXPECT_FALSE(list.writer.begin());
    EXPECT_FALSE(list.add("a.ttf"));
    list.writer.finish();
    EXPECT_EQ(list.writer.length(), 0);
    EXPECT_EQ(list.buffer[0], '\xAA');
}

}  // namespace
