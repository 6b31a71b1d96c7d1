// Builds FontCat.awfc catalog images from a description, and reads and writes that description as text.
// Used by the korv-catalog tool and by the tests, which also need malformed files: every count, length,
// offset and the version can be given explicitly, and any string can be raw bytes.
//
// Character sets follow the reader: the strings of "sbix" and "COLR" tables are UTF-8; in the other tables
// they are in code page 932 (the ANSI code page of the systems the catalog is written on) until a record
// whose display name starts with "そよみね", which is written in UTF-8 together with every later record of
// its table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace awfc {

// One string field: UTF-8 text, encoded by the record's character set when written, or raw bytes.
struct Text {
    std::string text;                         // UTF-8
    std::optional<std::vector<uint8_t>> raw;  // written exactly as given
    std::optional<uint32_t> length;           // length word written instead of the bytes' count
    int line = 0;                             // source line of a text description (for messages)

    Text() = default;
    Text(const char* t) : text(t) {}  // implicit: names are often given as literals
    Text(std::string t) : text(std::move(t)) {}
    static Text bytes(std::string_view raw) {
        Text t;
        t.raw = std::vector<uint8_t>(raw.begin(), raw.end());
        return t;
    }
    bool operator==(const Text& o) const { return text == o.text && raw == o.raw && length == o.length; }
};

using Item = std::array<uint8_t, 12>;

struct Record {
    std::array<uint16_t, 4> values{};  // not interpreted by the reader
    Text displayName;
    Text postScriptName;
    std::vector<Item> items;  // not interpreted
    std::vector<Text> fullNames;
    uint32_t value = 0;  // not interpreted
    Text furtherName;
    std::vector<Text> otherNames;
    // Counts written instead of the lists' sizes (malformed files).
    std::optional<uint32_t> itemCount, fullNameCount, otherNameCount;
    int line = 0;

    bool operator==(const Record& o) const {
        return values == o.values && displayName == o.displayName && postScriptName == o.postScriptName &&
               items == o.items && fullNames == o.fullNames && value == o.value &&
               furtherName == o.furtherName && otherNames == o.otherNames && itemCount == o.itemCount &&
               fullNameCount == o.fullNameCount && otherNameCount == o.otherNameCount;
    }
};

struct Table {
    uint32_t group = 0;  // as stored (3 and 5 are read as rows 10 and 11)
    uint32_t tag = 0;    // format tag, first character in the most significant byte
    uint32_t reserved = 0;
    std::vector<Record> records;
    std::optional<uint32_t> entryCount;  // written instead of records.size()
    std::optional<uint32_t> offset;      // table offset written in the index; the table is still written
    int line = 0;

    bool operator==(const Table& o) const {
        return group == o.group && tag == o.tag && reserved == o.reserved && records == o.records &&
               entryCount == o.entryCount && offset == o.offset;
    }
};

struct Catalog {
    uint32_t version = 0x00040000;
    std::optional<uint32_t> tableCount;  // written instead of tables.size()
    uint8_t padding = 0;                 // value of the bytes that pad strings to a multiple of 4
    std::vector<Table> tables;

    bool operator==(const Catalog& o) const {
        return version == o.version && tableCount == o.tableCount && padding == o.padding &&
               tables == o.tables;
    }
};

// Where each part of the last written image starts (tests patch and cut files with it).
struct Layout {
    std::vector<uint32_t> tableOffsets;  // where each table's entryCount is written
};

// Writes the image: header, table index, then the tables in order. Fails (false, with a message naming the
// source line when known) when a text is not valid UTF-8 or cannot be written in code page 932.
bool writeCatalog(const Catalog& catalog, std::vector<uint8_t>& image, std::string& error,
                  Layout* layout = nullptr);

// True when the display name switches its table to UTF-8 (it starts with the UTF-8 bytes of "そよみね").
bool switchesToUtf8(const Text& displayName);

// Encodes UTF-8 text in code page 932; false when the text is not valid UTF-8 or has a character that
// the code page lacks.
bool encodeCp932(std::string_view utf8, std::vector<uint8_t>& out);
bool isValidUtf8(std::string_view text);

// The text form (see tools/catalog/README.md). parseCatalogText fills `catalog` or reports the first
// error with its line number (1-based).
struct ParseError {
    int line = 0;
    std::string message;
};
bool parseCatalogText(std::string_view text, Catalog& catalog, ParseError& error);
std::string formatCatalogText(const Catalog& catalog);

// "OCF ", "true" ...: the tag as four characters; a tag with bytes outside printable ASCII has no such
// form (nullopt).
std::optional<std::string> tagText(uint32_t tag);

}  // namespace awfc
