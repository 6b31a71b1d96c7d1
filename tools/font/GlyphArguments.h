// Arguments shared by the outline and svg commands: numbers, character codes, pixel sizes, and the work
// and record a face's outline operations need.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sfnt/SfntFont.h"

namespace glyph_args {

// Decimal digits only, at most `limit`.
inline bool parseNumber(const char* text, uint64_t limit, uint32_t& value) {
    if (!text || !*text) return false;
    uint64_t v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + uint64_t(*p - '0');
        if (v > limit) return false;
    }
    value = uint32_t(v);
    return true;
}

// A character code: U+XXXX (hex digits after "U+" or "u+") or decimal, at most 0x10FFFF.
inline bool parseCode(const char* text, uint32_t& code) {
    if (!text) return false;
    if ((text[0] == 'U' || text[0] == 'u') && text[1] == '+') {
        const char* p = text + 2;
        if (!*p) return false;
        uint32_t v = 0;
        for (; *p; ++p) {
            const char c = *p;
            uint32_t digit;
            if (c >= '0' && c <= '9') {
                digit = uint32_t(c - '0');
            } else if (c >= 'A' && c <= 'F') {
                digit = uint32_t(c - 'A' + 10);
            } else if (c >= 'a' && c <= 'f') {
                digit = uint32_t(c - 'a' + 10);
            } else {
                return false;
            }
            v = v * 16 + digit;
            if (v > 0x10FFFF) return false;
        }
        code = v;
        return true;
    }
    return parseNumber(text, 0x10FFFF, code);
}

// A pixel size for --ppem: 1 to 65535.
inline bool parsePpem(const char* text, uint16_t& ppem) {
    uint32_t v = 0;
    if (!parseNumber(text, 65535, v) || v == 0) return false;
    ppem = uint16_t(v);
    return true;
}

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};
using OutlinePtr = std::unique_ptr<GlyphOutline, OutlineDeleter>;

// The glyph work of a face for as long as the object lives.
class FaceWork {
public:
    explicit FaceWork(SfntFont& font) : m_font(font) { status = font.prepareGlyphWork(work); }
    ~FaceWork() { m_font.releaseGlyphWork(work); }
    FaceWork(const FaceWork&) = delete;
    FaceWork& operator=(const FaceWork&) = delete;

    GlyphWork work;
    int16_t status = 0;

private:
    SfntFont& m_font;
};

}  // namespace glyph_args
