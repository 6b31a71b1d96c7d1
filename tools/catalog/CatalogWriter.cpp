#include "tools/catalog/CatalogWriter.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace awfc {

namespace {

// "そよみね" in UTF-8: a display name that starts with it switches its table to UTF-8.
constexpr std::string_view kUtf8Marker = "\xE3\x81\x9D\xE3\x82\x88\xE3\x81\xBF\xE3\x81\xAD";

constexpr uint32_t tag4(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

bool isUtf8Table(uint32_t tag) {
    return tag == tag4("sbix") || tag == tag4("COLR");
}

bool startsWithMarker(const uint8_t* bytes, size_t size) {
    return size >= kUtf8Marker.size() && std::memcmp(bytes, kUtf8Marker.data(), kUtf8Marker.size()) == 0;
}

std::string lineNote(int line) {
    return line > 0 ? "line " + std::to_string(line) + ": " : std::string();
}

class ImageWriter {
public:
    ImageWriter(std::vector<uint8_t>& out, uint8_t padding) : m_out(out), m_padding(padding) {}

    void u16(uint32_t v) {
        m_out.push_back(uint8_t(v >> 8));
        m_out.push_back(uint8_t(v));
    }
    void u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) m_out.push_back(uint8_t(v >> shift));
    }
    void patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) m_out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
    }
    // A string: its length word, its bytes, padding to a multiple of 4.
    void string(const std::vector<uint8_t>& bytes, std::optional<uint32_t> length) {
        u32(length ? *length : uint32_t(bytes.size()));
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
        while (m_out.size() % 4) m_out.push_back(m_padding);
    }
    size_t size() const { return m_out.size(); }
    std::vector<uint8_t>& bytes() { return m_out; }

private:
    std::vector<uint8_t>& m_out;
    uint8_t m_padding;
};

// Writes the records of one table, keeping the character set as the reader will see it.
class RecordWriter {
public:
    RecordWriter(ImageWriter& w, bool utf8, std::string& error) : m_w(w), m_utf8(utf8), m_error(error) {}

    bool record(const Record& r) {
        for (uint16_t v : r.values) m_w.u16(v);
        // A display name that starts with "そよみね" is written in UTF-8 and switches the rest of the table.
        if (!r.displayName.raw && switchesToUtf8(r.displayName)) m_utf8 = true;
        std::vector<uint8_t> display;
        if (!encode(r.displayName, display)) return false;
        if (startsWithMarker(display.data(), display.size())) {
            // The reader switches on these bytes whatever they were meant to be.
            if (!m_utf8 && !r.displayName.raw) {
                m_error =
                    lineNote(r.displayName.line) +
                    "the display name's code page 932 bytes read as the UTF-8 switch; give it as raw bytes";
                return false;
            }
            m_utf8 = true;
        }
        m_w.string(display, r.displayName.length);
        if (!string(r.postScriptName)) return false;
        m_w.u32(r.itemCount ? *r.itemCount : uint32_t(r.items.size()));
        for (const Item& item : r.items) m_w.bytes().insert(m_w.bytes().end(), item.begin(), item.end());
        if (!list(r.fullNames, r.fullNameCount)) return false;
        m_w.u32(r.value);
        if (!string(r.furtherName)) return false;
        return list(r.otherNames, r.otherNameCount);
    }

private:
    bool encode(const Text& t, std::vector<uint8_t>& out) {
        if (t.raw) {
            out = *t.raw;
            return true;
        }
        if (!isValidUtf8(t.text)) {
            m_error = lineNote(t.line) + "not valid UTF-8 text";
            return false;
        }
        if (m_utf8) {
            out.assign(t.text.begin(), t.text.end());
            return true;
        }
        if (!encodeCp932(t.text, out)) {
            m_error = lineNote(t.line) + "\"" + t.text + "\" cannot be written in code page 932";
            return false;
        }
        return true;
    }
    bool string(const Text& t) {
        std::vector<uint8_t> bytes;
        if (!encode(t, bytes)) return false;
        m_w.string(bytes, t.length);
        return true;
    }
    bool list(const std::vector<Text>& names, std::optional<uint32_t> count) {
        m_w.u32(count ? *count : uint32_t(names.size()));
        for (const Text& t : names)
            if (!string(t)) return false;
        return true;
    }

    ImageWriter& m_w;
    bool m_utf8;
    std::string& m_error;
};

}  // namespace

bool isValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const uint8_t b = s[i];
        size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (need > n - i - 1) return false;
        for (size_t j = 1; j <= need; ++j) {
            if (s[i + j] < lo || s[i + j] > hi) return false;
            lo = 0x80;
            hi = 0xBF;
        }
        i += need + 1;
    }
    return true;
}

bool encodeCp932(std::string_view utf8, std::vector<uint8_t>& out) {
    out.clear();
    if (!isValidUtf8(utf8)) return false;
    if (utf8.empty()) return true;
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == iconv_t(-1)) cd = iconv_open("WINDOWS-31J", "UTF-8");
    if (cd == iconv_t(-1)) return false;
    std::string input(utf8);
    char* in = input.data();
    size_t inLeft = input.size();
    bool ok = true;
    while (inLeft > 0) {
        char chunk[256];
        char* o = chunk;
        size_t outLeft = sizeof chunk;
        const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        out.insert(out.end(), chunk, o);
        if (r == size_t(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
        // glibc counts characters it replaced instead of failing; the code page lacks them.
        if (r != size_t(-1) && r > 0) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    if (!ok) out.clear();
    return ok;
}

bool switchesToUtf8(const Text& displayName) {
    if (displayName.raw) return startsWithMarker(displayName.raw->data(), displayName.raw->size());
    return displayName.text.compare(0, kUtf8Marker.size(), kUtf8Marker) == 0;
}

bool writeCatalog(const Catalog& catalog, std::vector<uint8_t>& image, std::string& error, Layout* layout) {
    image.clear();
    error.clear();
    ImageWriter w(image, catalog.padding);
    w.u32(catalog.version);
    w.u32(catalog.tableCount ? *catalog.tableCount : uint32_t(catalog.tables.size()));
    const size_t indexStart = w.size();
    for (const Table& t : catalog.tables) {
        w.u32(t.group);
        w.u32(t.tag);
        w.u32(0);  // offset, patched below
        w.u32(t.reserved);
    }
    if (layout) layout->tableOffsets.clear();
    for (size_t i = 0; i < catalog.tables.size(); ++i) {
        const Table& t = catalog.tables[i];
        const uint32_t at = uint32_t(w.size());
        if (layout) layout->tableOffsets.push_back(at);
        w.patch32(indexStart + 16 * i + 8, t.offset ? *t.offset : at);
        w.u32(t.entryCount ? *t.entryCount : uint32_t(t.records.size()));
        RecordWriter records(w, isUtf8Table(t.tag), error);
        for (const Record& r : t.records)
            if (!records.record(r)) return false;
    }
    return true;
}

std::optional<std::string> tagText(uint32_t tag) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char(uint8_t(tag >> shift));
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return std::nullopt;
        s += c;
    }
    return s;
}

}  // namespace awfc
