// The Type 2 charstring interpreter on a fuzzed charstring with fuzzed local and global subroutines, with and
// without a hint record. Input layout (big-endian; whatever is missing counts as empty):
//   0       u8    flags: bit 0 unused; bits 1-2 pad the local Subr INDEX with empty subroutines up to
//                 1240 (1) or 33900 (2) entries, bits 3-4 the global one likewise (so every bias is met)
//   1..4    u32   randomSeed
//   5..8    i32   nominalWidthX
//   9..12   i32   defaultWidthX
//   13      u16 L, then L bytes: the charstring
//           u16 N, then N x (u16 length, bytes): the local subroutines
//           u16 M, then M x (u16 length, bytes): the global subroutines
// The harness builds a small file: 8 filler bytes, then the CFF table: the global Subr INDEX, the local Subr
// INDEX and the charstring, and parses the two INDEXes as a font's load does (CffSubrIndex views).
//
// Checked on every input: the status is 0, kFontDataError or kOutOfMemory; the outline record is consistent
// (at most 72 contours, ascending contour starts within the entries, entry kinds move, line and cubic only,
// every contour starting with its move); the hint record holds at most 64 stems and its masks name existing
// contours; at most kType2OperatorBudget operators ran. And the hint record changes nothing but the hints:
// a run that succeeds with a record gives the same outline and advance without one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cff/CffIndex.h"
#include "cff/Type2Interpreter.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint32_t u8() { return pos < size ? data[pos++] : 0; }
    uint32_t u16() { return (u8() << 8) | u8(); }
    uint32_t u32() { return (u16() << 16) | u16(); }
    std::vector<uint8_t> bytes(size_t n) {
        if (n > size - pos) n = size - pos;
        std::vector<uint8_t> out(data + pos, data + pos + n);
        pos += n;
        return out;
    }
};

// A CFF INDEX of the elements (offSize 4), padded with empty elements up to `count` entries.
void appendIndex(std::vector<uint8_t>& out, const std::vector<std::vector<uint8_t>>& elements,
                 uint32_t count) {
    if (count < elements.size()) count = uint32_t(elements.size());
    out.push_back(uint8_t(count >> 8));
    out.push_back(uint8_t(count));
    if (count == 0) return;
    out.push_back(4);
    auto put32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
    };
    uint32_t offset = 1;
    put32(offset);
    for (uint32_t i = 0; i < count; ++i) {
        if (i < elements.size()) offset += uint32_t(elements[i].size());
        put32(offset);
    }
    for (const auto& e : elements) out.insert(out.end(), e.begin(), e.end());
}

uint32_t padding(uint32_t code) {
    return code == 1 ? 1240 : code == 2 ? 33900 : 0;
}

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};

void checkOutline(const GlyphOutline& o) {
    if (o.contourCount > kMaxOutlineContours) std::abort();
    if (o.pointCount > o.pointCapacity) std::abort();
    if (o.contourStart[o.contourCount] != o.pointCount) std::abort();
    for (uint32_t c = 0; c < o.contourCount; ++c) {
        if (o.contourStart[c] > o.contourStart[c + 1]) std::abort();
        if (o.contourStart[c] == o.contourStart[c + 1] || o.points[o.contourStart[c]].kind != kOutlineMove)
            std::abort();
    }
    if (o.contourCount == 0 && o.pointCount != 0) std::abort();
    for (uint32_t i = 0; i < o.pointCount; ++i) {
        const int32_t kind = o.points[i].kind;
        if (kind != kOutlineMove && kind != kOutlineLine && kind != kOutlineCubic) std::abort();
        if (kind == kOutlineMove && o.contourCount > 0) {
            bool starts = false;
            for (uint32_t c = 0; c < o.contourCount && !starts; ++c) starts = o.contourStart[c] == i;
            if (!starts) std::abort();
        }
    }
}

bool sameEntries(const GlyphOutline& a, const GlyphOutline& b) {
    if (a.pointCount != b.pointCount || a.contourCount != b.contourCount || a.advance != b.advance)
        return false;
    for (uint32_t c = 0; c <= a.contourCount; ++c)
        if (a.contourStart[c] != b.contourStart[c]) return false;
    for (uint32_t i = 0; i < a.pointCount; ++i) {
        const OutlinePoint &p = a.points[i], &q = b.points[i];
        if (p.kind != q.kind || p.x != q.x || p.y != q.y) return false;
        if (p.kind == kOutlineCubic && (p.cx1 != q.cx1 || p.cy1 != q.cy1 || p.cx2 != q.cx2 || p.cy2 != q.cy2))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const uint32_t flags = in.u8();
    const uint32_t seed = in.u32();
    const int32_t nominal = int32_t(in.u32());
    const int32_t fallback = int32_t(in.u32());
    const std::vector<uint8_t> charstring = in.bytes(in.u16());
    std::vector<std::vector<uint8_t>> local, global;
    for (uint32_t n = in.u16(); n > 0 && in.pos < size; --n) local.push_back(in.bytes(in.u16()));
    for (uint32_t n = in.u16(); n > 0 && in.pos < size; --n) global.push_back(in.bytes(in.u16()));

    std::vector<uint8_t> file(8, 0xA5);
    appendIndex(file, global, padding((flags >> 3) & 3));
    const uint32_t localAt = uint32_t(file.size() - 8);
    appendIndex(file, local, padding((flags >> 1) & 3));
    const uint32_t start = uint32_t(file.size() - 8);
    file.insert(file.end(), charstring.begin(), charstring.end());
    // The file is exactly as long as it needs to be, so that ASan sees any read beyond it.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[file.size()]);
    std::memcpy(bytes.get(), file.data(), file.size());
    const uint8_t* cff = bytes.get() + 8;
    const uint32_t cffLength = uint32_t(file.size() - 8);

    CffSubrIndex globalSubrs, localSubrs;
    if (globalSubrs.parse(cff, cffLength, 0) != 0 || localSubrs.parse(cff, cffLength, localAt) != 0)
        std::abort();

    std::unique_ptr<Type2Interpreter> interpreter(new Type2Interpreter);
    interpreter->data = bytes.get();
    interpreter->dataSize = uint32_t(file.size());
    interpreter->cffOffset = 8;
    interpreter->cffLength = cffLength;
    interpreter->globalSubrs = &globalSubrs;
    interpreter->localSubrs = &localSubrs;
    interpreter->nominalWidthX = nominal;
    interpreter->defaultWidthX = fallback;

    std::unique_ptr<GlyphOutline, OutlineDeleter> withHints(newGlyphOutline(1000));
    std::unique_ptr<GlyphOutline, OutlineDeleter> without(newGlyphOutline(1000));
    if (!withHints || !without) return 0;
    HintRecord hints;

    interpreter->randomSeed = int32_t(seed);
    const int16_t hinted = interpreter->run(start, uint32_t(charstring.size()), *withHints, &hints);
    if (hinted != 0 && hinted != kFontDataError && hinted != kOutOfMemory) std::abort();
    if (interpreter->operatorsExecuted > kType2OperatorBudget) std::abort();
    checkOutline(*withHints);
    if (hints.hStemCount < 0 || hints.vStemCount < 0 || hints.hStemCount + hints.vStemCount > kType2MaxStems)
        std::abort();
    if (hints.maskCount > hints.maskCapacity) std::abort();
    for (uint32_t i = 0; i < hints.maskCount; ++i)
        if (hints.masks[i].contourIndex > withHints->contourCount) std::abort();

    interpreter->randomSeed = int32_t(seed);
    const int16_t plain = interpreter->run(start, uint32_t(charstring.size()), *without, nullptr);
    if (plain != 0 && plain != kFontDataError && plain != kOutOfMemory) std::abort();
    checkOutline(*without);
    // Without a record only the stem limit is lifted: what succeeds with one succeeds alike without.
    if (hinted == 0 && (plain != 0 || !sameEntries(*withHints, *without))) std::abort();
    return 0;
}
