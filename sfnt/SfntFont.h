// The base font object: one font inside a file buffer that the caller keeps alive (a single font at offset
// 0, or a member of a collection at its offset). It reads the offset table and the table directory, and the
// tables every outline flavour shares: 'OS/2', 'cmap', 'head', 'name' and 'post'. TrueTypeFont ('glyf'
// outlines) and CffFont ('CFF ' outlines) derive from it.
//   'OS/2' (first 78 bytes, version 0)   'head' (54 bytes)   'post' (32-byte header)   'name' (validated)
#pragma once

#include <cstdint>

#include "sfnt/CmapTable.h"
#include "sfnt/GlyphOutline.h"
#include "sfnt/Status.h"
#include "sfnt/TableDirectory.h"

struct Os2Table {
    uint16_t version = 0;
    int16_t xAvgCharWidth = 0;
    uint16_t usWeightClass = 0, usWidthClass = 0, fsType = 0;
    int16_t ySubscriptXSize = 0, ySubscriptYSize = 0, ySubscriptXOffset = 0, ySubscriptYOffset = 0;
    int16_t ySuperscriptXSize = 0, ySuperscriptYSize = 0, ySuperscriptXOffset = 0, ySuperscriptYOffset = 0;
    int16_t yStrikeoutSize = 0, yStrikeoutPosition = 0;
    int16_t sFamilyClass = 0;
    uint8_t panose[10] = {};
    uint32_t ulUnicodeRange1 = 0, ulUnicodeRange2 = 0, ulUnicodeRange3 = 0, ulUnicodeRange4 = 0;
    uint8_t achVendID[4] = {};
    uint16_t fsSelection = 0, usFirstCharIndex = 0, usLastCharIndex = 0;
    int16_t sTypoAscender = 0, sTypoDescender = 0, sTypoLineGap = 0;
    uint16_t usWinAscent = 0, usWinDescent = 0;
};

struct HeadTable {
    uint32_t version = 0, fontRevision = 0, checkSumAdjustment = 0, magicNumber = 0;
    uint16_t flags = 0;
    uint16_t unitsPerEm = 0;
    uint8_t created[8] = {}, modified[8] = {};  // as stored, not decoded
    int16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    uint16_t macStyle = 0, lowestRecPPEM = 0;
    int16_t fontDirectionHint = 0, indexToLocFormat = 0, glyphDataFormat = 0;
};

struct PostTable {
    uint32_t version = 0;
    uint32_t italicAngle = 0;  // 16.16
    int16_t underlinePosition = 0, underlineThickness = 0;
    uint32_t isFixedPitch = 0, minMemType42 = 0, maxMemType42 = 0, minMemType1 = 0, maxMemType1 = 0;
};

// The 'name' table, validated; the identification reads names itself.
class NameTable {
public:
    virtual ~NameTable() = default;
    virtual void release();
    [[nodiscard]] virtual int16_t parse(const uint8_t* bytes, uint32_t length);
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

class GlyphLoader;       // the TrueType glyph loader record
class Type2Interpreter;  // the Type 2 charstring interpreter

// The glyph's box in 26.6: xMin, yMax, xMax, yMin (TrueType outlines fill it when asked).
struct GlyphBox {
    int32_t xMin = 0, yMax = 0, xMax = 0, yMin = 0;
};

// What the outline operations of one font work with, supplied by the caller: one glyph at a time, one per
// thread. prepareGlyphWork() fills it with what the font needs; releaseGlyphWork() frees that again.
struct GlyphWork {
    GlyphLoader* loader = nullptr;            // TrueType fonts: the glyph loader record
    GlyphBox* box = nullptr;                  // TrueType fonts: receives the glyph's box, when set
    Type2Interpreter* interpreter = nullptr;  // CFF fonts: the charstring interpreter
    HintRecord** hints = nullptr;             // CFF fonts: address of a hint-record pointer (may hold null)
};

class SfntFont {
public:
    static constexpr uint32_t kTag = 0x73666E74;  // 'sfnt'

    SfntFont();
    virtual ~SfntFont();
    SfntFont(const SfntFont&) = delete;
    SfntFont& operator=(const SfntFont&) = delete;

    // The virtual operations in slot order.
    // 0: releases the sub-objects (name, then cmap), cmapIndex -1, data and dataSize cleared. The object's
    //    own storage is the owner's.
    virtual void release();
    // 1: a new empty outline record, or null.
    virtual GlyphOutline* newOutline();
    // 2: a new hint record; none in the base class.
    virtual HintRecord* newHintRecord();
    // 3: a new scaler for this font: the plain scaler in the base class.
    virtual OutlineScaler* newScaler();
    // 4: the kind of hint record slot 2 creates: 0, or 'STEM'.
    virtual uint32_t hintingKind() const;
    // 5: the outline of a glyph by glyph index; -1 (not supported) in the base class.
    [[nodiscard]] virtual int16_t getGlyphOutline(uint32_t glyph, GlyphWork& work, GlyphOutline& outline);
    // 6: the outline of a glyph by character code; -1 in the base class.
    [[nodiscard]] virtual int16_t getCharOutline(uint32_t code, GlyphWork& work, GlyphOutline& outline);
    // 7: maps a character code through the subtable cmapIndex selects: 0, 2 (not mapped) or -35 (no usable
    //    character map).
    [[nodiscard]] virtual int16_t charToGlyph(uint32_t code, uint32_t& glyph) const;
    // 8: frees the arrays of a glyph loader record (TrueType only; nothing in the base class).
    virtual void freeLoaderArrays(GlyphLoader& loader);

    // Not slots: the working state of the outline operations, made for this font. 0 or kOutOfMemory.
    [[nodiscard]] virtual int16_t prepareGlyphWork(GlyphWork& work);
    virtual void releaseGlyphWork(GlyphWork& work);

    // Reads the offset table at fontOffset and the table directory into `out` and `records` (room for
    // kMaxTableRecords), and the shared tables into the fields below: 0 or kFontDataError.
    [[nodiscard]] int16_t readTableDirectory(OffsetTable& out, TableRecord* records);

    uint32_t formatTag = kTag;
    uint32_t glyphCount = 0;
    uint16_t unitsPerEm = 1000;
    uint32_t fontOffset = 0;
    const uint8_t* data = nullptr;  // the whole file buffer, borrowed
    uint32_t dataSize = 0;
    Os2Table os2;
    CmapTable cmap;
    int16_t cmapIndex = -1;  // the stored subtable with platform 3, encoding 1, or -1
    HeadTable head;
    NameTable name;
    PostTable post;
    uint32_t os2Offset = 0, os2Length = 0;
};
