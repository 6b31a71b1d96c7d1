// Deciding whether one font file holds a font that the catalog lists, and which entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cff/CffDict.h"
#include "fontid/FontCatalog.h"
#include "fontid/FontFile.h"

struct FontIdentity {
    int32_t group = -1;       // row of the matched entry; -1 when none matched
    int32_t formatSlot = -1;  // 2 for OpenType (CFF); 3, 11 or 12 for TrueType; -1 when none
    int32_t entryIndex = -1;  // index within its cell; -1 when none
    void reset() { group = formatSlot = entryIndex = -1; }
};

// How a candidate's bytes are read: only the ranges that the procedures examine (offset table, directory,
// `name` tables, the CFF header and INDEXes), or the whole file at once. Statuses and results are the same.
enum class ImageReading { Ranges, WholeFile };

// What reading one file asked of it: bytes and read calls, the header test included.
struct ReadStats {
    uint64_t bytes = 0;
    uint32_t reads = 0;
};

// What one identification went through, kept for the person supporting a user who asks why a font is, or
// is not, in the list. Filled when IdentifyOptions::trace is given; the answers never depend on it.
struct IdentifyTrace {
    enum class Detection {
        NotRun,
        Extension,  // the name does not end in .ttf, .otf or .ttc
        Open,       // the file does not open (openError)
        Size,       // its size cannot be found
        Header,     // the header test failed (headerStatus)
        Kind,       // the header shows a kind that is no candidate (kind, headerTag)
        NoFonts,    // a collection whose header counts no fonts
        Candidate,
    };
    Detection detection = Detection::NotRun;
    int openError = 0;
    int64_t fileSize = -1;
    int32_t headerStatus = 0;
    uint32_t headerTag = 0;  // the first four bytes, when read
    FontKind kind = kindNone;

    // The check that decided a failing status, in words; empty when no check failed.
    std::string refusal;
    // The names looked up in the catalog, in order: full names (slot 0 to 3 of a `name` table) or the CFF
    // font name (slot -1); `matched` is the index of the one that matched, or -1.
    struct Name {
        int slot;
        std::u16string text;
    };
    std::vector<Name> tried;
    int matched = -1;
};

struct IdentifyOptions {
    ImageReading reading = ImageReading::Ranges;
    ReadStats* stats = nullptr;      // added to, when given
    IdentifyTrace* trace = nullptr;  // filled, when given
};

// Statuses: 0 examined (non-candidates included), 1 no catalog entry matched, -1, -36, -37, -50, -108,
// -982, or the platform's positive error number from opening the file. `kind`, when given, receives the
// kind that detection found (kindNone for no candidate).
[[nodiscard]] int32_t identifyFontFile(const char16_t* path, const FontCatalog& catalog, FontIdentity& result,
                                       FontKind* kind = nullptr, const IdentifyOptions& options = {});

// The same after the extension test, for a file that is already open (read from its start; the caller
// keeps it open).
[[nodiscard]] int32_t identifyOpenFontFile(File& file, const FontCatalog& catalog, FontIdentity& result,
                                           FontKind* kind = nullptr, const IdentifyOptions& options = {});

// The same after the extension test, for a file held in memory (support tools, fuzzing).
[[nodiscard]] int32_t identifyFontData(const uint8_t* data, size_t size, const FontCatalog& catalog,
                                       FontIdentity& result, FontKind* kind = nullptr,
                                       const IdentifyOptions& options = {});

// The two procedures, on an image already read. In the OpenType procedure a Name INDEX or Top DICT INDEX
// without an element 0, or a font name (Name INDEX element 0) of 128 bytes or more, which the 127-unit name
// buffer cannot hold, makes the CFF table's status -50; an empty font name matches no catalog entry.
[[nodiscard]] int32_t identifyTrueType(const FileImage& image, const TableRecord* records, uint16_t count,
                                       const FontCatalog& catalog, FontIdentity& result,
                                       IdentifyTrace* trace = nullptr);
[[nodiscard]] int32_t identifyOpenType(const FileImage& image, const FontCatalog& catalog,
                                       FontIdentity& result, IdentifyTrace* trace = nullptr);

// The Top DICT operand-form check of the OpenType procedure; stores nothing.
class TopDictCheck final : public CffDictHandler {
public:
    [[nodiscard]] int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                                     const int32_t* operands) override;
};
