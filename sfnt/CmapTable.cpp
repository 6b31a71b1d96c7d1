// The character map reader. Layout of the 'cmap' table and its subtable formats: see CmapTable.h.
//
// parse validates every subtable it keeps so that the lookups can read without further tests: each read
// below names the check in parse that covers it. All bound sums are 64-bit, so no offset, length or count
// taken from the file can wrap around and pass.
#include "sfnt/CmapTable.h"

#include <atomic>
#include <bit>

#include "sfnt/ByteReader.h"

namespace {

constexpr int16_t kFound = 0;
constexpr int16_t kAbsent = int16_t(kGlyphAbsent);

int16_t absent(uint32_t& glyph) {
    glyph = 0;
    return kAbsent;
}

// The search hint is one 64-bit value, loaded and stored whole, so a thread never sees parts of two.
uint64_t loadHint(const CmapSubtable& subtable) {
    return std::atomic_ref<uint64_t>(subtable.searchHint).load(std::memory_order_relaxed);
}

void storeHint(const CmapSubtable& subtable, uint64_t hint) {
    std::atomic_ref<uint64_t>(subtable.searchHint).store(hint, std::memory_order_relaxed);
}

// Format 0: 256 glyph bytes (parse: avail >= 256).
int16_t lookupFormat0(const CmapTable&, const CmapSubtable&, const uint8_t* data, uint32_t code,
                      uint32_t& glyph) {
    if (code >= 256) return absent(glyph);
    glyph = data[code];
    return kFound;
}

// Format 2: high byte -> subheader key, low byte through the subheader's range. parse checked, for every
// key in use (and always for high byte 0), that the subheader and the whole part of the glyph array its
// range can reach lie inside the table.
int16_t lookupFormat2(const CmapTable&, const CmapSubtable&, const uint8_t* data, uint32_t code,
                      uint32_t& glyph) {
    if (code >= 0x10000) return absent(glyph);
    const uint32_t high = code >> 8;
    const uint32_t key = loadU16(data + 2 * high);
    if (high != 0 && key == 0) return absent(glyph);
    const uint8_t* subHeader = data + 512 + key;
    const uint32_t firstCode = loadU16(subHeader);
    const uint32_t entryCount = loadU16(subHeader + 2);
    const uint32_t idDelta = loadU16(subHeader + 4);
    const uint32_t idRangeOffset = loadU16(subHeader + 6);
    const uint32_t low = code & 0xFF;
    if (low < firstCode || low - firstCode >= entryCount) return absent(glyph);
    // low - firstCode < min(entryCount, 256): inside what parse checked.
    const uint32_t value = loadU16(subHeader + 6 + idRangeOffset + 2 * (low - firstCode));
    if (value == 0) return absent(glyph);
    glyph = (value + idDelta) & 0xFFFF;
    return kFound;
}

// Format 4: segments [startCode, endCode] in four parallel arrays. The arrays lie at byte offsets built
// from segCountX2 as stored (parse: avail >= 4 * segCountX2 + 10).
struct Segments {
    const uint8_t* endCodes;
    const uint8_t* startCodes;
    const uint8_t* idDeltas;
    const uint8_t* idRangeOffsets;
    uint32_t count;

    Segments(const uint8_t* data, uint16_t segCountX2)
        : endCodes(data),
          startCodes(data + segCountX2 + 2),
          idDeltas(data + 2 * uint32_t(segCountX2) + 2),
          idRangeOffsets(data + 3 * uint32_t(segCountX2) + 2),
          count(segCountX2 / 2u) {}
    uint32_t end(uint32_t k) const { return loadU16(endCodes + 2 * k); }
    uint32_t start(uint32_t k) const { return loadU16(startCodes + 2 * k); }

    // The first segment in [first, last) whose end is at or above `code`, or last.
    uint32_t lowerBound(uint32_t first, uint32_t last, uint32_t code) const {
        if (first >= last) return last;
        uint32_t base = first, n = last - first;
        while (n > 1) {
            const uint32_t half = n / 2;
            base = end(base + half) < code ? base + half : base;
            n -= half;
        }
        return base + (end(base) < code ? 1u : 0u);
    }
    // The same over all segments, for sorted ones, starting from the code's page (a code below 0x10000):
    // the answer is at or after the page's first segment and at or before the next page's.
    uint32_t pagedLowerBound(const CmapSubtable& subtable, uint32_t code) const {
        const uint32_t page = code >> kCmapPageShift;
        const uint32_t first = subtable.pageFirst[page];
        const uint32_t next = subtable.pageFirst[page + 1];
        return lowerBound(first, next < count ? next + 1 : count, code);
    }
};

// The bisection over the endCode array that the format's header describes: the first probe is entry
// range/2 - 1 and the step (in bytes) starts at range/2 and halves after each probe; a probe past the
// array steps down, one whose end is below the code steps up, one whose end is at or above the code
// matches when the code is at or above its start and otherwise steps down; a failed probe with a step
// below 2 ends the search. The first segment that holds the code on this path is the answer, which for
// unsorted or overlapping segments is not always the lowest such segment.
//
// The font's stored searchRange is redundant (2 x the largest power of two <= segCount) and not trusted:
// a wrong one would hide mapped characters and a large one would probe outside the array. The range is
// computed from segCount instead, which for every font whose searchRange is right is the same walk, and
// every probe is inside the array (it reaches entries 0 to 2 x 2^k - 2 at most, and those past the end
// only step down).
uint32_t bisectSegments(const Segments& segments, uint32_t code) {
    const uint32_t range = 2 * std::bit_floor(segments.count);  // count >= 1
    uint32_t probe = range / 2 - 1;
    uint32_t step = range / 2;
    for (;;) {
        bool down = true;
        if (probe < segments.count) {
            if (segments.end(probe) < code)
                down = false;
            else if (code >= segments.start(probe))
                return probe;
        }
        if (step < 2) return segments.count;
        // The walk never leaves [0, range - 2]: the steps below the first probe add up to range/2 - 1.
        probe = down ? probe - step / 2 : probe + step / 2;
        step /= 2;
    }
}

// The glyph of a code that segment k (ending at `end`) holds.
int16_t format4Glyph(const Segments& segments, uint32_t k, uint32_t end, uint32_t code, uint32_t& glyph) {
    // A segment ending at 0xFFFF maps nothing (it closes the table; parse did not check its range).
    if (end == 0xFFFF) return absent(glyph);
    const uint32_t idDelta = loadU16(segments.idDeltas + 2 * k);
    const uint32_t idRangeOffset = loadU16(segments.idRangeOffsets + 2 * k);
    if (idRangeOffset == 0) {
        glyph = (code + idDelta) & 0xFFFF;
        return kFound;
    }
    // parse: from idRangeOffset[k] to the table's end there are at least idRangeOffset + 2 x (end - start
    // + 1) bytes, and start <= code <= end here.
    const uint32_t value =
        loadU16(segments.idRangeOffsets + 2 * k + idRangeOffset + 2 * (code - segments.start(k)));
    if (value == 0) return absent(glyph);
    glyph = (value + idDelta) & 0xFFFF;
    return kFound;
}

int16_t lookupFormat4(const CmapTable&, const CmapSubtable& subtable, const uint8_t* data, uint32_t code,
                      uint32_t& glyph) {
    if (code >= 0x10000) return absent(glyph);
    const Segments segments(data, subtable.parameters[0]);
    if (segments.count == 0) return absent(glyph);
    if (!subtable.ordered) {
        const uint32_t k = bisectSegments(segments, code);
        return k < segments.count ? format4Glyph(segments, k, segments.end(k), code, glyph) : absent(glyph);
    }
    // Sorted, disjoint segments: the one segment that can hold the code is the first whose end is at or
    // above it, k, whose codes from the previous end + 1 to its own end the hint keeps as
    // (k << 32) | (low << 16) | high. Sequential codes mostly stay in that range or move to the next one.
    const uint64_t hint = loadHint(subtable);
    uint32_t k = uint32_t(hint >> 32);
    uint32_t low = uint32_t(hint >> 16) & 0xFFFF, high = uint32_t(hint) & 0xFFFF;
    if (code < low || code > high || k >= segments.count) {
        if (code > high && low <= high && k + 1 < segments.count && code <= segments.end(k + 1)) {
            ++k;
            low = high + 1;  // high < code <= 0xFFFF
        } else {
            k = segments.pagedLowerBound(subtable, code);
            if (k == segments.count) return absent(glyph);
            low = k ? segments.end(k - 1) + 1 : 0;
        }
        high = segments.end(k);
        storeHint(subtable, (uint64_t(k) << 32) | (low << 16) | high);
    }
    if (code < segments.start(k)) return absent(glyph);
    return format4Glyph(segments, k, high, code, glyph);
}

// Format 6: one dense range (parse: entryCount >= 1, avail >= 2 * entryCount + 4).
int16_t lookupFormat6(const CmapTable&, const CmapSubtable& subtable, const uint8_t* data, uint32_t code,
                      uint32_t& glyph) {
    const uint32_t firstCode = subtable.parameters[0];
    const uint32_t entryCount = subtable.parameters[1];
    if (code < firstCode || code - firstCode >= entryCount) return absent(glyph);
    glyph = loadU16(data + 2 * (code - firstCode));
    return kFound;
}

// Format 12: sorted groups of 12 bytes (parse: avail >= 12 * numGroups + 4; every group starts at or
// after the previous one's end and at or before its own end).
struct Groups {
    const uint8_t* data;
    uint32_t count;
    uint32_t start(uint32_t k) const { return loadU32(data + 12 * size_t(k)); }
    uint32_t end(uint32_t k) const { return loadU32(data + 12 * size_t(k) + 4); }
    uint32_t glyph(uint32_t k, uint32_t code) const {
        return loadU32(data + 12 * size_t(k) + 8) + (code - start(k));
    }
};

// lo = 0, hi = numGroups, mid = lo + (hi - lo) / 2: below the group sets hi = mid, above it lo = mid + 1.
// A code on the shared end of two groups goes to whichever of them this path meets first.
uint32_t bisectGroups(const Groups& groups, uint32_t code) {
    uint32_t lo = 0, hi = groups.count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (code < groups.start(mid))
            hi = mid;
        else if (code > groups.end(mid))
            lo = mid + 1;
        else
            return mid;
    }
    return groups.count;
}

int16_t lookupFormat12(const CmapTable&, const CmapSubtable& subtable, const uint8_t* data, uint32_t code,
                       uint32_t& glyph) {
    const Groups groups{data, (uint32_t(subtable.parameters[2]) << 16) | subtable.parameters[3]};
    if (subtable.ordered) {
        // Disjoint groups: try the group found last and the next one before bisecting.
        const uint64_t hint = loadHint(subtable);
        uint32_t k = hint < groups.count ? uint32_t(hint) : 0;
        if (code >= groups.start(k)) {
            if (code <= groups.end(k)) {
                glyph = groups.glyph(k, code);
                return kFound;
            }
            if (k + 1 < groups.count && code <= groups.end(k + 1)) {
                storeHint(subtable, k + 1);
                if (code < groups.start(k + 1)) return absent(glyph);
                glyph = groups.glyph(k + 1, code);
                return kFound;
            }
        }
    }
    const uint32_t k = bisectGroups(groups, code);
    if (k == groups.count) return absent(glyph);
    if (subtable.ordered) storeHint(subtable, k);
    glyph = groups.glyph(k, code);
    return kFound;
}

// Format 2 (data = the subHeaderKeys, avail = bytes from there to the table's end).
int16_t checkFormat2(const uint8_t* data, uint64_t avail) {
    if (avail < 512) return KORV_FAIL(kFontDataError);
    for (uint32_t high = 0; high < 256; ++high) {
        const uint64_t key = loadU16(data + 2 * high);
        if (key == 0 && high != 0) continue;
        if (avail < key + 520) return KORV_FAIL(kFontDataError);
        const uint8_t* subHeader = data + 512 + key;
        const uint64_t entryCount = loadU16(subHeader + 2);
        const uint64_t idRangeOffset = loadU16(subHeader + 6);
        if (avail < 518 + key + idRangeOffset + 2 * (entryCount < 256 ? entryCount : 256))
            return KORV_FAIL(kFontDataError);
    }
    return 0;
}

// Format 4 (data = the endCode array at table + dataOffset). Also decides whether the segments are
// sorted and disjoint, and if so indexes them by page.
int16_t checkFormat4(const uint8_t* table, uint32_t length, CmapSubtable& subtable) {
    const uint16_t segCountX2 = subtable.parameters[0];
    const uint32_t dataOffset = subtable.dataOffset;
    const Segments segments(table + dataOffset, segCountX2);
    const uint32_t rangeOffsetsAt = dataOffset + 3 * uint32_t(segCountX2) + 2;
    bool& ordered = subtable.ordered;
    ordered = true;
    for (uint32_t k = 0; k < segments.count; ++k) {
        const uint32_t end = segments.end(k), start = segments.start(k);
        const uint32_t idRangeOffset = loadU16(segments.idRangeOffsets + 2 * k);
        if (end != 0xFFFF && idRangeOffset != 0) {
            // Signed, then compared unsigned: a negative need (start far above end) fails.
            const int32_t need = int32_t(idRangeOffset) + 2 * (int32_t(end) - int32_t(start) + 1);
            const uint32_t remaining = length - (rangeOffsetsAt + 2 * k);
            if (remaining < uint32_t(need)) return KORV_FAIL(kFontDataError);
        }
        if (start > end || (k > 0 && start <= segments.end(k - 1))) ordered = false;
    }
    if (ordered) {
        uint32_t k = 0;
        for (uint32_t page = 0; page <= 0x10000 >> kCmapPageShift; ++page) {
            while (k < segments.count && segments.end(k) < page << kCmapPageShift) ++k;
            subtable.pageFirst[page] = uint16_t(k);
        }
    }
    return 0;
}

// Format 12 (groups at table + dataOffset, numGroups of them, already known to fit). Also decides whether
// the groups are disjoint (none starts at the previous one's end).
int16_t checkFormat12(const uint8_t* groupsData, uint32_t numGroups, bool& ordered) {
    const Groups groups{groupsData, numGroups};
    uint32_t previousEnd = 0;
    ordered = true;
    for (uint32_t k = 0; k < numGroups; ++k) {
        const uint32_t start = groups.start(k), end = groups.end(k);
        if (start < previousEnd || start > end) return KORV_FAIL(kFontDataError);
        if (k > 0 && start == previousEnd) ordered = false;
        previousEnd = end;
    }
    return 0;
}

}  // namespace

void CmapTable::release() {
    data = nullptr;
    length = 0;
    count = 0;
}

int16_t CmapTable::parse(const uint8_t* bytes, uint32_t tableLength) {
    data = bytes;
    length = tableLength;
    count = 0;
    const ByteReader table(bytes, tableLength);
    if (table.size() < 4) return KORV_FAIL(kFontDataError);
    const uint32_t version = loadU16(bytes);
    const uint32_t numTables = loadU16(bytes + 2);
    if (version != 0 || numTables > kMaxCmapSubtables || uint64_t(tableLength) < 8ull * numTables + 4)
        return KORV_FAIL(kFontDataError);

    // The encoding records this reader can use: platforms 1 and 3, and Unicode (0) except its variation
    // sequences (encoding 5, which only format 14 serves).
    struct Candidate {
        uint16_t platformID, encodingID;
        uint32_t offset;
    };
    Candidate candidates[kMaxCmapSubtables];
    uint32_t candidateCount = 0;
    for (uint32_t i = 0; i < numTables; ++i) {
        const uint8_t* record = bytes + 4 + 8 * i;
        const uint16_t platformID = loadU16(record), encodingID = loadU16(record + 2);
        const uint32_t offset = loadU32(record + 4);
        if (!(platformID == 1 || platformID == 3 || (platformID == 0 && encodingID != 5))) continue;
        if (uint64_t(tableLength) < uint64_t(offset) + 12) return KORV_FAIL(kFontDataError);
        candidates[candidateCount++] = {platformID, encodingID, offset};
    }
    if (candidateCount == 0) return KORV_FAIL(kFontDataError);

    int16_t status = 0;
    for (uint32_t i = 0; i < candidateCount; ++i) {
        const uint32_t start = candidates[i].offset;
        uint64_t avail = tableLength - start;  // >= 12
        const uint8_t* sub = bytes + start;
        CmapSubtable subtable;
        subtable.platformID = candidates[i].platformID;
        subtable.encodingID = candidates[i].encodingID;
        subtable.format = loadU16(sub);
        switch (subtable.format) {
            case 0:
            case 2:
            case 4:
            case 6:
                subtable.length = loadU16(sub + 2);
                subtable.language = loadU16(sub + 4);
                avail -= 6;
                subtable.dataOffset = start + 6;
                if (subtable.format == 0) {
                    subtable.lookup = lookupFormat0;
                    status = avail >= 256 ? int16_t(0) : KORV_FAIL(kFontDataError);
                } else if (subtable.format == 2) {
                    subtable.lookup = lookupFormat2;
                    status = checkFormat2(sub + 6, avail);
                } else if (subtable.format == 4) {
                    subtable.lookup = lookupFormat4;
                    if (avail < 8) {
                        status = KORV_FAIL(kFontDataError);
                        break;
                    }
                    subtable.dataOffset += 8;
                    for (int p = 0; p < 4; ++p) subtable.parameters[p] = loadU16(sub + 6 + 2 * p);
                    const uint16_t segCountX2 = subtable.parameters[0];
                    if (segCountX2 == 0 || avail < 4ull * segCountX2 + 10)
                        status = KORV_FAIL(kFontDataError);
                    else
                        status = checkFormat4(bytes, tableLength, subtable);
                } else {
                    subtable.lookup = lookupFormat6;
                    subtable.dataOffset += 4;
                    subtable.parameters[0] = loadU16(sub + 6);  // firstCode
                    subtable.parameters[1] = loadU16(sub + 8);  // entryCount
                    const uint32_t entryCount = subtable.parameters[1];
                    status = (entryCount == 0 || avail < 2ull * entryCount + 4) ? KORV_FAIL(kFontDataError)
                                                                                : int16_t(0);
                }
                break;
            case 12: {
                subtable.lookup = lookupFormat12;
                subtable.length = loadU32(sub + 4);
                subtable.language = loadU32(sub + 8);
                avail -= 12;
                subtable.dataOffset = start + 16;
                // numGroups itself needs 4 bytes; with fewer the test below fails for any count, so the
                // count is not read from beyond the table.
                if (avail < 4) {
                    status = KORV_FAIL(kFontDataError);
                    break;
                }
                const uint32_t numGroups = loadU32(sub + 12);
                subtable.parameters[2] = uint16_t(numGroups >> 16);
                subtable.parameters[3] = uint16_t(numGroups);
                if (numGroups == 0 || avail < 12ull * numGroups + 4)
                    status = KORV_FAIL(kFontDataError);
                else
                    status = checkFormat12(sub + 16, numGroups, subtable.ordered);
                break;
            }
            case 8:
            case 10:
            case 13:
                // Mixed 16/32-bit, trimmed array and many-to-one maps: not used, passed over.
                continue;
            default:
                // Unknown formats (14 among them) make the result fail unless a later subtable is kept.
                status = KORV_FAIL(kFontDataError);
                continue;
        }
        if (status != 0) return KORV_FAIL(kFontDataError);
        subtables[count++] = subtable;
    }
    if (count == 0) return KORV_FAIL(kFontDataError);
    return status;
}
