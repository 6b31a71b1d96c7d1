// One entry point that loads any face of a font file: the file's kind from its first four bytes, the
// collection-header test for collections, then the load of the face's flavour.
//   single font   0 u32 version: 0x00010000 or 'true' (TrueType), 'OTTO' (CFF)
//   collection    0 'ttcf' ... 12 + 4 x i: u32 offset of face i's offset table (see testCollectionHeader)
#include "cff/LoadFont.h"

#include <new>

#include "cff/CffFont.h"
#include "sfnt/TrueTypeFont.h"

namespace {

constexpr uint32_t kVersionTrueType = 0x00010000;
constexpr uint32_t kTagTrue = makeTag('t', 'r', 'u', 'e');
constexpr uint32_t kTagOtto = makeTag('O', 'T', 'T', 'O');
constexpr uint32_t kTagTtcf = makeTag('t', 't', 'c', 'f');
constexpr uint32_t kTagCff = makeTag('C', 'F', 'F', ' ');

std::unique_ptr<SfntFont> failed(int16_t& status, int16_t why) {
    status = why;
    return nullptr;
}

// The TrueType face whose offset table lies at `offset`.
std::unique_ptr<SfntFont> loadTrueTypeFace(const uint8_t* data, uint32_t size, uint32_t offset,
                                           int16_t& status) {
    std::unique_ptr<TrueTypeFont> font(new (std::nothrow) TrueTypeFont);
    if (!font) return failed(status, int16_t(kOutOfMemory));
    status = font->loadTrueType(data, size, offset);
    if (status != 0) {
        font->release();
        return nullptr;
    }
    return font;
}

// The OpenType CFF face whose offset table lies at `offset`: the table directory, then every 'CFF ' record's
// table in directory order. The glyph count and units per em become the font's when exactly one CFF table
// loaded (a face without one loads, with no glyphs).
std::unique_ptr<SfntFont> loadCffFace(const uint8_t* data, uint32_t size, uint32_t offset, int16_t& status) {
    std::unique_ptr<CffFont> font(new (std::nothrow) CffFont);
    if (!font) return failed(status, int16_t(kOutOfMemory));
    font->data = data;
    font->dataSize = size;
    font->fontOffset = offset;
    OffsetTable offsetTable;
    TableRecord records[kMaxTableRecords];
    status = font->readTableDirectory(offsetTable, records);
    uint32_t loaded = 0;
    for (uint16_t i = 0; status == 0 && i < offsetTable.numTables; ++i) {
        if (records[i].tag != kTagCff) continue;
        // Inside the buffer: the directory reader checked every record's offset + length against it.
        font->cffOffset = records[i].offset;
        font->cffLength = records[i].length;
        status = font->loadCffTable(data + records[i].offset, records[i].length);
        loaded += status == 0;
    }
    if (status != 0) {
        font->release();
        return nullptr;
    }
    if (loaded == 1) {
        font->glyphCount = font->charStrings.count;
        font->unitsPerEm = font->head.unitsPerEm;
    }
    return font;
}

}  // namespace

std::unique_ptr<SfntFont> loadFontFace(const uint8_t* data, uint32_t size, uint32_t face, int16_t& status) {
    status = 0;
    if (!data || size < 4) return failed(status, int16_t(kParamError));
    const uint32_t version = loadU32(data);
    if (version == kTagTtcf) {
        uint32_t offset = 0, numFonts = 0;
        if (!testCollectionHeader(data, size, face, offset, &numFonts))
            return failed(status, numFonts != 0 && face >= numFonts ? int16_t(kParamError) : kFontDataError);
        // The face's own version tag decides its flavour; a face too short for one fails its load.
        const uint32_t faceVersion = uint64_t(offset) + 4 <= size ? loadU32(data + offset) : 0;
        if (faceVersion == kTagOtto) return loadCffFace(data, size, offset, status);
        return loadTrueTypeFace(data, size, offset, status);
    }
    if (face != 0) return failed(status, int16_t(kParamError));
    if (version == kVersionTrueType || version == kTagTrue) return loadTrueTypeFace(data, size, 0, status);
    if (version == kTagOtto) return loadCffFace(data, size, 0, status);
    return failed(status, int16_t(kParamError));
}
