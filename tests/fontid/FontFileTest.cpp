#include "fontid/FontFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Text.h"
#include "sfnt/Status.h"
#include "support/FontBytes.h"
#include "support/SfntBuilder.h"

namespace {

struct Sniffed {
    int32_t status;
    FontKind kind;
    uint32_t numFonts;
};

Sniffed sniff(const Bytes& bytes) {
    MemoryFile file(bytes.data(), bytes.size());
    Sniffed s{};
    s.status = sniffFontHeader(file, int64_t(bytes.size()), s.kind, &s.numFonts);
    return s;
}

FontKind detect(const Bytes& bytes, bool* candidate = nullptr) {
    MemoryFile file(bytes.data(), bytes.size());
    FontKind kind = kindNone;
    const bool c = detectOpenFile(file, kind);
    if (candidate) *candidate = c;
    return kind;
}

// An sfnt whose directory holds the given tags (tables of 4 zero bytes).
Bytes directoryOf(std::initializer_list<const char*> tags, uint32_t version = SfntBuilder::kTrueTypeVersion) {
    SfntBuilder s(version);
    for (const char* t : tags) s.table(t, Bytes(4, 0));
    return s.build();
}

// A tag that no procedure knows: "zz" and two letters.
std::string numberedTag(int i) {
    const char tag[5] = {'z', 'z', char('a' + i / 26), char('a' + i % 26), 0};
    return tag;
}

// A file whose operations fail or fall short on demand.
class FaultyFile final : public File {
public:
    explicit FaultyFile(Bytes bytes) : m_inner(std::move(bytes)), m_file(m_inner.data(), m_inner.size()) {}
    bool seek(int64_t offset, Origin origin) override {
        if (origin == Origin::End ? failSeekEnd : failSeekStart) return false;
        return m_file.seek(offset, origin);
    }
    int64_t tell() override { return reportedSize ? *reportedSize : m_file.tell(); }
    size_t read(void* destination, size_t count) override {
        ++reads;
        const size_t n = m_file.read(destination, count);
        return n > shortBy ? n - shortBy : 0;
    }
    bool failSeekEnd = false, failSeekStart = false;
    const int64_t* reportedSize = nullptr;
    size_t shortBy = 0;
    int reads = 0;

private:
    Bytes m_inner;
    MemoryFile m_file;
};

}  // namespace

TEST(FontFileTest, ExtensionTest) {
    for (const char16_t* ok : {u"a.ttf", u"a.TTF", u"a.Ttc", u"a.otf", u"a.OtF", u"dir.x/a.tTc", u".ttf"})
        EXPECT_TRUE(hasFontExtension(ok)) << std::u16string(ok).size();
    for (const char16_t* bad : {u"a.ttx", u"a.tt", u"a.woff", u"attf", u"a.otc", u"a.oTx", u"a.ttfx",
                                u"a.t_f", u"a.ttf.bak", u"a.ttf/b", u"a.", u"", u"a.xtf"})
        EXPECT_FALSE(hasFontExtension(bad));
    EXPECT_FALSE(hasFontExtension(nullptr));
}

TEST(FontFileTest, HeaderKinds) {
    EXPECT_EQ(sniff(directoryOf({"glyf"}, tagValue("typ1"))).kind, kindType1Sfnt);
    EXPECT_EQ(sniff(directoryOf({"CFF "}, tagValue("OTTO"))).kind, kindOpenTypeCff);
    EXPECT_EQ(sniff(directoryOf({"head", "glyf"})).kind, kindTrueType);
    EXPECT_EQ(sniff(directoryOf({"glyf"}, tagValue("true"))).kind, kindTrueType);
    EXPECT_EQ(sniff(directoryOf({"head"})).kind, kindNone);
    EXPECT_EQ(sniff(directoryOf({"glyf"}, tagValue("wOFF"))).kind, kindWoff);
    EXPECT_EQ(sniff(directoryOf({"glyf"}, 0x00020000)).kind, kindNone);
    // Bitmap tables and sbix: the later secondary tag decides; glyf anywhere wins.
    EXPECT_EQ(sniff(directoryOf({"bdat"})).kind, kindBitmapOnly);
    EXPECT_EQ(sniff(directoryOf({"CBDT", "head"})).kind, kindBitmapOnly);
    EXPECT_EQ(sniff(directoryOf({"EBDT", "sbix"})).kind, kindSbixOnly);
    EXPECT_EQ(sniff(directoryOf({"sbix", "EBDT"})).kind, kindBitmapOnly);
    EXPECT_EQ(sniff(directoryOf({"sbix", "EBDT", "glyf"})).kind, kindTrueType);
    const Sniffed text = sniff(Bytes(600, 'x'));
    EXPECT_EQ(text.status, kOk);
    EXPECT_EQ(text.kind, kindNone);
}

TEST(FontFileTest, CandidateRule) {
    bool candidate = true;
    EXPECT_EQ(detect(directoryOf({"EBDT", "sbix"}), &candidate), kindSbixOnly);
    EXPECT_FALSE(candidate);
    EXPECT_EQ(detect(directoryOf({"glyf"}, tagValue("typ1")), &candidate), kindType1Sfnt);
    EXPECT_FALSE(candidate);
    EXPECT_EQ(detect(directoryOf({"sbix", "EBDT"}), &candidate), kindBitmapOnly);
    EXPECT_TRUE(candidate);
    EXPECT_EQ(detect(directoryOf({"glyf"}, tagValue("wOFF")), &candidate), kindWoff);
    EXPECT_TRUE(candidate);
    EXPECT_EQ(detect(Bytes(600, 0), &candidate), kindNone);
    EXPECT_FALSE(candidate);
}

TEST(FontFileTest, FileOf511BytesIsNoCandidate) {
    Bytes font = directoryOf({"glyf"});
    font.resize(511);
    EXPECT_EQ(sniff(font).status, kFontDataError);
    bool candidate = true;
    EXPECT_EQ(detect(font, &candidate), kindNone);
    EXPECT_FALSE(candidate);
    font.resize(512);
    EXPECT_EQ(sniff(font).kind, kindTrueType);
}

TEST(FontFileTest, DirectoryOf32To48TablesReadsPastByte512) {
    // 40 tables, glyf as record 35: its tag is at 12 + 16 x 35 = 572, beyond the first 512 bytes.
    SfntBuilder s;
    for (int i = 0; i < 40; ++i) s.table(i == 35 ? "glyf" : numberedTag(i), Bytes(4, 0));
    const Bytes font = s.build();
    EXPECT_EQ(sniff(font).kind, kindTrueType);

    // 48 tables is the limit, 49 one past it.
    SfntBuilder max;
    for (int i = 0; i < 48; ++i) max.table(i == 47 ? "glyf" : numberedTag(i), Bytes(4, 0));
    EXPECT_EQ(sniff(max.build()).kind, kindTrueType);
    max.table("name", Bytes(4, 0));
    EXPECT_EQ(sniff(max.build()).status, kFontDataError);

    // The directory of 32 tables needs 524 bytes: a 512-byte file cannot hold it.
    Bytes shortFile = directoryOf({"glyf"});
    shortFile[5] = 32;
    shortFile.resize(512);
    EXPECT_EQ(sniff(shortFile).status, kIoError);
    shortFile.resize(524);
    EXPECT_EQ(sniff(shortFile).status, kOk);
}

TEST(FontFileTest, CollectionHeader) {
    const SfntBuilder tt = SfntBuilder::trueType(nameTable({}));
    const SfntBuilder otto = SfntBuilder::openType(cffTableNamed("A"), nameTable({}));
    Sniffed s = sniff(buildCollection({tt, otto}));
    EXPECT_EQ(s.kind, kindTrueTypeCollection);
    EXPECT_EQ(s.numFonts, 2u);
    EXPECT_EQ(sniff(buildCollection({otto, tt})).kind, kindCffCollection);
    EXPECT_EQ(sniff(buildCollection({SfntBuilder(tagValue("true"))})).kind, kindTrueTypeCollection);
    EXPECT_EQ(sniff(buildCollection({SfntBuilder(tagValue("typ1"))})).kind, kindNone);

    // Font counts: 48 is the limit; 0 is read but makes no candidate.
    Bytes many = buildCollection({tt}, 0, 48);
    EXPECT_EQ(sniff(many).status, kOk);
    many = buildCollection({tt}, 0, 49);
    EXPECT_EQ(sniff(many).status, kFontDataError);
    bool candidate = true;
    EXPECT_EQ(detect(buildCollection({tt}, 0, 0), &candidate), kindTrueTypeCollection);
    EXPECT_FALSE(candidate);
    EXPECT_EQ(detect(buildCollection({otto}), &candidate), kindCffCollection);
    EXPECT_TRUE(candidate);
}

TEST(FontFileTest, CollectionFirstFontBeyondTheFirst512Bytes) {
    // Classified by the four bytes at 600, read there.
    const SfntBuilder otto = SfntBuilder::openType(cffTableNamed("A"), nameTable({}));
    const SfntBuilder tt = SfntBuilder::trueType(nameTable({}));
    EXPECT_EQ(sniff(buildCollection({otto}, 600)).kind, kindCffCollection);
    EXPECT_EQ(sniff(buildCollection({tt}, 600)).kind, kindTrueTypeCollection);
    // At 508 the tag ends exactly at byte 512 and comes from the bytes already read; at 509 it is read anew.
    EXPECT_EQ(sniff(buildCollection({tt}, 508)).kind, kindTrueTypeCollection);
    EXPECT_EQ(sniff(buildCollection({tt}, 509)).kind, kindTrueTypeCollection);

    // Near the end of the file fewer than 512 bytes come back: the four tag bytes are enough.
    Bytes nearEnd = buildCollection({}, 0, 1, 700);
    FontBytes h;
    h.u32(696);
    std::copy(h.vec().begin(), h.vec().end(), nearEnd.begin() + 12);
    nearEnd[696] = 0;
    nearEnd[697] = 1;
    EXPECT_EQ(sniff(nearEnd).kind, kindTrueTypeCollection);
    // Three bytes, or an offset past the end: the read fails.
    h.patch32(0, 697);
    std::copy(h.vec().begin(), h.vec().end(), nearEnd.begin() + 12);
    EXPECT_EQ(sniff(nearEnd).status, kIoError);
    h.patch32(0, 0xFFFFFFFF);
    std::copy(h.vec().begin(), h.vec().end(), nearEnd.begin() + 12);
    EXPECT_EQ(sniff(nearEnd).status, kIoError);
}

TEST(FontFileTest, SniffReadFailures) {
    FaultyFile seekFails(directoryOf({"glyf"}));
    seekFails.failSeekStart = true;
    FontKind kind = kindTrueType;
    EXPECT_EQ(sniffFontHeader(seekFails, 600, kind), kIoError);
    EXPECT_EQ(kind, kindNone);

    // The size says 512 but the read delivers less.
    FaultyFile shortRead(directoryOf({"glyf"}));
    shortRead.shortBy = 1;
    EXPECT_EQ(sniffFontHeader(shortRead, 512, kind), kIoError);

    FaultyFile noEnd(directoryOf({"glyf"}));
    noEnd.failSeekEnd = true;
    EXPECT_FALSE(detectOpenFile(noEnd, kind));
    const int64_t negative = -1;
    FaultyFile badTell(directoryOf({"glyf"}));
    badTell.reportedSize = &negative;
    EXPECT_FALSE(detectOpenFile(badTell, kind));
}

TEST(FontFileTest, DetectsFilesOnDisk) {
    TempDir dir;
    const Bytes tt = SfntBuilder::trueType(nameTable({})).build();
    FontKind kind = kindNone;
    EXPECT_TRUE(detectFontFile(dir.write("font.TTF", tt).c_str(), kind));
    EXPECT_EQ(kind, kindTrueType);
    EXPECT_FALSE(detectFontFile(dir.write("font.ttx", tt).c_str(), kind));
    EXPECT_EQ(kind, kindNone);
    EXPECT_FALSE(detectFontFile(dir.write("font", tt).c_str(), kind));
    // The extension does not have to agree with the content.
    const Bytes otto = SfntBuilder::openType(cffTableNamed("A"), nameTable({})).build();
    EXPECT_TRUE(detectFontFile(dir.write("font.ttf", otto).c_str(), kind));
    EXPECT_EQ(kind, kindOpenTypeCff);
    EXPECT_FALSE(detectFontFile(dir.write("text.ttf", asBytes(std::string(2000, 'a'))).c_str(), kind));
    EXPECT_FALSE(detectFontFile(utf8ToUtf16(dir.path() + "/missing.ttf").c_str(), kind));
    EXPECT_FALSE(detectFontFile(utf8ToUtf16(dir.path()).c_str(), kind));
    EXPECT_FALSE(detectFontFile(nullptr, kind));
    // A directory named like a font is no candidate either.
    std::filesystem::create_directory(dir.path() + "/folder.ttf");
    EXPECT_FALSE(detectFontFile(utf8ToUtf16(dir.path() + "/folder.ttf").c_str(), kind));
}

TEST(FontFileTest, WholeFileImageLoads) {
    TempDir dir;
    const Bytes tt = SfntBuilder::trueType(nameTable({})).build();
    WholeFileImage image;
    ASSERT_EQ(image.load(dir.write("a.ttf", tt).c_str()), kOk);
    ASSERT_EQ(image.size(), tt.size());
    ByteReader all = image.view(0, image.size());
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(std::memcmp(all.data(), tt.data(), tt.size()), 0);
    EXPECT_FALSE(image.view(image.size() - 3, 4).ok());
    EXPECT_FALSE(image.view(0xFFFFFFFF, 2).ok());
    EXPECT_TRUE(image.view(image.size(), 0).ok());

    // The open error is the platform's error number.
    EXPECT_EQ(image.load(utf8ToUtf16(dir.path() + "/missing.ttf").c_str()), ENOENT);
    EXPECT_EQ(image.size(), 0u);
    // An empty file is an empty image.
    ASSERT_EQ(image.load(dir.write("empty.ttf", {}).c_str()), kOk);
    EXPECT_EQ(image.size(), 0u);
}

TEST(FontFileTest, WholeFileImageFailures) {
    const Bytes bytes = directoryOf({"glyf"});
    WholeFileImage image;
    {
        FaultyFile f(bytes);
        f.failSeekEnd = true;
        EXPECT_EQ(image.load(f), kIoError);
    }
    {
        const int64_t negative = -1;
        FaultyFile f(bytes);
        f.reportedSize = &negative;
        EXPECT_EQ(image.load(f), kIoError);
    }
    {
        // The size is a signed 32-bit value: one past its range is refused before any allocation.
        const int64_t tooLarge = kMaxImageSize + 1;
        FaultyFile f(bytes);
        f.reportedSize = &tooLarge;
        EXPECT_EQ(image.load(f), kIoError);
        EXPECT_EQ(f.reads, 0);
    }
    {
        FaultyFile f(bytes);
        f.failSeekStart = true;
        EXPECT_EQ(image.load(f), kIoError);
    }
    {
        FaultyFile f(bytes);
        f.shortBy = 1;
        EXPECT_EQ(image.load(f), kShortRead);
        EXPECT_EQ(image.size(), 0u);
    }
}

TEST(FontFileTest, TableRecordsOfASingleFont) {
    TableRecord records[kMaxTableRecords];
    uint16_t count = 99;
    const Bytes font = SfntBuilder::trueType(nameTable({})).build();
    MemoryImage image(font.data(), uint32_t(font.size()));
    ASSERT_EQ(readTableRecords(image, kindTrueType, records, count), kOk);
    ASSERT_EQ(count, 5);
    EXPECT_EQ(records[0].tag, tagValue("glyf"));
    EXPECT_EQ(records[0].offset, 12u + 16 * 5);
    EXPECT_EQ(records[0].length, 12u);
    EXPECT_EQ(records[4].tag, tagValue("name"));

    // Too short for an offset table, too many tables, records past the end.
    EXPECT_EQ(readTableRecords(MemoryImage(font.data(), 11), kindTrueType, records, count), kParamError);
    EXPECT_EQ(readTableRecords(MemoryImage(font.data(), 12 + 16 * 5 - 1), kindTrueType, records, count),
              kParamError);
    EXPECT_EQ(readTableRecords(MemoryImage(font.data(), 12 + 16 * 5), kindTrueType, records, count), kOk);
    SfntBuilder max;
    for (int i = 0; i < 48; ++i) max.table(numberedTag(i), {});
    const Bytes full = max.build();
    EXPECT_EQ(readTableRecords(MemoryImage(full.data(), uint32_t(full.size())), kindTrueType, records, count),
              kOk);
    EXPECT_EQ(count, 48);
    EXPECT_EQ(records[47].tag, tagValue(numberedTag(47)));
    const Bytes tooMany = max.numTablesField(49).minSize(2000).build();
    EXPECT_EQ(
        readTableRecords(MemoryImage(tooMany.data(), uint32_t(tooMany.size())), kindTrueType, records, count),
        kParamError);
    EXPECT_EQ(readTableRecords(image, kindOpenTypeCff, records, count), kParamError);
}

TEST(FontFileTest, TableRecordsOfACollectionsFirstFont) {
    TableRecord records[kMaxTableRecords];
    uint16_t count = 0;
    const SfntBuilder first = SfntBuilder::trueType(nameTable({}));
    SfntBuilder second;
    second.table("glyf", Bytes(8, 1));
    const Bytes ttc = buildCollection({first, second}, 600);
    MemoryImage image(ttc.data(), uint32_t(ttc.size()));
    ASSERT_EQ(readTableRecords(image, kindTrueTypeCollection, records, count), kOk);
    ASSERT_EQ(count, 5);
    // Offsets count from the start of the file.
    EXPECT_EQ(records[0].offset, 600u + 12 + 16 * 5);

    EXPECT_EQ(readTableRecords(MemoryImage(ttc.data(), 15), kindTrueTypeCollection, records, count),
              kParamError);
    EXPECT_EQ(readTableRecords(MemoryImage(ttc.data(), 611), kindTrueTypeCollection, records, count),
              kParamError);
    EXPECT_EQ(
        readTableRecords(MemoryImage(ttc.data(), 612 + 16 * 5 - 1), kindTrueTypeCollection, records, count),
        kParamError);
    EXPECT_EQ(readTableRecords(MemoryImage(ttc.data(), 612 + 16 * 5), kindTrueTypeCollection, records, count),
              kOk);
    // An offset near 2^32 must not wrap around.
    Bytes wrap = ttc;
    wrap[12] = wrap[13] = wrap[14] = 0xFF;
    wrap[15] = 0xF8;
    EXPECT_EQ(readTableRecords(MemoryImage(wrap.data(), uint32_t(wrap.size())), kindTrueTypeCollection,
                               records, count),
              kParamError);
}

namespace {

// A file of `size` bytes whose byte i is a function of i (a font can be laid over its start), recording
// every read; it can stop delivering bytes at some offset, as a file cut while it is read.
class PatternFile final : public File {
public:
    explicit PatternFile(uint64_t size, Bytes prefix = {}) : m_size(size), m_prefix(std::move(prefix)) {}
    static uint8_t patternAt(uint64_t i) { return uint8_t((i * 7 + 3) % 251); }
    uint8_t at(uint64_t i) const { return i < m_prefix.size() ? m_prefix[size_t(i)] : patternAt(i); }

    bool seek(int64_t offset, Origin origin) override {
        if (failSeeks) return false;
        m_pos = uint64_t(origin == Origin::Start ? offset : int64_t(m_size) + offset);
        return true;
    }
    int64_t tell() override { return int64_t(m_pos); }
    size_t read(void* destination, size_t count) override {
        reads.push_back({m_pos, count});
        const uint64_t end = std::min<uint64_t>({m_pos + count, m_size, deliversUpTo});
        size_t n = 0;
        for (uint64_t i = m_pos; i < end; ++i, ++n) static_cast<uint8_t*>(destination)[n] = at(i);
        m_pos += n;
        return n;
    }
    struct Read {
        uint64_t offset, count;
    };
    std::vector<Read> reads;
    uint64_t deliversUpTo = UINT64_MAX;
    bool failSeeks = false;

private:
    uint64_t m_size;
    Bytes m_prefix;
    uint64_t m_pos = 0;
};

// No byte was asked for twice.
void expectDisjoint(std::vector<PatternFile::Read> reads) {
    std::sort(reads.begin(), reads.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < reads.size(); ++i)
        EXPECT_GE(reads[i].offset, reads[i - 1].offset + reads[i - 1].count)
            << "read twice at " << reads[i].offset;
}

void expectBytes(const PatternFile& file, const ByteReader& view, uint64_t offset, uint32_t length) {
    ASSERT_TRUE(view.ok());
    ASSERT_EQ(view.size(), length);
    for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(view.data()[i], file.at(offset + i)) << offset + i;
}

}  // namespace

TEST(FontFileTest, RangeImageReadsEachByteOnceAndKeepsViewsValid) {
    PatternFile file(200000);
    RangeFileImage image;
    ASSERT_EQ(image.open(file), kOk);
    EXPECT_EQ(image.size(), 200000u);
    EXPECT_TRUE(file.reads.empty());

    // A small request is widened to the minimum read; what lies inside needs no read.
    const ByteReader first = image.view(50000, 10);
    expectBytes(file, first, 50000, 10);
    ASSERT_EQ(file.reads.size(), 1u);
    EXPECT_EQ(file.reads[0].offset, 50000u);
    EXPECT_EQ(file.reads[0].count, RangeFileImage::kMinimumRead);
    expectBytes(file, image.view(50005, 5), 50005, 5);
    EXPECT_EQ(file.reads.size(), 1u);

    // A neighbour within the gap joins the bytes at hand: only the new bytes are read.
    expectBytes(file, image.view(51100, 100), 51100, 100);
    ASSERT_EQ(file.reads.size(), 2u);
    EXPECT_EQ(file.reads[1].offset, 50000u + RangeFileImage::kMinimumRead);

    // Far ranges, then one view across all of them: the gaps between are read, nothing else.
    const ByteReader far = image.view(150000, 3000);
    expectBytes(file, image.view(0, 100), 0, 100);
    expectBytes(file, image.view(0, 160000), 0, 160000);
    // The end of the file bounds the widening.
    expectBytes(file, image.view(199990, 10), 199990, 10);
    expectDisjoint(file.reads);
    uint64_t asked = 0;
    for (auto& r : file.reads) asked += r.count;
    EXPECT_EQ(image.bytesRead(), asked);
    EXPECT_EQ(image.readCount(), file.reads.size());

    // Views handed out before the joins still show their bytes.
    expectBytes(file, first, 50000, 10);
    expectBytes(file, far, 150000, 3000);

    // Outside the file nothing is read.
    const size_t before = file.reads.size();
    EXPECT_FALSE(image.view(199999, 2).ok());
    EXPECT_FALSE(image.view(0xFFFFFFFF, 2).ok());
    EXPECT_TRUE(image.view(200000, 0).ok());
    EXPECT_EQ(file.reads.size(), before);
    EXPECT_EQ(image.status(), kOk);
}

TEST(FontFileTest, RangeImageFailures) {
    {
        // The file ends early: the read that comes back short is -37, and nothing is read after it.
        PatternFile file(10000);
        file.deliversUpTo = 6000;
        RangeFileImage image;
        ASSERT_EQ(image.open(file), kOk);
        EXPECT_TRUE(image.view(0, 100).ok());
        EXPECT_FALSE(image.view(5000, 2000).ok());
        EXPECT_EQ(image.status(), kShortRead);
        const size_t reads = file.reads.size();
        EXPECT_FALSE(image.view(0, 10).ok());
        EXPECT_EQ(file.reads.size(), reads);
    }
    {
        PatternFile file(10000);
        RangeFileImage image;
        ASSERT_EQ(image.open(file), kOk);
        file.failSeeks = true;
        EXPECT_FALSE(image.view(100, 10).ok());
        EXPECT_EQ(image.status(), kIoError);
    }
    {
        // A size above the 32-bit image limit is refused as the whole-file image refuses it.
        PatternFile file(uint64_t(kMaxImageSize) + 1);
        RangeFileImage image;
        EXPECT_EQ(image.open(file), kIoError);
        EXPECT_TRUE(file.reads.empty());
    }
}
