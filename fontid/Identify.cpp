// Identification of one font file against the catalog.
//
// TrueType fonts (and the first font of a TrueType collection) are matched by the full names of their
// `name` table, looked up in the catalog's "true", "sbix" and "COLR" columns. OpenType fonts with a `CFF `
// table are matched by the CFF font name (element 0 of the Name INDEX) against the PostScript names of the
// "OTTO" column. The CFF table starts with its header (major version u8, minor u8, hdrSize u8, offSize u8),
// followed at hdrSize by the Name, Top DICT, String and Global Subr INDEXes, back to back.
#include "fontid/Identify.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "cff/CffIndex.h"
#include "fontid/NameDecoding.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

constexpr uint32_t kTagHead = makeTag('h', 'e', 'a', 'd');
constexpr uint32_t kTagMaxp = makeTag('m', 'a', 'x', 'p');
constexpr uint32_t kTagLoca = makeTag('l', 'o', 'c', 'a');
constexpr uint32_t kTagGlyf = makeTag('g', 'l', 'y', 'f');
constexpr uint32_t kTagName = makeTag('n', 'a', 'm', 'e');
constexpr uint32_t kTagCff = makeTag('C', 'F', 'F', ' ');

// The CFF font name buffer: at most 127 units and a NUL. A Name INDEX element 0 of 128 bytes or more cannot
// be a name that fits; such a font is refused rather than matched by a cut name.
constexpr int kCffNameCapacity = 128;
constexpr uint32_t kCffMaxNameBytes = kCffNameCapacity - 1;
constexpr uint8_t kCffMajorVersion = 1;
constexpr uint8_t kCffMinHeaderSize = 4;

// Columns searched for a TrueType full name, in order of priority.
constexpr int kTrueTypeColumns[] = {kSlotTrue, kSlotSbix, kSlotColr};

// Top DICT operators whose operand form is checked.
constexpr uint16_t kOpFullName = 2;
constexpr uint16_t kOpFontBBox = 5;
constexpr uint16_t kOpCharset = 15;
constexpr uint16_t kOpEncoding = 16;
constexpr uint16_t kOpCharStrings = 17;
constexpr uint16_t kOpPrivate = 18;
constexpr uint16_t kOpRos = kCffOpEscape + 30;
constexpr uint16_t kOpFdArray = kCffOpEscape + 36;
constexpr uint16_t kOpFdSelect = kCffOpEscape + 37;

// Notes in the trace, when there is one, which check decided a failing status; returns the status.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
int32_t
refuse(IdentifyTrace* trace, int32_t status, const char* format, ...) {
    if (trace) {
        char text[256];
        va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(text, sizeof text, format, arguments);
        va_end(arguments);
        trace->refusal = text;
    }
    return status;
}

std::string tagText(uint32_t tag) {
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((tag >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text + "'";
}

int countTag(const TableRecord* records, uint16_t count, uint32_t tag) {
    int n = 0;
    for (uint16_t i = 0; i < count; ++i)
        if (records[i].tag == tag) ++n;
    return n;
}

bool sameText(const char16_t* a, const char16_t* b) {
    if (!a || !b) return false;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// Looks the four full names up: slots 0..3, each in the columns "true", "sbix", "COLR". True on a hit,
// which is written to the result.
bool matchFullNames(const FullNameSlots& slots, const FontCatalog& catalog, FontIdentity& result,
                    IdentifyTrace* trace) {
    for (int s = 0; s < kFullNameSlotCount; ++s) {
        const char16_t* slot = slots.slot[s];
        if (!slot[0]) continue;
        if (trace) trace->tried.push_back({s, slot});
        for (int column : kTrueTypeColumns) {
            int32_t group = -1;
            const int32_t index = catalog.findByFullName(column, slot, group);
            if (index >= 0) {
                result.group = group;
                result.formatSlot = column;
                result.entryIndex = index;
                if (trace) trace->matched = int(trace->tried.size()) - 1;
                return true;
            }
        }
    }
    return false;
}

// The "OTTO" column's entries, rows ascending, entries ascending: the first whose PostScript name equals
// `name`.
bool matchPostScriptName(const char16_t* name, const FontCatalog& catalog, FontIdentity& result) {
    for (int group = 0; group < kCatalogGroups; ++group) {
        const CatalogCell& cell = catalog.cell(group, kSlotOtto);
        for (int32_t i = 0; i < cell.count; ++i) {
            if (sameText(cell.entries[i].postScriptName, name)) {
                result.group = group;
                result.entryIndex = i;
                result.formatSlot = kSlotOtto;
                return true;
            }
        }
    }
    return false;
}

// The INDEX at `position` of the CFF table [base, base + length): its count, offSize and offsets are
// viewed, not the data area (the charstrings and subroutines of a large font are never read).
int16_t parseIndexAt(const FileImage& image, uint32_t base, uint32_t length, uint32_t position,
                     CffIndex& index) {
    const uint32_t available = length - position;
    const ByteReader head = image.view(base + position, std::min<uint32_t>(available, 3));
    if (!head.ok()) return KORV_FAIL(kFontDataError);
    const uint32_t need = CffIndex::headerAndOffsetsSize(head.data(), uint32_t(head.size()));
    const ByteReader window = image.view(base + position, std::min(available, need));
    if (!window.ok()) return KORV_FAIL(kFontDataError);
    return index.parseWindow(window.data(), uint32_t(window.size()), available, position);
}

// One `CFF ` table (inside the file): header, the four INDEXes, the font name, the Top DICT check and the
// catalog search.
int32_t examineCffTable(const FileImage& image, const TableRecord& record, const FontCatalog& catalog,
                        FontIdentity& result, IdentifyTrace* trace) {
    const uint32_t base = record.offset;
    const uint32_t length = record.length;
    if (length < 3)
        return refuse(trace, KORV_FAIL(kParamError), "the 'CFF ' table is shorter than its header");
    ByteReader header = image.view(base, 3);
    const uint8_t major = header.u8();
    header.skip(1);
    const uint8_t headerSize = header.u8();
    if (!header.ok() || major != kCffMajorVersion || headerSize < kCffMinHeaderSize)
        return refuse(trace, KORV_FAIL(kParamError), "the CFF header (major version %u, header size %u)",
                      major, headerSize);

    // Name, Top DICT, String and Global Subr INDEXes, each where the previous ends.
    CffIndex nameIndex, topDictIndex, stringIndex, globalSubrIndex;
    CffIndex* chain[] = {&nameIndex, &topDictIndex, &stringIndex, &globalSubrIndex};
    const char* names[] = {"Name", "Top DICT", "String", "Global Subr"};
    uint64_t position = headerSize;
    for (int i = 0; i < 4; ++i) {
        const int16_t status = position > length
                                   ? KORV_FAIL(kFontDataError)
                                   : parseIndexAt(image, base, length, uint32_t(position), *chain[i]);
        if (status != 0)
            return refuse(trace, status, "the CFF %s INDEX at byte %llu of the 'CFF ' table", names[i],
                          (unsigned long long)position);
        position += chain[i]->totalSize;
    }

    // The font name: element 0 of the Name INDEX. An INDEX without elements, or an element that does not fit
    // the name buffer or the table, is refused.
    if (nameIndex.count == 0 || topDictIndex.count == 0)
        return refuse(trace, KORV_FAIL(kParamError), "the CFF %s INDEX holds no element",
                      nameIndex.count == 0 ? "Name" : "Top DICT");
    uint32_t nameStart = 0, nameLength = 0;
    nameIndex.getElement(0, nameStart, nameLength);
    if (nameLength > kCffMaxNameBytes || uint64_t(nameStart) + nameLength > length)
        return refuse(trace, KORV_FAIL(kParamError), "the CFF font name (%u bytes; at most %u fit)",
                      nameLength, kCffMaxNameBytes);
    char16_t name[kCffNameCapacity];
    name[0] = 0;
    if (nameLength > 0) {
        const ByteReader nameBytes = image.view(base + nameStart, nameLength);
        if (!nameBytes.ok()) return refuse(trace, KORV_FAIL(kParamError), "the CFF font name cannot be read");
        convertAnsiName(nameBytes.data(), nameLength, name, kCffNameCapacity);
    }

    uint32_t dictStart = 0, dictLength = 0;
    topDictIndex.getElement(0, dictStart, dictLength);
    if (uint64_t(dictStart) + dictLength > length)
        return refuse(trace, KORV_FAIL(kParamError), "the CFF Top DICT lies outside the 'CFF ' table");
    const ByteReader dict = image.view(base + dictStart, dictLength);
    if (!dict.ok()) return refuse(trace, KORV_FAIL(kParamError), "the CFF Top DICT cannot be read");
    TopDictCheck check;
    const int16_t dictStatus = parseCffDict(check, dict.data(), dictLength);
    if (dictStatus != 0)
        return refuse(trace, dictStatus, "the CFF Top DICT (malformed, or an operand of the wrong form)");

    // An empty name names no font: it does not match an entry whose PostScript name is empty.
    if (trace) {
        trace->refusal.clear();
        trace->tried.push_back({-1, name});
    }
    if (name[0] && matchPostScriptName(name, catalog, result)) {
        if (trace) trace->matched = int(trace->tried.size()) - 1;
        return kOk;
    }
    result.entryIndex = -1;
    return kNotMatched;
}

int32_t identifyImage(const FileImage& image, FontKind kind, const FontCatalog& catalog, FontIdentity& result,
                      IdentifyTrace* trace) {
    switch (kind) {
        case kindWoff:
            return kOk;
        case kindBitmapOnly:
            return refuse(
                trace, KORV_FAIL(kParamError),
                "a bitmap-only font (no 'glyf' table, bitmap tables only), which is not identified");
        case kindCffCollection:
            return refuse(trace, KORV_FAIL(kParamError),
                          "a collection of CFF fonts, which is not identified");
        case kindOpenTypeCff:
            return identifyOpenType(image, catalog, result, trace);
        case kindTrueType:
        case kindTrueTypeCollection: {
            TableRecord records[kMaxTableRecords];
            uint16_t count = 0;
            const int32_t status = readTableRecords(image, kind, records, count);
            if (status != kOk)
                return refuse(trace, status,
                              kind == kindTrueType
                                  ? "the table directory (more than 48 tables, or the file ends inside it)"
                                  : "the collection's first font directory (more than 48 tables, or the file "
                                    "ends inside it)");
            return identifyTrueType(image, records, count, catalog, result, trace);
        }
        default:
            return KORV_FAIL(kParamError);
    }
}

// Passes a file's calls through and counts what its reads asked for.
class CountingFile final : public File {
public:
    CountingFile(File& file, ReadStats* stats) : m_file(file), m_stats(stats) {}
    bool seek(int64_t offset, Origin origin) override { return m_file.seek(offset, origin); }
    int64_t tell() override { return m_file.tell(); }
    size_t read(void* destination, size_t count) override {
        const size_t got = m_file.read(destination, count);
        if (m_stats) {
            m_stats->bytes += got;
            ++m_stats->reads;
        }
        return got;
    }

private:
    File& m_file;
    ReadStats* m_stats;
};

// Detection of an open file, with what it found noted in the trace.
bool detectForIdentification(File& file, FontKind& found, SniffedBytes& sniffed, IdentifyTrace* trace) {
    const bool candidate = detectOpenFile(file, found, &sniffed);
    if (trace) {
        using Detection = IdentifyTrace::Detection;
        trace->fileSize = sniffed.fileSize;
        trace->headerStatus = sniffed.headerStatus;
        trace->kind = found;
        if (sniffed.headLength >= 4) trace->headerTag = loadU32(sniffed.head);
        if (candidate)
            trace->detection = Detection::Candidate;
        else if (sniffed.fileSize < 0)
            trace->detection = Detection::Size;
        else if (sniffed.headerStatus != kOk)
            trace->detection = Detection::Header;
        else if (isCandidateKind(found))
            trace->detection = Detection::NoFonts;
        else
            trace->detection = Detection::Kind;
    }
    return candidate;
}

// A failed read decides the status, whatever the procedure made of the bytes it could not have.
int32_t readFailure(IdentifyTrace* trace, int32_t status) {
    switch (status) {
        case kShortRead:
            return refuse(trace, status, "the file ended before the bytes it should hold could be read");
        case kOutOfMemory:
            return refuse(trace, status, "there was not enough memory to read the file");
        case kIoError:
            return refuse(trace, status,
                          "the file could not be read (its size is unknown or above 2 GB, or a "
                          "read or seek failed)");
        default:
            return refuse(trace, status, "the file could not be opened for reading (error %d)", int(status));
    }
}

// Detection and identification of an open file, reading only the ranges the procedures examine. The bytes
// of the header test are not read again.
int32_t identifyRanges(File& file, const FontCatalog& catalog, FontIdentity& result, FontKind* kind,
                       IdentifyTrace* trace) {
    SniffedBytes sniffed;
    FontKind found = kindNone;
    if (!detectForIdentification(file, found, sniffed, trace)) return kOk;
    if (kind) *kind = found;
    RangeFileImage image;
    const int32_t opened = image.open(file, &sniffed);
    if (opened != kOk) return readFailure(trace, opened);
    const int32_t status = identifyImage(image, found, catalog, result, trace);
    return image.status() != kOk ? readFailure(trace, image.status()) : status;
}

// The same, reading the whole file.
int32_t identifyWhole(File& file, const FontCatalog& catalog, FontIdentity& result, FontKind* kind,
                      IdentifyTrace* trace) {
    SniffedBytes sniffed;
    FontKind found = kindNone;
    if (!detectForIdentification(file, found, sniffed, trace)) return kOk;
    if (kind) *kind = found;
    WholeFileImage image;
    const int32_t status = image.load(file);
    if (status != kOk) return readFailure(trace, status);
    return identifyImage(image, found, catalog, result, trace);
}

}  // namespace

int16_t TopDictCheck::onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal, const int32_t*) {
    auto anyReal = [&](uint16_t n) {
        for (uint16_t i = 0; i < n && i < operandCount; ++i)
            if (isReal[i]) return true;
        return false;
    };
    switch (op) {
        case kOpFullName:
            return operandCount == 1 ? 0 : KORV_FAIL(kFontDataError);
        case kOpFontBBox:
            return anyReal(4) ? KORV_FAIL(kFontDataError) : 0;
        case kOpPrivate:
            return anyReal(2) ? KORV_FAIL(kFontDataError) : 0;
        case kOpCharset:
        case kOpEncoding:
        case kOpCharStrings:
        case kOpFdArray:
        case kOpFdSelect:
            return anyReal(1) ? KORV_FAIL(kFontDataError) : 0;
        case kOpRos:
        default:
            return 0;
    }
}

int32_t identifyTrueType(const FileImage& image, const TableRecord* records, uint16_t count,
                         const FontCatalog& catalog, FontIdentity& result, IdentifyTrace* trace) {
    if (count == 0) return refuse(trace, KORV_FAIL(kParamError), "the table directory holds no table");
    const uint32_t fileSize = image.size();
    for (uint16_t i = 0; i < count; ++i)
        if (!tableInside(records[i], fileSize))
            return refuse(trace, KORV_FAIL(kParamError), "the %s table reaches past the end of the file",
                          tagText(records[i].tag).c_str());
    const int headAndMaxp = countTag(records, count, kTagHead) + countTag(records, count, kTagMaxp);
    if (headAndMaxp != 2)
        return refuse(trace, KORV_FAIL(kParamError),
                      "the table directory holds %d 'head' and 'maxp' tables; exactly 2 are needed",
                      headAndMaxp);
    const int loca = countTag(records, count, kTagLoca);
    if (loca != 1)
        return refuse(trace, KORV_FAIL(kParamError),
                      "the table directory holds %d 'loca' tables; exactly 1 is needed", loca);

    int32_t status = kOk;
    int hits = 0;
    int nameTables = 0;
    for (uint16_t i = 0; i < count && status == kOk; ++i) {
        if (records[i].tag != kTagName) continue;
        ++nameTables;
        const ByteReader table = image.view(records[i].offset, records[i].length);
        if (!table.ok()) {
            status = refuse(trace, KORV_FAIL(kParamError), "'name' table %d cannot be read", nameTables);
            break;
        }
        FullNameSlots slots;
        if (collectFullNames(table.data(), records[i].length, slots) != kOk) {
            status = refuse(trace, KORV_FAIL(kParamError), "the header of 'name' table %d", nameTables);
            continue;
        }
        if (!matchFullNames(slots, catalog, result, trace)) {
            status = kNotMatched;
            continue;
        }
        ++hits;
        status = validateNameTable(table.data(), records[i].length);
        if (status != kOk)
            refuse(trace, status, "'name' table %d, whose name matched, has a record that runs past its end",
                   nameTables);
    }
    if (status != kOk) return status;
    if (hits != 1)
        return refuse(trace, KORV_FAIL(kGeneralError),
                      hits == 0 ? "the font has no 'name' table" : "%d 'name' tables matched; one is needed",
                      hits);
    const int glyf = countTag(records, count, kTagGlyf);
    if (glyf != 1)
        return refuse(trace, KORV_FAIL(kGeneralError),
                      "the table directory holds %d 'glyf' tables; exactly 1 is needed", glyf);
    return kOk;
}

int32_t identifyOpenType(const FileImage& image, const FontCatalog& catalog, FontIdentity& result,
                         IdentifyTrace* trace) {
    const uint32_t fileSize = image.size();
    TableRecord records[kMaxTableRecords];
    uint16_t numTables = 0;
    // An OpenType font's offset table and directory are those of a single sfnt font, with the same checks.
    const int32_t directory = readTableRecords(image, kindTrueType, records, numTables);
    if (directory != kOk)
        return refuse(trace, directory,
                      "the table directory (more than 48 tables, or the file ends inside it)");
    if (numTables == 0) return refuse(trace, kNotMatched, "the table directory holds no table");

    // The status is that of the last 'name' or 'CFF ' record; so is the explanation of a failure.
    int32_t status = kOk;
    bool sawCff = false;
    int nameTables = 0;
    for (uint16_t i = 0; i < numTables; ++i) {
        const TableRecord& record = records[i];
        if (record.tag != kTagName && record.tag != kTagCff) continue;
        if (record.tag == kTagName) ++nameTables;
        if (trace) trace->refusal.clear();
        if (!tableInside(record, fileSize)) {
            if (record.tag == kTagCff) sawCff = true;
            status = refuse(trace, KORV_FAIL(kParamError), "the %s table reaches past the end of the file",
                            tagText(record.tag).c_str());
            continue;
        }
        if (record.tag == kTagCff) {
            sawCff = true;
            status = examineCffTable(image, record, catalog, result, trace);
            continue;
        }
        const ByteReader table = image.view(record.offset, record.length);
        status = table.ok() ? validateNameTable(table.data(), record.length) : KORV_FAIL(kParamError);
        if (status != kOk)
            refuse(trace, status, "'name' table %d: its header or a record runs past its end", nameTables);
    }
    if (!sawCff) return refuse(trace, kNotMatched, "the font has no 'CFF ' table");
    return status;
}

int32_t identifyFontFile(const char16_t* path, const FontCatalog& catalog, FontIdentity& result,
                         FontKind* kind, const IdentifyOptions& options) {
    result.reset();
    if (kind) *kind = kindNone;
    IdentifyTrace* trace = options.trace;
    if (!path || !hasFontExtension(path)) {
        if (trace) trace->detection = IdentifyTrace::Detection::Extension;
        return kOk;
    }
    int error = 0;
    const FileBuffering buffering =
        options.reading == ImageReading::Ranges ? FileBuffering::Unbuffered : FileBuffering::Buffered;
    std::unique_ptr<File> file = openFileForReading(path, error, buffering);
    if (!file) {  // a file that does not open is no candidate
        if (trace) {
            trace->detection = IdentifyTrace::Detection::Open;
            trace->openError = error;
        }
        return kOk;
    }
    CountingFile counted(*file, options.stats);
    if (options.reading == ImageReading::Ranges) return identifyRanges(counted, catalog, result, kind, trace);

    // The whole file is read through a second opening of the path, as a candidate's image always was.
    SniffedBytes sniffed;
    FontKind found = kindNone;
    if (!detectForIdentification(counted, found, sniffed, trace)) return kOk;
    if (kind) *kind = found;
    file = openFileForReading(path, error, buffering);
    if (!file) return readFailure(trace, error > 0 ? error : KORV_FAIL(kIoError));
    CountingFile countedAgain(*file, options.stats);
    WholeFileImage image;
    const int32_t status = image.load(countedAgain);
    if (status != kOk) return readFailure(trace, status);
    return identifyImage(image, found, catalog, result, trace);
}

int32_t identifyOpenFontFile(File& file, const FontCatalog& catalog, FontIdentity& result, FontKind* kind,
                             const IdentifyOptions& options) {
    result.reset();
    if (kind) *kind = kindNone;
    CountingFile counted(file, options.stats);
    if (options.reading == ImageReading::Ranges)
        return identifyRanges(counted, catalog, result, kind, options.trace);
    return identifyWhole(counted, catalog, result, kind, options.trace);
}

int32_t identifyFontData(const uint8_t* data, size_t size, const FontCatalog& catalog, FontIdentity& result,
                         FontKind* kind, const IdentifyOptions& options) {
    MemoryFile memory(data, data ? size : 0);
    return identifyOpenFontFile(memory, catalog, result, kind, options);
}
