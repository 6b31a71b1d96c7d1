// Loading the CFF table of an OpenType font with PostScript outlines. Layout (big-endian, positions from the
// table's start):
//   0  u8 major (1)  1 u8 minor  2 u8 hdrSize (>= 4)  3 u8 offSize (kept, not checked)
//   hdrSize: Name INDEX, Top DICT INDEX, String INDEX, Global Subr INDEX, back to back
//   Top DICT (element 0): FontBBox, charset, CharStrings, Private (size, offset), ROS, FDArray, FDSelect
//   CID-keyed fonts: FDSelect (format 0 or 3) maps glyphs to Font DICTs; FDArray is an INDEX of Font DICTs,
//   each naming its Private DICT (size, offset)
//   Private DICT: widths, stems, alignment zones, and Subrs (the local Subr INDEX, from the Private DICT's
//   own position)
// One pass, no allocation: every view points into the caller's buffer. Every position taken from the table
// is checked against the table's length in 64 bits before anything at it is read.
#include "cff/CffFont.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "sfnt/ByteReader.h"

namespace {

// DICT operators the handlers keep.
constexpr uint16_t kOpBlueValues = 6;
constexpr uint16_t kOpOtherBlues = 7;
constexpr uint16_t kOpFontBBox = 5;
constexpr uint16_t kOpStdHW = 10;
constexpr uint16_t kOpStdVW = 11;
constexpr uint16_t kOpCharset = 15;
constexpr uint16_t kOpCharStrings = 17;
constexpr uint16_t kOpPrivate = 18;
constexpr uint16_t kOpSubrs = 19;
constexpr uint16_t kOpDefaultWidthX = 20;
constexpr uint16_t kOpNominalWidthX = 21;
constexpr uint16_t kOpBlueScale = kCffOpEscape + 9;
constexpr uint16_t kOpBlueShift = kCffOpEscape + 10;
constexpr uint16_t kOpBlueFuzz = kCffOpEscape + 11;
constexpr uint16_t kOpStemSnapH = kCffOpEscape + 12;
constexpr uint16_t kOpStemSnapV = kCffOpEscape + 13;
constexpr uint16_t kOpRos = kCffOpEscape + 30;
constexpr uint16_t kOpFdArray = kCffOpEscape + 36;
constexpr uint16_t kOpFdSelect = kCffOpEscape + 37;

constexpr uint8_t kCffMajorVersion = 1;
constexpr uint8_t kCffMinHeaderSize = 4;
constexpr uint32_t kFdSelectRangeSize = 3;  // u16 first glyph, u8 Font DICT index

int32_t clampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// A DICT operand in 26.6: an integer x 64 (saturated: a 32-bit operand may not fit), a real's 16.16 value
// shifted right by 10 (arithmetic, so rounded toward minus infinity).
int32_t to26Dot6(int32_t operand, uint8_t isReal) {
    return isReal ? (operand >> 10) : clampToInt32(int64_t(operand) * 64);
}

// A width operand in font units: an integer as is, a real as its integer part rounded toward minus
// infinity (the upper 16 bits of its 16.16 value).
int32_t toFontUnits(int32_t operand, uint8_t isReal) {
    return isReal ? (operand >> 16) : operand;
}

bool anyReal(uint16_t operandCount, const uint8_t* isReal) {
    for (uint16_t i = 0; i < operandCount; ++i)
        if (isReal[i]) return true;
    return false;
}

// Appends operands to a stem array while it has room; the rest are dropped.
void appendStems(int32_t* stems, int16_t& count, uint16_t operandCount, const uint8_t* isReal,
                 const int32_t* operands) {
    for (uint16_t i = 0; i < operandCount && count < int16_t(kCffMaxPrivateStems); ++i)
        stems[count++] = to26Dot6(operands[i], isReal[i]);
}

// A delta-coded array (BlueValues, OtherBlues) as absolute 26.6 positions: each operand is the difference to
// the value before it. The running sum is kept in 64 bits and each result saturated.
int16_t readDeltas(int32_t* values, uint16_t capacity, uint16_t operandCount, const uint8_t* isReal,
                   const int32_t* operands) {
    int64_t position = 0;
    uint16_t kept = 0;
    for (uint16_t i = 0; i < operandCount && kept < capacity; ++i) {
        position += to26Dot6(operands[i], isReal[i]);
        values[kept++] = clampToInt32(position);
    }
    return int16_t(kept);
}

// A DICT offset operand (position in the table) as an unsigned position, or false when it is negative.
bool asPosition(int32_t offset, uint32_t& position) {
    if (offset < 0) return false;
    position = uint32_t(offset);
    return true;
}

}  // namespace

// ---- DICT handlers ----

void CffPrivateDict::reset() {
    subrsOffset = 0;
    defaultWidthX = 0;
    nominalWidthX = 0;
    stemHCount = 0;
    stemVCount = 0;
    std::fill(std::begin(stemH), std::end(stemH), 0);
    std::fill(std::begin(stemV), std::end(stemV), 0);
    blueValueCount = 0;
    otherBlueCount = 0;
    std::fill(std::begin(blueValues), std::end(blueValues), 0);
    std::fill(std::begin(otherBlues), std::end(otherBlues), 0);
    blueScale = kCffDefaultBlueScale;
    blueShift = kCffDefaultBlueShift;
    blueFuzz = kCffDefaultBlueFuzz;
}

int16_t CffPrivateDict::onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                   const int32_t* operands) {
    switch (op) {
        case kOpStdHW:
            appendStems(stemH, stemHCount, 1, isReal, operands);
            break;
        case kOpStdVW:
            appendStems(stemV, stemVCount, 1, isReal, operands);
            break;
        case kOpStemSnapH:
            // Real operands are scaled like StdHW's (a width in 26.6), not multiplied by 64 as 16.16 values.
            appendStems(stemH, stemHCount, operandCount, isReal, operands);
            break;
        case kOpStemSnapV:
            appendStems(stemV, stemVCount, operandCount, isReal, operands);
            break;
        case kOpSubrs:
            if (isReal[0]) return KORV_FAIL(kFontDataError);
            subrsOffset = operands[0];
            break;
        case kOpDefaultWidthX:
            defaultWidthX = toFontUnits(operands[0], isReal[0]);
            break;
        case kOpNominalWidthX:
            nominalWidthX = toFontUnits(operands[0], isReal[0]);
            break;
        case kOpBlueValues:
            blueValueCount = readDeltas(blueValues, kCffMaxBlueValues, operandCount, isReal, operands);
            break;
        case kOpOtherBlues:
            otherBlueCount = readDeltas(otherBlues, kCffMaxOtherBlues, operandCount, isReal, operands);
            break;
        case kOpBlueScale:
            blueScale = isReal[0] ? operands[0] : clampToInt32(int64_t(operands[0]) * kFixedOne);
            break;
        case kOpBlueShift:
            blueShift = to26Dot6(operands[0], isReal[0]);
            break;
        case kOpBlueFuzz:
            blueFuzz = to26Dot6(operands[0], isReal[0]);
            break;
        default:
            break;  // accepted and not kept
    }
    return 0;
}

int16_t CffTopDict::onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                               const int32_t* operands) {
    switch (op) {
        case kOpFontBBox:
            // Stored as a rectangle: top (yMax), left (xMin), bottom (yMin), right (xMax), each cut to 16
            // bits.
            if (anyReal(operandCount, isReal)) return KORV_FAIL(kFontDataError);
            fontBBox[0] = int16_t(uint16_t(uint32_t(operands[3])));
            fontBBox[1] = int16_t(uint16_t(uint32_t(operands[0])));
            fontBBox[2] = int16_t(uint16_t(uint32_t(operands[1])));
            fontBBox[3] = int16_t(uint16_t(uint32_t(operands[2])));
            break;
        case kOpCharset:
            if (isReal[0]) return KORV_FAIL(kFontDataError);
            charsetOffset = operands[0];
            break;
        case kOpCharStrings:
            if (isReal[0]) return KORV_FAIL(kFontDataError);
            charStringsOffset = operands[0];
            break;
        case kOpPrivate:
            if (isReal[0] || isReal[1]) return KORV_FAIL(kFontDataError);
            privateSize = operands[0];
            privateOffset = operands[1];
            break;
        case kOpRos:
            isCidFont = 1;  // registry, ordering and supplement are not examined
            break;
        case kOpFdArray:
            if (isReal[0]) return KORV_FAIL(kFontDataError);
            fdArrayOffset = operands[0];
            break;
        case kOpFdSelect:
            if (isReal[0]) return KORV_FAIL(kFontDataError);
            fdSelectOffset = operands[0];
            break;
        default:
            break;
    }
    return 0;
}

int16_t CffFontDict::onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                const int32_t* operands) {
    (void)operandCount;
    if (op == kOpPrivate) {
        if (isReal[0] || isReal[1]) return KORV_FAIL(kFontDataError);
        privateSize = operands[0];
        privateOffset = operands[1];
    }
    return 0;
}

// ---- the font object ----

CffFont::CffFont() {
    formatTag = kTag;
}

void CffFont::release() {
    for (int32_t i = 0; i < fdCount && i < int32_t(kCffMaxFontDicts); ++i) {
        localSubrs[i].release();
        privateDicts[i].release();
    }
    charStrings.release();
    fdSelectFormat = 0;
    fdSelectSize = 0;
    fdSelectData = nullptr;
    globalSubrs.release();
    SfntFont::release();
}

namespace {

// An INDEX view back to its state after construction (release() keeps the derived fields).
void clearIndex(CffSubrIndex& index) {
    index.release();
    index.maxElementLength = 0;
    index.bias = 0;
}

}  // namespace

// Private DICT slots [from, to) back to their defaults, with empty local Subr INDEXes.
void CffFont::clearSlots(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to && i < kCffMaxFontDicts; ++i) {
        privateDicts[i].reset();
        clearIndex(localSubrs[i]);
    }
}

// Every CFF field back to its state after construction, except the owner's cffOffset and cffLength.
void CffFont::clearCffFields() {
    cffHeaderOffSize = 0;
    clearIndex(globalSubrs);
    fdSelectFormat = 0;
    fdSelectGlyphCount = 0;
    fdSelectSize = 0;
    fdSelectData = nullptr;
    charStrings.release();
    charStrings.maxElementLength = 0;
    fdCount = 0;
    clearSlots(0, slotsFilled);
    slotsFilled = 0;
    std::fill(std::begin(fontBBox), std::end(fontBBox), int16_t(0));
}

int16_t CffFont::loadCffTable(const uint8_t* cffData, uint32_t tableLength) {
    const int16_t status = loadTable(cffData, tableLength);
    if (status != 0) clearCffFields();
    return status;
}

int16_t CffFont::loadTable(const uint8_t* cffData, uint32_t tableLength) {
    // The table must lie inside the file buffer when the owner has set one (glyph access reads it again
    // through data + cffOffset).
    if (data != nullptr) {
        const uintptr_t begin = uintptr_t(data);
        const uintptr_t at = uintptr_t(cffData);
        if (cffData == nullptr || at < begin || at - begin > dataSize ||
            tableLength > dataSize - (at - begin))
            return KORV_FAIL(kFontDataError);
    }
    ByteReader table(cffData, tableLength);

    // 1. Header.
    ByteReader header = table;
    const uint8_t major = header.u8();
    header.skip(1);  // minor version: not examined
    const uint8_t headerSize = header.u8();
    const uint8_t offSize = header.u8();
    if (!header.ok() || major != kCffMajorVersion || headerSize < kCffMinHeaderSize)
        return KORV_FAIL(kFontDataError);
    cffHeaderOffSize = offSize;

    // 2 to 5. Name, Top DICT, String and Global Subr INDEXes, each where the one before ends. A position is
    // at most the table's length (an INDEX's totalSize never passes the table's end), so it fits 32 bits.
    CffIndex nameIndex, topDictIndex, stringIndex;
    uint32_t position = headerSize;
    int16_t status = nameIndex.parse(cffData, tableLength, position);
    if (status != 0) return status;
    position += nameIndex.totalSize;
    status = topDictIndex.parse(cffData, tableLength, position);
    if (status != 0) return status;
    position += topDictIndex.totalSize;
    status = stringIndex.parse(cffData, tableLength, position);
    if (status != 0) return status;
    position += stringIndex.totalSize;
    status = globalSubrs.parse(cffData, tableLength, position);
    if (status != 0) return status;

    // 6, 7. The first Top DICT only; an empty Top DICT INDEX gives an empty Top DICT.
    CffTopDict top;
    if (topDictIndex.count > 0) {
        uint32_t start = 0, length = 0;
        topDictIndex.getElement(0, start, length);
        const ByteReader dict = table.sub(start, length);
        if (!dict.ok()) return KORV_FAIL(kFontDataError);
        status = parseCffDict(top, dict.data(), length);
        if (status != 0) return status;
    }
    std::copy(std::begin(top.fontBBox), std::end(top.fontBBox), std::begin(fontBBox));

    // 8. CharStrings (position 0 when the Top DICT has none). A negative offset lies outside the table.
    uint32_t charStringsPosition = 0;
    if (!asPosition(top.charStringsOffset, charStringsPosition)) return KORV_FAIL(kFontDataError);
    status = charStrings.parse(cffData, tableLength, charStringsPosition);
    if (status != 0) return status;

    // The Private DICT (offset, size) of each slot this table fills.
    int32_t privateOffsets[kCffMaxFontDicts];
    int32_t privateSizes[kCffMaxFontDicts];
    uint32_t pairCount = 0;

    if (top.isCidFont && (top.fdSelectOffset != 0 || top.fdArrayOffset != 0)) {
        // 9. CID-keyed: FDSelect, then the FDArray's Font DICTs.
        status = loadFdSelect(table, top.fdSelectOffset);
        if (status != 0) return status;

        uint32_t fdArrayPosition = 0;
        if (!asPosition(top.fdArrayOffset, fdArrayPosition)) return KORV_FAIL(kFontDataError);
        CffIndex fdArray;
        status = fdArray.parse(cffData, tableLength, fdArrayPosition);
        if (status != 0) return status;
        if (fdArray.count > kCffMaxFontDicts) return KORV_FAIL(kFontDataError);
        fdCount = int16_t(fdArray.count);
        for (uint16_t i = 0; i < fdArray.count; ++i) {
            uint32_t start = 0, length = 0;
            fdArray.getElement(i, start, length);
            const ByteReader dict = table.sub(start, length);
            if (!dict.ok()) return KORV_FAIL(kFontDataError);
            CffFontDict fontDict;
            status = parseCffDict(fontDict, dict.data(), length);
            if (status != 0) return status;
            privateOffsets[i] = fontDict.privateOffset;
            privateSizes[i] = fontDict.privateSize;
        }
        pairCount = fdArray.count;
    } else if (top.privateOffset != 0 && top.privateSize != 0) {
        // 10. Name-keyed (or ROS without FDSelect and FDArray): the Top DICT's Private DICT in slot 0.
        fdCount = 1;
        privateOffsets[0] = top.privateOffset;
        privateSizes[0] = top.privateSize;
        pairCount = 1;
    }
    // Otherwise fdCount keeps its value (0 after construction).

    // 11. Private DICTs and their local Subr INDEXes. A slot whose offset or size is 0 is not read. Every
    // slot this table fills starts from its defaults; when it fills any, the slots after them that an
    // earlier load filled are reset too (FDSelect may name a Font DICT beyond fdCount).
    if (pairCount > 0) {
        clearSlots(pairCount, slotsFilled);
        slotsFilled = pairCount;
    }
    for (uint32_t i = 0; i < pairCount; ++i) {
        privateDicts[i].reset();
        clearIndex(localSubrs[i]);
        const int32_t offset = privateOffsets[i];
        const int32_t size = privateSizes[i];
        if (offset == 0 || size == 0) continue;
        if (offset < 0 || size < 0 || !table.fits(uint32_t(offset), uint32_t(size)))
            return KORV_FAIL(kFontDataError);
        const ByteReader dict = table.sub(uint32_t(offset), uint32_t(size));
        status = parseCffDict(privateDicts[i], dict.data(), uint32_t(size));
        if (status != 0) return status;
        if (privateDicts[i].subrsOffset != 0) {
            // From the Private DICT's own position; a sum outside 0 .. 2^32 - 1 cannot lie in the table.
            const int64_t subrsPosition = int64_t(offset) + privateDicts[i].subrsOffset;
            if (subrsPosition < 0 || subrsPosition > int64_t(UINT32_MAX)) return KORV_FAIL(kFontDataError);
            status = localSubrs[i].parse(cffData, tableLength, uint32_t(subrsPosition));
            if (status != 0) return status;
        }
    }
    return 0;
}

// FDSelect at `offset` of the table, for the CharStrings count g:
//   format 0: u8 0, u8 fd[g]
//   format 3: u8 3, u16 nRanges, nRanges x (u16 first, u8 fd), u16 sentinel; firsts ascending (equal
//             neighbours allowed), the sentinel not below the last first and equal to g
// Font DICT indices are not compared with the FDArray's count here.
int16_t CffFont::loadFdSelect(const ByteReader& table, int32_t offset) {
    if (offset < 0 || uint64_t(offset) >= table.size()) return KORV_FAIL(kFontDataError);
    ByteReader r = table.sub(uint32_t(offset), table.size() - uint32_t(offset));
    const uint16_t glyphs = charStrings.count;
    fdSelectFormat = r.u8();
    fdSelectGlyphCount = glyphs;
    if (fdSelectFormat == 0) {
        fdSelectSize = glyphs;
        if (!r.fits(0, uint64_t(glyphs) + 1)) return KORV_FAIL(kFontDataError);
        fdSelectData = r.data() + 1;
        return 0;
    }
    if (fdSelectFormat != 3) return KORV_FAIL(kFontDataError);
    if (!r.fits(0, 3)) return KORV_FAIL(kFontDataError);
    const uint16_t ranges = r.u16();
    fdSelectSize = ranges;
    if (!r.fits(0, kFdSelectRangeSize * uint64_t(ranges) + 5)) return KORV_FAIL(kFontDataError);
    fdSelectData = r.data() + 3;
    uint16_t previous = 0;
    for (uint16_t i = 0; i < ranges; ++i) {
        const uint16_t first = r.u16();
        r.skip(1);  // the range's Font DICT
        if (i > 0 && first < previous) return KORV_FAIL(kFontDataError);
        previous = first;
    }
    const uint16_t sentinel = r.u16();
    if (!r.ok() || (ranges > 0 && sentinel < previous) || sentinel != glyphs)
        return KORV_FAIL(kFontDataError);
    return 0;
}

int32_t CffFont::fontDictOf(uint32_t glyph) const {
    uint32_t noHint = fdSelectSize;  // past the ranges: straight to the bisection
    return fontDictOf(glyph, noHint);
}

int32_t CffFont::fontDictOf(uint32_t glyph, uint32_t& rangeHint) const {
    if (fdCount <= 1 || fdSelectData == nullptr) return 0;
    if (fdSelectFormat == 0) return glyph < fdSelectSize ? fdSelectData[glyph] : 0;
    // Format 3: the range records and the sentinel after them were checked by the load
    // (3 x fdSelectSize + 2 bytes from fdSelectData), so range i and the first glyph of i + 1 (or the
    // sentinel) can be read for every i < fdSelectSize.
    // Glyphs are mostly loaded in runs of neighbours: the hinted range or the next one usually holds the
    // glyph, and the bisection (one unpredictable branch per step) is skipped. The hint is only a guess,
    // taken when its range holds the glyph.
    for (uint32_t i = rangeHint; i < fdSelectSize && i - rangeHint <= 1; ++i) {
        const uint8_t* range = fdSelectData + size_t(i) * kFdSelectRangeSize;
        if (glyph >= loadU16(range) && glyph < loadU16(range + kFdSelectRangeSize)) {
            rangeHint = i;
            return range[2];
        }
    }
    uint32_t low = 0, high = fdSelectSize;
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        const uint8_t* range = fdSelectData + size_t(mid) * kFdSelectRangeSize;
        if (glyph < loadU16(range)) {
            high = mid;
        } else if (glyph < loadU16(range + kFdSelectRangeSize)) {  // the next range's first, or the sentinel
            rangeHint = mid;
            return range[2];
        } else {
            low = mid + 1;
        }
    }
    return 0;
}
