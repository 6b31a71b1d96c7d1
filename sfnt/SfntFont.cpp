// The base font object: the offset table, the table directory and the tables every outline flavour shares.
// Tables read here (big-endian; offsets from the table's start):
//   'OS/2'  0..31 sixteen 16-bit values (version .. sFamilyClass)  32 panose[10]  42 ulUnicodeRange1..4 (u32)
//           58 achVendID[4]  62..77 eight 16-bit values (fsSelection .. usWinDescent); 78 bytes at least
//   'head'  0 version  4 fontRevision  8 checkSumAdjustment  12 magicNumber (u32)  16 flags  18 unitsPerEm
//           20 created[8]  28 modified[8]  36..53 nine 16-bit values (xMin .. glyphDataFormat); 54 bytes
//   'post'  0 version  4 italicAngle (u32)  8 underlinePosition  10 underlineThickness (i16)
//           12 isFixedPitch  16 minMemType42  20 maxMemType42  24 minMemType1  28 maxMemType1 (u32); 32 bytes
// Checksums and the 'head' magic number are never compared.
#include "sfnt/SfntFont.h"

#include <cstring>

#include "sfnt/NameCheck.h"

namespace {

constexpr uint32_t kTagOs2 = makeTag('O', 'S', '/', '2');
constexpr uint32_t kTagCmap = makeTag('c', 'm', 'a', 'p');
constexpr uint32_t kTagHead = makeTag('h', 'e', 'a', 'd');
constexpr uint32_t kTagName = makeTag('n', 'a', 'm', 'e');
constexpr uint32_t kTagPost = makeTag('p', 'o', 's', 't');

constexpr uint32_t kOs2MinLength = 78;
constexpr uint32_t kHeadMinLength = 54;
constexpr uint32_t kPostMinLength = 32;
// 'cmap', 'head' and 'name' records a directory must hold, counted as records.
constexpr int kRequiredSharedRecords = 3;

constexpr uint16_t kPlatformWindows = 3;
constexpr uint16_t kEncodingUnicodeBmp = 1;

// Copies `count` raw bytes (the caller has checked the table's length).
void copyBytes(ByteReader& r, uint8_t* destination, size_t count) {
    const uint8_t* p = r.bytes(count);
    if (p) std::memcpy(destination, p, count);
}

int16_t readOs2(const uint8_t* bytes, uint32_t length, Os2Table& os2) {
    if (length < kOs2MinLength) return KORV_FAIL(kFontDataError);
    ByteReader r(bytes, length);
    Os2Table t;
    t.version = r.u16();
    t.xAvgCharWidth = r.s16();
    t.usWeightClass = r.u16();
    t.usWidthClass = r.u16();
    t.fsType = r.u16();
    t.ySubscriptXSize = r.s16();
    t.ySubscriptYSize = r.s16();
    t.ySubscriptXOffset = r.s16();
    t.ySubscriptYOffset = r.s16();
    t.ySuperscriptXSize = r.s16();
    t.ySuperscriptYSize = r.s16();
    t.ySuperscriptXOffset = r.s16();
    t.ySuperscriptYOffset = r.s16();
    t.yStrikeoutSize = r.s16();
    t.yStrikeoutPosition = r.s16();
    t.sFamilyClass = r.s16();
    copyBytes(r, t.panose, sizeof t.panose);
    t.ulUnicodeRange1 = r.u32();
    t.ulUnicodeRange2 = r.u32();
    t.ulUnicodeRange3 = r.u32();
    t.ulUnicodeRange4 = r.u32();
    copyBytes(r, t.achVendID, sizeof t.achVendID);
    t.fsSelection = r.u16();
    t.usFirstCharIndex = r.u16();
    t.usLastCharIndex = r.u16();
    t.sTypoAscender = r.s16();
    t.sTypoDescender = r.s16();
    t.sTypoLineGap = r.s16();
    t.usWinAscent = r.u16();
    t.usWinDescent = r.u16();
    os2 = t;
    return 0;
}

int16_t readHead(const uint8_t* bytes, uint32_t length, HeadTable& head) {
    if (length < kHeadMinLength) return KORV_FAIL(kFontDataError);
    ByteReader r(bytes, length);
    HeadTable t;
    t.version = r.u32();
    t.fontRevision = r.u32();
    t.checkSumAdjustment = r.u32();
    t.magicNumber = r.u32();
    t.flags = r.u16();
    t.unitsPerEm = r.u16();
    copyBytes(r, t.created, sizeof t.created);
    copyBytes(r, t.modified, sizeof t.modified);
    t.xMin = r.s16();
    t.yMin = r.s16();
    t.xMax = r.s16();
    t.yMax = r.s16();
    t.macStyle = r.u16();
    t.lowestRecPPEM = r.u16();
    t.fontDirectionHint = r.s16();
    t.indexToLocFormat = r.s16();
    t.glyphDataFormat = r.s16();
    head = t;
    return 0;
}

int16_t readPost(const uint8_t* bytes, uint32_t length, PostTable& post) {
    if (length < kPostMinLength) return KORV_FAIL(kFontDataError);
    ByteReader r(bytes, length);
    PostTable t;
    t.version = r.u32();
    t.italicAngle = r.u32();
    t.underlinePosition = r.s16();
    t.underlineThickness = r.s16();
    t.isFixedPitch = r.u32();
    t.minMemType42 = r.u32();
    t.maxMemType42 = r.u32();
    t.minMemType1 = r.u32();
    t.maxMemType1 = r.u32();
    post = t;
    return 0;
}

}  // namespace

void NameTable::release() {
    data = nullptr;
    length = 0;
}

// The font objects' rule: the header with its records inside the table and the strings starting after
// them, and every record's string inside the table. (The identification also wants the strings to start
// inside the table when there are no records.)
int16_t NameTable::parse(const uint8_t* bytes, uint32_t tableLength) {
    data = bytes;
    length = tableLength;
    return nameTableSound(bytes, tableLength, NameStringStart::AfterRecords) ? 0 : KORV_FAIL(kFontDataError);
}

SfntFont::SfntFont() = default;
SfntFont::~SfntFont() = default;

void SfntFont::release() {
    name.release();
    cmap.release();
    cmapIndex = -1;
    data = nullptr;
    dataSize = 0;
}

// Slots 1 (newOutline) and 3 (newScaler) are the outline services' (GlyphOutline.cpp).

HintRecord* SfntFont::newHintRecord() {
    return nullptr;
}

uint32_t SfntFont::hintingKind() const {
    return 0;
}

int16_t SfntFont::getGlyphOutline(uint32_t, GlyphWork&, GlyphOutline&) {
    return -1;
}

int16_t SfntFont::getCharOutline(uint32_t, GlyphWork&, GlyphOutline&) {
    return -1;
}

int16_t SfntFont::charToGlyph(uint32_t code, uint32_t& glyph) const {
    // cmapIndex as an unsigned 16-bit value: -1 (no (3,1) subtable) is never below the count.
    const uint16_t index = uint16_t(cmapIndex);
    if (index >= cmap.count) return KORV_FAIL(int16_t(kNoCharMap));
    return cmap.lookup(index, code, glyph);
}

void SfntFont::freeLoaderArrays(GlyphLoader&) {}

int16_t SfntFont::prepareGlyphWork(GlyphWork&) {
    return 0;
}

void SfntFont::releaseGlyphWork(GlyphWork&) {}

int16_t SfntFont::readTableDirectory(OffsetTable& out, TableRecord* records) {
    const uint64_t size = dataSize;
    switch (readSfntDirectory(MemoryBytes(data, dataSize), fontOffset, out, records)) {
        case DirectoryFault::None:
            break;
        case DirectoryFault::NoOffsetTable:
        case DirectoryFault::TooManyTables:
        case DirectoryFault::NoDirectory:
            return KORV_FAIL(kFontDataError);
    }
    if (out.numTables == 0) return KORV_FAIL(kFontDataError);

    int required = 0;
    for (uint16_t j = 0; j < out.numTables; ++j) {
        const TableRecord& record = records[j];
        if (!tableInside(record, size)) return KORV_FAIL(kFontDataError);
        const uint8_t* bytes = data + record.offset;
        int16_t status = 0;
        switch (record.tag) {
            case kTagOs2:
                os2Offset = record.offset;
                os2Length = record.length;
                status = readOs2(bytes, record.length, os2);
                break;
            case kTagCmap:
                status = cmap.parse(bytes, record.length);
                if (status != 0) return status;
                // The first stored subtable with platform 3, encoding 1 (Unicode BMP).
                cmapIndex = -1;
                for (uint16_t i = 0; i < cmap.count; ++i) {
                    if (cmap.subtables[i].platformID == kPlatformWindows &&
                        cmap.subtables[i].encodingID == kEncodingUnicodeBmp) {
                        cmapIndex = int16_t(i);
                        break;
                    }
                }
                ++required;
                break;
            case kTagHead:
                status = readHead(bytes, record.length, head);
                ++required;
                break;
            case kTagName:
                status = name.parse(bytes, record.length);
                ++required;
                break;
            case kTagPost:
                status = readPost(bytes, record.length, post);
                break;
            default:
                break;
        }
        if (status != 0) return status;
    }
    // Counted as records: two 'head' records make up for a missing 'name'.
    return required == kRequiredSharedRecords ? 0 : KORV_FAIL(kFontDataError);
}
