// Builders of crafted sfnt fonts for tests: table directories, `name` tables, CFF tables and collections.
// Every offset in a built font counts from the start of the file, also inside a collection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One sfnt font: the offset table, the table records in the order they were added (not sorted, so tests
// can choose the directory order), then the table data, each table 4-byte aligned.
class SfntBuilder {
public:
    static constexpr uint32_t kTrueTypeVersion = 0x00010000;

    explicit SfntBuilder(uint32_t version = kTrueTypeVersion) : m_version(version) {}
    explicit SfntBuilder(std::string_view versionTag);

    // Adds a table with its data.
    SfntBuilder& table(std::string_view tag, Bytes data);
    // Adds a record with a fixed offset and length and no data (records that point anywhere).
    SfntBuilder& rawRecord(std::string_view tag, uint32_t offset, uint32_t length);
    // Overrides the numTables field (the records written stay as added).
    SfntBuilder& numTablesField(uint16_t numTables);
    // Pads the built file with zeros to at least this size (detection needs 512 bytes). Default 512.
    SfntBuilder& minSize(size_t size);

    size_t tableCount() const { return m_tables.size(); }

    // The font as a file of its own.
    Bytes build() const { return buildAt(0); }
    // The font placed at `base` of a larger file: the returned bytes start at `base`, table offsets are
    // absolute. No padding to minSize.
    Bytes buildAt(uint32_t base) const;

    // A minimal TrueType font in ordinary sorted order: glyf, head, loca, maxp, name.
    static SfntBuilder trueType(Bytes nameTable);
    // A minimal OpenType font with a CFF table, sorted: "CFF ", head, maxp, name.
    static SfntBuilder openType(Bytes cff, Bytes nameTable);

private:
    struct Entry {
        uint32_t tag = 0;
        Bytes data;
        bool raw = false;
        uint32_t offset = 0, length = 0;
    };
    uint32_t m_version;
    std::vector<Entry> m_tables;
    int m_numTablesField = -1;
    size_t m_minSize = 512;
};

uint32_t tagValue(std::string_view tag);

// A collection ("ttcf", version 1.0) of the given fonts. The first font starts at `firstOffset` (0: right
// after the header); the others follow, 4-byte aligned. `numFontsField` overrides the font count (-1: the
// number of fonts). Padded with zeros to at least `minSize`.
Bytes buildCollection(const std::vector<SfntBuilder>& fonts, uint32_t firstOffset = 0,
                      int64_t numFontsField = -1, size_t minSize = 512);

// `name` tables.
struct NameRecordParts {
    uint16_t platform = 3;
    uint16_t encoding = 1;
    uint16_t language = 0x0409;
    uint16_t nameId = 4;
    Bytes text;
    // When set, the record's offset and length fields are written as given instead of pointing at `text`.
    bool rawPlacement = false;
    uint16_t offset = 0, length = 0;
};

Bytes utf16be(std::u16string_view text);
Bytes asBytes(std::string_view text);

// Windows full name (platform 3, encoding 1, UTF-16BE) of a language.
NameRecordParts windowsName(std::u16string_view text, uint16_t language = 0x0409, uint16_t nameId = 4);
// Macintosh full name (platform 1, encoding 0 or 1), bytes as given.
NameRecordParts macName(std::string_view bytes, uint16_t language = 0, uint16_t encoding = 0);

// A `name` table of format 0: header, records in the given order, then the strings.
Bytes nameTable(const std::vector<NameRecordParts>& records);

// CFF pieces.
// An INDEX of the given elements with the given offset size (0: the smallest that fits).
Bytes cffIndex(const std::vector<Bytes>& elements, uint8_t offSize = 0);

// DICT operand and operator encodings.
Bytes dictInt(int32_t value);           // the shortest integer form
Bytes dictInt16(int16_t value);         // 28 b1 b2
Bytes dictInt32(int32_t value);         // 29 b1..b4
Bytes dictReal(std::string_view text);  // 30 and nibbles of "0123456789.E-" ("E-" as one nibble)
Bytes dictOp(uint16_t op);              // one-byte operator, or 12 b for op >= 256

// Concatenation.
Bytes cat(std::initializer_list<Bytes> parts);

struct CffParts {
    uint8_t major = 1, minor = 0, hdrSize = 4, offSize = 4;
    std::vector<Bytes> names = {asBytes("Test-Regular")};
    std::vector<Bytes> topDicts;  // default (empty): one Top DICT with FullName, FontBBox and CharStrings
    bool noTopDict = false;       // an empty Top DICT INDEX instead of the default
    std::vector<Bytes> strings;
    std::vector<Bytes> globalSubrs;
    Bytes tail;  // bytes after the Global Subr INDEX (charstrings ...)
};

// A Top DICT in ordinary form: FullName (SID 391), FontBBox 0 -100 1000 900, CharStrings at 100.
Bytes defaultTopDict();
Bytes cffTable(const CffParts& parts);
// A CFF table whose font name is `fontName`, otherwise default.
Bytes cffTableNamed(std::string_view fontName);

// A directory of its own under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Writes a file (name in UTF-8) and returns its full path in UTF-16.
    std::u16string write(const std::string& name, const Bytes& bytes) const;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
