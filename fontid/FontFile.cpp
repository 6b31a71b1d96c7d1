// Font file detection and the file image.
//
// Headers this file reads (big-endian):
//   sfnt offset table   0 u32 version (0x00010000, "true", "OTTO", "typ1")   4 u16 numTables
//                       12 + 16 x i: table record i (tag, checksum, offset, length; u32 each)
//   collection header   0 "ttcf"   4 u32 version   8 u32 numFonts   12 u32 offset of the first font's table
//   WOFF header         0 "wOFF"
// Detection reads at most 512 + 268 bytes (780 = 12 + 16 x 48, the whole largest directory), or 512 more at
// a collection's first font, so that the many files of a font folder that are no candidate cost little.
#include "fontid/FontFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "sfnt/Status.h"

namespace {

constexpr uint32_t kTagTrue = makeTag('t', 'r', 'u', 'e');
constexpr uint32_t kVersionTrueType = 0x00010000;
constexpr uint32_t kTagOtto = makeTag('O', 'T', 'T', 'O');
constexpr uint32_t kTagTtcf = makeTag('t', 't', 'c', 'f');
constexpr uint32_t kTagTyp1 = makeTag('t', 'y', 'p', '1');
constexpr uint32_t kTagWoff = makeTag('w', 'O', 'F', 'F');
constexpr uint32_t kTagGlyf = makeTag('g', 'l', 'y', 'f');
constexpr uint32_t kTagBdat = makeTag('b', 'd', 'a', 't');
constexpr uint32_t kTagEbdt = makeTag('E', 'B', 'D', 'T');
constexpr uint32_t kTagCbdt = makeTag('C', 'B', 'D', 'T');
constexpr uint32_t kTagSbix = makeTag('s', 'b', 'i', 'x');

// From this many tables on, the records pass byte 512 (31 records end at byte 508).
constexpr uint16_t kExtraReadFromTables =
    uint16_t((kSniffHeaderBytes - kOffsetTableSize + kTableRecordSize - 1) / kTableRecordSize);
static_assert(kExtraReadFromTables == 32, "the extra bytes are read for 32 tables and more");

bool isTrueTypeVersion(uint32_t v) {
    return v == kVersionTrueType || v == kTagTrue;
}

bool isAsciiLetter(char16_t c, char lower) {
    return c == char16_t(lower) || c == char16_t(lower - 'a' + 'A');
}

// Reads exactly `count` bytes at the current position; a short read is a failure.
bool readExactly(File& file, uint8_t* destination, size_t count) {
    return file.read(destination, count) == count;
}

}  // namespace

bool hasFontExtension(const char16_t* path) {
    if (!path) return false;
    const char16_t* dot = nullptr;
    for (const char16_t* p = path; *p; ++p)
        if (*p == u'.') dot = p;
    if (!dot) return false;
    // Exactly four characters: the dot and three letters e1 e2 e3.
    if (!dot[1] || !dot[2] || !dot[3] || dot[4]) return false;
    const char16_t e1 = dot[1], e2 = dot[2], e3 = dot[3];
    if (!isAsciiLetter(e2, 't')) return false;
    if (isAsciiLetter(e3, 'f')) return isAsciiLetter(e1, 'o') || isAsciiLetter(e1, 't');  // .otf .ttf
    return isAsciiLetter(e1, 't') && isAsciiLetter(e3, 'c');                              // .ttc
}

int32_t sniffFontHeader(File& file, int64_t fileSize, FontKind& kind, uint32_t* numFonts,
                        SniffedBytes* sniffed) {
    kind = kindNone;
    if (numFonts) *numFonts = 0;
    // Room for the whole largest directory: 512 bytes plus the 268 that follow.
    SniffedBytes local;
    SniffedBytes& kept = sniffed ? *sniffed : local;
    kept.headLength = kept.firstOffset = kept.firstLength = 0;
    uint8_t* header = kept.head;
    if (!file.seek(0, File::Origin::Start)) return KORV_FAIL(kIoError);
    if (fileSize < int64_t(kSniffHeaderBytes)) return KORV_FAIL(kFontDataError);
    if (!readExactly(file, header, kSniffHeaderBytes)) return KORV_FAIL(kIoError);
    kept.headLength = kSniffHeaderBytes;

    ByteReader r(header, kSniffHeaderBytes);
    const uint32_t version = r.u32();
    if (isTrueTypeVersion(version)) {
        const uint16_t numTables = r.u16();
        if (numTables > kMaxTableRecords) return KORV_FAIL(kFontDataError);
        uint32_t available = kSniffHeaderBytes;
        if (numTables >= kExtraReadFromTables) {
            // The records of 32 tables and more reach past byte 512. The file may end before the 268 bytes;
            // what the directory needs must be there, or the read has failed.
            const size_t got = file.read(header + kSniffHeaderBytes, kSniffExtraBytes);
            available += uint32_t(got);
            kept.headLength = available;
        }
        // The directory, with the reader the procedures and the font objects use; a count above 48 was
        // refused above, so a fault here means the file ended inside the records.
        OffsetTable offsetTable;
        TableRecord records[kMaxTableRecords];
        if (readSfntDirectory(MemoryBytes(header, available), 0, offsetTable, records) !=
            DirectoryFault::None)
            return KORV_FAIL(kIoError);
        FontKind secondary = kindNone;
        bool hasGlyf = false;
        for (uint16_t i = 0; i < numTables; ++i) {
            const uint32_t tag = records[i].tag;
            if (tag == kTagGlyf)
                hasGlyf = true;
            else if (tag == kTagBdat || tag == kTagEbdt || tag == kTagCbdt)
                secondary = kindBitmapOnly;
            else if (tag == kTagSbix)
                secondary = kindSbixOnly;
        }
        kind = hasGlyf ? kindTrueType : secondary;
    } else if (version == kTagOtto) {
        kind = kindOpenTypeCff;
    } else if (version == kTagTtcf) {
        r.seek(8);
        const uint32_t fonts = r.u32();
        if (fonts > kMaxCollectionFonts) return KORV_FAIL(kFontDataError);
        if (numFonts) *numFonts = fonts;
        const uint32_t firstOffset = r.u32();
        uint32_t firstTag = 0;
        if (uint64_t(firstOffset) + 4 <= kSniffHeaderBytes) {
            firstTag = loadU32(header + firstOffset);
        } else {
            // The first font lies beyond the bytes at hand: read 512 bytes there. Near the end of the file
            // fewer may come; only its four tag bytes are needed.
            if (!file.seek(int64_t(firstOffset), File::Origin::Start)) return KORV_FAIL(kIoError);
            const size_t got = file.read(kept.first, kSniffHeaderBytes);
            if (got < 4) return KORV_FAIL(kIoError);
            kept.firstOffset = firstOffset;
            kept.firstLength = uint32_t(got);
            firstTag = loadU32(kept.first);
        }
        if (firstTag == kTagOtto)
            kind = kindCffCollection;
        else if (isTrueTypeVersion(firstTag))
            kind = kindTrueTypeCollection;
    } else if (version == kTagTyp1) {
        kind = kindType1Sfnt;
    } else if (version == kTagWoff) {
        kind = kindWoff;
    }
    return kOk;
}

bool isCandidateKind(FontKind kind) {
    switch (kind) {
        case kindOpenTypeCff:
        case kindTrueType:
        case kindTrueTypeCollection:
        case kindBitmapOnly:
        case kindCffCollection:
        case kindWoff:
            return true;
        default:
            return false;
    }
}

bool detectOpenFile(File& file, FontKind& kind, SniffedBytes* sniffed) {
    kind = kindNone;
    if (sniffed) {
        sniffed->headLength = sniffed->firstLength = 0;
        sniffed->fileSize = -1;
    }
    if (!file.seek(0, File::Origin::End)) return false;
    const int64_t size = file.tell();
    if (size < 0) return false;
    if (sniffed) sniffed->fileSize = size;
    FontKind found = kindNone;
    uint32_t numFonts = 0;
    const int32_t status = sniffFontHeader(file, size, found, &numFonts, sniffed);
    if (sniffed) {
        sniffed->headerStatus = status;
        sniffed->numFonts = numFonts;
    }
    if (status != kOk) return false;
    kind = found;
    if (!isCandidateKind(found)) return false;
    if ((found == kindTrueTypeCollection || found == kindCffCollection) && numFonts == 0) return false;
    return true;
}

bool detectFontFile(const char16_t* path, FontKind& kind) {
    kind = kindNone;
    if (!path || !hasFontExtension(path)) return false;
    int error = 0;
    std::unique_ptr<File> file = openFileForReading(path, error);
    if (!file) return false;
    return detectOpenFile(*file, kind);  // the file closes when `file` goes out of scope
}

int32_t WholeFileImage::load(const char16_t* path) {
    release();
    int error = 0;
    std::unique_ptr<File> file = openFileForReading(path, error);
    if (!file) return error > 0 ? error : KORV_FAIL(kIoError);
    return load(*file);
}

int32_t WholeFileImage::load(File& file) {
    release();
    if (!file.seek(0, File::Origin::End)) return KORV_FAIL(kIoError);
    const int64_t size = file.tell();
    // The size is a signed 32-bit value: negative (a failed query) or larger (a position the runtime could
    // not report) is an input/output error, and nothing is allocated from it.
    if (size < 0 || size > kMaxImageSize) return KORV_FAIL(kIoError);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size_t(size)]);
    if (!bytes) return KORV_FAIL(kOutOfMemory);
    if (!file.seek(0, File::Origin::Start)) return KORV_FAIL(kIoError);
    if (size > 0 && file.read(bytes.get(), size_t(size)) != size_t(size)) return KORV_FAIL(kShortRead);
    m_bytes = std::move(bytes);
    m_size = uint32_t(size);
    return kOk;
}

void WholeFileImage::release() {
    m_bytes.reset();
    m_size = 0;
}

ByteReader WholeFileImage::view(uint32_t offset, uint32_t length) const {
    return ByteReader(m_bytes.get(), m_size).sub(offset, length);
}

int32_t RangeFileImage::open(File& file, const SniffedBytes* sniffed) {
    release();
    int64_t size = sniffed ? sniffed->fileSize : -1;
    if (size < 0) {
        if (!file.seek(0, File::Origin::End)) return KORV_FAIL(kIoError);
        size = file.tell();
    }
    // As for the whole-file image: a size the runtime cannot report, or one above 32 bits, is refused.
    if (size < 0 || size > kMaxImageSize) return KORV_FAIL(kIoError);
    m_file = &file;
    m_size = uint32_t(size);
    if (sniffed) {
        // The header test read these while the file had this size; keep what still lies inside it.
        keep(0, sniffed->head, sniffed->headLength);
        keep(sniffed->firstOffset, sniffed->first, sniffed->firstLength);
    }
    return m_status;
}

void RangeFileImage::keep(uint32_t start, const uint8_t* bytes, uint32_t length) {
    if (start >= m_size || length == 0) return;
    if (length > m_size - start) length = m_size - start;
    for (const Extent& e : m_extents) {
        // Bytes at hand already (a collection's first font right after the header) are not kept twice.
        const uint64_t end = uint64_t(e.start) + e.length;
        if (start >= e.start && start < end) {
            if (uint64_t(start) + length <= end) return;
            const uint32_t cut = uint32_t(end - start);
            start += cut;
            bytes += cut;
            length -= cut;
        } else if (start < e.start && uint64_t(start) + length > e.start) {
            length = e.start - start;
        }
    }
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
    if (!copy) {
        m_status = KORV_FAIL(kOutOfMemory);
        return;
    }
    std::memcpy(copy.get(), bytes, length);
    auto at = m_extents.begin();
    while (at != m_extents.end() && at->start < start) ++at;
    try {
        m_extents.insert(at, Extent{start, length, std::move(copy)});
    } catch (const std::bad_alloc&) {
        m_status = KORV_FAIL(kOutOfMemory);
    }
}

void RangeFileImage::release() {
    m_file = nullptr;
    m_size = 0;
    m_extents.clear();
    m_retired.clear();
    m_status = 0;
    m_bytesRead = 0;
    m_readCount = 0;
}

ByteReader RangeFileImage::view(uint32_t offset, uint32_t length) const {
    if (offset > m_size || length > m_size - offset || m_status != 0) return ByteReader().sub(1, 0);
    if (length == 0) {
        static const uint8_t kNothing = 0;
        return ByteReader(&kNothing, 0);
    }
    const uint8_t* bytes = fetch(offset, length);
    return bytes ? ByteReader(bytes, length) : ByteReader().sub(1, 0);
}

// The bytes [offset, offset + length), inside the file, from one extent; read first when need be.
const uint8_t* RangeFileImage::fetch(uint32_t offset, uint32_t length) const {
    for (const Extent& e : m_extents)
        if (offset >= e.start && uint64_t(offset) + length <= uint64_t(e.start) + e.length)
            return e.bytes.get() + (offset - e.start);

    // The new extent: the request, widened to a minimum read, joined with every extent that overlaps it or
    // lies within the gap (repeated, since joining one may bring the next within reach).
    uint64_t low = offset;
    uint64_t high = uint64_t(offset) + length;
    if (high - low < kMinimumRead) high = std::min<uint64_t>(m_size, low + kMinimumRead);
    for (bool grown = true; grown;) {
        grown = false;
        for (const Extent& e : m_extents) {
            const uint64_t end = uint64_t(e.start) + e.length;
            if (e.start <= high + kCoalesceGap && end + kCoalesceGap >= low &&
                (e.start < low || end > high)) {
                low = std::min<uint64_t>(low, e.start);
                high = std::max(high, end);
                grown = true;
            }
        }
    }
    const uint32_t start = uint32_t(low);
    const uint32_t size = uint32_t(high - low);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) {
        m_status = KORV_FAIL(kOutOfMemory);
        return nullptr;
    }

    // Copy what is at hand, read the gaps between, in file order.
    uint32_t filled = 0;  // bytes of the new extent done, from its start
    auto readUpTo = [&](uint32_t end) {
        if (end <= filled) return true;
        const uint32_t count = end - filled;
        if (!m_file->seek(int64_t(start) + filled, File::Origin::Start)) {
            m_status = KORV_FAIL(kIoError);
            return false;
        }
        ++m_readCount;
        const size_t got = m_file->read(bytes.get() + filled, count);
        m_bytesRead += got;
        if (got != count) {
            m_status = KORV_FAIL(kShortRead);
            return false;
        }
        filled = end;
        return true;
    };
    for (const Extent& e : m_extents) {
        if (e.start < start || uint64_t(e.start) + e.length > high) continue;
        if (!readUpTo(e.start - start)) return nullptr;
        std::memcpy(bytes.get() + filled, e.bytes.get(), e.length);
        filled += e.length;
    }
    if (!readUpTo(size)) return nullptr;

    // The joined extents give way to the new one; their buffers stay behind the views already handed out.
    // Both lists get their room first, so that nothing is moved before every allocation has succeeded.
    std::vector<Extent> extents;
    try {
        extents.reserve(m_extents.size() + 1);
        m_retired.reserve(m_retired.size() + m_extents.size());
    } catch (const std::bad_alloc&) {
        m_status = KORV_FAIL(kOutOfMemory);
        return nullptr;
    }
    for (Extent& e : m_extents) {
        if (e.start < start || uint64_t(e.start) + e.length > high)
            extents.push_back(std::move(e));
        else
            m_retired.push_back(std::move(e.bytes));
    }
    auto at = extents.begin();
    while (at != extents.end() && at->start < start) ++at;
    const uint8_t* result = bytes.get() + (offset - start);
    extents.insert(at, Extent{start, size, std::move(bytes)});
    m_extents = std::move(extents);
    return result;
}

int32_t readTableRecords(const FileImage& image, FontKind kind, TableRecord* records, uint16_t& count) {
    count = 0;
    const uint64_t size = image.size();
    uint32_t fontStart = 0;
    if (kind == kindTrueTypeCollection) {
        // The collection header up to the first font's offset must be there before that offset is read.
        if (size <= 15) return KORV_FAIL(kParamError);
        ByteReader h = image.view(12, 4);
        fontStart = h.u32();
        if (!h.ok()) return KORV_FAIL(kParamError);
    } else if (kind != kindTrueType) {
        return KORV_FAIL(kParamError);
    }
    // The directory rules are the font objects' own, but every fault is -50 here and a directory of no
    // tables is read (the procedures decide about it).
    OffsetTable offsetTable;
    if (readSfntDirectory(image, fontStart, offsetTable, records) != DirectoryFault::None)
        return KORV_FAIL(kParamError);
    count = offsetTable.numTables;
    return kOk;
}
