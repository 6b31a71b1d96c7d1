// The font object of OpenType fonts whose outlines are in a 'CFF ' table. Besides the shared sfnt tables it
// keeps, from one pass over the CFF table (everything points into the caller's file buffer):
//   the Global Subr INDEX, the CharStrings INDEX, FDSelect (formats 0 and 3), up to 256 Private DICTs with
//   their local Subr INDEXes, and the font bounding box.
// CFF table: header (u8 major, u8 minor, u8 hdrSize, u8 offSize), then at hdrSize the Name, Top DICT, String
// and Global Subr INDEXes back to back. DICT positions (CharStrings, charset, FDSelect, FDArray, Private)
// count from the table's start; a Private DICT's Subrs position counts from the Private DICT's start.
//   FDSelect format 0: u8 format, u8 fd[glyphCount]
//   FDSelect format 3: u8 format, u16 nRanges, nRanges x (u16 first glyph, u8 fd), u16 sentinel
#pragma once

#include <cstdint>

#include "cff/CffDict.h"
#include "cff/CffIndex.h"
#include "sfnt/SfntFont.h"

// Alignment-zone defaults of a Private DICT without the operators (BlueScale 0.039625 in 16.16, rounded;
// BlueShift 7 and BlueFuzz 1 font units in 26.6).
constexpr Fixed kCffDefaultBlueScale = 2597;
constexpr int32_t kCffDefaultBlueShift = 7 * 64;
constexpr int32_t kCffDefaultBlueFuzz = 1 * 64;

// A Private DICT: the handler that reads it and the record that keeps what glyph access and hinting need.
//   StdHW, StdVW      one width each, appended to stemH / stemV while fewer than 12 are kept
//   StemSnapH, StemSnapV  the operands as stored (no running sum), appended while they fit
//   widths: an integer as is, a real as its integer part (rounded toward minus infinity)
// Stem widths are 26.6: an integer operand x 64, a real operand (16.16) shifted right by 10.
class CffPrivateDict final : public CffDictHandler {
public:
    [[nodiscard]] int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                     const int32_t* operands) override;
    // Back to the values of a Private DICT without operators (the alignment-zone defaults included).
    void reset();

    int32_t subrsOffset = 0;  // from this Private DICT's position; 0 = none
    int32_t defaultWidthX = 0;
    int32_t nominalWidthX = 0;
    int16_t stemHCount = 0;
    int16_t stemVCount = 0;
    int32_t stemH[kCffMaxPrivateStems] = {};  // 26.6
    int32_t stemV[kCffMaxPrivateStems] = {};  // 26.6

    // The alignment zones, kept for the hinting scaler (loading does not use them). BlueValues and
    // OtherBlues are absolute positions in 26.6: the DICT stores each value as the difference to the one
    // before it, summed here; they come in pairs (bottom, top). A later operator of the same kind replaces
    // the earlier one; OtherBlues beyond 10 values are dropped. Absent operators leave the defaults.
    int16_t blueValueCount = 0;
    int16_t otherBlueCount = 0;
    int32_t blueValues[kCffMaxBlueValues] = {};  // 26.6
    int32_t otherBlues[kCffMaxOtherBlues] = {};  // 26.6
    Fixed blueScale = kCffDefaultBlueScale;      // 16.16
    int32_t blueShift = kCffDefaultBlueShift;    // 26.6
    int32_t blueFuzz = kCffDefaultBlueFuzz;      // 26.6
};

// The first Top DICT, while the table loads.
class CffTopDict final : public CffDictHandler {
public:
    [[nodiscard]] int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                     const int32_t* operands) override;

    int16_t fontBBox[4] = {};  // top (yMax), left (xMin), bottom (yMin), right (xMax)
    int32_t charStringsOffset = 0;
    uint8_t isCidFont = 0;
    int32_t fdSelectOffset = 0;
    int32_t fdArrayOffset = 0;
    int32_t privateOffset = 0;
    int32_t privateSize = 0;
    int32_t charsetOffset = 0;  // kept, not used
};

// One FDArray entry, while the table loads.
class CffFontDict final : public CffDictHandler {
public:
    [[nodiscard]] int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                     const int32_t* operands) override;

    int32_t privateOffset = 0;
    int32_t privateSize = 0;
};

class CffFont : public SfntFont {
public:
    static constexpr uint32_t kTag = 0x4F54544F;  // 'OTTO'

    CffFont();

    // Loads one CFF table (cffData = data + cffOffset, cffLength bytes): 0 or kFontDataError. The owner has
    // set data, dataSize, fontOffset, cffOffset and cffLength and has run readTableDirectory. When data is
    // set, the table must lie inside [data, data + dataSize). A failed load leaves every CFF field as
    // construction set it (fdCount 0, no glyphs), so a caller that goes on regardless reads nothing
    // half-parsed. Each Private DICT slot the table fills starts from its defaults.
    [[nodiscard]] int16_t loadCffTable(const uint8_t* cffData, uint32_t cffLength);

    void release() override;
    HintRecord* newHintRecord() override;   // slot 2
    OutlineScaler* newScaler() override;    // slot 3: the CFF hinting scaler
    uint32_t hintingKind() const override;  // slot 4: 'STEM'
    [[nodiscard]] int16_t getGlyphOutline(uint32_t glyph, GlyphWork& work, GlyphOutline& outline) override;
    [[nodiscard]] int16_t getCharOutline(uint32_t code, GlyphWork& work, GlyphOutline& outline) override;
    [[nodiscard]] int16_t prepareGlyphWork(GlyphWork& work) override;
    void releaseGlyphWork(GlyphWork& work) override;

    // The Font DICT of a glyph through FDSelect: 0 when fdCount is 1 or less, for a glyph that format 0
    // does not list, or when no format 3 range holds it (ranges are searched by bisection). The result is
    // not compared with fdCount; it is below kCffMaxFontDicts.
    int32_t fontDictOf(uint32_t glyph) const;
    // The same, format 3 starting from range `rangeHint` (any value; a working state keeps the range of its
    // previous glyph there), which is set to the range that holds the glyph.
    int32_t fontDictOf(uint32_t glyph, uint32_t& rangeHint) const;

    uint32_t cffOffset = 0;
    uint32_t cffLength = 0;
    uint8_t cffHeaderOffSize = 0;
    CffSubrIndex globalSubrs;
    uint8_t fdSelectFormat = 0;
    uint16_t fdSelectGlyphCount = 0;
    uint16_t fdSelectSize = 0;
    const uint8_t* fdSelectData = nullptr;
    CffCharStringsIndex charStrings;
    int16_t fdCount = 0;
    CffPrivateDict privateDicts[kCffMaxFontDicts];
    CffSubrIndex localSubrs[kCffMaxFontDicts];
    int16_t fontBBox[4] = {};  // top, left, bottom, right

private:
    [[nodiscard]] int16_t loadTable(const uint8_t* cffData, uint32_t tableLength);
    [[nodiscard]] int16_t loadFdSelect(const ByteReader& table, int32_t offset);
    void clearCffFields();
    void clearSlots(uint32_t from, uint32_t to);

    // Private DICT slots that some load of this object has filled (0 .. slotsFilled - 1), so that a later
    // load resets the ones it does not fill: no slot beyond fdCount keeps another table's values.
    uint32_t slotsFilled = 0;
};
