// The CFF hinting scaler on fuzzed fonts (units per em, Private DICT zones and standard widths), sizes, hint
// records and outlines. Input layout (every field read in turn; missing bytes read as 0):
//   u8  flags: bit 0 scale in place (else into a destination), bit 1 no hint record, bit 2 overwrite some
//       contour starts with raw values, bit 3 the destination already holds a contour
//   u16 yPpem, u16 xPpem, u16 unitsPerEm, i16 sTypoAscender
//   u8  fdCount (mod 4); per Font DICT: u8 blueValueCount (mod 15), i16 x n; u8 otherBlueCount (mod 11),
//       i16 x n; i32 blueScale, i32 blueShift, i32 blueFuzz; i16 stemHCount, i16 stemVCount, i32 x 12 stemH,
//       i32 x 12 stemV
//   i32 fdIndex; i16 hStemCount, i16 vStemCount; u8 stems given (mod 65), each i32 position, i32 width;
//   u8 masks (mod 24), each u16 contourIndex, u16 pointIndex, 8 mask bytes
//   u8 contours (mod 80); per contour u8 entries (mod 48), each u8 kind (mod 6; 4 and 5 are unknown kinds)
//       then i32 x 6 (x, y, cx1, cy1, cx2, cy2)
//   with flag bit 2: u8 count (mod 8), each u8 index, u32 value for contourStart[index mod 73]
// Whatever the input: the status is the plain scaler's, no coordinate lies more than one pixel from the
// plain-scaled one, and scaling the same outline again gives the same result.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cff/CffFont.h"
#include "cff/CffHintingScaler.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t u8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16() { return uint16_t((u8() << 8) | u8()); }
    int16_t i16() { return int16_t(u16()); }
    int32_t i32() { return int32_t((uint32_t(u16()) << 16) | u16()); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct OutlineDeleter {
    void operator()(GlyphOutline* o) const { deleteGlyphOutline(o); }
};
using Outline = std::unique_ptr<GlyphOutline, OutlineDeleter>;

Outline copyOf(const GlyphOutline& source) {
    Outline copy(newGlyphOutline(source.unitsPerEm));
    if (!copy || copy->reserve(source.pointCount) != 0) std::abort();
    std::memcpy(copy->points, source.points, size_t(source.pointCount) * sizeof(OutlinePoint));
    copy->pointCount = source.pointCount;
    copy->contourCount = source.contourCount;
    std::memcpy(copy->contourStart, source.contourStart, sizeof(copy->contourStart));
    return copy;
}

bool same(const GlyphOutline& a, const GlyphOutline& b) {
    return a.pointCount == b.pointCount && a.contourCount == b.contourCount &&
           std::memcmp(a.points, b.points, size_t(a.pointCount) * sizeof(OutlinePoint)) == 0;
}

inline bool near(int32_t a, int32_t b) {
    return (int64_t(a) - b) <= 64 && (int64_t(b) - a) <= 64;
}

// Every coordinate the entry's kind uses lies within a pixel of the plain-scaled one.
void checkNear(const GlyphOutline& plain, const GlyphOutline& hinted) {
    if (plain.pointCount != hinted.pointCount) std::abort();
    for (uint32_t i = 0; i < plain.pointCount; ++i) {
        const OutlinePoint &p = plain.points[i], &h = hinted.points[i];
        if (p.kind != h.kind) std::abort();
        bool ok = true;
        switch (p.kind) {
            case kOutlineCubic:
                ok = ok && near(p.cx2, h.cx2) && near(p.cy2, h.cy2);
                [[fallthrough]];
            case kOutlineQuadratic:
                ok = ok && near(p.cx1, h.cx1) && near(p.cy1, h.cy1);
                [[fallthrough]];
            case kOutlineMove:
            case kOutlineLine:
                ok = ok && near(p.x, h.x) && near(p.y, h.y);
                break;
            default:
                ok = std::memcmp(&p, &h, sizeof(p)) == 0;  // unknown kinds are copied unchanged
        }
        if (!ok) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t flags = in.u8();
    const uint16_t yPpem = in.u16(), xPpem = in.u16();

    // One font object for every input (it is large); the fields the scaler reads are all set here.
    static CffFont* const font = new CffFont();
    for (CffPrivateDict& d : font->privateDicts) {
        if (&d - font->privateDicts >= 4) break;
        d.reset();
    }
    font->unitsPerEm = in.u16();
    font->os2.sTypoAscender = in.i16();
    font->fdCount = int16_t(in.u8() % 4);
    for (int16_t f = 0; f < font->fdCount; ++f) {
        CffPrivateDict& d = font->privateDicts[f];
        d.blueValueCount = int16_t(in.u8() % 15);
        for (int16_t i = 0; i < d.blueValueCount; ++i) d.blueValues[i] = in.i16() * 64;
        d.otherBlueCount = int16_t(in.u8() % 11);
        for (int16_t i = 0; i < d.otherBlueCount; ++i) d.otherBlues[i] = in.i16() * 64;
        d.blueScale = in.i32();
        d.blueShift = in.i32();
        d.blueFuzz = in.i32();
        d.stemHCount = in.i16();
        d.stemVCount = in.i16();
        for (int32_t& w : d.stemH) w = in.i32();
        for (int32_t& w : d.stemV) w = in.i32();
    }

    HintRecord hints;
    hints.fdIndex = in.i32();
    hints.hStemCount = in.i16();
    hints.vStemCount = in.i16();
    const uint8_t stems = in.u8() % (kType2MaxStems + 1);
    for (uint8_t i = 0; i < stems; ++i) hints.stems[i] = Stem{in.i32(), in.i32()};
    const uint8_t masks = in.u8() % 24;
    for (uint8_t i = 0; i < masks; ++i) {
        HintMaskEntry e{};
        e.contourIndex = in.u16();
        e.pointIndex = in.u16();
        for (uint8_t& b : e.mask) b = in.u8();
        if (hints.appendMask(e) != 0) return 0;
    }

    Outline source(newGlyphOutline(font->unitsPerEm));
    if (!source) return 0;
    const uint8_t contours = in.u8() % 80;
    for (uint8_t c = 0; c < contours && c < kMaxOutlineContours; ++c) {
        source->contourStart[c] = source->pointCount;
        const uint8_t entries = in.u8();
        if (source->reserve(entries) != 0) return 0;
        for (uint8_t e = 0; e < entries; ++e) {
            OutlinePoint& p = source->points[source->pointCount++];
            p.kind = e == 0 ? kOutlineMove : int32_t(in.u8() % 6);
            p.x = in.i32(), p.y = in.i32();
            p.cx1 = in.i32(), p.cy1 = in.i32();
            p.cx2 = in.i32(), p.cy2 = in.i32();
        }
        source->contourCount = c + 1u;
        source->contourStart[c + 1] = source->pointCount;
    }
    // More than 71 contours are asked for: the count says so (the starts of the others are not there).
    if (contours > kMaxOutlineContours) source->contourCount = contours;
    if (source->contourCount > kMaxOutlineContours) source->contourCount = kMaxOutlineContours;
    if (flags & 4) {
        const uint8_t n = in.u8() % 8;
        for (uint8_t i = 0; i < n; ++i) {
            const uint8_t index = in.u8() % (kMaxOutlineContours + 1);
            source->contourStart[index] = uint32_t(in.i32());
        }
    }

    std::unique_ptr<CffHintingScaler> scaler(CffHintingScaler::create(*font));
    if (!scaler) return 0;
    scaler->setSize(yPpem, xPpem);
    scaler->attachHints(flags & 2 ? nullptr : &hints);
    PlainScaler plain(font->unitsPerEm);
    plain.setSize(xPpem, yPpem);

    auto prepare = [&](Outline& dest) {
        dest.reset(newGlyphOutline(font->unitsPerEm));
        if (!dest) return false;
        if (flags & 8) {  // a contour already there: the new ones are appended after it
            if (dest->reserve(2) != 0) return false;
            dest->points[0] = OutlinePoint{kOutlineMove, 1, 2, 0, 0, 0, 0};
            dest->points[1] = OutlinePoint{kOutlineLine, 3, 4, 0, 0, 0, 0};
            dest->pointCount = 2;
            dest->contourCount = 1;
            dest->contourStart[1] = 2;
        }
        return true;
    };
    const bool inPlace = flags & 1;
    Outline plainOut, hintedOut, again;
    if (inPlace) {
        plainOut = copyOf(*source);
        hintedOut = copyOf(*source);
        again = copyOf(*source);
    } else if (!prepare(plainOut) || !prepare(hintedOut) || !prepare(again)) {
        return 0;
    }
    const int16_t plainStatus =
        inPlace ? plain.scaleOutline(*plainOut, nullptr) : plain.scaleOutline(*source, plainOut.get());
    const int16_t status =
        inPlace ? scaler->scaleOutline(*hintedOut, nullptr) : scaler->scaleOutline(*source, hintedOut.get());
    const int16_t status2 =
        inPlace ? scaler->scaleOutline(*again, nullptr) : scaler->scaleOutline(*source, again.get());
    if (status == kOutOfMemory || status2 == kOutOfMemory || plainStatus == kOutOfMemory) return 0;
    if (status != plainStatus || status2 != status) std::abort();
    if (status != 0 && status != kNoCharMap) return 0;
    checkNear(*plainOut, *hintedOut);
    if (!same(*hintedOut, *again)) std::abort();
    return 0;
}
