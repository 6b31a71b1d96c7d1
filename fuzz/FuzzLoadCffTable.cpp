// CffFont::loadCffTable on a fuzzed CFF table, or loadFontFace on a fuzzed OpenType CFF font or collection,
// then fontDictOf for a spread of glyphs. Input layout:
//   0       u8   mode: bit 0 clear = the rest is a CFF table alone; set = the rest is a font file, and
//                bits 1..2 name the face to load
//   1..     the table or the file
// Whatever the bytes, every view the load leaves must lie inside the table, every Font DICT index must be
// below 256, and a failed load must leave the CFF fields empty.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "cff/CffFont.h"
#include "cff/LoadFont.h"

namespace {

volatile uint32_t g_sink = 0;

void check(bool condition) {
    if (!condition) std::abort();
}

// Every element of an INDEX view lies inside [table, table + length); its bytes are read (ASan checks them).
void checkIndex(const CffIndex& index, const uint8_t* table, uint32_t length) {
    if (index.count == 0) return;
    check(index.offsets >= table && index.offsets < table + length);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < index.count; ++i) {
        uint32_t start = 0, size = 0;
        index.getElement(uint16_t(i), start, size);
        check(uint64_t(start) + size <= length);
        if (size) sum += table[start] + table[start + size - 1];
    }
    g_sink = sum;
}

// `localsHere`: the local Subr INDEXes belong to this table (a second table without Private DICTs keeps the
// first one's slots).
void checkLoaded(const CffFont& font, const uint8_t* table, uint32_t length, bool localsHere) {
    check(font.fdCount >= 0 && font.fdCount <= int16_t(kCffMaxFontDicts));
    checkIndex(font.globalSubrs, table, length);
    checkIndex(font.charStrings, table, length);
    for (int32_t i = 0; i < font.fdCount; ++i) {
        if (localsHere) checkIndex(font.localSubrs[i], table, length);
        const CffPrivateDict& p = font.privateDicts[i];
        check(p.stemHCount >= 0 && p.stemHCount <= int16_t(kCffMaxPrivateStems));
        check(p.stemVCount >= 0 && p.stemVCount <= int16_t(kCffMaxPrivateStems));
        check(p.blueValueCount >= 0 && p.blueValueCount <= int16_t(kCffMaxBlueValues));
        check(p.otherBlueCount >= 0 && p.otherBlueCount <= int16_t(kCffMaxOtherBlues));
    }
    // fontDictOf on the first and last glyphs, every glyph of a small font, a stride through a large one and
    // the glyphs past the end.
    const uint32_t glyphs = font.charStrings.count;
    const uint32_t stride = glyphs > 4096 ? glyphs / 1024 : 1;
    uint32_t sum = 0;
    auto probe = [&](uint32_t g) {
        const int32_t fd = font.fontDictOf(g);
        check(fd >= 0 && fd < int32_t(kCffMaxFontDicts));
        if (font.fdCount <= 1) check(fd == 0);
        if (font.fdCount > 1 && font.fdSelectFormat == 0 && g < font.fdSelectSize)
            check(fd == font.fdSelectData[g]);
        sum += uint32_t(fd);
    };
    for (uint32_t g = 0; g < glyphs; g += stride) probe(g);
    for (uint32_t g : {glyphs - 1, glyphs, glyphs + 1, uint32_t(0xFFFF), uint32_t(0xFFFFFFFF)}) probe(g);
    g_sink = sum;
}

void checkCleared(const CffFont& font) {
    check(font.charStrings.count == 0 && font.globalSubrs.count == 0 && font.fdCount == 0);
    check(font.fdSelectData == nullptr && font.fdSelectSize == 0 && font.fdSelectFormat == 0);
    check(font.fontDictOf(0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > 0xFFFFFFFFu) return 0;
    const uint8_t* body = data + 1;
    const uint32_t length = uint32_t(size - 1);

    if ((data[0] & 1) == 0) {
        // The table alone, as the only bytes of the file buffer.
        std::unique_ptr<CffFont> font(new CffFont);
        font->data = body;
        font->dataSize = length;
        font->cffOffset = 0;
        font->cffLength = length;
        const int16_t status = font->loadCffTable(body, length);
        if (status == 0) {
            checkLoaded(*font, body, length, true);
        } else {
            check(status == kFontDataError);
            checkCleared(*font);
        }
        font->release();
        font->release();
        return 0;
    }

    const uint32_t face = (data[0] >> 1) & 3;
    int16_t status = 1;
    std::unique_ptr<SfntFont> font = loadFontFace(body, length, face, status);
    check((status == 0) == (font != nullptr));
    if (!font) return 0;
    if (font->formatTag == CffFont::kTag) {
        const auto& cff = static_cast<const CffFont&>(*font);
        check(uint64_t(cff.cffOffset) + cff.cffLength <= length || cff.cffLength == 0);
        // The glyph count is copied only when exactly one CFF table loaded.
        const bool oneTable = cff.glyphCount != 0;
        if (oneTable) check(cff.glyphCount == cff.charStrings.count);
        checkLoaded(cff, body + cff.cffOffset, cff.cffLength, oneTable);
    }
    font->release();
    return 0;
}
