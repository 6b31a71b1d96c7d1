// The CFF hinting scaler (CffFont slot 3): brings a CFF glyph's outline to a pixel size and, when the glyph's
// stem hints are attached, fits its stems and the font's alignment zones to the pixel grid, so that at text
// sizes (10 to 24 pixels per em) stems are whole pixels wide and start on pixel boundaries, and the baseline,
// x-height and cap-height rows are the same in every glyph.
//
//   !!! setSize takes the pair as (y, x): the vertical size FIRST, the opposite of PlainScaler::setSize(x,
//   y).
//   !!! Call it as setSize(ppem, ppem) unless you really mean different sizes, and then mind the order.
//
// Use: scaler = font->newScaler(); scaler->setSize(yPpem, xPpem); for each glyph: load its outline with a
// hint record, attachHints(record), scaleOutline(outline, destination or null). Without an attached record
// (or with a null one) scaleOutline is exactly the plain scaler. The record is only read, and must stay alive
// and unchanged until it is detached (attachHints(nullptr), reset()) or replaced.
//
// The data it works with, in font units x 64 (26.6) unless said otherwise:
//   per Font DICT: the Private DICT's standard stem widths (StdHW/StemSnapH, StdVW/StemSnapV) and alignment
//     zones (BlueValues: the first pair a bottom zone, the others top zones; OtherBlues: bottom zones), with
//     BlueScale (16.16), BlueShift and BlueFuzz;
//   per glyph (the hint record): horizontal then vertical stems (position, width; width -21 units = a bottom
//     ghost edge at `position`, any other negative width = a top ghost edge at `position`), and hint masks
//     that switch stems on from an entry of the outline on (one bit per stem in declaration order, most
//     significant bit first; before the first mask, and without masks, every stem is on).
// How the fitting works is written down, with pictures, in docs/hinting.md.
#pragma once

#include <cstdint>

#include "sfnt/GlyphOutline.h"
#include "sfnt/Limits.h"

class CffFont;
class CffPrivateDict;

// An alignment zone of one Font DICT.
struct CffBlueZone {
    int32_t bottom = 0;  // 26.6 font units
    int32_t top = 0;     // 26.6 font units
    int32_t flat = 0;    // the flat edge: the top of a bottom zone, the bottom of a top zone
    uint8_t isTop = 0;   // 1: a top zone (overshoot above the flat edge); 0: a bottom zone
};

// What the scaler keeps of one Private DICT.
struct CffHintingDict {
    int16_t stemHCount = 0;                   // entries used in stemH (0..12)
    int16_t stemVCount = 0;                   // entries used in stemV (0..12)
    int32_t stemH[kCffMaxPrivateStems] = {};  // 26.6 font units
    int32_t stemV[kCffMaxPrivateStems] = {};  // 26.6 font units
    uint16_t zoneCount = 0;
    CffBlueZone zones[kCffMaxBlueZones];
    int32_t blueScale = 0;  // 16.16: overshoots are suppressed while pixels per font unit < blueScale
    int32_t blueShift = 0;  // 26.6 font units: above that size, an overshoot this deep is at least a pixel
    int32_t blueFuzz = 0;   // 26.6 font units: a zone captures edges this far outside it as well
};

// One Font DICT's data brought to the current size (26.6 pixels).
struct CffScaledDict {
    uint16_t zoneCount = 0;                  // the usable zones (not taller than maxZoneHeight)
    CffBlueZone zones[kCffMaxBlueZones];     // as in the Font DICT, font units
    int32_t zoneFit[kCffMaxBlueZones] = {};  // the flat edge scaled and rounded to a whole pixel
    uint8_t suppressOvershoot = 0;           // 1 while pixels per font unit < BlueScale
    int32_t blueShift = 0;                   // font units (26.6)
    int32_t blueFuzz = 0;                    // font units (26.6)
    int16_t stemHCount = 0;
    int16_t stemVCount = 0;
    // The kept widths scaled (what glyph stems are compared with), and rounded to whole pixels (at least 1);
    // the fitting uses the first of each direction, the standard width.
    int32_t stemH[kCffMaxPrivateStems] = {};
    int32_t stemHPixels[kCffMaxPrivateStems] = {};
    int32_t stemV[kCffMaxPrivateStems] = {};
    int32_t stemVPixels[kCffMaxPrivateStems] = {};
};

// Copies what the scaler keeps of a Private DICT: its stem widths as kept (the first of each direction is the
// standard width: StdHW/StdVW, or the first StemSnap operand; the later ones are StemSnap operands as the
// DICT stores them, differences to the one before) and its alignment zones: BlueValues' first pair and any
// pair at or below the baseline are bottom zones, its other pairs top zones, OtherBlues' pairs bottom zones;
// a pair whose bottom lies above its top is dropped.
void copyPrivateDict(const CffPrivateDict& source, CffHintingDict& out);

class CffHintingScaler final : public OutlineScaler {
public:
    // Filled from the font as CffFont slot 3 describes; null when out of memory.
    static CffHintingScaler* create(const CffFont& font);
    ~CffHintingScaler() override;
    CffHintingScaler(const CffHintingScaler&) = delete;
    CffHintingScaler& operator=(const CffHintingScaler&) = delete;

    // Slot 0: frees the work area and detaches the hints (the next hinted scaleOutline obtains a new area).
    void release() override;
    // Slot 1: detaches the hints.
    void reset() override;
    // Slot 2: attaches a glyph's hint record (null detaches). Its fdIndex selects the Private DICT whose
    // zones and standard widths apply; an fdIndex outside 0 .. fdCount - 1 means none.
    void attachHints(const HintRecord* record) override;
    // Slot 3: THE PAIR IS (y, x): vertical pixels per em first, then horizontal.
    void setSize(uint16_t yPpemValue, uint16_t xPpemValue) override;
    // Slot 4: as PlainScaler::scaleOutline, with the hints fitted when a record is attached. 0;
    // kFontDataError for a source claiming more than kMaxOutlineContours contours; kNoCharMap (-35) for an
    // entry of an unknown kind (copied unchanged; the other entries are still scaled); kOutOfMemory when the
    // destination or the work area cannot grow.
    [[nodiscard]] int16_t scaleOutline(GlyphOutline& source, GlyphOutline* destination) override;

    // What the font fills, in this order.
    uint16_t unitsPerEm = 0;
    // Font units: OS/2 sTypoAscender, or unitsPerEm x 880 / 1000 when that is 0. Kept; the fitting takes its
    // rows from the alignment zones and does not consult it.
    int32_t ascender = 0;
    CffHintingDict dicts[kCffMaxFontDicts];
    int16_t fdCount = 0;
    // Tuning, in this order (values as the font sets them):
    int32_t fitHorizontalStems = 1;  // 1: fit horizontal stems and the alignment zones (y)
    int32_t fitVerticalStems = 1;    // 1: fit vertical stems (x)
    int32_t minHintedPpem = 0;       // sizes up to this one are scaled plainly
    int32_t stdWidthSnap = 16;       // 26.6 pixels: a stem this close to a standard width takes its width
    int32_t flatTolerance = 4;       // 26.6 font units: coordinates this close count as level
    int32_t minCounter = 16;         // 26.6 pixels: a gap between stems this wide is kept at least a pixel
    int32_t maxStemWidth = 0;        // font units: wider stems are fitted as two separate edges
    int32_t maxHintedPpem = 256;     // sizes from this one on are scaled plainly
    int32_t spareTuning = 16;        // kept in the record's layout; not consulted
    int32_t maxSnappedWidth = 256;   // 26.6 pixels: stems this wide are not snapped to a standard width
    int32_t preparedFd = -1;         // the Font DICT `prepared` holds for the current size; -1 none
    int32_t maxZoneHeight = 0;       // font units (unitsPerEm / 2): taller alignment zones are ignored

    // The current size and glyph.
    uint16_t yPpem = 0;
    uint16_t xPpem = 0;
    const HintRecord* hints = nullptr;
    CffScaledDict prepared;

    // The work area: stems, edge maps and zone segments of the glyph being scaled (docs/hinting.md gives the
    // layout). kHintWorkAreaUnit bytes at first; replaced by a larger multiple of it when an outline needs
    // more.
    uint8_t* workArea = nullptr;
    uint32_t workSize = 0;

    // Makes the work area at least `bytes` long (a new area, a multiple of kHintWorkAreaUnit, when it is
    // shorter; its contents are not kept). 0 or kOutOfMemory.
    [[nodiscard]] int16_t ensureWorkArea(uint64_t bytes);
    // Brings Font DICT `fd`'s zones and standard widths to the current size in `prepared` (nothing when fd is
    // not a Font DICT of the font: no zones, no standard widths).
    void prepareDict(int32_t fd);

private:
    CffHintingScaler() = default;
    [[nodiscard]] int16_t scalePlain(GlyphOutline& source, GlyphOutline* destination);
    uint32_t sizeSerial = 0;      // changes with every setSize
    uint32_t preparedSerial = 0;  // the sizeSerial `prepared` was made for
};
