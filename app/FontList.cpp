#include "app/FontList.h"

#include <cstring>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The short escape of a control character, or 0 when it needs the \u00XX form.
char shortEscape(unsigned char c) {
    switch (c) {
        case '\b':
            return 'b';
        case '\f':
            return 'f';
        case '\n':
            return 'n';
        case '\r':
            return 'r';
        case '\t':
            return 't';
        default:
            return 0;
    }
}

size_t escapedLength(unsigned char c) {
    if (c == '"' || c == '\\') return 2;
    if (c < 0x20) return shortEscape(c) ? 2 : 6;
    return 1;
}

// Writes the escaped name at `out`; returns the bytes written.
size_t writeEscaped(char* out, const char* name, size_t nameBytes) {
    size_t n = 0;
    for (size_t i = 0; i < nameBytes; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '"' || c == '\\') {
            out[n++] = '\\';
            out[n++] = char(c);
        } else if (c < 0x20) {
            out[n++] = '\\';
            if (const char e = shortEscape(c)) {
                out[n++] = e;
            } else {
                std::memcpy(out + n, "u00", 3);
                n += 3;
                out[n++] = kHex[c >> 4];
                out[n++] = kHex[c & 15];
            }
        } else {
            out[n++] = char(c);
        }
    }
    return n;
}

size_t put(char* out, const char* text) {
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return n;
}

}  // namespace

int64_t fontListCapacity(int64_t fileCount) {
    if (fileCount < 0) fileCount = 0;
    if (fileCount > INT32_MAX / kJsonBytesPerFile) return -1;
    const int64_t capacity = fileCount * kJsonBytesPerFile;
    return capacity < kJsonMinimumCapacity ? kJsonMinimumCapacity : capacity;
}

size_t jsonEscapedLength(const char* name, size_t nameBytes) {
    size_t n = 0;
    for (size_t i = 0; i < nameBytes; ++i) n += escapedLength(static_cast<unsigned char>(name[i]));
    return n;
}

bool FontListWriter::begin() {
    if (!m_buffer || m_capacity < kJsonMinimumCapacity) return false;
    std::memcpy(m_buffer, kJsonHeader, size_t(kJsonHeaderBytes));
    m_length = kJsonHeaderBytes;
    m_buffer[m_length] = '\0';
    m_first = true;
    m_begun = true;
    return true;
}

size_t FontListWriter::roomFor(const char* name, size_t nameBytes) const {
    return size_t(m_first ? kJsonFirstEntryBytes : kJsonLaterEntryBytes) +
           jsonEscapedLength(name, nameBytes) + size_t(kJsonClosingBytes) + 1;
}

bool FontListWriter::append(const char* name, size_t nameBytes) {
    if (!m_begun) return false;
    const size_t room = size_t(m_capacity - m_length);
    if (roomFor(name, nameBytes) > room) return false;

    char* out = m_buffer + m_length;
    size_t n = 0;
    if (!m_first) out[n++] = ',';
    n += put(out + n, "\n    {\n      \"filename\": \"");
    n += writeEscaped(out + n, name, nameBytes);
    n += put(out + n, "\"\n    }");
    out[n] = '\0';
    m_length += int32_t(n);
    m_first = false;
    return true;
}

void FontListWriter::finish() {
    if (!m_begun) return;
    std::memcpy(m_buffer + m_length, kJsonClosing, size_t(kJsonClosingBytes));
    m_length += kJsonClosingBytes;
    m_buffer[m_length] = '\0';
    m_begun = false;
}
