// The CFF hinting scaler. Per glyph, in the work area:
//   1. each stem of the hint record is fitted: its width rounded to whole pixels (or to the standard width
//      of the Private DICT when it is close to it), its edges placed on pixel boundaries, an edge in an
//      alignment zone on the zone's rounded flat edge, an edge it shares with a stem fitted before it where
//      that one put it; then counters of at least minCounter are opened to a pixel, once for the glyph;
//      every fitted edge stays within one pixel of where plain scaling puts it;
//   2. zone segments: the local highs and lows of the outline that lie in a top or bottom zone become edges
//      of their own, fitted to the zone (so the flat tops of x, v, w line up whether or not they are hinted);
//   3. per direction, one table of the glyph's edges (stem edges and, for y, zone segments) sorted by their
//      position in font units. For each hint mask in force: the edges on alignment zones and the edges of
//      stems an earlier mask placed (anchors) keep their rows, and the other edges of the stems in force are
//      swept from bottom to top between them so that the map never folds (order kept, strokes at least a
//      pixel, counters opened where there is room); a stem keeps the rows it is given first;
//      the edges of the stems the mask switches off join as weak edges that move nothing, each where it lies
//      outside the stems in force and its row keeps the map in order;
//   4. every coordinate goes through the map of its direction: on an edge it takes the edge's fitted
//      position, between two edges it moves by the linear blend of their moves, outside them by the move of
//      the nearest one. Moves are at most one pixel, so no point moves more than one pixel.
// docs/hinting.md has the rules in full, with pictures.
#include "cff/CffHintingScaler.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cff/CffFont.h"

namespace {

constexpr int64_t kPixel = 64;
constexpr int32_t kBottomGhostWidth = -21 * 64;  // a stem width of -21 units marks a bottom ghost edge

inline int64_t floorPixel(int64_t v) {
    return v & ~int64_t(63);
}
inline int64_t ceilPixel(int64_t v) {
    return (v + 63) & ~int64_t(63);
}
inline int64_t roundPixel(int64_t v) {
    return (v + 32) & ~int64_t(63);
}

inline int32_t clampInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

// What the plain scaler makes of a 26.6 font-unit value: size x value / unitsPerEm truncated toward zero,
// clamped to the 32-bit range.
inline int32_t plainScale(int64_t value, int64_t size, int64_t unitsPerEm) {
    return clampInt32(value * size / unitsPerEm);
}

// plainScale for one axis without a division per value: n / em as n x m / 2^64 with m = floor(2^64 / em) + 1,
// exact for every n below 2^47 (it exceeds n / em by less than 2^-17, less than the 1 / em between n / em
// and the next integer), and |value| x size is below 2^47.
__extension__ typedef unsigned __int128 Wide;
class AxisScale {
public:
    void set(int64_t size, int64_t em) {
        m_size = uint64_t(size);
        m_one = em == 1;
        m_reciprocal = em > 1 ? uint64_t(~uint64_t(0) / uint64_t(em)) + 1 : 0;
    }
    int32_t operator()(int32_t value) const {
        const uint64_t magnitude = value < 0 ? 0u - uint64_t(int64_t(value)) : uint64_t(value);
        const uint64_t n = magnitude * m_size;
        const uint64_t q = m_one ? n : uint64_t((Wide(n) * m_reciprocal) >> 64);
        const uint64_t limit = value < 0 ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX);
        const uint64_t clamped = q > limit ? limit : q;
        return value < 0 ? int32_t(0u - uint32_t(clamped)) : int32_t(clamped);
    }

private:
    uint64_t m_size = 0;
    bool m_one = false;
    uint64_t m_reciprocal = 0;
};

// The window of an edge whose plain-scaled position is `plain` (a 32-bit value): the whole pixels within one
// pixel of it that a 32-bit coordinate can hold. Never empty.
inline int64_t windowLow(int64_t plain) {
    return std::max(ceilPixel(plain - kPixel), ceilPixel(INT32_MIN));
}
inline int64_t windowHigh(int64_t plain) {
    return std::min(floorPixel(plain + kPixel), floorPixel(INT32_MAX));
}

// The grid position nearest to `fit` in the window of `plain`.
inline int64_t clampToWindow(int64_t fit, int64_t plain) {
    const int64_t lo = windowLow(plain), hi = windowHigh(plain);
    return fit < lo ? lo : (fit > hi ? hi : fit);
}

// Kinds of fitted stems.
enum : uint8_t {
    kStemPair = 0,       // two edges kept a fitted width apart
    kStemSplit = 1,      // two edges fitted each on its own (a stem wider than maxStemWidth)
    kSingleBottom = 2,   // one edge that bottom zones capture (a bottom ghost)
    kSingleTop = 3,      // one edge that top zones capture (a top ghost)
    kSingleNeutral = 4,  // one edge that no zone captures (a stem of width 0)
};
// Roles of edges.
enum : uint8_t { kEdgeSingle = 0, kEdgeLow = 1, kEdgeHigh = 2, kAnchor = 4 };
constexpr uint8_t kAlwaysInForce = 0xFF;

struct FittedStem {
    int32_t lowOrig, highOrig;    // 26.6 font units (equal for a single edge)
    int32_t lowPlain, highPlain;  // plain-scaled, 26.6 pixels
    int32_t lowFit, highFit;      // fitted: whole pixels
    int32_t sweptLow;             // the low edge as the current sweep left it
    int16_t record;               // the stem's index in the hint record: its hint-mask bit
    uint8_t kind;
    uint8_t anchors;  // kLowAnchor, kHighAnchor: the edge sits on an alignment zone
};
static_assert(sizeof(FittedStem) == 32);
constexpr uint8_t kLowAnchor = 1, kHighAnchor = 2;

// An edge of a direction's table.
struct GlyphEdge {
    int32_t orig;    // 26.6 font units
    int32_t plain;   // plain-scaled, 26.6 pixels
    int32_t fit;     // its own fit: a whole pixel within one pixel of `plain`
    int16_t stem;    // index among the glyph's fitted stems; kSegmentEdge for a zone segment
    uint8_t record;  // the stem's index in the hint record (its mask bit); kAlwaysInForce for a segment
    uint8_t flags;   // the role while its stem is in force (kEdgeLow / kEdgeHigh for the edges of a pair),
                     // and kAnchor: on an alignment zone (a zone segment, or a stem edge a zone captured)
    uint8_t role() const { return flags & 3; }
    bool anchor() const { return (flags & kAnchor) != 0; }
};
static_assert(sizeof(GlyphEdge) == 16);
constexpr int16_t kSegmentEdge = 0x7FFF;

struct ZoneSegment {
    int32_t orig;  // 26.6 font units
    int32_t fit;   // whole pixels
};
static_assert(sizeof(ZoneSegment) == 8);

constexpr uint32_t kMaxStemEdges = 2 * kType2MaxStems;

// A hint mask as a set of stems: its bytes read big-endian, so that stem i (bit i, most significant bit
// first) is bit 63 - i of the value.
inline uint64_t stemSet(const uint8_t* mask) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < kType2MaxMaskBytes; ++i) v = (v << 8) | mask[i];
    return v;
}
// The stems first .. first + count - 1 (first + count <= 64).
inline uint64_t stemRange(uint32_t first, uint32_t count) {
    return count == 0
               ? 0
               : (~uint64_t(0) >> first) & ~(count + first >= 64 ? 0 : ~uint64_t(0) >> (first + count));
}

constexpr int64_t kNoCoordinate = INT64_MIN;  // no 32-bit coordinate equals it
// The map search compares a coordinate with kMapBlock map positions at a time; the kMapBlock positions after
// the high sentinel are INT32_MAX.
constexpr uint32_t kMapBlock = 16;
constexpr uint32_t kMapBlocksCounted = 4;  // longer maps are searched by bisection

// One direction's table and the map the mask in force makes of it. The table: the glyph's edges of the
// direction sorted by position, made once per glyph. The map: the included edges in position order, between
// two sentinels at INT32_MIN (index 0) and INT32_MAX (index count + 1), whose moves are those of the first
// and the last included edge (0 when there is none); made again when the stems in force change. Without
// fitting in a direction, n and count are 0.
struct Direction {
    GlyphEdge* edges = nullptr;  // n, sorted by position (stem order where equal)
    uint32_t n = 0;
    uint8_t* inForce = nullptr;    // per edge: 1 while in force (a zone segment always)
    uint32_t* strong = nullptr;    // the sweep: the edges in force, in order
    int32_t* strongFit = nullptr;  // and their fits
    int32_t* at = nullptr;         // the map: positions (font units), then kMapBlock x INT32_MAX
    int32_t* fit = nullptr;        // fitted positions
    int32_t* move = nullptr;       // fit minus plain-scaled position
    uint32_t count = 0;            // included edges
    AxisScale scale;               // plainScale at ppem
    uint64_t stems = 0;            // this direction's stems in the record
    uint64_t builtFor = 0;         // the stems in force the map was made for
    // The last coordinate mapped (kNoCoordinate: none since the map was made) and its result.
    int64_t lastIn = kNoCoordinate;
    int32_t lastOut = 0;
    int32_t plainMin = 0, plainMax = 0;  // INT32_MIN and INT32_MAX plain-scaled: the sentinels' positions
};

inline uint64_t align8(uint64_t bytes) {
    return (bytes + 7) & ~uint64_t(7);
}

// Lays out the work area (or, with base null, only measures it): per direction the edge table and its
// arrays for `edges` edges, the mask starts and the zone segments. Returns the bytes used.
//   FittedStem  stems[64]            the y stems sorted, then the x stems sorted
//   x direction for 128 edges        edges, inForce, strong, strongFit, then the map: at, fit, move
//   uint32_t    maskStart[maskCount]
//   ZoneSegment segments[S]          sorted by position, one per position
//   y direction for 128 + S edges    as the x direction
uint64_t layOutWorkArea(uint8_t* base, uint32_t maskCount, uint32_t segments, FittedStem** stems,
                        Direction& x, Direction& y, uint32_t** maskStart, ZoneSegment** segmentArray) {
    uint64_t at = 0;
    auto take = [&](uint64_t bytes) {
        uint8_t* p = base ? base + at : nullptr;
        at += align8(bytes);
        return p;
    };
    auto direction = [&](Direction& d, uint64_t edges) {
        const uint64_t entries = edges + 2 + kMapBlock;  // the sentinels, the block after them
        d.edges = reinterpret_cast<GlyphEdge*>(take(edges * sizeof(GlyphEdge)));
        d.inForce = take(edges);
        d.strong = reinterpret_cast<uint32_t*>(take(edges * 4));
        d.strongFit = reinterpret_cast<int32_t*>(take(edges * 4));
        d.at = reinterpret_cast<int32_t*>(take(entries * 4));
        d.fit = reinterpret_cast<int32_t*>(take(entries * 4));
        d.move = reinterpret_cast<int32_t*>(take(entries * 4));
    };
    *stems = reinterpret_cast<FittedStem*>(take(kType2MaxStems * sizeof(FittedStem)));
    direction(x, kMaxStemEdges);
    *maskStart = reinterpret_cast<uint32_t*>(take(uint64_t(maskCount) * 4));
    *segmentArray = reinterpret_cast<ZoneSegment*>(take(uint64_t(segments) * sizeof(ZoneSegment)));
    direction(y, kMaxStemEdges + uint64_t(segments));
    return at;
}

// Bytes of the work area for a glyph with `maskCount` masks and `segments` zone segments.
uint64_t workAreaNeed(uint32_t maskCount, uint32_t segments) {
    FittedStem* stems;
    Direction x, y;
    uint32_t* starts;
    ZoneSegment* array;
    return layOutWorkArea(nullptr, maskCount, segments, &stems, x, y, &starts, &array);
}

// Stable insertion sort by position: the lists are short and mostly sorted already.
void sortEdges(GlyphEdge* edges, uint32_t count) {
    for (uint32_t i = 1; i < count; ++i) {
        const GlyphEdge e = edges[i];
        uint32_t j = i;
        while (j > 0 && edges[j - 1].orig > e.orig) {
            edges[j] = edges[j - 1];
            --j;
        }
        edges[j] = e;
    }
}

// Fits one glyph: everything lives in the scaler's work area and on the stack.
class HintFitter {
public:
    HintFitter(CffHintingScaler& scaler, const HintRecord& hints) : m_scaler(scaler), m_hints(hints) {}
    [[nodiscard]] int16_t run(GlyphOutline& source, GlyphOutline* destination);

private:
    void layOut(uint32_t segmentCapacity);
    uint32_t collectSegments(const GlyphOutline& source);
    void collectContour(const GlyphOutline& source, uint32_t first, uint32_t end, uint32_t& count);
    void addSegment(int32_t y, bool top, uint32_t& count);
    bool zoneFit(int32_t orig, bool top, int64_t& fit) const;
    void fitStems(uint32_t firstRecord, uint32_t count, bool vertical, FittedStem* out);
    int64_t fitWidth(int64_t width, bool vertical) const;
    void makeTable(Direction& d, uint32_t firstStem, uint32_t stemCount, const ZoneSegment* segments,
                   uint32_t segmentCount);
    void computeMaskStarts(const GlyphOutline& source);
    void selectMask(uint32_t entry);
    void buildMap(Direction& d, uint64_t inForceSet);
    void sweep(Direction& d, uint32_t strongCount, bool allAnchors) const;
    static void setSentinels(Direction& d);
    int32_t mapValue(Direction& d, int32_t v) const {
        if (v == d.lastIn) return d.lastOut;
        d.lastIn = v;
        return d.lastOut = lookUp(d, v);
    }
    static int32_t lookUp(const Direction& d, int32_t v);
    bool fitEntry(const OutlinePoint& in, OutlinePoint& out, uint32_t entry);

    CffHintingScaler& m_scaler;
    const HintRecord& m_hints;
    const CffScaledDict& m_dict = m_scaler.prepared;
    int64_t m_em = 0, m_yPpem = 0, m_xPpem = 0;
    bool m_doY = false, m_doX = false;

    FittedStem* m_stems = nullptr;
    Direction m_y, m_x;
    uint32_t* m_maskStart = nullptr;
    ZoneSegment* m_segments = nullptr;
    uint32_t m_segmentCapacity = 0, m_segmentCount = 0;
    uint32_t m_yStemCount = 0, m_xStemCount = 0;
    uint32_t m_maskCount = 0;
    int64_t m_currentMask = -2;  // -1: every stem on; -2: no map built yet
    uint32_t m_rangeBegin = 0, m_rangeEnd = 0;
};

void HintFitter::layOut(uint32_t segmentCapacity) {
    layOutWorkArea(m_scaler.workArea, m_maskCount, segmentCapacity, &m_stems, m_x, m_y, &m_maskStart,
                   &m_segments);
    m_segmentCapacity = segmentCapacity;
}

// The zone that captures an edge at `orig` (top edges: top zones; bottom edges: bottom zones; the nearest
// flat edge when zones overlap), and where the edge goes: on the zone's rounded flat edge while overshoots
// are suppressed; above that size an overshoot keeps its rounded depth, and one of at least BlueShift units
// is at least a pixel deep.
bool HintFitter::zoneFit(int32_t orig, bool top, int64_t& fit) const {
    int best = -1;
    int64_t bestDistance = 0;
    for (int k = 0; k < m_dict.zoneCount; ++k) {
        const CffBlueZone& z = m_dict.zones[k];
        if ((z.isTop != 0) != top) continue;
        if (orig < int64_t(z.bottom) - m_dict.blueFuzz || orig > int64_t(z.top) + m_dict.blueFuzz) continue;
        const int64_t distance = orig > z.flat ? int64_t(orig) - z.flat : int64_t(z.flat) - orig;
        if (best < 0 || distance < bestDistance) best = k, bestDistance = distance;
    }
    if (best < 0) return false;
    fit = m_dict.zoneFit[best];
    if (m_dict.suppressOvershoot) return true;
    const CffBlueZone& z = m_dict.zones[best];
    const int64_t depth = top ? int64_t(orig) - z.flat : int64_t(z.flat) - orig;
    if (depth <= 0) return true;
    int64_t pixels = roundPixel(depth * m_yPpem / m_em);
    if (pixels == 0 && depth >= m_dict.blueShift) pixels = kPixel;
    fit += top ? pixels : -pixels;
    return true;
}

// A stem's fitted width: the Font DICT's standard width when the stem is within stdWidthSnap of it (and
// narrower than maxSnappedWidth), else its own width rounded; never below one pixel. The standard width is
// the first of the kept widths (StdHW, or StemSnapH's first operand): the later ones are StemSnap operands
// as the DICT stores them, each the difference to the one before, so they are no widths on their own.
int64_t HintFitter::fitWidth(int64_t width, bool vertical) const {
    const int16_t count = vertical ? m_dict.stemHCount : m_dict.stemVCount;
    const int32_t standard = vertical ? m_dict.stemH[0] : m_dict.stemV[0];
    if (count > 0 && width < m_scaler.maxSnappedWidth) {
        const int64_t d = width > standard ? width - standard : int64_t(standard) - width;
        if (d <= m_scaler.stdWidthSnap) return vertical ? m_dict.stemHPixels[0] : m_dict.stemVPixels[0];
    }
    return std::max<int64_t>(kPixel, roundPixel(width));
}

// Fits the stems record[firstRecord .. firstRecord + count) of one direction (vertical = the y direction,
// horizontal stems) into out[], sorted by position, ties by the far edge.
void HintFitter::fitStems(uint32_t firstRecord, uint32_t count, bool vertical, FittedStem* out) {
    const AxisScale& scale = vertical ? m_y.scale : m_x.scale;  // plainScale at this direction's size
    const int64_t maxWidth = int64_t(m_scaler.maxStemWidth) * 64;
    for (uint32_t i = 0; i < count; ++i) {
        const Stem& s = m_hints.stems[firstRecord + i];
        FittedStem& f = out[i];
        f = FittedStem{};
        f.record = int16_t(firstRecord + i);
        if (s.width <= 0) {
            f.kind =
                s.width == 0 ? kSingleNeutral : (s.width == kBottomGhostWidth ? kSingleBottom : kSingleTop);
            f.lowOrig = f.highOrig = s.position;
        } else {
            f.kind = s.width > maxWidth ? kStemSplit : kStemPair;
            f.lowOrig = s.position;
            f.highOrig = clampInt32(int64_t(s.position) + s.width);
        }
        f.lowPlain = scale(f.lowOrig);
        f.highPlain = scale(f.highOrig);
    }
    // Sorted by position, ties by the far edge (insertion sort: 64 stems at most).
    for (uint32_t i = 1; i < count; ++i) {
        const FittedStem e = out[i];
        uint32_t j = i;
        while (j > 0 && (out[j - 1].lowOrig > e.lowOrig ||
                         (out[j - 1].lowOrig == e.lowOrig && out[j - 1].highOrig > e.highOrig))) {
            out[j] = out[j - 1];
            --j;
        }
        out[j] = e;
    }

    // Fitted in that order. An edge that an earlier stem shares (the same position) takes the position that
    // stem gave it: stems that share an edge, as hint masks often switch between, agree on it.
    // The positions fitted so far, in a small open-addressed table (at most a quarter full: 2 x count edges
    // in at least 4 x 2 x count slots, up to 512 for 64 stems), the first fit kept for each position.
    constexpr uint32_t kSharedSlots = 4 * kMaxStemEdges;
    int32_t sharedOrig[kSharedSlots], sharedFit[kSharedSlots];
    uint8_t sharedUsed[kSharedSlots];
    uint32_t slotBits = 3;
    while ((1u << slotBits) < 8 * count && (1u << slotBits) < kSharedSlots) ++slotBits;
    const uint32_t slotMask = (1u << slotBits) - 1;
    std::memset(sharedUsed, 0, size_t(slotMask) + 1);
    auto slotOf = [&](int32_t orig) {
        uint32_t h = (uint32_t(orig) * 0x9E3779B1u) >> (32 - slotBits);
        while (sharedUsed[h] && sharedOrig[h] != orig) h = (h + 1) & slotMask;
        return h;
    };
    auto find = [&](int32_t orig, int64_t& fit) {
        const uint32_t h = slotOf(orig);
        if (!sharedUsed[h]) return false;
        fit = sharedFit[h];
        return true;
    };
    auto keep = [&](int32_t orig, int64_t fit) {
        const uint32_t h = slotOf(orig);
        if (!sharedUsed[h]) sharedUsed[h] = 1, sharedOrig[h] = orig, sharedFit[h] = int32_t(fit);
    };
    const bool zones = vertical && m_dict.zoneCount > 0;
    for (uint32_t i = 0; i < count; ++i) {
        FittedStem& f = out[i];
        int64_t low = 0, high = 0;
        if (f.kind != kStemPair) {
            // One edge, or two that do not hold each other: each on its zone, where an earlier stem put it,
            // or on the nearest pixel.
            const bool bottomZone = f.kind == kSingleBottom || f.kind == kStemSplit;
            const bool topZone = f.kind == kSingleTop;
            if ((zones && bottomZone && zoneFit(f.lowOrig, false, low)) ||
                (zones && topZone && zoneFit(f.lowOrig, true, low)))
                f.anchors |= kLowAnchor;
            else if (!find(f.lowOrig, low))
                low = roundPixel(f.lowPlain);
            high = low;
            if (f.kind == kStemSplit) {
                if (zones && zoneFit(f.highOrig, true, high))
                    f.anchors |= kHighAnchor;
                else if (!find(f.highOrig, high))
                    high = roundPixel(f.highPlain);
            }
            f.lowFit = int32_t(clampToWindow(low, f.lowPlain));
            f.highFit = f.kind == kStemSplit ? int32_t(clampToWindow(high, f.highPlain)) : f.lowFit;
            keep(f.lowOrig, f.lowFit);
            keep(f.highOrig, f.highFit);
            continue;
        }
        const int64_t b = f.lowPlain, t = f.highPlain;
        const int64_t width = fitWidth(t - b, vertical);
        int64_t zb = 0, zt = 0;
        const bool inBottom = zones && zoneFit(f.lowOrig, false, zb);
        const bool inTop = zones && zoneFit(f.highOrig, true, zt);
        f.anchors = uint8_t((inBottom ? kLowAnchor : 0) | (inTop ? kHighAnchor : 0));
        // A fixed edge: on its zone, or (shared) where a stem fitted before put it.
        int64_t sb = zb, st = zt;
        const bool lowShared = !inBottom && find(f.lowOrig, sb);
        const bool highShared = !inTop && find(f.highOrig, st);
        auto place = [&](bool lowFixed, bool highFixed) {
            if (lowFixed && highFixed) {
                low = sb, high = st;
            } else if (lowFixed) {
                low = sb, high = sb + width;
            } else if (highFixed) {
                low = st - width, high = st;
            } else {
                // Centred on the stem's own centre, its low edge on a pixel boundary.
                low = roundPixel((b + t - width) >> 1);
                high = low + width;
            }
            low = clampToWindow(low, b);
            high = clampToWindow(high, t);
            if (lowFixed || highFixed) {
                // The fixed edge keeps its row; the other edge goes as far as its window lets it, which can
                // leave a stroke that lies within a pixel of a zone thinner than a pixel (an overshoot
                // suppressed). Only two fixed edges the wrong way round (zones that cross) can invert it.
                if (high < low) {
                    high = clampToWindow(low, t);
                    low = std::min(low, high);
                }
            } else if (high - low < kPixel) {
                // The windows left less than a pixel: the low edge down, the high edge up, a pixel at least.
                low = clampToWindow(floorPixel(b), b);
                high = clampToWindow(std::max(ceilPixel(t), low + kPixel), t);
            }
        };
        place(inBottom || lowShared, inTop || highShared);
        // Sharing yields where it would take the stroke's last pixel and the zones alone would not.
        if (high - low < kPixel && (lowShared || highShared)) {
            const int64_t sharedLow = low, sharedHigh = high;
            place(inBottom, inTop);
            if (high - low <= sharedHigh - sharedLow) low = sharedLow, high = sharedHigh;
        }
        f.lowFit = int32_t(low);
        f.highFit = int32_t(high);
        keep(f.lowOrig, f.lowFit);
        keep(f.highOrig, f.highFit);
    }

    // Counters, once for the glyph (so that every mask finds the stems where the others do): from bottom
    // to top, a stem that begins at least minCounter above the end of the stem before it (and does not
    // overlap it) begins at least a pixel above it when both its edges can move up so; a stem that begins
    // where the stem before it begins moves with it. Edges on zones stay.
    const FittedStem* before = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        FittedStem& f = out[i];
        if (f.kind != kStemPair) continue;
        if (before && !(f.anchors & kLowAnchor)) {
            const int64_t width = int64_t(f.highFit) - f.lowFit;
            int64_t want = f.lowFit;
            if (f.lowOrig == before->lowOrig) {
                want = before->lowFit;
            } else if (f.lowOrig >= before->highOrig &&
                       int64_t(f.lowPlain) - before->highPlain >= m_scaler.minCounter &&
                       f.lowFit < int64_t(before->highFit) + kPixel) {
                want = int64_t(before->highFit) + kPixel;
            }
            if (want != f.lowFit && want <= windowHigh(f.lowPlain) && want >= windowLow(f.lowPlain) &&
                (f.anchors & kHighAnchor
                     ? int64_t(f.highFit) >= want
                     : want + width <= windowHigh(f.highPlain) && want + width >= windowLow(f.highPlain))) {
                f.lowFit = int32_t(want);
                if (!(f.anchors & kHighAnchor)) f.highFit = int32_t(want + width);
            }
        }
        before = &f;
    }
}

void HintFitter::addSegment(int32_t y, bool top, uint32_t& count) {
    int64_t fit = 0;
    if (!zoneFit(y, top, fit)) return;
    if (count < m_segmentCapacity) {
        m_segments[count].orig = y;
        m_segments[count].fit = int32_t(clampToWindow(fit, m_y.scale(y)));
    }
    ++count;
}

// The local highs and lows of one contour (a run of level points whose neighbours both lie lower, or both
// higher), walked as a closed loop over every point, control points included.
void HintFitter::collectContour(const GlyphOutline& source, uint32_t first, uint32_t end, uint32_t& count) {
    const int64_t tolerance = m_scaler.flatTolerance;
    int32_t ys[3];
    auto entryYs = [&](const OutlinePoint& p) -> uint32_t {
        switch (p.kind) {
            case kOutlineMove:
            case kOutlineLine:
                ys[0] = p.y;
                return 1;
            case kOutlineCubic:
                ys[0] = p.cy1, ys[1] = p.cy2, ys[2] = p.y;
                return 3;
            case kOutlineQuadratic:
                ys[0] = p.cy1, ys[1] = p.y;
                return 2;
            default:
                return 0;
        }
    };
    // The first point of the loop.
    uint32_t e = first;
    uint32_t n = 0;
    while (e < end && (n = entryYs(source.points[e])) == 0) ++e;
    if (e >= end) return;
    const int32_t y0 = ys[n - 1];
    const uint32_t startEntry = e;
    // Pass 1: the direction of the last step that is not level, going round the loop.
    int dir = 0;
    int64_t prev = y0;
    for (uint32_t k = startEntry + 1; k <= end; ++k) {
        const uint32_t m = k < end ? entryYs(source.points[k]) : (ys[0] = y0, 1u);
        for (uint32_t j = 0; j < m; ++j) {
            const int64_t d = int64_t(ys[j]) - prev;
            if (d > tolerance || d < -tolerance) dir = d > 0 ? 1 : -1;
            prev = ys[j];
        }
    }
    if (dir == 0) return;  // a level contour has no high or low
    // Pass 2: every change of direction ends a high (rising, then falling) or a low.
    prev = y0;
    for (uint32_t k = startEntry + 1; k <= end; ++k) {
        const uint32_t m = k < end ? entryYs(source.points[k]) : (ys[0] = y0, 1u);
        for (uint32_t j = 0; j < m; ++j) {
            const int64_t d = int64_t(ys[j]) - prev;
            if (d > tolerance || d < -tolerance) {
                const int next = d > 0 ? 1 : -1;
                if (next != dir) {
                    addSegment(int32_t(prev), dir > 0, count);
                    dir = next;
                }
            }
            prev = ys[j];
        }
    }
}

uint32_t HintFitter::collectSegments(const GlyphOutline& source) {
    // Only contours that reach into a zone can have a high or low in one.
    int64_t zoneLow = INT64_MAX, zoneHigh = INT64_MIN;
    for (int k = 0; k < m_dict.zoneCount; ++k) {
        zoneLow = std::min<int64_t>(zoneLow, int64_t(m_dict.zones[k].bottom) - m_dict.blueFuzz);
        zoneHigh = std::max<int64_t>(zoneHigh, int64_t(m_dict.zones[k].top) + m_dict.blueFuzz);
    }
    uint32_t count = 0;
    for (uint32_t c = 0; c < source.contourCount; ++c) {
        const uint32_t first = source.contourStart[c];
        const uint32_t end = std::min(source.contourStart[c + 1], source.pointCount);
        if (first >= end) continue;
        int32_t low = INT32_MAX, high = INT32_MIN;
        for (uint32_t i = first; i < end; ++i) {
            // y, and the control points' y of curves (their y again otherwise).
            const OutlinePoint& p = source.points[i];
            const bool curve = p.kind == kOutlineCubic || p.kind == kOutlineQuadratic;
            const int32_t c1 = curve ? p.cy1 : p.y;
            const int32_t c2 = p.kind == kOutlineCubic ? p.cy2 : p.y;
            low = std::min(low, std::min(p.y, std::min(c1, c2)));
            high = std::max(high, std::max(p.y, std::max(c1, c2)));
        }
        bool reaches = false;
        for (int k = 0; k < m_dict.zoneCount && !reaches; ++k)
            reaches = int64_t(m_dict.zones[k].bottom) - m_dict.blueFuzz <= high &&
                      int64_t(m_dict.zones[k].top) + m_dict.blueFuzz >= low;
        if (reaches && low <= zoneHigh && high >= zoneLow) collectContour(source, first, end, count);
    }
    return count;
}

// mask k applies from entry maskStart[k] on (never decreasing: a mask given for an earlier entry than the
// one before it starts where that one starts).

// A direction's table: the edges of stems[firstStem .. firstStem + stemCount) and the zone segments, sorted
// by position (stem order where equal, stem edges before segments), and the slot positions.
void HintFitter::makeTable(Direction& d, uint32_t firstStem, uint32_t stemCount, const ZoneSegment* segments,
                           uint32_t segmentCount) {
    uint32_t n = 0;
    for (uint32_t i = firstStem; i < firstStem + stemCount; ++i) {
        const FittedStem& s = m_stems[i];
        const bool pair = s.kind == kStemPair;
        const uint8_t record = uint8_t(s.record);
        d.edges[n++] = GlyphEdge{
            s.lowOrig, s.lowPlain,
            s.lowFit,  int16_t(i),
            record,    uint8_t((pair ? kEdgeLow : kEdgeSingle) | (s.anchors & kLowAnchor ? kAnchor : 0))};
        if (pair || s.kind == kStemSplit)
            d.edges[n++] = GlyphEdge{
                s.highOrig,
                s.highPlain,
                s.highFit,
                int16_t(i),
                record,
                uint8_t((pair ? kEdgeHigh : kEdgeSingle) | (s.anchors & kHighAnchor ? kAnchor : 0))};
    }
    sortEdges(d.edges, n);
    if (segmentCount > 0) {
        // Merged in from the back: the stem edges move up to make room.
        uint32_t a = n, b = segmentCount, to = n + segmentCount;
        while (b > 0) {
            if (a > 0 && d.edges[a - 1].orig > segments[b - 1].orig) {
                d.edges[--to] = d.edges[--a];
            } else {
                const ZoneSegment& z = segments[--b];
                d.edges[--to] =
                    GlyphEdge{z.orig, d.scale(z.orig), z.fit, kSegmentEdge, kAlwaysInForce, kAnchor};
            }
        }
        n += segmentCount;
    }
    d.n = n;
    d.builtFor = 0;
    d.lastIn = kNoCoordinate;
    d.plainMin = d.scale(INT32_MIN);
    d.plainMax = d.scale(INT32_MAX);
    // Until a mask is applied (and for good, when the direction is not fitted): only the sentinels, which
    // move nothing.
    d.count = 0;
    setSentinels(d);
}

// The map's sentinels around its `count` included edges, and the block of positions after them.
void HintFitter::setSentinels(Direction& d) {
    const uint32_t count = d.count;
    d.at[0] = INT32_MIN;
    d.move[0] = count > 0 ? d.move[1] : 0;
    d.fit[0] = clampInt32(int64_t(d.plainMin) + d.move[0]);
    d.at[count + 1] = INT32_MAX;
    d.move[count + 1] = count > 0 ? d.move[count] : 0;
    d.fit[count + 1] = clampInt32(int64_t(d.plainMax) + d.move[count + 1]);
    for (uint32_t k = count + 2; k < count + 2 + kMapBlock; ++k) d.at[k] = INT32_MAX;
}

// mask k applies from entry maskStart[k] on (never decreasing: a mask given for an earlier entry than the
// one before it starts where that one starts).
void HintFitter::computeMaskStarts(const GlyphOutline& source) {
    uint32_t floor = 0;
    for (uint32_t k = 0; k < m_maskCount; ++k) {
        const HintMaskEntry& m = m_hints.masks[k];
        uint64_t start = source.pointCount;
        if (m.contourIndex <= source.contourCount)
            start = std::min<uint64_t>(uint64_t(source.contourStart[m.contourIndex]) + m.pointIndex, start);
        floor = std::max(floor, uint32_t(start));
        m_maskStart[k] = floor;
    }
}

// Makes the maps those of the mask in force at `entry`.
void HintFitter::selectMask(uint32_t entry) {
    // The last mask that starts at or before the entry.
    uint32_t lo = 0, hi = m_maskCount;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (m_maskStart[mid] <= entry)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int64_t k = int64_t(lo) - 1;
    m_rangeBegin = k < 0 ? 0 : m_maskStart[k];
    m_rangeEnd = uint64_t(k + 1) < m_maskCount ? m_maskStart[k + 1] : UINT32_MAX;
    const bool first = m_currentMask == -2;
    if (k == m_currentMask) return;
    m_currentMask = k;
    // A direction's map is made again only when the stems in force in that direction change.
    const uint64_t inForce = k < 0 ? ~uint64_t(0) : stemSet(m_hints.masks[k].mask);
    if (m_doY && (first || (inForce & m_y.stems) != m_y.builtFor)) buildMap(m_y, inForce & m_y.stems);
    if (m_doX && (first || (inForce & m_x.stems) != m_x.builtFor)) buildMap(m_x, inForce & m_x.stems);
}

// The sweep over the edges in force (in position order), which settles conflicts between the stems a mask
// puts in force. Anchors first: they keep their rows, only raised where one would fall below the anchor
// before it. Then every other edge from bottom to top, between the anchor below and the anchor above (which
// it never passes): never below the edge before it; the high edge of a stem keeps its fitted distance to the
// low edge (at least a pixel) as far as its window and the next anchor allow. Every fit stays on the grid
// and within its one-pixel window: an edge's window reaches the windows of the edges on both sides of it,
// since the table is sorted.
void HintFitter::sweep(Direction& d, uint32_t count, bool allAnchors) const {
    const uint32_t* strong = d.strong;
    int32_t* fit = d.strongFit;
    const GlyphEdge* edges = d.edges;
    int64_t last = INT64_MIN;
    for (uint32_t j = 0; j < count; ++j) {
        if (!edges[strong[j]].anchor()) continue;
        if (fit[j] < last) fit[j] = int32_t(last);
        last = fit[j];
    }
    // Every map after the first that puts each of these stems in force ends here (nothing reads sweptLow).
    if (allAnchors) return;
    uint32_t next = 0;  // the next anchor at or after j
    while (next < count && !edges[strong[next]].anchor()) ++next;
    for (uint32_t j = 0; j < count; ++j) {
        const GlyphEdge& e = edges[strong[j]];
        if (j == next) {
            do ++next;
            while (next < count && !edges[strong[next]].anchor());
        } else {
            const int64_t cap = next < count ? fit[next] : INT64_MAX;
            const int64_t hi = std::min(windowHigh(e.plain), cap);
            int64_t f = fit[j];
            if (j > 0) f = std::max<int64_t>(f, fit[j - 1]);
            if (e.role() == kEdgeHigh) {
                const FittedStem& s = m_stems[e.stem];
                const int64_t want = int64_t(s.sweptLow) + (s.highFit - s.lowFit);
                if (f < want) f = std::min(want, hi);
            }
            fit[j] = int32_t(std::min(f, cap));
        }
        if (e.role() == kEdgeLow) m_stems[e.stem].sweptLow = fit[j];
    }
}

// A direction's map for the stems in force (a set of record indexes): the fits of the edges in force and of
// the zone segments, swept; the weak edges (of the stems switched off) that fit in; the sentinels.
void HintFitter::buildMap(Direction& d, uint64_t inForceSet) {
    const uint32_t n = d.n;
    d.builtFor = inForceSet;
    d.lastIn = kNoCoordinate;
    GlyphEdge* edges = d.edges;
    uint32_t* strong = d.strong;
    int32_t* strongFit = d.strongFit;
    uint8_t* inForce = d.inForce;
    uint32_t strongCount = 0, loose = 0;
    for (uint32_t k = 0; k < n; ++k) {
        const GlyphEdge& e = edges[k];
        // In force: a zone segment (record kAlwaysInForce, the only record of 64 or more) always, a stem edge
        // when bit 63 - record of the set is 1.
        const uint32_t on = ((e.record >> 6) | uint32_t((inForceSet << (e.record & 63)) >> 63)) != 0;
        inForce[k] = uint8_t(on);
        strong[strongCount] = k;
        strongFit[strongCount] = e.fit;
        strongCount += on;
        loose += on & uint32_t(!e.anchor());
    }
    sweep(d, strongCount, loose == 0);
    // One walk from bottom to top. A stem keeps the rows the first map that puts it in force gives it, in
    // every later map of the glyph (as an anchor) and as a weak edge: hint replacement never moves a stem
    // that stays in force, and a contour that runs through two masks stays whole. The weak edges join where
    // they lie outside every stem in force and their row keeps the map in order (not below the last edge
    // included, not above the next edge in force); the map interpolates between all included edges, so
    // that a contour that runs through two masks finds the same edges around it. A weak edge's fit is its
    // own (the sweep moves only edges in force), and anchoring changes only edges in force, so the weak
    // edges see what a separate anchoring pass would leave.
    uint32_t nextStrong = 0;       // the next edge in force, as an index into strong[]
    int64_t openHigh = INT64_MIN;  // the highest high edge of the stems in force met so far
    // The last included edge's position and fit (none yet: a position no edge has, a fit below every fit),
    // and the fit of the next edge in force (none left: above every fit).
    int64_t lastOrig = kNoCoordinate, lastFit = INT64_MIN;
    int64_t nextStrongFit = strongCount > 0 ? strongFit[0] : INT64_MAX;
    int32_t* at = d.at;
    int32_t* fit = d.fit;
    int32_t* move = d.move;
    uint32_t count = 0;
    for (uint32_t k = 0; k < n; ++k) {
        GlyphEdge& e = edges[k];
        int32_t f;
        if (inForce[k]) {
            f = strongFit[nextStrong];
            ++nextStrong;
            nextStrongFit = nextStrong < strongCount ? strongFit[nextStrong] : INT64_MAX;
            if (e.stem != kSegmentEdge && !e.anchor()) {
                e.fit = f;
                e.flags |= kAnchor;
            }
            if (e.role() == kEdgeLow) openHigh = std::max<int64_t>(openHigh, m_stems[e.stem].highOrig);
        } else {
            f = e.fit;
            if (!(e.orig >= openHigh && lastOrig != e.orig && lastFit <= f && f <= nextStrongFit)) continue;
        }
        ++count;
        at[count] = e.orig;
        fit[count] = f;
        move[count] = f - e.plain;
        lastOrig = e.orig;
        lastFit = f;
    }
    d.count = count;
    setSentinels(d);
}

// A coordinate through a direction's map: on an included edge its fitted position; between two included
// edges the plain-scaled value moved by the linear blend of the two edges' moves; below or above every one,
// moved as the nearest (the sentinels carry those moves). Runs for every coordinate, without a search state;
// the search has no branch per position.
inline int32_t HintFitter::lookUp(const Direction& d, int32_t v) {
    // a: the last map entry at or below v (the low sentinel, at INT32_MIN, always is), but not the high
    // sentinel: the number of included edges at or below v.
    const int32_t* at = d.at;
    const uint32_t count = d.count;
    uint32_t atOrBelow = 0;
    if (count > kMapBlocksCounted * kMapBlock) {
        // Long maps (zone segments by the hundred) are searched: the work stays logarithmic per coordinate.
        atOrBelow = uint32_t(std::upper_bound(at + 1, at + count + 1, v) - (at + 1));
    } else {
#if defined(__SSE2__)
        // at[1 ..] holds the included edges, then at least kMapBlock x INT32_MAX: count those at or below v,
        // a block of 16 at a time.
        const __m128i key = _mm_set1_epi32(v);
        for (uint32_t first = 1; first <= count; first += kMapBlock) {
            const __m128i* p = reinterpret_cast<const __m128i*>(at + first);
            __m128i above = _mm_cmpgt_epi32(_mm_loadu_si128(p), key);
            above = _mm_add_epi32(above, _mm_cmpgt_epi32(_mm_loadu_si128(p + 1), key));
            above = _mm_add_epi32(above, _mm_cmpgt_epi32(_mm_loadu_si128(p + 2), key));
            above = _mm_add_epi32(above, _mm_cmpgt_epi32(_mm_loadu_si128(p + 3), key));
            above = _mm_add_epi32(above, _mm_shuffle_epi32(above, 0x4E));
            above = _mm_add_epi32(above, _mm_shuffle_epi32(above, 0xB1));
            atOrBelow += kMapBlock - uint32_t(-_mm_cvtsi128_si32(above));
        }
#else
        for (uint32_t k = 1; k <= count; ++k) atOrBelow += at[k] <= v;
#endif
    }
    // v = INT32_MAX also counts the high sentinel and what follows it.
    const uint32_t a = std::min(atOrBelow, count);
    // On an edge: its fit. Between two: the blend, computed either way. Compilers choose between the two
    // with a branch; choosing with a mask instead measured 5% slower (the branch lets an on-edge coordinate
    // go on without waiting for the division).
    const int64_t low = at[a];
    const int32_t onEdge = d.fit[a];
    int64_t span = int64_t(at[a + 1]) - low;  // positive, but for v = INT32_MAX on the last edge
    span += span == 0;
    const int64_t moveA = d.move[a];
    const int64_t delta = int64_t(d.move[a + 1]) - moveA;  // at most 128 in magnitude
    const int64_t product = delta * (int64_t(v) - low);    // the distance is below 2^33
    const int64_t sign = product >> 63;                    // 0 or -1
    const uint64_t numerator = uint64_t((product ^ sign) - sign + span / 2);
    // Rounded, halves away from 0; in 32 bits where it fits (every span of a real glyph: below 2^24, which
    // keeps the numerator below 129 x 2^24).
    const int64_t magnitude = (numerator | uint64_t(span)) <= UINT32_MAX
                                  ? int64_t(uint32_t(numerator) / uint32_t(span))
                                  : int64_t(numerator / uint64_t(span));
    const int32_t blended = clampInt32(int64_t(d.scale(v)) + moveA + ((magnitude ^ sign) - sign));
    return low == v ? onEdge : blended;
}

// A contour's last entry `z` returns to its first entry `a` (both of a known kind).
inline bool returnsToStart(const OutlinePoint& a, const OutlinePoint& z) {
    return z.x == a.x && z.y == a.y && a.kind >= kOutlineMove && a.kind <= kOutlineQuadratic &&
           z.kind >= kOutlineMove && z.kind <= kOutlineQuadratic;
}

// One entry through the maps of the mask in force there; false for an unknown kind (copied unchanged).
// `out` may be `in`.
bool HintFitter::fitEntry(const OutlinePoint& in, OutlinePoint& out, uint32_t entry) {
    const int32_t kind = in.kind;
    if (kind < kOutlineMove || kind > kOutlineQuadratic) {
        out = in;
        return false;
    }
    if (entry - m_rangeBegin >= m_rangeEnd - m_rangeBegin || m_currentMask == -2) selectMask(entry);
    const int32_t x = in.x, y = in.y, cx1 = in.cx1, cy1 = in.cy1, cx2 = in.cx2, cy2 = in.cy2;
    out.kind = kind;
    if (kind == kOutlineCubic || kind == kOutlineQuadratic) {
        out.cx1 = mapValue(m_x, cx1), out.cy1 = mapValue(m_y, cy1);
        if (kind == kOutlineCubic)
            out.cx2 = mapValue(m_x, cx2), out.cy2 = mapValue(m_y, cy2);
        else
            out.cx2 = cx2, out.cy2 = cy2;
    } else {
        out.cx1 = cx1, out.cy1 = cy1, out.cx2 = cx2, out.cy2 = cy2;
    }
    out.x = mapValue(m_x, x);
    out.y = mapValue(m_y, y);
    return true;
}

int16_t HintFitter::run(GlyphOutline& source, GlyphOutline* destination) {
    CffHintingScaler& s = m_scaler;
    m_em = s.unitsPerEm;
    m_yPpem = s.yPpem;
    m_xPpem = s.xPpem;
    m_doY = s.fitHorizontalStems != 0 && s.yPpem > s.minHintedPpem && s.yPpem < s.maxHintedPpem;
    m_doX = s.fitVerticalStems != 0 && s.xPpem > s.minHintedPpem && s.xPpem < s.maxHintedPpem;

    // The hint record as it can be trusted: stem counts within the 64 stems, masks within the array.
    const uint32_t hCount = uint32_t(std::clamp<int32_t>(m_hints.hStemCount, 0, kType2MaxStems));
    const uint32_t vCount =
        uint32_t(std::clamp<int32_t>(m_hints.vStemCount, 0, int32_t(kType2MaxStems - hCount)));
    m_maskCount = m_hints.masks ? std::min(m_hints.maskCount, m_hints.maskCapacity) : 0;

    m_y.scale.set(m_yPpem, m_em);
    m_x.scale.set(m_xPpem, m_em);
    int16_t status = s.ensureWorkArea(workAreaNeed(m_maskCount, 0));
    if (status) return status;
    // Zone segments first: when they overflow the area it is replaced, and nothing else is in it yet.
    m_segmentCount = 0;
    if (m_doY && m_dict.zoneCount > 0) {
        // As many segments as the area holds (each needs 57 bytes or so: 8 for itself, 49 in the y table).
        uint32_t capacity = uint32_t((s.workSize - workAreaNeed(m_maskCount, 0)) / 64);
        while (capacity > 0 && workAreaNeed(m_maskCount, capacity) > s.workSize) --capacity;
        layOut(capacity);
        uint32_t found = collectSegments(source);
        if (found > m_segmentCapacity) {
            status = s.ensureWorkArea(workAreaNeed(m_maskCount, found));
            if (status) return status;
            layOut(found);
            found = collectSegments(source);
        }
        // Sorted, one per position.
        std::sort(m_segments, m_segments + found,
                  [](const ZoneSegment& a, const ZoneSegment& b) { return a.orig < b.orig; });
        uint32_t unique = 0;
        for (uint32_t i = 0; i < found; ++i)
            if (unique == 0 || m_segments[unique - 1].orig != m_segments[i].orig)
                m_segments[unique++] = m_segments[i];
        m_segmentCount = unique;
    } else {
        layOut(0);
    }

    m_yStemCount = m_doY ? hCount : 0;
    m_xStemCount = m_doX ? vCount : 0;
    m_y.stems = stemRange(0, hCount);
    m_x.stems = stemRange(hCount, vCount);
    fitStems(0, m_yStemCount, true, m_stems);
    fitStems(hCount, m_xStemCount, false, m_stems + m_yStemCount);
    makeTable(m_y, 0, m_yStemCount, m_segments, m_doY ? m_segmentCount : 0);
    makeTable(m_x, m_yStemCount, m_xStemCount, nullptr, 0);
    computeMaskStarts(source);
    m_currentMask = -2;
    m_rangeBegin = m_rangeEnd = 0;  // no range yet: the first entry selects its mask
    if (!destination || destination == &source) {
        // In place, every entry once, contour by contour (entries outside every contour as well). A contour
        // whose last point returns to its first point gets the first point's fitted position there too,
        // whichever masks the two were fitted under.
        OutlinePoint* points = source.points;
        uint32_t done = 0;
        auto fitRange = [&](uint32_t from, uint32_t to) {
            for (uint32_t i = from; i < to; ++i)
                if (!fitEntry(points[i], points[i], i)) status = KORV_FAIL(int16_t(kNoCharMap));
        };
        for (uint32_t c = 0; c < source.contourCount; ++c) {
            const uint32_t first = std::max(source.contourStart[c], done);
            const uint32_t end = std::min(source.contourStart[c + 1], source.pointCount);
            if (first >= end) continue;
            fitRange(done, first);
            const OutlinePoint a = points[first];
            const OutlinePoint z = points[end - 1];
            fitRange(first, end);
            done = end;
            if (end - first >= 2 && returnsToStart(a, z))
                points[end - 1].x = points[first].x, points[end - 1].y = points[first].y;
        }
        fitRange(done, source.pointCount);
        return status;
    }

    // Appended contour by contour, as the plain scaler appends.
    return appendContours(source, *destination, [&](uint32_t first, uint32_t count, OutlinePoint* out) {
        bool known = true;
        for (uint32_t i = 0; i < count; ++i) known &= fitEntry(source.points[first + i], out[i], first + i);
        if (count >= 2 && returnsToStart(source.points[first], source.points[first + count - 1]))
            out[count - 1].x = out[0].x, out[count - 1].y = out[0].y;
        return known;
    });
}

}  // namespace

void copyPrivateDict(const CffPrivateDict& source, CffHintingDict& out) {
    out = CffHintingDict();
    out.stemHCount = std::clamp<int16_t>(source.stemHCount, 0, kCffMaxPrivateStems);
    out.stemVCount = std::clamp<int16_t>(source.stemVCount, 0, kCffMaxPrivateStems);
    std::memcpy(out.stemH, source.stemH, sizeof(out.stemH));
    std::memcpy(out.stemV, source.stemV, sizeof(out.stemV));
    // BlueValues: the first pair is the baseline zone (a bottom zone), every later pair a top zone;
    // OtherBlues: bottom zones. A bottom zone's flat edge is its top, a top zone's its bottom. A later
    // BlueValues pair that lies at or below the baseline (top <= 0) is a bottom zone as well: fonts that put
    // a descender zone first list their baseline zone second, and no top zone lies below the baseline.
    auto add = [&](int32_t bottom, int32_t top, bool isTop) {
        if (bottom > top || out.zoneCount >= kCffMaxBlueZones) return;
        CffBlueZone& z = out.zones[out.zoneCount++];
        z.bottom = bottom, z.top = top, z.isTop = isTop ? 1 : 0;
        z.flat = isTop ? bottom : top;
    };
    const int16_t blues = std::clamp<int16_t>(source.blueValueCount, 0, kCffMaxBlueValues);
    for (int16_t i = 0; i + 1 < blues; i += 2)
        add(source.blueValues[i], source.blueValues[i + 1], i > 0 && source.blueValues[i + 1] > 0);
    const int16_t others = std::clamp<int16_t>(source.otherBlueCount, 0, kCffMaxOtherBlues);
    for (int16_t i = 0; i + 1 < others; i += 2) add(source.otherBlues[i], source.otherBlues[i + 1], false);
    out.blueScale = source.blueScale;
    out.blueShift = source.blueShift;
    out.blueFuzz = source.blueFuzz < 0 ? 0 : source.blueFuzz;
}

CffHintingScaler* CffHintingScaler::create(const CffFont& font) {
    CffHintingScaler* scaler = new (std::nothrow) CffHintingScaler();
    if (!scaler) return nullptr;
    const uint16_t upm = font.unitsPerEm;
    scaler->unitsPerEm = upm;
    scaler->ascender = font.os2.sTypoAscender != 0 ? font.os2.sTypoAscender : int32_t(upm) * 880 / 1000;
    const int16_t count = std::clamp<int16_t>(font.fdCount, 0, kCffMaxFontDicts);
    for (int16_t i = 0; i < count; ++i) copyPrivateDict(font.privateDicts[i], scaler->dicts[i]);
    scaler->fdCount = count;
    scaler->maxStemWidth = ((int32_t(upm) * 320 / 1000) + 63) & ~63;
    scaler->maxZoneHeight = upm / 2;
    if (scaler->ensureWorkArea(kHintWorkAreaUnit) != 0) {
        delete scaler;
        return nullptr;
    }
    return scaler;
}

OutlineScaler* CffFont::newScaler() {
    return CffHintingScaler::create(*this);
}

CffHintingScaler::~CffHintingScaler() {
    release();
}

void CffHintingScaler::release() {
    delete[] workArea;
    workArea = nullptr;
    workSize = 0;
    hints = nullptr;
}

void CffHintingScaler::reset() {
    hints = nullptr;
}

void CffHintingScaler::attachHints(const HintRecord* record) {
    hints = record;
}

void CffHintingScaler::setSize(uint16_t yPpemValue, uint16_t xPpemValue) {
    yPpem = yPpemValue;
    xPpem = xPpemValue;
    ++sizeSerial;
    preparedFd = -1;
}

int16_t CffHintingScaler::ensureWorkArea(uint64_t bytes) {
    if (workArea && bytes <= workSize) return 0;
    const uint64_t rounded = (bytes + kHintWorkAreaUnit - 1) / kHintWorkAreaUnit * kHintWorkAreaUnit;
    if (rounded > UINT32_MAX) return KORV_FAIL(int16_t(kOutOfMemory));
    // Replaced, not grown: nothing in the area outlives one glyph.
    delete[] workArea;
    workArea = new (std::nothrow) uint8_t[size_t(rounded)];
    workSize = workArea ? uint32_t(rounded) : 0;
    return workArea ? int16_t(0) : KORV_FAIL(int16_t(kOutOfMemory));
}

void CffHintingScaler::prepareDict(int32_t fd) {
    if (preparedFd == fd && preparedSerial == sizeSerial) return;
    preparedFd = fd;
    preparedSerial = sizeSerial;
    prepared = CffScaledDict();
    if (fd < 0 || fd >= fdCount || unitsPerEm == 0) return;
    const CffHintingDict& d = dicts[fd];
    const int64_t em = unitsPerEm;
    for (uint16_t k = 0; k < std::min<uint16_t>(d.zoneCount, kCffMaxBlueZones); ++k) {
        const CffBlueZone& z = d.zones[k];
        if (int64_t(z.top) - z.bottom > int64_t(maxZoneHeight) * 64) continue;  // not a zone any glyph has
        prepared.zones[prepared.zoneCount] = z;
        prepared.zoneFit[prepared.zoneCount] = clampInt32(roundPixel(plainScale(z.flat, yPpem, em)));
        ++prepared.zoneCount;
    }
    // Overshoots are suppressed while yPpem / unitsPerEm < blueScale / 65536.
    prepared.suppressOvershoot = int64_t(yPpem) * 65536 < int64_t(d.blueScale) * em ? 1 : 0;
    prepared.blueShift = d.blueShift;
    prepared.blueFuzz = d.blueFuzz;
    prepared.stemHCount = std::clamp<int16_t>(d.stemHCount, 0, kCffMaxPrivateStems);
    prepared.stemVCount = std::clamp<int16_t>(d.stemVCount, 0, kCffMaxPrivateStems);
    for (int16_t i = 0; i < prepared.stemHCount; ++i) {
        const int64_t w = plainScale(std::max(d.stemH[i], 0), yPpem, em);
        prepared.stemH[i] = int32_t(w);
        prepared.stemHPixels[i] = clampInt32(std::max<int64_t>(kPixel, roundPixel(w)));
    }
    for (int16_t i = 0; i < prepared.stemVCount; ++i) {
        const int64_t w = plainScale(std::max(d.stemV[i], 0), xPpem, em);
        prepared.stemV[i] = int32_t(w);
        prepared.stemVPixels[i] = clampInt32(std::max<int64_t>(kPixel, roundPixel(w)));
    }
}

int16_t CffHintingScaler::scalePlain(GlyphOutline& source, GlyphOutline* destination) {
    PlainScaler plain(unitsPerEm);
    plain.setSize(xPpem, yPpem);
    return plain.scaleOutline(source, destination);
}

int16_t CffHintingScaler::scaleOutline(GlyphOutline& source, GlyphOutline* destination) {
    if (!hints || unitsPerEm == 0 || source.contourCount > kMaxOutlineContours)
        return scalePlain(source, destination);
    prepareDict(hints->fdIndex);
    HintFitter fitter(*this, *hints);
    return fitter.run(source, destination);
}
