// Font file detection (extension and header test) and the file image the identification reads through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/File.h"
#include "sfnt/ByteReader.h"
#include "sfnt/Limits.h"
#include "sfnt/TableDirectory.h"

enum FontKind : int32_t {
    kindNone = 0,
    kindType1Sfnt = 1,           // "typ1"                           not a candidate
    kindOpenTypeCff = 2,         // "OTTO"                           OpenType procedure
    kindTrueType = 3,            // 0x00010000 / "true" with glyf    TrueType procedure
    kindTrueTypeCollection = 4,  // "ttcf", first font TrueType      TrueType procedure on the first font
    kindBitmapOnly = 5,          // no glyf, bdat / EBDT / CBDT      -50
    kindCffCollection = 6,       // "ttcf", first font "OTTO"        -50
    kindSbixOnly = 8,            // no glyf, sbix                    not a candidate
    kindWoff = 9,                // "wOFF"                           0, nothing matched
};

constexpr uint32_t kSniffHeaderBytes = 512;  // the header test reads this much first
// ... and this much more when the directory may reach past it: the largest directory (12 + 16 x 48 = 780
// bytes) is then at hand, 268 bytes more.
constexpr uint32_t kSniffExtraBytes = kMaxDirectorySize - kSniffHeaderBytes;
// The file image's size is a signed 32-bit value, as the runtime's file position is on the system this tool
// runs on: a larger file is refused like a failed position query, before anything is allocated.
constexpr int64_t kMaxImageSize = INT32_MAX;

// The bytes the header test read, kept so that the file image does not read them a second time.
struct SniffedBytes {
    int64_t fileSize = -1;     // the size detection found (-1: none)
    int32_t headerStatus = 0;  // the header test's status
    uint32_t numFonts = 0;     // a collection's font count
    uint8_t head[kSniffHeaderBytes + kSniffExtraBytes];
    uint32_t headLength = 0;  // bytes of `head`, read from the start of the file
    uint8_t first[kSniffHeaderBytes];
    uint32_t firstOffset = 0;  // a collection's first font beyond `head`: the bytes read there
    uint32_t firstLength = 0;
};

// The extension test alone: ".ttf", ".otf" or ".ttc" in any letter case.
bool hasFontExtension(const char16_t* path);

// The header test on an open file of the given size: 0, kIoError or kFontDataError; `kind` is kindNone
// when the header shows no known kind. For a collection, `numFonts` (when given) receives the font count of
// its header; it is 0 for every other kind. `sniffed`, when given, receives the bytes read.
[[nodiscard]] int32_t sniffFontHeader(File& file, int64_t fileSize, FontKind& kind,
                                      uint32_t* numFonts = nullptr, SniffedBytes* sniffed = nullptr);

// Whether a kind goes on to the identification (collections also need a non-zero font count, which
// detectOpenFile checks).
bool isCandidateKind(FontKind kind);

// Detection of an open file: size, header test and the candidate rule. Never fails. `kind` receives the
// kind the header shows (also for a kind that is no candidate, such as kindSbixOnly), kindNone for a file
// that cannot be examined. `sniffed`, when given, receives the bytes the header test read.
bool detectOpenFile(File& file, FontKind& kind, SniffedBytes* sniffed = nullptr);

// Detection of a path: extension test, open ("rb"), detectOpenFile. Never fails; `kind` as for
// detectOpenFile (kindNone when the extension test fails or the file cannot be opened).
bool detectFontFile(const char16_t* path, FontKind& kind);

// A candidate file's bytes, read through views of a given offset and length so that how the bytes are
// obtained can change without touching the procedures. The sfnt layer reads the table directory through the
// same views.
class FileImage : public ByteSource {};

// The whole file read into one buffer.
class WholeFileImage final : public FileImage {
public:
    // Opens and reads the whole file: 0, the platform's (positive) open error, kIoError, kShortRead or
    // kOutOfMemory. The file is closed on every path.
    [[nodiscard]] int32_t load(const char16_t* path);
    // Reads a file that is already open, from its start.
    [[nodiscard]] int32_t load(File& file);
    void release();
    uint32_t size() const override { return m_size; }
    ByteReader view(uint32_t offset, uint32_t length) const override;

private:
    std::unique_ptr<uint8_t[]> m_bytes;
    uint32_t m_size = 0;
};

// The byte ranges the procedures ask for, read from the file when they ask. A request that is not yet at hand
// is read as one range together with the bytes already read that touch it or lie within kCoalesceGap of it
// (those are copied, never read again), and at least kMinimumRead bytes are read at a time. Views stay valid
// until release(): memory follows what is read, never the file's size. After the first failed read nothing
// more is read, every further view fails, and status() tells why; the caller reports that status instead of
// what the procedure concluded from the missing bytes. One thread at a time.
class RangeFileImage final : public FileImage {
public:
    static constexpr uint32_t kMinimumRead = 1024;
    static constexpr uint32_t kCoalesceGap = 1024;

    // Takes a file that the caller keeps open while the image is used: its size is the one detection found,
    // or is queried (kIoError when that fails; a size above kMaxImageSize is kIoError too). The sniffed
    // bytes, when given, count as read.
    [[nodiscard]] int32_t open(File& file, const SniffedBytes* sniffed = nullptr);
    void release();
    uint32_t size() const override { return m_size; }
    ByteReader view(uint32_t offset, uint32_t length) const override;

    // 0, or the first failure: kIoError (seek), kShortRead (a read returned fewer bytes than asked for) or
    // kOutOfMemory.
    int32_t status() const { return m_status; }
    // Bytes and reads asked of the file by this image (the sniffed bytes not included).
    uint64_t bytesRead() const { return m_bytesRead; }
    uint32_t readCount() const { return m_readCount; }

private:
    struct Extent {
        uint32_t start;
        uint32_t length;
        std::unique_ptr<uint8_t[]> bytes;
    };
    void keep(uint32_t start, const uint8_t* bytes, uint32_t length);
    const uint8_t* fetch(uint32_t offset, uint32_t length) const;

    File* m_file = nullptr;
    uint32_t m_size = 0;
    mutable std::vector<Extent> m_extents;                      // sorted by start, disjoint
    mutable std::vector<std::unique_ptr<uint8_t[]>> m_retired;  // merged away, still behind earlier views
    mutable int32_t m_status = 0;
    mutable uint64_t m_bytesRead = 0;
    mutable uint32_t m_readCount = 0;
};

// A view of bytes that the caller keeps alive (tests, fuzzing).
class MemoryImage final : public FileImage {
public:
    MemoryImage(const uint8_t* data, uint32_t size) : m_data(data), m_size(size) {}
    uint32_t size() const override { return m_size; }
    ByteReader view(uint32_t offset, uint32_t length) const override {
        return ByteReader(m_data, m_size).sub(offset, length);
    }

private:
    const uint8_t* m_data;
    uint32_t m_size;
};

// The table records of a single TrueType font (kindTrueType) or of a collection's first font
// (kindTrueTypeCollection): 0 or kParamError (-50). `records` has room for kMaxTableRecords.
[[nodiscard]] int32_t readTableRecords(const FileImage& image, FontKind kind, TableRecord* records,
                                       uint16_t& count);
