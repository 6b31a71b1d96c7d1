// The hint record of a CFF glyph: up to 64 stems (position and width in 26.6, the horizontal ones first) and
// the list of hint-mask entries (12 bytes each: contour index, point index, 8 mask bytes), which grows when
// full. The Type 2 interpreter fills it; the hinting scaler reads it.
#include <new>

#include "sfnt/FixedMath.h"
#include "sfnt/GlyphOutline.h"

HintRecord::~HintRecord() {
    release();
}

void HintRecord::release() {
    clear();
    delete[] masks;
    masks = nullptr;
    maskCount = 0;
    maskCapacity = 0;
}

void HintRecord::clear() {
    hStemCount = 0;
    vStemCount = 0;
    maskCount = 0;
}

int16_t HintRecord::appendMask(const HintMaskEntry& entry) {
    if (maskCount == maskCapacity) {
        // By 8 entries while the list is short (real glyphs have a few dozen masks at most), by half its size
        // beyond that: a hostile charstring may append a mask at every operator of its budget, and growth by
        // a fixed step would copy the list quadratically often.
        const uint32_t step = maskCapacity / 2 > kHintMaskGrowth ? maskCapacity / 2 : kHintMaskGrowth;
        const uint64_t capacity = uint64_t(maskCapacity) + step;
        HintMaskEntry* grown = capacity <= UINT32_MAX / sizeof(HintMaskEntry)
                                   ? new (std::nothrow) HintMaskEntry[size_t(capacity)]
                                   : nullptr;
        if (!grown) {
            status = KORV_FAIL(int16_t(kOutOfMemory));
            return status;
        }
        if (masks) MoveBytes(masks, grown, size_t(maskCount) * sizeof(HintMaskEntry));
        delete[] masks;
        masks = grown;
        maskCapacity = uint32_t(capacity);
    }
    masks[maskCount++] = entry;
    return 0;
}
