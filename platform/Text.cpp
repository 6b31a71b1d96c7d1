#include "platform/Text.h"

#include "platform/detail/AnsiCodePage.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length in bytes of the source as the conversion calls see it (-1: through the terminating NUL).
size_t sourceBytes(const char* source, int sourceLength) {
    if (sourceLength >= 0) return size_t(sourceLength);
    size_t n = 0;
    while (source[n]) ++n;
    return n + 1;
}

// Decodes UTF-8 into UTF-16, calling emit(unit) for each unit. An invalid sequence (its maximal valid
// prefix) becomes one U+FFFD, as the platform conversion does without MB_ERR_INVALID_CHARS.
template <typename Emit>
void decodeUtf8(const uint8_t* s, size_t n, Emit&& emit) {
    size_t i = 0;
    while (i < n) {
        const uint8_t b = s[i];
        if (b < 0x80) {
            emit(char16_t(b));
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t need = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            emit(kReplacement);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= need; ++j) {
            if (i + j >= n) break;
            const uint8_t c = s[i + j];
            if (c < lo || c > hi) break;
            lo = 0x80;
            hi = 0xBF;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (j <= need) {
            emit(kReplacement);
            i += j;
            continue;
        }
        i += need + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            emit(char16_t(0xD800 | (cp >> 10)));
            emit(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            emit(char16_t(cp));
        }
    }
}

int utf8ToWide(const char* source, size_t n, char16_t* destination, int capacity) {
    size_t count = 0;
    bool overflow = false;
    decodeUtf8(reinterpret_cast<const uint8_t*>(source), n, [&](char16_t u) {
        if (capacity > 0) {
            if (count < size_t(capacity))
                destination[count] = u;
            else
                overflow = true;
        }
        ++count;
    });
    if (overflow || count > size_t(INT32_MAX)) return 0;
    return int(count);
}

}  // namespace

int multiByteToWideChar(unsigned codePage, const char* source, int sourceLength, char16_t* destination,
                        int destinationCapacity) {
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationCapacity < 0) return 0;
    if (destinationCapacity > 0 && !destination) return 0;
    const size_t n = sourceBytes(source, sourceLength);
    if (n > size_t(INT32_MAX)) return 0;
    if (codePage == kCodePageUtf8) return utf8ToWide(source, n, destination, destinationCapacity);
    if (codePage == kCodePageAnsi) return ansiToWide(source, n, destination, destinationCapacity);
    return 0;
}

int wideCharToUtf8(const char16_t* source, int sourceLength, char* destination, int destinationCapacity) {
    if (!source || sourceLength == 0 || sourceLength < -1 || destinationCapacity < 0) return 0;
    if (destinationCapacity > 0 && !destination) return 0;
    const size_t n = sourceLength < 0 ? wideLength(source) + 1 : size_t(sourceLength);
    size_t count = 0;
    bool overflow = false;
    auto put = [&](uint8_t b) {
        if (destinationCapacity > 0) {
            if (count < size_t(destinationCapacity))
                destination[count] = char(b);
            else
                overflow = true;
        }
        ++count;
    };
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = source[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(source[i + 1]) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            put(uint8_t(cp));
        } else if (cp < 0x800) {
            put(uint8_t(0xC0 | (cp >> 6)));
            put(uint8_t(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            put(uint8_t(0xE0 | (cp >> 12)));
            put(uint8_t(0x80 | ((cp >> 6) & 0x3F)));
            put(uint8_t(0x80 | (cp & 0x3F)));
        } else {
            put(uint8_t(0xF0 | (cp >> 18)));
            put(uint8_t(0x80 | ((cp >> 12) & 0x3F)));
            put(uint8_t(0x80 | ((cp >> 6) & 0x3F)));
            put(uint8_t(0x80 | (cp & 0x3F)));
        }
    }
    if (overflow || count > size_t(INT32_MAX)) return 0;
    return int(count);
}

size_t wideLength(const char16_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    decodeUtf8(reinterpret_cast<const uint8_t*>(text.data()), text.size(), [&](char16_t u) { out += u; });
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    if (text.empty()) return {};
    const int n = wideCharToUtf8(text.data(), int(text.size()), nullptr, 0);
    std::string out(size_t(n), '\0');
    wideCharToUtf8(text.data(), int(text.size()), out.data(), n);
    return out;
}
