// Loading of the TrueType font object: the shared directory, then 'hhea', 'maxp', 'hmtx' and 'loca' (layouts
// in TrueTypeFont.h), and where 'glyf' begins. The glyph operations are in TrueTypeGlyph.cpp.
#include "sfnt/TrueTypeFont.h"

namespace {

constexpr uint32_t kTagGlyf = makeTag('g', 'l', 'y', 'f');
constexpr uint32_t kTagHhea = makeTag('h', 'h', 'e', 'a');
constexpr uint32_t kTagHmtx = makeTag('h', 'm', 't', 'x');
constexpr uint32_t kTagLoca = makeTag('l', 'o', 'c', 'a');
constexpr uint32_t kTagMaxp = makeTag('m', 'a', 'x', 'p');
constexpr uint32_t kTagTtcf = makeTag('t', 't', 'c', 'f');

constexpr uint32_t kHheaMinLength = 36;
constexpr uint32_t kMaxpMinLength = 32;
constexpr int32_t kMaxpVersion1 = 0x00010000;  // version 0.5 (CFF fonts) holds only numGlyphs
constexpr int kRequiredGlyphRecords = 5;       // 'glyf', 'hhea', 'hmtx', 'loca', 'maxp', counted as records
constexpr uint32_t kMaxGlyphLength = 0x10000;  // a longer glyph, or one ending before it starts, is refused

constexpr uint32_t kCollectionHeaderSize = 12;
constexpr uint32_t kCollectionVersion1 = 0x00010000;
constexpr uint32_t kCollectionVersion2 = 0x00020000;

int16_t readHhea(const uint8_t* bytes, uint32_t length, HheaTable& hhea) {
    if (length < kHheaMinLength) return KORV_FAIL(kFontDataError);
    ByteReader r(bytes, length);
    hhea.version = r.u32();
    hhea.ascender = r.s16();
    hhea.descender = r.s16();
    hhea.lineGap = r.s16();
    hhea.advanceWidthMax = r.u16();
    hhea.minLeftSideBearing = r.s16();
    hhea.minRightSideBearing = r.s16();
    hhea.xMaxExtent = r.s16();
    hhea.caretSlopeRise = r.s16();
    hhea.caretSlopeRun = r.s16();
    hhea.caretOffset = r.s16();
    r.seek(32);  // the four reserved values stay as they are
    hhea.metricDataFormat = r.s16();
    hhea.numberOfHMetrics = r.u16();
    return 0;
}

int16_t readMaxp(const uint8_t* bytes, uint32_t length, MaxpTable& maxp) {
    if (length < kMaxpMinLength) return KORV_FAIL(kFontDataError);
    ByteReader r(bytes, length);
    const uint32_t version = r.u32();
    if (int32_t(version) < kMaxpVersion1) return KORV_FAIL(kFontDataError);
    maxp.version = version;
    maxp.numGlyphs = r.u16();
    maxp.maxPoints = r.u16();
    maxp.maxContours = r.u16();
    maxp.maxCompositePoints = r.u16();
    maxp.maxCompositeContours = r.u16();
    maxp.maxZones = r.u16();
    maxp.maxTwilightPoints = r.u16();
    maxp.maxStorage = r.u16();
    maxp.maxFunctionDefs = r.u16();
    maxp.maxInstructionDefs = r.u16();
    maxp.maxStackElements = r.u16();
    maxp.maxSizeOfInstructions = r.u16();
    maxp.maxComponentElements = r.u16();
    maxp.maxComponentDepth = r.u16();
    return 0;
}

}  // namespace

void HmtxTable::release() {
    data = nullptr;
    length = 0;
}

// numberOfHMetrics long metrics (4 bytes) and numGlyphs - numberOfHMetrics side bearings (2 bytes).
int16_t HmtxTable::parse(const uint8_t* bytes, uint32_t tableLength) {
    data = bytes;
    length = tableLength;
    if (numGlyphs < numberOfHMetrics) return KORV_FAIL(kFontDataError);
    if (tableLength < 2 * (uint32_t(numGlyphs) + numberOfHMetrics)) return KORV_FAIL(kFontDataError);
    return 0;
}

int16_t HmtxTable::metrics(uint32_t glyph, uint16_t& advanceWidth, int16_t& leftSideBearing) const {
    advanceWidth = 0;
    leftSideBearing = 0;
    if (glyph >= numGlyphs) return KORV_FAIL(int16_t(kGlyphAbsent));
    if (numberOfHMetrics == 0 || !data) return KORV_FAIL(kFontDataError);
    ByteReader r(data, length);
    if (glyph < numberOfHMetrics) {
        r.seek(4 * size_t(glyph));
        advanceWidth = r.u16();
        leftSideBearing = r.s16();
    } else {
        r.seek(4 * size_t(numberOfHMetrics - 1));
        advanceWidth = r.u16();
        r.seek(4 * size_t(numberOfHMetrics) + 2 * size_t(glyph - numberOfHMetrics));
        leftSideBearing = r.s16();
    }
    return r.ok() ? 0 : KORV_FAIL(kFontDataError);
}

void LocaTable::release() {
    data = nullptr;
    length = 0;
}

// numGlyphs + 1 offsets: u32 when indexToLocFormat is 1, else u16 halves of the offsets. The minimum length
// is taken from the long format for any non-zero indexToLocFormat.
int16_t LocaTable::parse(const uint8_t* bytes, uint32_t tableLength) {
    data = bytes;
    length = tableLength;
    const uint64_t entries = uint64_t(numGlyphs) + 1;
    const uint64_t minimum = indexToLocFormat != 0 ? 4 * entries : 2 * entries;
    if (tableLength < minimum) return KORV_FAIL(kFontDataError);
    maxGlyphLength = 0;
    const bool longOffsets = indexToLocFormat == 1;
    for (uint32_t i = 0; i < numGlyphs; ++i) {
        uint32_t start, end;
        if (longOffsets) {
            start = loadU32(bytes + 4 * size_t(i));
            end = loadU32(bytes + 4 * size_t(i) + 4);
        } else {
            start = uint32_t(loadU16(bytes + 2 * size_t(i))) * 2;
            end = uint32_t(loadU16(bytes + 2 * size_t(i) + 2)) * 2;
        }
        const uint32_t glyphLength = end - start;  // wraps above the limit when end < start
        if (glyphLength > kMaxGlyphLength) return KORV_FAIL(kFontDataError);
        const uint16_t kept = glyphLength > UINT16_MAX ? uint16_t(UINT16_MAX) : uint16_t(glyphLength);
        if (kept > maxGlyphLength) maxGlyphLength = kept;
    }
    return 0;
}

TrueTypeFont::TrueTypeFont() {
    formatTag = kTag;
}

void TrueTypeFont::release() {
    loca.release();
    hmtx.release();
    SfntFont::release();  // name, then cmap; cmapIndex -1; data cleared
}

int16_t TrueTypeFont::loadTrueType(const uint8_t* bytes, uint32_t size, uint32_t offset) {
    data = bytes;
    dataSize = size;
    fontOffset = offset;

    OffsetTable offsetTable;
    TableRecord records[kMaxTableRecords];
    const int16_t directory = readTableDirectory(offsetTable, records);
    if (directory != 0) return directory;
    const uint16_t count = offsetTable.numTables;

    // The records lie inside the buffer (readTableDirectory tested each one).
    int found = 0;
    int seen[5] = {};  // glyf, hhea, hmtx, loca, maxp
    for (uint16_t j = 0; j < count; ++j) {
        const TableRecord& record = records[j];
        switch (record.tag) {
            case kTagGlyf:
                glyfOffset = record.offset;
                ++found, ++seen[0];
                break;
            case kTagHhea: {
                const int16_t status = readHhea(data + record.offset, record.length, hhea);
                if (status != 0) return status;
                ++found, ++seen[1];
                break;
            }
            case kTagHmtx:
                ++found, ++seen[2];
                break;
            case kTagLoca:
                ++found, ++seen[3];
                break;
            case kTagMaxp: {
                const int16_t status = readMaxp(data + record.offset, record.length, maxp);
                ++found, ++seen[4];
                if (status != 0) return status;
                break;
            }
            default:
                break;
        }
    }
    if (found != kRequiredGlyphRecords) return KORV_FAIL(kFontDataError);
    // Five records, but one table twice and another not at all: the missing table would leave the glyph
    // operations without 'loca', 'hmtx' or 'glyf' data. Such a font is refused like one that lacks a table.
    for (int n : seen)
        if (n == 0) return KORV_FAIL(kFontDataError);

    hmtx.numGlyphs = maxp.numGlyphs;
    hmtx.numberOfHMetrics = hhea.numberOfHMetrics;
    hmtx.data = nullptr;
    hmtx.length = 0;
    loca.numGlyphs = maxp.numGlyphs;
    loca.indexToLocFormat = head.indexToLocFormat;
    loca.maxGlyphLength = 0;
    loca.data = nullptr;
    loca.length = 0;
    bool parsed = true;
    for (uint16_t j = 0; j < count; ++j) {
        const TableRecord& record = records[j];
        if (record.tag == kTagHmtx)
            parsed = (hmtx.parse(data + record.offset, record.length) == 0) && parsed;
        else if (record.tag == kTagLoca)
            parsed = (loca.parse(data + record.offset, record.length) == 0) && parsed;
    }
    if (!parsed) return KORV_FAIL(kFontDataError);

    glyphCount = maxp.numGlyphs;
    unitsPerEm = head.unitsPerEm;
    return 0;
}

bool testCollectionHeader(const uint8_t* bytes, uint32_t size, uint32_t index, uint32_t& memberOffset,
                          uint32_t* numFonts) {
    memberOffset = 0;
    if (numFonts) *numFonts = 0;
    if (!bytes || size < kCollectionHeaderSize) return false;
    ByteReader r(bytes, size);
    const uint32_t tag = r.u32();
    const uint32_t version = r.u32();
    const uint32_t fonts = r.u32();
    if (tag != kTagTtcf || (version != kCollectionVersion1 && version != kCollectionVersion2)) return false;
    if (fonts == 0 || fonts > kMaxCollectionFonts) return false;
    if (uint64_t(size) < kCollectionHeaderSize + 4 * uint64_t(fonts)) return false;
    if (numFonts) *numFonts = fonts;
    if (index >= fonts) return false;
    const uint32_t offset = loadU32(bytes + kCollectionHeaderSize + 4 * index);
    if (offset > size) return false;
    memberOffset = offset;
    return true;
}
