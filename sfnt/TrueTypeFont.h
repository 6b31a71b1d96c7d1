// The font object of fonts whose outlines are in 'glyf': plain TrueType files and members of TrueType
// collections. Besides the shared tables it reads (big-endian):
//   'hhea'  0 u32 version  4..23 ten 16-bit values  32 i16 metricDataFormat  34 u16 numberOfHMetrics
//   'maxp'  0 u32 version (1.0 at least)  4..31 fourteen u16 fields
//   'hmtx'  numberOfHMetrics x (u16 advanceWidth, i16 lsb), then (numGlyphs - numberOfHMetrics) x i16 lsb
//   'loca'  numGlyphs + 1 offsets into 'glyf': u16 (x 2) when indexToLocFormat is 0, else u32
// and notes where 'glyf' begins; 'glyf' itself is read by the outline operations.
#pragma once

#include <cstdint>

#include "sfnt/SfntFont.h"

struct HheaTable {
    uint32_t version = 0;  // 16.16
    int16_t ascender = 0, descender = 0, lineGap = 0;
    uint16_t advanceWidthMax = 0;
    int16_t minLeftSideBearing = 0, minRightSideBearing = 0, xMaxExtent = 0;
    int16_t caretSlopeRise = 0, caretSlopeRun = 0, caretOffset = 0;
    int16_t reserved[4] = {};  // present, never filled
    int16_t metricDataFormat = 0;
    uint16_t numberOfHMetrics = 0;
};

struct MaxpTable {
    uint32_t version = 0;  // 16.16
    uint16_t numGlyphs = 0, maxPoints = 0, maxContours = 0, maxCompositePoints = 0, maxCompositeContours = 0;
    uint16_t maxZones = 0, maxTwilightPoints = 0, maxStorage = 0, maxFunctionDefs = 0, maxInstructionDefs = 0;
    uint16_t maxStackElements = 0, maxSizeOfInstructions = 0, maxComponentElements = 0, maxComponentDepth = 0;
};

class HmtxTable {
public:
    virtual ~HmtxTable() = default;
    virtual void release();
    [[nodiscard]] virtual int16_t parse(const uint8_t* bytes, uint32_t length);

    // The horizontal metrics of a glyph in font units: its advance width and left side bearing. A glyph at
    // or past numberOfHMetrics has the last long metric's advance and its own side bearing. 0; kGlyphAbsent
    // (2) for a glyph at or past numGlyphs; kFontDataError when the table holds no long metric or was not
    // parsed.
    [[nodiscard]] int16_t metrics(uint32_t glyph, uint16_t& advanceWidth, int16_t& leftSideBearing) const;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint16_t numGlyphs = 0;
    uint16_t numberOfHMetrics = 0;
};

class LocaTable {
public:
    virtual ~LocaTable() = default;
    virtual void release();
    [[nodiscard]] virtual int16_t parse(const uint8_t* bytes, uint32_t length);
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint16_t numGlyphs = 0;
    int16_t indexToLocFormat = -1;
    // The largest glyph length 'loca' gives. A glyph may be 65536 bytes long, which 16 bits cannot hold:
    // it is kept as 65535 ("at least this long"). Nothing sizes a buffer from it; the outline code takes each
    // glyph's extent from 'loca' itself.
    uint16_t maxGlyphLength = 0;
};

// One point of a glyph being loaded: its flags and its position in 26.6.
struct GlyphLoaderPoint {
    uint8_t flags;
    int32_t x, y;
};

// The TrueType glyph loader record: the working arrays of the outline operations (slots 5 and 6), sized
// from 'maxp' by TrueTypeFont::prepareGlyphWork; slot 8 frees the arrays.
class GlyphLoader {
public:
    const uint8_t* data = nullptr;  // the font's file buffer
    uint32_t dataSize = 0;
    uint16_t maxPoints = 0;
    uint16_t maxContours = 0;
    uint16_t maxComponentElements = 0;
    uint16_t maxComponentDepth = 0;
    int16_t contourCount = 0;
    uint16_t* contourEnds = nullptr;     // maxContours entries
    GlyphLoaderPoint* points = nullptr;  // maxPoints entries
    int32_t advance = 0;                 // 26.6
    int32_t leftSideBearing = 0;         // 26.6
    int16_t depth = 0;
};

class TrueTypeFont : public SfntFont {
public:
    static constexpr uint32_t kTag = 0x74727565;  // 'true'

    TrueTypeFont();

    // Reads the directory, the shared tables and 'hhea', 'maxp', 'hmtx', 'loca': 0 or kFontDataError.
    // `fontOffset` is 0 for a single font, or a member's offset that the caller took from a tested
    // collection header.
    [[nodiscard]] int16_t loadTrueType(const uint8_t* bytes, uint32_t size, uint32_t offset);

    void release() override;
    [[nodiscard]] int16_t getGlyphOutline(uint32_t glyph, GlyphWork& work, GlyphOutline& outline) override;
    [[nodiscard]] int16_t getCharOutline(uint32_t code, GlyphWork& work, GlyphOutline& outline) override;
    void freeLoaderArrays(GlyphLoader& loader) override;
    [[nodiscard]] int16_t prepareGlyphWork(GlyphWork& work) override;
    void releaseGlyphWork(GlyphWork& work) override;

    HheaTable hhea;
    HmtxTable hmtx;
    LocaTable loca;
    MaxpTable maxp;
    uint32_t glyfOffset = 0;
};

// The collection-header test that callers run before loading a member of a TrueType collection:
//   0 'ttcf'   4 u32 version (0x00010000 or 0x00020000)   8 u32 numFonts   12 + 4 x i: u32 offset of font i
// The file must be at least 12 bytes and hold the numFonts offsets, numFonts must be 1 to 48, and member
// `index` must be below numFonts with its offset not beyond the file (loadTrueType then checks that its
// offset table fits). True with that offset in `memberOffset`. `numFonts`, when given, receives the font
// count whenever the header itself passed (also when `index` is too large), and 0 otherwise.
[[nodiscard]] bool testCollectionHeader(const uint8_t* bytes, uint32_t size, uint32_t index,
                                        uint32_t& memberOffset, uint32_t* numFonts = nullptr);
