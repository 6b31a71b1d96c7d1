// The text form of a catalog description (UTF-8, one statement a line; see README.md):
//
//   # comment                      whole lines only, so '#' may appear inside names
//   version 0x00040000             optional header statements: version, tablecount, padding
//   table <group> <tag> [entrycount=N] [offset=N] [reserved=N]
//   entry
//       display = <string>         postscript, further: once each
//       fullname = <string>        fullname, othername, item: repeatable, in order
//       values = a b c d           value = N; itemcount, fullnamecount, othernamecount = N
//
//   <string>: literal text up to the end of the line (surrounding blanks dropped), "quoted text" with
//   \\ \" \n \r \t \uXXXX \UXXXXXXXX escapes, or <hex bytes> written as they are.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "tools/catalog/CatalogWriter.h"

namespace awfc {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool parseNumber(std::string_view s, uint64_t limit, uint32_t& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > limit) return false;
    out = uint32_t(v);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Hex bytes, blanks allowed between pairs.
bool parseHex(std::string_view s, std::vector<uint8_t>& out, std::string& message) {
    out.clear();
    int high = -1;
    for (char c : s) {
        if (isBlank(c)) {
            if (high < 0) continue;
            message = "hex bytes need two digits each";
            return false;
        }
        const int d = hexDigit(c);
        if (d < 0) {
            message = std::string("'") + c + "' is not a hex digit";
            return false;
        }
        if (high < 0) {
            high = d;
        } else {
            out.push_back(uint8_t(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0) {
        message = "hex bytes need two digits each";
        return false;
    }
    return true;
}

bool parseString(std::string_view s, Text& out, std::string& message) {
    out = Text();
    if (!s.empty() && s.front() == '<') {
        if (s.back() != '>' || s.size() < 2) {
            message = "raw bytes must end with '>'";
            return false;
        }
        std::vector<uint8_t> bytes;
        if (!parseHex(s.substr(1, s.size() - 2), bytes, message)) return false;
        out.raw = std::move(bytes);
        return true;
    }
    if (s.empty() || s.front() != '"') {
        if (!isValidUtf8(s)) {
            message = "not valid UTF-8 text";
            return false;
        }
        out.text = std::string(s);
        return true;
    }
    std::string text;
    size_t i = 1;
    for (;;) {
        if (i >= s.size()) {
            message = "missing closing '\"'";
            return false;
        }
        const char c = s[i++];
        if (c == '"') break;
        if (c != '\\') {
            text += c;
            continue;
        }
        if (i >= s.size()) {
            message = "'\\' at the end of the line";
            return false;
        }
        const char e = s[i++];
        switch (e) {
            case '\\':
                text += '\\';
                break;
            case '"':
                text += '"';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u':
            case 'U': {
                const size_t digits = e == 'u' ? 4 : 8;
                uint32_t cp = 0;
                for (size_t k = 0; k < digits; ++k) {
                    const int d = i + k < s.size() ? hexDigit(s[i + k]) : -1;
                    if (d < 0) {
                        message = std::string("\\") + e + " needs " + std::to_string(digits) + " hex digits";
                        return false;
                    }
                    cp = cp * 16 + uint32_t(d);
                }
                i += digits;
                if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                    message = "\\" + std::string(1, e) + " names no Unicode character";
                    return false;
                }
                appendUtf8(text, cp);
                break;
            }
            default:
                message = std::string("unknown escape '\\") + e + "'";
                return false;
        }
    }
    if (!trim(s.substr(i)).empty()) {
        message = "text after the closing '\"'";
        return false;
    }
    if (!isValidUtf8(text)) {
        message = "not valid UTF-8 text";
        return false;
    }
    out.text = std::move(text);
    return true;
}

// Splits on blanks; a double-quoted word may hold blanks (no escapes: tags are plain ASCII).
bool splitWords(std::string_view s, std::vector<std::string>& words, std::string& message) {
    words.clear();
    size_t i = 0;
    while (i < s.size()) {
        if (isBlank(s[i])) {
            ++i;
            continue;
        }
        std::string w;
        if (s[i] == '"') {
            const size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos) {
                message = "missing closing '\"'";
                return false;
            }
            w = std::string(s.substr(i, close - i + 1));
            i = close + 1;
            if (i < s.size() && !isBlank(s[i])) {
                message = "text after the closing '\"'";
                return false;
            }
        } else {
            while (i < s.size() && !isBlank(s[i])) w += s[i++];
        }
        words.push_back(std::move(w));
    }
    return true;
}

bool parseTag(const std::string& word, uint32_t& tag, std::string& message) {
    std::string chars = word;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        if (!parseNumber(word, 0xFFFFFFFF, tag)) {
            message = "bad tag number '" + word + "'";
            return false;
        }
        return true;
    }
    if (word.size() >= 2 && word.front() == '"') {
        chars = word.substr(1, word.size() - 2);
        if (chars.size() != 4) {
            message = "a quoted tag has exactly four characters, as in \"OCF \"";
            return false;
        }
    } else if (chars.empty() || chars.size() > 4) {
        message = "a tag has one to four characters (shorter ones are padded with spaces): '" + word + "'";
        return false;
    }
    while (chars.size() < 4) chars += ' ';
    tag = 0;
    for (char c : chars) {
        if (c < 0x20 || c > 0x7E) {
            message = "a tag is printable ASCII; give others as 0xXXXXXXXX";
            return false;
        }
        tag = (tag << 8) | uint8_t(c);
    }
    return true;
}

std::string hexNumber(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

bool needsQuotes(const std::string& s) {
    if (s.empty()) return true;
    if (isBlank(s.front()) || isBlank(s.back()) || s.front() == '"' || s.front() == '<') return true;
    for (char c : s)
        if (uint8_t(c) < 0x20 || c == 0x7F) return true;
    return false;
}

std::string formatString(const Text& t) {
    if (t.raw) {
        std::string out = "<";
        char buf[4];
        for (size_t i = 0; i < t.raw->size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02X", (*t.raw)[i]);
            if (i) out += ' ';
            out += buf;
        }
        return out + ">";
    }
    if (!needsQuotes(t.text)) return t.text;
    std::string out = "\"";
    for (char c : t.text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (uint8_t(c) < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(uint8_t(c)));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// Statement parser over one description.
class Parser {
public:
    Parser(Catalog& catalog, ParseError& error) : m_catalog(catalog), m_error(error) {}

    bool line(int number, std::string_view s) {
        m_line = number;
        s = trim(s);
        if (s.empty() || s.front() == '#') return true;
        const size_t eq = s.find('=');
        const std::string_view word = s.substr(0, std::min(s.find_first_of(" \t="), s.size()));
        const bool statementWord = word == "table" || word == "entry" || word == "version" ||
                                   word == "tablecount" || word == "padding";
        if (statementWord || eq == std::string_view::npos) return statement(s);
        return field(trim(s.substr(0, eq)), trim(s.substr(eq + 1)));
    }

private:
    static bool isFieldWord(std::string_view w) {
        for (const char* k : {"display", "postscript", "further", "fullname", "othername", "values", "value",
                              "item", "itemcount", "fullnamecount", "othernamecount"})
            if (w == k) return true;
        return false;
    }

    bool fail(std::string message) {
        m_error.line = m_line;
        m_error.message = std::move(message);
        return false;
    }

    bool statement(std::string_view s) {
        std::vector<std::string> words;
        std::string message;
        if (!splitWords(s, words, message)) return fail(message);
        const std::string& head = words[0];
        if (isFieldWord(head)) return fail("expected '" + head + " = <value>'");
        if (head == "entry") {
            if (words.size() != 1) return fail("'entry' stands alone on its line");
            if (m_catalog.tables.empty()) return fail("'entry' before the first 'table'");
            Table& t = m_catalog.tables.back();
            t.records.emplace_back();
            t.records.back().line = m_line;
            m_seen.clear();
            return true;
        }
        if (head == "table") return table(words);
        if (head == "version" || head == "tablecount" || head == "padding") {
            if (!m_catalog.tables.empty()) return fail("'" + head + "' belongs before the first 'table'");
            if (words.size() != 2) return fail("'" + head + "' takes one number");
            uint32_t v = 0;
            if (!parseNumber(words[1], head == "padding" ? 0xFF : 0xFFFFFFFF, v))
                return fail("bad number '" + words[1] + "'");
            if (head == "version") m_catalog.version = v;
            if (head == "tablecount") m_catalog.tableCount = v;
            if (head == "padding") m_catalog.padding = uint8_t(v);
            return true;
        }
        return fail("unknown statement '" + head +
                    "' (expected table, entry, version, tablecount, padding or 'key = value')");
    }

    bool table(const std::vector<std::string>& words) {
        if (words.size() < 3) return fail("expected 'table <group> <tag>'");
        Table t;
        t.line = m_line;
        if (!parseNumber(words[1], 0xFFFFFFFF, t.group)) return fail("bad group number '" + words[1] + "'");
        std::string message;
        if (!parseTag(words[2], t.tag, message)) return fail(message);
        for (size_t i = 3; i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            const std::string key = words[i].substr(0, eq);
            uint32_t v = 0;
            if (eq == std::string::npos || !parseNumber(words[i].substr(eq + 1), 0xFFFFFFFF, v))
                return fail("expected entrycount=N, offset=N or reserved=N, not '" + words[i] + "'");
            if (key == "entrycount")
                t.entryCount = v;
            else if (key == "offset")
                t.offset = v;
            else if (key == "reserved")
                t.reserved = v;
            else
                return fail("unknown table option '" + key + "'");
        }
        m_catalog.tables.push_back(std::move(t));
        m_seen.clear();
        return true;
    }

    bool field(std::string_view key, std::string_view value) {
        if (!isFieldWord(key)) return fail("unknown key '" + std::string(key) + "'");
        if (m_catalog.tables.empty() || m_catalog.tables.back().records.empty())
            return fail("'" + std::string(key) + "' outside an entry (write 'entry' first)");
        Record& r = m_catalog.tables.back().records.back();
        const bool repeatable = key == "fullname" || key == "othername" || key == "item";
        if (!repeatable) {
            for (const std::string& k : m_seen)
                if (k == key) return fail("'" + std::string(key) + "' given twice in one entry");
        }
        m_seen.emplace_back(key);

        std::string message;
        if (key == "display" || key == "postscript" || key == "further" || key == "fullname" ||
            key == "othername") {
            Text t;
            if (!parseString(value, t, message)) return fail(message);
            t.line = m_line;
            if (key == "display") r.displayName = std::move(t);
            if (key == "postscript") r.postScriptName = std::move(t);
            if (key == "further") r.furtherName = std::move(t);
            if (key == "fullname") r.fullNames.push_back(std::move(t));
            if (key == "othername") r.otherNames.push_back(std::move(t));
            return true;
        }
        if (key == "item") {
            std::vector<uint8_t> bytes;
            if (!parseHex(value, bytes, message)) return fail(message);
            if (bytes.size() != 12) return fail("an item is 12 bytes (24 hex digits)");
            Item item;
            std::copy(bytes.begin(), bytes.end(), item.begin());
            r.items.push_back(item);
            return true;
        }
        if (key == "values") {
            std::vector<std::string> words;
            splitWords(value, words, message);
            if (words.size() != 4) return fail("'values' takes four numbers");
            for (size_t i = 0; i < 4; ++i) {
                uint32_t v = 0;
                if (!parseNumber(words[i], 0xFFFF, v)) return fail("bad 16-bit number '" + words[i] + "'");
                r.values[i] = uint16_t(v);
            }
            return true;
        }
        uint32_t v = 0;
        if (!parseNumber(value, 0xFFFFFFFF, v)) return fail("bad number '" + std::string(value) + "'");
        if (key == "value") r.value = v;
        if (key == "itemcount") r.itemCount = v;
        if (key == "fullnamecount") r.fullNameCount = v;
        if (key == "othernamecount") r.otherNameCount = v;
        return true;
    }

    Catalog& m_catalog;
    ParseError& m_error;
    int m_line = 0;
    std::vector<std::string> m_seen;  // keys of the current entry
};

}  // namespace

bool parseCatalogText(std::string_view text, Catalog& catalog, ParseError& error) {
    catalog = Catalog();
    error = ParseError();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
    Parser parser(catalog, error);
    int number = 0;
    while (!text.empty() || number == 0) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!parser.line(number, line)) return false;
    }
    return true;
}

std::string formatCatalogText(const Catalog& catalog) {
    std::string out;
    if (catalog.version != Catalog().version) out += "version " + hexNumber(catalog.version) + "\n";
    if (catalog.tableCount) out += "tablecount " + std::to_string(*catalog.tableCount) + "\n";
    if (catalog.padding) out += "padding " + std::to_string(catalog.padding) + "\n";
    for (const Table& t : catalog.tables) {
        if (!out.empty()) out += "\n";
        const std::optional<std::string> tag = tagText(t.tag);
        out += "table " + std::to_string(t.group) + " " + (tag ? "\"" + *tag + "\"" : hexNumber(t.tag));
        if (t.entryCount) out += " entrycount=" + std::to_string(*t.entryCount);
        if (t.offset) out += " offset=" + std::to_string(*t.offset);
        if (t.reserved) out += " reserved=" + std::to_string(t.reserved);
        out += "\n";
        for (const Record& r : t.records) {
            out += "entry\n";
            out += "    display = " + formatString(r.displayName) + "\n";
            out += "    postscript = " + formatString(r.postScriptName) + "\n";
            if (r.values != Record().values) {
                out += "    values =";
                for (uint16_t v : r.values) out += " " + std::to_string(v);
                out += "\n";
            }
            for (const Item& item : r.items) {
                out += "    item = ";
                char buf[4];
                for (uint8_t b : item) {
                    std::snprintf(buf, sizeof buf, "%02X", b);
                    out += buf;
                }
                out += "\n";
            }
            if (r.itemCount) out += "    itemcount = " + std::to_string(*r.itemCount) + "\n";
            for (const Text& n : r.fullNames) out += "    fullname = " + formatString(n) + "\n";
            if (r.fullNameCount) out += "    fullnamecount = " + std::to_string(*r.fullNameCount) + "\n";
            if (r.value) out += "    value = " + hexNumber(r.value) + "\n";
            if (!(r.furtherName == Text())) out += "    further = " + formatString(r.furtherName) + "\n";
            for (const Text& n : r.otherNames) out += "    othername = " + formatString(n) + "\n";
            if (r.otherNameCount) out += "    othernamecount = " + std::to_string(*r.otherNameCount) + "\n";
        }
    }
    return out;
}

}  // namespace awfc
