#include "support/SfntBuilder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/Text.h"
#include "support/FontBytes.h"

uint32_t tagValue(std::string_view tag) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | uint8_t(i < tag.size() ? tag[i] : ' ');
    return v;
}

SfntBuilder::SfntBuilder(std::string_view versionTag) : m_version(tagValue(versionTag)) {}

SfntBuilder& SfntBuilder::table(std::string_view tag, Bytes data) {
    Entry e;
    e.tag = tagValue(tag);
    e.data = std::move(data);
    m_tables.push_back(std::move(e));
    return *this;
}

SfntBuilder& SfntBuilder::rawRecord(std::string_view tag, uint32_t offset, uint32_t length) {
    Entry e;
    e.tag = tagValue(tag);
    e.raw = true;
    e.offset = offset;
    e.length = length;
    m_tables.push_back(std::move(e));
    return *this;
}

SfntBuilder& SfntBuilder::numTablesField(uint16_t numTables) {
    m_numTablesField = numTables;
    return *this;
}

SfntBuilder& SfntBuilder::minSize(size_t size) {
    m_minSize = size;
    return *this;
}

Bytes SfntBuilder::buildAt(uint32_t base) const {
    FontBytes b;
    const uint16_t n = uint16_t(m_tables.size());
    b.u32(m_version).u16(m_numTablesField >= 0 ? uint32_t(m_numTablesField) : n).u16(0).u16(0).u16(0);
    uint32_t dataOffset = base + 12 + 16 * uint32_t(n);
    std::vector<uint32_t> offsets;
    for (const Entry& e : m_tables) {
        offsets.push_back(dataOffset);
        if (!e.raw) dataOffset += (uint32_t(e.data.size()) + 3) & ~3u;
    }
    for (size_t i = 0; i < m_tables.size(); ++i) {
        const Entry& e = m_tables[i];
        b.u32(e.tag).u32(0);
        if (e.raw)
            b.u32(e.offset).u32(e.length);
        else
            b.u32(offsets[i]).u32(uint32_t(e.data.size()));
    }
    for (const Entry& e : m_tables) {
        if (e.raw) continue;
        b.bytes(e.data).align(4);
    }
    Bytes out = b.vec();
    if (base == 0 && out.size() < m_minSize) out.resize(m_minSize, 0);
    return out;
}

SfntBuilder SfntBuilder::trueType(Bytes name) {
    SfntBuilder s;
    s.table("glyf", Bytes(12, 0))
        .table("head", Bytes(54, 0))
        .table("loca", Bytes(4, 0))
        .table("maxp", Bytes{0, 1, 0, 0, 0, 1})
        .table("name", std::move(name));
    return s;
}

SfntBuilder SfntBuilder::openType(Bytes cff, Bytes name) {
    SfntBuilder s("OTTO");
    s.table("CFF ", std::move(cff))
        .table("head", Bytes(54, 0))
        .table("maxp", Bytes{0, 0, 0x50, 0, 0, 1})
        .table("name", std::move(name));
    return s;
}

Bytes buildCollection(const std::vector<SfntBuilder>& fonts, uint32_t firstOffset, int64_t numFontsField,
                      size_t minSize) {
    const uint32_t headerSize = 12 + 4 * uint32_t(fonts.size());
    uint32_t at = firstOffset ? firstOffset : headerSize;
    if (at < headerSize) throw std::invalid_argument("first font overlaps the collection header");
    FontBytes b;
    b.tag("ttcf").u32(0x00010000).u32(numFontsField >= 0 ? uint32_t(numFontsField) : uint32_t(fonts.size()));
    std::vector<uint32_t> offsets;
    std::vector<Bytes> built;
    for (const SfntBuilder& f : fonts) {
        b.u32(at);
        offsets.push_back(at);
        built.push_back(f.buildAt(at));
        at = (at + uint32_t(built.back().size()) + 3) & ~3u;
    }
    Bytes out = b.vec();
    for (size_t i = 0; i < built.size(); ++i) {
        out.resize(offsets[i], 0);
        out.insert(out.end(), built[i].begin(), built[i].end());
    }
    if (out.size() < minSize) out.resize(minSize, 0);
    return out;
}

Bytes utf16be(std::u16string_view text) {
    FontBytes b;
    b.utf16be(text);
    return b.vec();
}

Bytes asBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

NameRecordParts windowsName(std::u16string_view text, uint16_t language, uint16_t nameId) {
    NameRecordParts r;
    r.platform = 3;
    r.encoding = 1;
    r.language = language;
    r.nameId = nameId;
    r.text = utf16be(text);
    return r;
}

NameRecordParts macName(std::string_view bytes, uint16_t language, uint16_t encoding) {
    NameRecordParts r;
    r.platform = 1;
    r.encoding = encoding;
    r.language = language;
    r.text = asBytes(bytes);
    return r;
}

Bytes nameTable(const std::vector<NameRecordParts>& records) {
    FontBytes b;
    const uint32_t stringOffset = 6 + 12 * uint32_t(records.size());
    b.u16(0).u16(uint32_t(records.size())).u16(stringOffset);
    Bytes strings;
    for (const NameRecordParts& r : records) {
        b.u16(r.platform).u16(r.encoding).u16(r.language).u16(r.nameId);
        if (r.rawPlacement) {
            b.u16(r.length).u16(r.offset);
        } else {
            b.u16(uint32_t(r.text.size())).u16(uint32_t(strings.size()));
            strings.insert(strings.end(), r.text.begin(), r.text.end());
        }
    }
    b.bytes(strings);
    return b.vec();
}

Bytes cffIndex(const std::vector<Bytes>& elements, uint8_t offSize) {
    FontBytes b;
    b.u16(uint32_t(elements.size()));
    if (elements.empty()) return b.vec();
    uint32_t last = 1;
    for (const Bytes& e : elements) last += uint32_t(e.size());
    if (offSize == 0) offSize = last <= 0xFF ? 1 : last <= 0xFFFF ? 2 : last <= 0xFFFFFF ? 3 : 4;
    b.u8(offSize);
    auto offset = [&](uint32_t v) {
        for (int i = offSize - 1; i >= 0; --i) b.u8(v >> (8 * i));
    };
    uint32_t at = 1;
    offset(at);
    for (const Bytes& e : elements) {
        at += uint32_t(e.size());
        offset(at);
    }
    for (const Bytes& e : elements) b.bytes(e);
    return b.vec();
}

Bytes dictInt(int32_t value) {
    if (value >= -107 && value <= 107) return Bytes{uint8_t(value + 139)};
    if (value >= 108 && value <= 1131) {
        const int32_t v = value - 108;
        return Bytes{uint8_t(247 + v / 256), uint8_t(v % 256)};
    }
    if (value >= -1131 && value <= -108) {
        const int32_t v = -value - 108;
        return Bytes{uint8_t(251 + v / 256), uint8_t(v % 256)};
    }
    if (value >= -32768 && value <= 32767) return dictInt16(int16_t(value));
    return dictInt32(value);
}

Bytes dictInt16(int16_t value) {
    const uint16_t v = uint16_t(value);
    return Bytes{28, uint8_t(v >> 8), uint8_t(v)};
}

Bytes dictInt32(int32_t value) {
    const uint32_t v = uint32_t(value);
    return Bytes{29, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

Bytes dictReal(std::string_view text) {
    std::vector<uint8_t> nibbles;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            nibbles.push_back(uint8_t(c - '0'));
        else if (c == '.')
            nibbles.push_back(0xA);
        else if (c == 'E' && i + 1 < text.size() && text[i + 1] == '-')
            nibbles.push_back(0xC), ++i;
        else if (c == 'E')
            nibbles.push_back(0xB);
        else if (c == '-')
            nibbles.push_back(0xE);
        else
            throw std::invalid_argument("not a real number");
    }
    nibbles.push_back(0xF);
    if (nibbles.size() % 2) nibbles.push_back(0xF);
    Bytes out{30};
    for (size_t i = 0; i < nibbles.size(); i += 2) out.push_back(uint8_t((nibbles[i] << 4) | nibbles[i + 1]));
    return out;
}

Bytes dictOp(uint16_t op) {
    if (op >= 256) return Bytes{12, uint8_t(op - 256)};
    return Bytes{uint8_t(op)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes defaultTopDict() {
    return cat({dictInt(391), dictOp(2),                                            // FullName
                dictInt(0), dictInt(-100), dictInt(1000), dictInt(900), dictOp(5),  // FontBBox
                dictInt(100), dictOp(17)});                                         // CharStrings
}

Bytes cffTable(const CffParts& parts) {
    FontBytes header;
    header.u8(parts.major).u8(parts.minor).u8(parts.hdrSize).u8(parts.offSize);
    if (parts.hdrSize > 4) header.zeros(parts.hdrSize - 4u);
    Bytes out = header.vec();
    std::vector<Bytes> topDicts = parts.topDicts;
    if (topDicts.empty() && !parts.noTopDict) topDicts.push_back(defaultTopDict());
    for (const Bytes& part : {cffIndex(parts.names), cffIndex(topDicts), cffIndex(parts.strings),
                              cffIndex(parts.globalSubrs), parts.tail})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes cffTableNamed(std::string_view fontName) {
    CffParts parts;
    parts.names = {asBytes(fontName)};
    return cffTable(parts);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korv-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::u16string TempDir::write(const std::string& name, const Bytes& bytes) const {
    const std::string full = m_path + "/" + name;
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + full);
    return utf8ToUtf16(full);
}
