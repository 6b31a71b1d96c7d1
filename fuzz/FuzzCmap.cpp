// CmapTable::parse over the input as a whole 'cmap' table, then lookups in every stored subtable (also
// after a failed parse, which may have stored some): a spread of codes over 0..0x10FFFF and beyond, and
// the edges of every segment, group, range and subheader. Every answer is 0 or 2 with glyph 0 when
// absent, and equals the answer of the reference readers in tests/support/CmapReference.h (the format-4
// search as the header describes it, with the right searchRange; the format-12 bisection), both in
// ascending and in descending order of codes, so that the search hint can never change an answer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sfnt/ByteReader.h"
#include "sfnt/CmapTable.h"
#include "tests/support/CmapReference.h"

namespace {

// Bounds the work of one input: the edges of at most about this many segments or groups are visited,
// spread evenly over the subtable.
constexpr uint32_t kMaxEdges = 256;

uint32_t edgeStep(uint32_t count) {
    return count > kMaxEdges ? count / kMaxEdges : 1;
}

void addCode(std::vector<uint32_t>& codes, int64_t code) {
    if (code >= 0 && code <= 0xFFFFFFFFll) codes.push_back(uint32_t(code));
}

std::vector<uint32_t> codesFor(const CmapTable& cmap, const CmapSubtable& s) {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0; c < 0x100; ++c) codes.push_back(c);
    for (uint32_t c = 0x100; c <= 0x110000; c += 0x3001) codes.push_back(c);
    for (uint32_t c : {0xFFFEu, 0xFFFFu, 0x10000u, 0x10001u, 0x10FFFFu, 0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        codes.push_back(c);
    const uint8_t* data = cmap.data + s.dataOffset;
    if (s.format == 4) {
        const uint32_t segCountX2 = s.parameters[0];
        for (uint32_t k = 0; k < segCountX2 / 2; k += edgeStep(segCountX2 / 2)) {
            const int64_t end = loadU16(data + 2 * k), start = loadU16(data + segCountX2 + 2 + 2 * k);
            for (int64_t d = -1; d <= 1; ++d) {
                addCode(codes, start + d);
                addCode(codes, end + d);
            }
        }
    } else if (s.format == 12) {
        const uint32_t numGroups = (uint32_t(s.parameters[2]) << 16) | s.parameters[3];
        for (uint32_t k = 0; k < numGroups; k += edgeStep(numGroups)) {
            const int64_t start = loadU32(data + 12 * k), end = loadU32(data + 12 * k + 4);
            for (int64_t d = -1; d <= 1; ++d) {
                addCode(codes, start + d);
                addCode(codes, end + d);
            }
        }
    } else if (s.format == 6) {
        const int64_t first = s.parameters[0], count = s.parameters[1];
        for (int64_t d = -1; d <= 1; ++d) {
            addCode(codes, first + d);
            addCode(codes, first + count + d);
        }
    } else if (s.format == 2) {
        for (uint32_t high = 0; high < 256; ++high) {
            const uint32_t key = loadU16(data + 2 * high);
            if (key == 0 && high != 0) continue;
            const uint8_t* subHeader = data + 512 + key;
            const int64_t first = loadU16(subHeader), count = loadU16(subHeader + 2);
            for (int64_t low : {first - 1, first, first + count - 1, first + count, int64_t(0xFF)})
                if (low >= 0 && low <= 0xFF) codes.push_back((high << 8) | uint32_t(low));
        }
    }
    return codes;
}

void check(const CmapTable& cmap, uint16_t index, const std::vector<uint32_t>& codes, bool descending) {
    const CmapSubtable& s = cmap.subtables[index];
    const uint32_t offset = s.dataOffset - (s.format == 4 ? 14 : 16);
    const cmapref::Format4 f4{cmap.data, cmap.length, offset};
    const cmapref::Format12 f12{cmap.data, offset};
    for (size_t i = 0; i < codes.size(); ++i) {
        const uint32_t code = descending ? codes[codes.size() - 1 - i] : codes[i];
        uint32_t glyph = 0xDEADBEEF;
        const int16_t status = cmap.lookup(index, code, glyph);
        if (status != 0 && status != kGlyphAbsent) std::abort();
        if (status == kGlyphAbsent && glyph != 0) std::abort();
        if (s.format != 12 && glyph > 0xFFFF) std::abort();
        cmapref::Lookup expected;
        if (s.format == 4) {
            expected = f4.lookup(code, f4.rightSearchRange());
            if (expected.outside) std::abort();  // parse must have refused a table the reference leaves
        } else if (s.format == 12) {
            expected = f12.lookup(code);
        } else {
            continue;
        }
        if ((status == 0) != expected.found || glyph != expected.glyph) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    // An exact copy, so that a read one byte past the table is a read past the allocation.
    const std::vector<uint8_t> table(data, data + size);
    CmapTable cmap;
    const int16_t status = cmap.parse(table.data(), uint32_t(size));
    if (status != 0 && status != kFontDataError) std::abort();
    if (cmap.count > kMaxCmapSubtables) std::abort();
    if (status == 0 && cmap.count == 0) std::abort();
    for (uint16_t i = 0; i < cmap.count; ++i) {
        const CmapSubtable& s = cmap.subtables[i];
        if (s.dataOffset >= size || s.lookup == nullptr) std::abort();
        const std::vector<uint32_t> codes = codesFor(cmap, s);
        check(cmap, i, codes, false);
        check(cmap, i, codes, true);
    }
    uint32_t glyph = 0;
    if (cmap.lookup(cmap.count, 0x41, glyph) != kNoCharMap) std::abort();
    cmap.release();
    if (cmap.count != 0 || cmap.data != nullptr || cmap.length != 0) std::abort();
    return 0;
}
