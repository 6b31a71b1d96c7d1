#include "tools/catalog/CatalogWriter.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fontid/FontCatalog.h"
#include "sfnt/ByteReader.h"
#include "sfnt/Status.h"
#include "support/FontBytes.h"
#include "tools/catalog/CatalogDump.h"

namespace {

const std::string kSoyomine = "\xE3\x81\x9D\xE3\x82\x88\xE3\x81\xBF\xE3\x81\xAD";

std::vector<uint8_t> write(const awfc::Catalog& c) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(awfc::writeCatalog(c, out, error)) << error;
    return out;
}

std::string bytesOf(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

awfc::Catalog parse(const std::string& text) {
    awfc::Catalog c;
    awfc::ParseError error;
    EXPECT_TRUE(awfc::parseCatalogText(text, c, error)) << error.line << ": " << error.message;
    return c;
}

std::string readFile(const std::string& path) {
    std::string out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) out.append(chunk, n);
    std::fclose(f);
    return out;
}

void writeFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

}  // namespace

TEST(CatalogWriterTest, WritesTheFileLayout) {
    awfc::Catalog c;
    awfc::Table t;
    t.group = 3;
    t.tag = makeTag('t', 'r', 'u', 'e');
    t.reserved = 0xABCD;
    awfc::Record r;
    r.values = {1, 2, 3, 0xFFFF};
    r.displayName = "Abc";
    r.postScriptName = "";
    r.items = {awfc::Item{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    r.fullNames = {"Full Name", "x"};
    r.value = 0x01020304;
    r.furtherName = "Fur";
    r.otherNames = {"12345"};
    t.records = {r};
    c.tables = {t};
    c.padding = 0xEE;

    FontBytes b;
    b.u32(0x00040000).u32(1);
    b.u32(3).tag("true").u32(24).u32(0xABCD);
    b.u32(1);
    b.u16(1).u16(2).u16(3).u16(0xFFFF);
    b.u32(3).bytes("Abc").u8(0xEE);
    b.u32(0);
    b.u32(1).bytes(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    b.u32(2)
        .u32(9)
        .bytes("Full Name")
        .u8(0xEE)
        .u8(0xEE)
        .u8(0xEE)
        .u32(1)
        .bytes("x")
        .u8(0xEE)
        .u8(0xEE)
        .u8(0xEE);
    b.u32(0x01020304);
    b.u32(3).bytes("Fur").u8(0xEE);
    b.u32(1).u32(5).bytes("12345").u8(0xEE).u8(0xEE).u8(0xEE);
    awfc::Layout layout;
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(awfc::writeCatalog(c, out, error, &layout)) << error;
    EXPECT_EQ(out, b.vec());
    EXPECT_EQ(layout.tableOffsets, std::vector<uint32_t>{24});

    // Every value can be forced for malformed files.
    c.version = 0x00050000;
    c.tableCount = 40;
    c.tables[0].entryCount = 7;
    c.tables[0].offset = 0x12345678;
    c.tables[0].records[0].displayName.length = 0x80000000;
    c.tables[0].records[0].itemCount = 9;
    c.tables[0].records[0].fullNameCount = 0xFFFFFFFF;
    c.tables[0].records[0].otherNameCount = 3;
    out = write(c);
    ASSERT_EQ(out.size(), b.size());
    FontBytes forced = b;
    forced.patch32(0, 0x00050000);
    forced.patch32(4, 40);
    forced.patch32(16, 0x12345678);
    forced.patch32(24, 7);
    forced.patch32(36, 0x80000000);
    forced.patch32(48, 9);
    forced.patch32(64, 0xFFFFFFFF);
    forced.patch32(b.size() - 16, 3);
    EXPECT_EQ(out, forced.vec());
}

TEST(CatalogWriterTest, CharacterSets) {
    using awfc::Text;
    auto tableOf = [](uint32_t tag, std::vector<awfc::Record> records) {
        awfc::Table t;
        t.tag = tag;
        t.records = std::move(records);
        return t;
    };
    auto rec = [](Text display, Text full) {
        awfc::Record r;
        r.displayName = std::move(display);
        r.fullNames = {std::move(full)};
        return r;
    };
    awfc::Catalog c;
    c.tables = {tableOf(makeTag('t', 'r', 'u', 'e'),
                        {rec("明朝", "後"), rec(kSoyomine + " B", "後"), rec("後", Text::bytes("\x82\xA0"))}),
                tableOf(makeTag('O', 'T', 'T', 'O'), {rec("後", "後")}),
                tableOf(makeTag('C', 'O', 'L', 'R'), {rec("後", "後")})};
    const std::string out = bytesOf(write(c));
    const size_t first = out.find("\x96\xBE\x92\xA9");  // 明朝 in code page 932
    const size_t marker = out.find(kSoyomine + " B");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(marker, std::string::npos);
    // Before the marker: code page 932; from it on: UTF-8; raw bytes as given.
    EXPECT_NE(out.find("\x8C\xE3", first), std::string::npos);
    EXPECT_LT(out.find("\x8C\xE3", first), marker);
    const size_t afterMarker = out.find("\xE5\xBE\x8C", marker);
    EXPECT_NE(afterMarker, std::string::npos);
    EXPECT_NE(out.find("\x82\xA0", afterMarker), std::string::npos);
    // The next table is code page 932 again, the COLR table UTF-8.
    const size_t otto = out.find("\x8C\xE3", marker);
    ASSERT_NE(otto, std::string::npos);
    EXPECT_NE(out.find("\xE5\xBE\x8C", otto), std::string::npos);
    EXPECT_EQ(out.find("\x8C\xE3", otto + 4), otto + 20);  // OTTO's display name then its full name

    // What code page 932 lacks, or text that is not UTF-8, is an error that names the line.
    awfc::Catalog bad;
    bad.tables = {tableOf(makeTag('t', 'r', 'u', 'e'), {rec("ok", "€ sign")})};
    bad.tables[0].records[0].fullNames[0].line = 12;
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_FALSE(awfc::writeCatalog(bad, image, error));
    EXPECT_NE(error.find("line 12"), std::string::npos) << error;
    EXPECT_NE(error.find("932"), std::string::npos) << error;
    // The same text is fine in a UTF-8 table.
    bad.tables[0].tag = makeTag('s', 'b', 'i', 'x');
    EXPECT_TRUE(awfc::writeCatalog(bad, image, error)) << error;
    bad.tables[0].records[0].fullNames[0] = Text("\xC3\x28");
    EXPECT_FALSE(awfc::writeCatalog(bad, image, error));

    std::vector<uint8_t> sjis;
    EXPECT_TRUE(awfc::encodeCp932("ｱ①ⅰ～\\", sjis));
    EXPECT_EQ(bytesOf(sjis), "\xB1\x87\x40\xFA\x40\x81\x60\x5C");
    EXPECT_FALSE(awfc::encodeCp932("😀", sjis));
    EXPECT_TRUE(awfc::isValidUtf8("そ\xF0\x9F\x98\x80"));
    for (const char* invalid : {"\x80", "\xC0\x80", "\xE3\x81", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
        EXPECT_FALSE(awfc::isValidUtf8(invalid)) << invalid;
    EXPECT_TRUE(awfc::switchesToUtf8(kSoyomine));
    EXPECT_FALSE(awfc::switchesToUtf8(kSoyomine.substr(0, 11)));
    EXPECT_TRUE(awfc::switchesToUtf8(Text::bytes(kSoyomine + "x")));
}

TEST(CatalogWriterTest, ParsesTheDescriptionFormat) {
    const awfc::Catalog c = parse(
        "\xEF\xBB\xBF# comment\r\n"
        "version 0x00040001\n"
        "tablecount 3\n"
        "padding 0xFF\n"
        "\n"
        "   table 3 \"OCF \" entrycount=2 offset=0x100 reserved=7\n"
        "entry\n"
        "  display =   Name # not a comment  \n"
        "  postscript=PS=1\n"
        "  values = 1 2 0x10 65535\n"
        "  item = 000102030405060708090a0B\n"
        "  item = 00 01 02 03 04 05 06 07 08 09 0a 0b\n"
        "  itemcount = 5\n"
        "  fullname = \"  \\\"quoted\\\" \\\\ \\t\\u3042\\U0001F600 \"\n"
        "  fullname = <82 A0 82a2>\n"
        "  fullname =\n"
        "  fullnamecount = 0xFFFFFFFF\n"
        "  value = 4294967295\n"
        "  further = <>\n"
        "  othername = #1\n"
        "  othernamecount = 0\n"
        "entry\n"
        "table 16 tr\n"
        "table 0 0x434F4C52\n");
    EXPECT_EQ(c.version, 0x00040001u);
    EXPECT_EQ(c.tableCount, 3u);
    EXPECT_EQ(c.padding, 0xFF);
    ASSERT_EQ(c.tables.size(), 3u);
    const awfc::Table& t = c.tables[0];
    EXPECT_EQ(t.group, 3u);
    EXPECT_EQ(t.tag, 0x4F434620u);
    EXPECT_EQ(t.entryCount, 2u);
    EXPECT_EQ(t.offset, 0x100u);
    EXPECT_EQ(t.reserved, 7u);
    ASSERT_EQ(t.records.size(), 2u);
    const awfc::Record& r = t.records[0];
    EXPECT_EQ(r.displayName.text, "Name # not a comment");
    EXPECT_EQ(r.displayName.line, 8);
    EXPECT_EQ(r.postScriptName.text, "PS=1");
    EXPECT_EQ(r.values, (std::array<uint16_t, 4>{1, 2, 16, 65535}));
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0], r.items[1]);
    EXPECT_EQ(r.items[0][11], 0x0B);
    EXPECT_EQ(r.itemCount, 5u);
    ASSERT_EQ(r.fullNames.size(), 3u);
    EXPECT_EQ(r.fullNames[0].text, "  \"quoted\" \\ \tあ😀 ");
    EXPECT_EQ(r.fullNames[1].raw, (std::vector<uint8_t>{0x82, 0xA0, 0x82, 0xA2}));
    EXPECT_EQ(r.fullNames[2], awfc::Text(""));
    EXPECT_EQ(r.fullNameCount, 0xFFFFFFFFu);
    EXPECT_EQ(r.value, 0xFFFFFFFFu);
    EXPECT_EQ(r.furtherName.raw, std::vector<uint8_t>{});
    EXPECT_EQ(r.otherNames, std::vector<awfc::Text>{"#1"});
    EXPECT_EQ(r.otherNameCount, 0u);
    EXPECT_EQ(t.records[1], awfc::Record());
    EXPECT_EQ(c.tables[1].tag, makeTag('t', 'r', ' ', ' '));
    EXPECT_EQ(c.tables[1].group, 16u);
    EXPECT_EQ(c.tables[2].tag, makeTag('C', 'O', 'L', 'R'));
    EXPECT_EQ(parse(""), awfc::Catalog());
}

TEST(CatalogWriterTest, DescriptionErrorsNameTheLine) {
    const struct {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"entry\n", 1, "before the first 'table'"},
        {"table 1 true\ndisplay = x\n", 2, "outside an entry"},
        {"table 1 true\nentry\ndisplay = a\ndisplay = b\n", 4, "given twice"},
        {"table 1 true\nentry\ncolour = red\n", 3, "unknown key 'colour'"},
        {"table 1 true\nentry\ndisplay\n", 3, "expected 'display = <value>'"},
        {"\n\nfrobnicate\n", 3, "unknown statement 'frobnicate'"},
        {"table x true\n", 1, "bad group number"},
        {"table 1\n", 1, "expected 'table <group> <tag>'"},
        {"table 1 toolong\n", 1, "one to four characters"},
        {"table 1 \"abc\"\n", 1, "exactly four characters"},
        {"table 1 true size=3\n", 1, "unknown table option 'size'"},
        {"table 1 true\nversion 1\n", 2, "before the first 'table'"},
        {"version 0x1000000000\n", 1, "bad number"},
        {"padding 256\n", 1, "bad number"},
        {"table 1 true\nentry\nvalues = 1 2 3\n", 3, "four numbers"},
        {"table 1 true\nentry\nvalues = 1 2 3 65536\n", 3, "bad 16-bit number"},
        {"table 1 true\nentry\nitem = 0102\n", 3, "12 bytes"},
        {"table 1 true\nentry\nitem = 0g\n", 3, "not a hex digit"},
        {"table 1 true\nentry\ndisplay = \"open\n", 3, "missing closing"},
        {"table 1 true\nentry\ndisplay = \"a\" b\n", 3, "after the closing"},
        {"table 1 true\nentry\ndisplay = \"\\q\"\n", 3, "unknown escape"},
        {"table 1 true\nentry\ndisplay = \"\\uD800\"\n", 3, "no Unicode character"},
        {"table 1 true\nentry\ndisplay = \"\\u12\"\n", 3, "4 hex digits"},
        {"table 1 true\nentry\ndisplay = <82 A\n", 3, "must end with '>'"},
        {"table 1 true\nentry\ndisplay = <82 A>\n", 3, "two digits"},
        {"table 1 true\nentry\ndisplay = \xFF\n", 3, "UTF-8"},
        {"table 1 true\nentry\nfullnamecount = -1\n", 3, "bad number"},
    };
    for (const auto& k : cases) {
        awfc::Catalog c;
        awfc::ParseError error;
        EXPECT_FALSE(awfc::parseCatalogText(k.text, c, error)) << k.text;
        EXPECT_EQ(error.line, k.line) << k.text;
        EXPECT_NE(error.message.find(k.message), std::string::npos) << k.text << " -> " << error.message;
    }
}

TEST(CatalogWriterTest, FormatAndParseAgree) {
    awfc::Catalog c;
    c.version = 0x00030000;
    c.tableCount = 9;
    c.padding = 0x80;
    awfc::Table t;
    t.group = 5;
    t.tag = makeTag('p', 's', 'O', 'C');
    t.entryCount = 4;
    t.offset = 12;
    t.reserved = 1;
    awfc::Record r;
    r.values = {9, 8, 7, 6};
    r.displayName = "  lead and trail  ";
    r.postScriptName = "\"quoted\" <angle> \\ \t\n\x01\x7F";
    r.items = {awfc::Item{0xFF}};
    r.itemCount = 2;
    r.fullNames = {"", "plain name", "<", awfc::Text::bytes(std::string("\0\xFF", 2))};
    r.fullNameCount = 1;
    r.value = 77;
    r.furtherName = awfc::Text::bytes("");
    r.otherNames = {"そよみね"};
    r.otherNameCount = 0;
    t.records = {r, awfc::Record()};
    c.tables = {t, awfc::Table()};
    c.tables[1].tag = 0x01020304;  // no text form
    const std::string text = awfc::formatCatalogText(c);
    EXPECT_EQ(parse(text), c) << text;
    EXPECT_NE(text.find("table 0 0x01020304"), std::string::npos) << text;
    EXPECT_EQ(awfc::formatCatalogText(awfc::Catalog()), "");
}

TEST(CatalogWriterTest, ReadmeExampleParsesAsWritten) {
    // The example block of the format's description must be a description the parser takes as it stands,
    // so that a user who copies it gets what the notes in it say.
    const std::string readme = readFile(std::string(KORV_SOURCE_DIR) + "/tools/catalog/README.md");
    const size_t section = readme.find("## Description format");
    ASSERT_NE(section, std::string::npos);
    const size_t open = readme.find("```\n", section);
    ASSERT_NE(open, std::string::npos);
    const size_t close = readme.find("```", open + 4);
    ASSERT_NE(close, std::string::npos);
    const awfc::Catalog c = parse(readme.substr(open + 4, close - open - 4));
    EXPECT_EQ(c.version, 0x00040000u);
    EXPECT_EQ(c.tableCount, 33u);
    EXPECT_EQ(c.padding, 0xFF);
    ASSERT_EQ(c.tables.size(), 1u);
    ASSERT_EQ(c.tables[0].records.size(), 2u);
    const awfc::Record& r = c.tables[0].records[0];
    ASSERT_EQ(r.fullNames.size(), 2u);
    EXPECT_EQ(r.fullNames[0].text, "コハク角ゴ Pro W3");  // no note in the name
    EXPECT_EQ(r.furtherName.text, "Kohaku");
    EXPECT_EQ(r.otherNames, std::vector<awfc::Text>{"コハク"});
}

// The korv-catalog program itself: built next to the tests (see tools/catalog/CMakeLists.txt).
class CatalogToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tool = std::string(KORV_BINARY_DIR) + "/tools/catalog/korv-catalog";
        ASSERT_EQ(access(m_tool.c_str(), X_OK), 0) << "the korv-catalog tool was not built: " << m_tool;
        std::string pattern = ::testing::TempDir() + "korv-catalog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
    }
    void TearDown() override {
        std::error_code ignored;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
    }
    // Runs the tool with `args`; returns its exit status, with its output and errors.
    int run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
        const std::string command =
            "'" + m_tool + "' " + args + " >'" + m_dir + "stdout' 2>'" + m_dir + "stderr' </dev/null";
        const int status = std::system(command.c_str());
        if (out) *out = readFile(m_dir + "stdout");
        if (err) *err = readFile(m_dir + "stderr");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string m_tool;
    std::string m_dir;
};

TEST_F(CatalogToolTest, DescriptionToFileToDumpRoundTrip) {
    const std::string sample = std::string(KORV_TEST_DATA) + "/catalog/sample.txt";
    ASSERT_EQ(run("'" + sample + "' '" + m_dir + "a.awfc'"), 0);
    const std::string image = readFile(m_dir + "a.awfc");
    // The tool writes what the library writes.
    EXPECT_EQ(image, bytesOf(write(parse(readFile(sample)))));

    std::string dumped;
    ASSERT_EQ(run("--dump '" + m_dir + "a.awfc'", &dumped), 0);
    FontCatalog catalog;
    ASSERT_EQ(catalog.load(reinterpret_cast<const uint8_t*>(image.data()), image.size()), kOk);
    const awfc::Catalog loaded = awfc::describeCatalog(catalog);
    EXPECT_EQ(parse(dumped), loaded) << dumped;
    EXPECT_NE(dumped.find("display = コハク角ゴ W3"), std::string::npos) << dumped;
    EXPECT_NE(dumped.find("table 10 \"true\""), std::string::npos) << dumped;  // stored group 3

    // The dump builds a catalog that loads to the same thing.
    writeFile(m_dir + "dump.txt", dumped);
    ASSERT_EQ(run("'" + m_dir + "dump.txt' '" + m_dir + "b.awfc'"), 0);
    const std::string again = readFile(m_dir + "b.awfc");
    FontCatalog reloaded;
    ASSERT_EQ(reloaded.load(reinterpret_cast<const uint8_t*>(again.data()), again.size()), kOk);
    EXPECT_EQ(awfc::describeCatalog(reloaded), loaded);
    // Dumping to a file gives the same text.
    ASSERT_EQ(run("--dump '" + m_dir + "a.awfc' '" + m_dir + "dump2.txt'"), 0);
    EXPECT_EQ(readFile(m_dir + "dump2.txt"), dumped);
}

TEST_F(CatalogToolTest, ErrorsAndUsage) {
    std::string out, err;
    writeFile(m_dir + "bad.txt", "# first\ntable 1 true\nentry\n    colour = red\n");
    EXPECT_EQ(run("'" + m_dir + "bad.txt' '" + m_dir + "x.awfc'", nullptr, &err), 1);
    EXPECT_NE(err.find("bad.txt:4: unknown key 'colour'"), std::string::npos) << err;
    EXPECT_NE(access((m_dir + "x.awfc").c_str(), F_OK), 0);  // nothing written

    writeFile(m_dir + "lacks.txt", "table 1 true\nentry\n  display = ok\n  fullname = € sign\n");
    EXPECT_EQ(run("'" + m_dir + "lacks.txt' '" + m_dir + "x.awfc'", nullptr, &err), 1);
    EXPECT_NE(err.find("lacks.txt:4: "), std::string::npos) << err;

    writeFile(m_dir + "notcat.awfc", std::string("\x00\x05\x00\x00\x00\x00\x00\x00", 8));
    EXPECT_EQ(run("--dump '" + m_dir + "notcat.awfc'", &out, &err), 1);
    EXPECT_NE(err.find("not a version-4.0 catalog"), std::string::npos) << err;
    EXPECT_EQ(run("--dump '" + m_dir + "missing.awfc'", nullptr, &err), 1);
    EXPECT_NE(err.find("cannot read"), std::string::npos) << err;

    EXPECT_EQ(run("", nullptr, &err), 2);
    EXPECT_NE(err.find("usage:"), std::string::npos);
    EXPECT_EQ(run("--frob a b"), 2);
    EXPECT_EQ(run("--help", &out), 0);
    EXPECT_NE(out.find("--dump"), std::string::npos);
}
