// Reference readers of 'cmap' subtables for tests, written from the formats' descriptions and independent
// of sfnt/CmapTable.cpp: the format-4 segment search exactly as the subtable's header guides it (by the
// stored searchRange, bounds-checked so that a wrong searchRange shows as a probe outside the array), a
// linear scan for the segments that hold a code, and the format-12 group bisection.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace cmapref {

inline uint32_t be16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
inline uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

struct Lookup {
    bool found = false;
    uint32_t glyph = 0;
    bool outside = false;  // a read would have left the table (or the endCode array, for the search)
};

// A format-4 subtable at `offset` of a 'cmap' table of `length` bytes (its arrays known to fit).
struct Format4 {
    const uint8_t* table;
    uint32_t length;
    uint32_t offset;

    uint32_t segCountX2() const { return be16(table + offset + 6); }
    uint32_t searchRange() const { return be16(table + offset + 8); }
    uint32_t segCount() const { return segCountX2() / 2; }
    uint32_t endAt() const { return offset + 14; }
    // Byte position p of an entry in the endCode array gives the same entry of the other arrays.
    uint32_t end(int64_t p) const { return be16(table + endAt() + p); }
    uint32_t start(int64_t p) const { return be16(table + endAt() + segCountX2() + 2 + p); }
    uint32_t idDelta(int64_t p) const { return be16(table + endAt() + 2 * segCountX2() + 2 + p); }
    uint32_t idRangeOffset(int64_t p) const { return be16(table + endAt() + 3 * segCountX2() + 2 + p); }

    // The right searchRange: 2 x the largest power of two <= segCount.
    uint32_t rightSearchRange() const { return segCount() ? 2 * std::bit_floor(segCount()) : 0; }

    // The bisection over the endCode array guided by `searchRange` (bytes): the first probe is entry
    // searchRange/2 - 1, the step (bytes) starts at searchRange/2 and halves after each probe; past the
    // array: down; end below the code: up; end at or above: match when code >= start, else down; a failed
    // probe with step < 2 ends it. Returns the byte position of the matching entry, or -1.
    int64_t search(uint32_t code, uint32_t searchRangeValue, bool& outside) const {
        outside = false;
        int64_t pos = 2 * (int64_t(searchRangeValue / 2) - 1);
        uint32_t step = searchRangeValue / 2;
        // Whole entries only: with an odd segCountX2 the last byte belongs to no entry.
        const int64_t arrayEnd = 2 * int64_t(segCount());
        for (;;) {
            bool down = true;
            if (pos < 0) {
                outside = true;
                return -1;
            }
            if (pos < arrayEnd && pos + 2 > arrayEnd) {  // an entry cut by the array's end (odd steps)
                outside = true;
                return -1;
            }
            if (pos < arrayEnd) {
                if (end(pos) < code)
                    down = false;
                else if (code >= start(pos))
                    return pos;
            }
            if (step < 2) return -1;
            pos += down ? -int64_t(step) : int64_t(step);
            step /= 2;
        }
    }

    // The glyph of the entry at byte position p for a code inside its segment.
    Lookup glyphAt(int64_t p, uint32_t code) const {
        Lookup r;
        if (end(p) == 0xFFFF) return r;
        const uint32_t delta = idDelta(p), rangeOffset = idRangeOffset(p);
        if (rangeOffset == 0) {
            r.found = true;
            r.glyph = (code + delta) & 0xFFFF;
            return r;
        }
        const uint64_t at =
            uint64_t(endAt()) + 3 * segCountX2() + 2 + p + rangeOffset + 2 * (code - start(p));
        if (at + 2 > length) {
            r.outside = true;
            return r;
        }
        const uint32_t value = be16(table + at);
        if (value == 0) return r;
        r.found = true;
        r.glyph = (value + delta) & 0xFFFF;
        return r;
    }

    // The whole lookup, searched with the given searchRange (the stored one by default).
    Lookup lookup(uint32_t code, int64_t searchRangeValue = -1) const {
        Lookup r;
        if (code >= 0x10000) return r;
        // segCountX2 1: no whole entry, nothing to search (and no right searchRange).
        if (segCount() == 0 && searchRangeValue == rightSearchRange()) return r;
        bool outside = false;
        const int64_t p =
            search(code, searchRangeValue < 0 ? searchRange() : uint32_t(searchRangeValue), outside);
        if (outside) {
            r.outside = true;
            return r;
        }
        return p < 0 ? r : glyphAt(p, code);
    }

    // Entries (indices) whose segment holds the code, in array order.
    std::vector<uint32_t> holding(uint32_t code) const {
        std::vector<uint32_t> found;
        for (uint32_t k = 0; k < segCount(); ++k)
            if (start(2 * k) <= code && code <= end(2 * k)) found.push_back(k);
        return found;
    }
};

// A format-12 subtable at `offset` (its groups known to fit).
struct Format12 {
    const uint8_t* table;
    uint32_t offset;
    uint32_t numGroups() const { return be32(table + offset + 12); }
    uint32_t start(uint32_t k) const { return be32(table + offset + 16 + 12 * uint64_t(k)); }
    uint32_t end(uint32_t k) const { return be32(table + offset + 20 + 12 * uint64_t(k)); }
    uint32_t glyphOf(uint32_t k, uint32_t code) const {
        return be32(table + offset + 24 + 12 * uint64_t(k)) + (code - start(k));
    }
    Lookup lookup(uint32_t code) const {
        Lookup r;
        uint32_t lo = 0, hi = numGroups();
        while (lo < hi) {
            const uint32_t mid = lo + (hi - lo) / 2;
            if (code < start(mid)) {
                hi = mid;
            } else if (code > end(mid)) {
                lo = mid + 1;
            } else {
                r.found = true;
                r.glyph = glyphOf(mid, code);
                return r;
            }
        }
        return r;
    }
};

}  // namespace cmapref
