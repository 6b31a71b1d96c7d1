// korv-font info: one "key value" line each, in this order:
//   status 0 / kind TAG / glyphCount / unitsPerEm / cmapIndex / numTables
//   table TAG offset length          one per table record, in directory order
//   head.* hhea.* maxp.* OS/2.*      the tables' fields under their published names, in file order
// Tags are printed as their four characters (a byte outside printable ASCII as '?'), so a line splits at
// fixed columns: "table " is followed by exactly four characters. 16.16 version numbers and the other
// fields that are bit patterns rather than quantities (checkSumAdjustment, magicNumber, flags, macStyle,
// fsType, fsSelection, the Unicode ranges) are hexadecimal; the rest decimal. created and modified are the
// stored 64-bit seconds since 1904. hhea and maxp belong to TrueType faces; OS/2 is printed when the face
// has one. A CFF face adds its CFF fields after the shared ones.
#include <cinttypes>
#include <string>

#include "cff/CffFont.h"
#include "sfnt/TrueTypeFont.h"
#include "tools/font/Commands.h"

namespace {

std::string tagText(uint32_t tag) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((tag >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::string tagText(const uint8_t* bytes) {
    return tagText(loadU32(bytes));
}

uint64_t loadU64(const uint8_t* bytes) {
    return (uint64_t(loadU32(bytes)) << 32) | loadU32(bytes + 4);
}

void line(FILE* out, const char* key, long long value) {
    std::fprintf(out, "%s %lld\n", key, value);
}

void hex(FILE* out, const char* key, uint32_t value, int digits) {
    std::fprintf(out, "%s 0x%0*" PRIX32 "\n", key, digits, value);
}

void printHead(const HeadTable& h, FILE* out) {
    hex(out, "head.version", h.version, 8);
    hex(out, "head.fontRevision", h.fontRevision, 8);
    hex(out, "head.checkSumAdjustment", h.checkSumAdjustment, 8);
    hex(out, "head.magicNumber", h.magicNumber, 8);
    hex(out, "head.flags", h.flags, 4);
    line(out, "head.unitsPerEm", h.unitsPerEm);
    std::fprintf(out, "head.created %" PRIu64 "\n", loadU64(h.created));
    std::fprintf(out, "head.modified %" PRIu64 "\n", loadU64(h.modified));
    line(out, "head.xMin", h.xMin);
    line(out, "head.yMin", h.yMin);
    line(out, "head.xMax", h.xMax);
    line(out, "head.yMax", h.yMax);
    hex(out, "head.macStyle", h.macStyle, 4);
    line(out, "head.lowestRecPPEM", h.lowestRecPPEM);
    line(out, "head.fontDirectionHint", h.fontDirectionHint);
    line(out, "head.indexToLocFormat", h.indexToLocFormat);
    line(out, "head.glyphDataFormat", h.glyphDataFormat);
}

void printHhea(const HheaTable& h, FILE* out) {
    hex(out, "hhea.version", h.version, 8);
    line(out, "hhea.ascender", h.ascender);
    line(out, "hhea.descender", h.descender);
    line(out, "hhea.lineGap", h.lineGap);
    line(out, "hhea.advanceWidthMax", h.advanceWidthMax);
    line(out, "hhea.minLeftSideBearing", h.minLeftSideBearing);
    line(out, "hhea.minRightSideBearing", h.minRightSideBearing);
    line(out, "hhea.xMaxExtent", h.xMaxExtent);
    line(out, "hhea.caretSlopeRise", h.caretSlopeRise);
    line(out, "hhea.caretSlopeRun", h.caretSlopeRun);
    line(out, "hhea.caretOffset", h.caretOffset);
    line(out, "hhea.metricDataFormat", h.metricDataFormat);
    line(out, "hhea.numberOfHMetrics", h.numberOfHMetrics);
}

void printMaxp(const MaxpTable& m, FILE* out) {
    hex(out, "maxp.version", m.version, 8);
    line(out, "maxp.numGlyphs", m.numGlyphs);
    line(out, "maxp.maxPoints", m.maxPoints);
    line(out, "maxp.maxContours", m.maxContours);
    line(out, "maxp.maxCompositePoints", m.maxCompositePoints);
    line(out, "maxp.maxCompositeContours", m.maxCompositeContours);
    line(out, "maxp.maxZones", m.maxZones);
    line(out, "maxp.maxTwilightPoints", m.maxTwilightPoints);
    line(out, "maxp.maxStorage", m.maxStorage);
    line(out, "maxp.maxFunctionDefs", m.maxFunctionDefs);
    line(out, "maxp.maxInstructionDefs", m.maxInstructionDefs);
    line(out, "maxp.maxStackElements", m.maxStackElements);
    line(out, "maxp.maxSizeOfInstructions", m.maxSizeOfInstructions);
    line(out, "maxp.maxComponentElements", m.maxComponentElements);
    line(out, "maxp.maxComponentDepth", m.maxComponentDepth);
}

void printOs2(const Os2Table& o, FILE* out) {
    line(out, "OS/2.version", o.version);
    line(out, "OS/2.xAvgCharWidth", o.xAvgCharWidth);
    line(out, "OS/2.usWeightClass", o.usWeightClass);
    line(out, "OS/2.usWidthClass", o.usWidthClass);
    hex(out, "OS/2.fsType", o.fsType, 4);
    line(out, "OS/2.ySubscriptXSize", o.ySubscriptXSize);
    line(out, "OS/2.ySubscriptYSize", o.ySubscriptYSize);
    line(out, "OS/2.ySubscriptXOffset", o.ySubscriptXOffset);
    line(out, "OS/2.ySubscriptYOffset", o.ySubscriptYOffset);
    line(out, "OS/2.ySuperscriptXSize", o.ySuperscriptXSize);
    line(out, "OS/2.ySuperscriptYSize", o.ySuperscriptYSize);
    line(out, "OS/2.ySuperscriptXOffset", o.ySuperscriptXOffset);
    line(out, "OS/2.ySuperscriptYOffset", o.ySuperscriptYOffset);
    line(out, "OS/2.yStrikeoutSize", o.yStrikeoutSize);
    line(out, "OS/2.yStrikeoutPosition", o.yStrikeoutPosition);
    line(out, "OS/2.sFamilyClass", o.sFamilyClass);
    std::fputs("OS/2.panose", out);
    for (uint8_t b : o.panose) std::fprintf(out, " %u", unsigned(b));
    std::fputc('\n', out);
    hex(out, "OS/2.ulUnicodeRange1", o.ulUnicodeRange1, 8);
    hex(out, "OS/2.ulUnicodeRange2", o.ulUnicodeRange2, 8);
    hex(out, "OS/2.ulUnicodeRange3", o.ulUnicodeRange3, 8);
    hex(out, "OS/2.ulUnicodeRange4", o.ulUnicodeRange4, 8);
    std::fprintf(out, "OS/2.achVendID %s\n", tagText(o.achVendID).c_str());
    hex(out, "OS/2.fsSelection", o.fsSelection, 4);
    line(out, "OS/2.usFirstCharIndex", o.usFirstCharIndex);
    line(out, "OS/2.usLastCharIndex", o.usLastCharIndex);
    line(out, "OS/2.sTypoAscender", o.sTypoAscender);
    line(out, "OS/2.sTypoDescender", o.sTypoDescender);
    line(out, "OS/2.sTypoLineGap", o.sTypoLineGap);
    line(out, "OS/2.usWinAscent", o.usWinAscent);
    line(out, "OS/2.usWinDescent", o.usWinDescent);
}

}  // namespace

int32_t runInfo(SfntFont& font, const FontOptions&, FILE* out) {
    // The directory as the face stores it; the load has read and checked it already.
    OffsetTable offsetTable;
    TableRecord records[kMaxTableRecords];
    if (readSfntDirectory(MemoryBytes(font.data, font.dataSize), font.fontOffset, offsetTable, records) !=
        DirectoryFault::None)
        return kFontDataError;

    line(out, "status", 0);
    std::fprintf(out, "kind %s\n", tagText(font.formatTag).c_str());
    line(out, "glyphCount", font.glyphCount);
    line(out, "unitsPerEm", font.unitsPerEm);
    line(out, "cmapIndex", font.cmapIndex);
    line(out, "numTables", offsetTable.numTables);
    for (uint16_t i = 0; i < offsetTable.numTables; ++i)
        std::fprintf(out, "table %s %" PRIu32 " %" PRIu32 "\n", tagText(records[i].tag).c_str(),
                     records[i].offset, records[i].length);

    printHead(font.head, out);
    if (font.formatTag == TrueTypeFont::kTag) {
        const auto& trueType = static_cast<const TrueTypeFont&>(font);
        printHhea(trueType.hhea, out);
        printMaxp(trueType.maxp, out);
    }
    if (font.os2Length != 0) printOs2(font.os2, out);
    if (font.formatTag == CffFont::kTag) printCffInfo(static_cast<const CffFont&>(font), out);
    return 0;
}
