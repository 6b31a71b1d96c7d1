// Reader of FontCat.awfc, the desktop application's font catalog. All integers are big-endian and every
// offset counts from the first byte of the file.
//
//   0   u32  version      16.16; only 4.0 (0x00040000) is read
//   4   u32  tableCount   at most 32
//   8        table index, tableCount x 16 bytes:
//              u32 group (stored; 3 means row 10, 5 means row 11), u32 formatTag, u32 tableOffset, u32
//              reserved
//
//   entry table at tableOffset: u32 entryCount, then entryCount records of
//     4 x u16        not interpreted
//     string         displayName (its first bytes may switch the table to UTF-8, see below)
//     string         postScriptName
//     s32 itemCount, itemCount x 12 bytes (not interpreted)
//     s32 fullNameCount, fullNameCount strings
//     u32            not interpreted
//     string         further name
//     s32 otherNameCount, otherNameCount strings
//   string: s32 byte length, the bytes, padded to a multiple of 4 (a length of 0 takes no bytes).
//
// Strings of "sbix" and "COLR" tables are UTF-8; those of the other tables are in the ANSI code page until
// a record whose display name starts with the UTF-8 bytes of "そよみね": from that record to the end of the
// table they are UTF-8.
//
// Loading makes two passes over the live tables: the first measures, the second fills one block obtained
// once. Both run the same walker, so the second pass fills exactly what the first one measured; the fill
// also checks every write against the measured room and gives up rather than overrun.
#include "fontid/FontCatalog.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Text.h"
#include "sfnt/ByteReader.h"
#include "sfnt/Status.h"

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kIndexEntrySize = 16;
constexpr size_t kItemSize = 12;
// A record's fixed part: four 16-bit values, three string lengths and four 32-bit words
// (itemCount, fullNameCount, the value, otherNameCount). An entryCount that the rest of the table cannot
// hold at this size is refused before anything is sized from it.
constexpr size_t kMinRecordSize = 8 + 4 + 4 + 4 + 4 + 4 + 4 + 4;
constexpr size_t kMinStringSize = 4;
// Counts and lengths are signed in the file; 0x80000000 and above are malformed.
constexpr uint32_t kMaxSigned = 0x7FFFFFFF;

// The 12 bytes of "そよみね" in UTF-8 (the name of the typeface whose entries are written in UTF-8).
constexpr uint8_t kUtf8Marker[12] = {0xE3, 0x81, 0x9D, 0xE3, 0x82, 0x88, 0xE3, 0x81, 0xBF, 0xE3, 0x81, 0xAD};

struct FormatTag {
    uint32_t tag;
    int slot;
    bool utf8;  // the table's strings are UTF-8 from its first record
};
constexpr FormatTag kFormatTags[] = {
    {makeTag('O', 'C', 'F', ' '), kSlotOcf, false},  {makeTag('t', 'y', 'p', '1'), kSlotTyp1, false},
    {makeTag('O', 'T', 'T', 'O'), kSlotOtto, false}, {makeTag('t', 'r', 'u', 'e'), kSlotTrue, false},
    {makeTag('p', 's', 'O', 'C'), kSlotPsOc, false}, {makeTag('p', 's', 't', '1'), kSlotPst1, false},
    {makeTag('s', 'b', 'i', 'x'), kSlotSbix, true},  {makeTag('C', 'O', 'L', 'R'), kSlotColr, true},
};

// The storage never holds more than this many bytes per image byte that one table walks: a record's fixed
// 36 bytes give one entry and three terminators (62 bytes), each further 4-byte length word at most a list
// slot and a terminator (10 bytes), and each string byte at most one UTF-16 unit (2 bytes; neither code
// page yields more units than bytes). A table walks at most the whole image, and at most 32 tables are
// live, so the whole block is bounded by the image's size; the guard below only makes this explicit.
constexpr uint64_t kStoragePerImageByte = 3;
static_assert(sizeof(CatalogEntry) + 3 * sizeof(char16_t) <= kStoragePerImageByte * kMinRecordSize);
static_assert(sizeof(char16_t*) + sizeof(char16_t) <= kStoragePerImageByte * kMinStringSize);

CatalogEntry* constructEntries(void* at, size_t count) {
    CatalogEntry* first = static_cast<CatalogEntry*>(at);
    for (size_t i = 0; i < count; ++i) new (first + i) CatalogEntry();
    return first;
}

FontCatalog::Allocator g_allocate = nullptr;

// What the measuring pass counts; the filling pass counts the same way to check its room.
struct Tally {
    uint64_t entries = 0;
    uint64_t fullNames = 0;
    uint64_t otherNames = 0;
    uint64_t units = 0;  // UTF-16 code units, terminators included
};

// The running positions of the filling pass and where each region ends.
struct FillCursor {
    const char16_t** fullNames = nullptr;
    const char16_t** fullNamesEnd = nullptr;
    const char16_t** otherNames = nullptr;
    const char16_t** otherNamesEnd = nullptr;
    char16_t* units = nullptr;
    char16_t* unitsEnd = nullptr;
};

// Walks one entry table, counting into `tally`; when `fill` is given, also writes the records into
// `entries` (room for `room` records, what the first pass measured) and the names and strings at the
// cursor. Returns false for a table that is malformed or runs past the end of the image, and in the
// filling pass for one that would need more room than was measured.
class TableWalker {
public:
    TableWalker(ByteReader reader, bool utf8, Tally& tally, FillCursor* fill)
        : m_r(reader), m_utf8(utf8), m_tally(tally), m_fill(fill) {}

    bool walk(uint32_t& entryCount, CatalogEntry* entries = nullptr, uint32_t room = 0) {
        entryCount = m_r.u32();
        if (!m_r.ok() || entryCount > kMaxSigned || entryCount > m_r.remaining() / kMinRecordSize)
            return false;
        if (m_fill && entryCount != room) return false;
        m_tally.entries += entryCount;
        for (uint32_t i = 0; i < entryCount; ++i) {
            CatalogEntry scratch;
            if (!record(m_fill ? entries[i] : scratch)) return false;
        }
        return true;
    }

private:
    bool record(CatalogEntry& entry) {
        m_r.skip(8);  // four values, not interpreted
        const uint8_t* display = nullptr;
        uint32_t displayLength = 0;
        if (!take(display, displayLength)) return false;
        // The marker switches this record and every later one of the table to UTF-8.
        if (displayLength >= sizeof kUtf8Marker && std::memcmp(display, kUtf8Marker, sizeof kUtf8Marker) == 0)
            m_utf8 = true;
        if (!store(display, displayLength, entry.displayName)) return false;
        if (!string(entry.postScriptName)) return false;

        const uint32_t itemCount = m_r.u32();
        if (!m_r.ok() || itemCount > kMaxSigned || uint64_t(itemCount) * kItemSize > m_r.remaining())
            return false;
        m_r.skip(size_t(itemCount) * kItemSize);

        if (!list(entry.fullNameCount, entry.fullNames, m_tally.fullNames,
                  m_fill ? &m_fill->fullNames : nullptr, m_fill ? m_fill->fullNamesEnd : nullptr))
            return false;
        m_r.skip(4);  // value, not interpreted
        if (!m_r.ok() || !string(entry.furtherName)) return false;
        return list(entry.otherNameCount, entry.otherNames, m_tally.otherNames,
                    m_fill ? &m_fill->otherNames : nullptr, m_fill ? m_fill->otherNamesEnd : nullptr);
    }

    // A counted list of strings; its pointer slots come from `cursor` when filling.
    bool list(int32_t& count, const char16_t* const*& names, uint64_t& slots, const char16_t*** cursor,
              const char16_t** end) {
        const uint32_t n = m_r.u32();
        if (!m_r.ok() || n > kMaxSigned || n > m_r.remaining() / kMinStringSize) return false;
        slots += n;
        const char16_t** at = nullptr;
        if (cursor) {
            if (n > size_t(end - *cursor)) return false;
            at = *cursor;
            *cursor += n;
            count = int32_t(n);
            names = at;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const char16_t* scratch = nullptr;
            if (!string(at ? at[i] : scratch)) return false;
        }
        return true;
    }

    bool string(const char16_t*& out) {
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        return take(bytes, length) && store(bytes, length, out);
    }

    // Reads a string's length word and moves past its bytes and their padding. Padding missing at the very
    // end of the image is tolerated: nothing would be read from it, and any field after it fails anyway.
    bool take(const uint8_t*& bytes, uint32_t& length) {
        length = m_r.u32();
        if (!m_r.ok() || length > kMaxSigned || length > m_r.remaining()) return false;
        bytes = m_r.bytes(length);
        const size_t padding = (4 - length % 4) % 4;
        m_r.skip(padding < m_r.remaining() ? padding : m_r.remaining());
        return m_r.ok();
    }

    // Converts a string (length query, then the characters) and, when filling, stores it NUL-terminated.
    // A string that cannot be converted becomes empty but keeps the room its length query measured.
    bool store(const uint8_t* bytes, uint32_t length, const char16_t*& out) {
        const unsigned codePage = m_utf8 ? kCodePageUtf8 : kCodePageAnsi;
        const char* source = reinterpret_cast<const char*>(bytes);
        int units = length ? multiByteToWideChar(codePage, source, int(length), nullptr, 0) : 0;
        if (units < 0) units = 0;
        const size_t room = size_t(units) + 1;
        m_tally.units += room;
        if (!m_fill) return true;
        if (room > size_t(m_fill->unitsEnd - m_fill->units)) return false;
        char16_t* dest = m_fill->units;
        m_fill->units += room;
        int written = 0;
        if (units > 0) written = multiByteToWideChar(codePage, source, int(length), dest, units);
        if (written != units) written = 0;
        dest[written] = 0;
        out = dest;
        return true;
    }

    ByteReader m_r;
    bool m_utf8;
    Tally& m_tally;
    FillCursor* m_fill;
};

// One table-index entry that passed the tag and group tests.
struct LiveTable {
    bool live = false;  // passed the tests and is not replaced by a later table for its cell
    uint32_t offset = 0;
    int group = 0;
    int slot = 0;
    bool utf8 = false;
};

}  // namespace

void FontCatalog::setAllocatorForTesting(Allocator allocate) {
    g_allocate = allocate;
}

int32_t FontCatalog::load(const uint8_t* image, size_t size) {
    release();
    ByteReader r(image, size);

    // The count is tested before the version.
    r.seek(4);
    const uint32_t tableCount = r.u32();
    if (!r.ok() || tableCount > kCatalogMaxTables) return kGeneralError;
    r.seek(0);
    if (r.u32() != kCatalogVersion) return kGeneralError;
    if (!r.fits(kHeaderSize, uint64_t(tableCount) * kIndexEntrySize)) return kGeneralError;

    // The table index. Two tables for the same cell: the later replaces the earlier, whose table is then
    // not read at all, so both passes see exactly the records that end up in the catalog.
    LiveTable tables[kCatalogMaxTables];
    int owner[kCatalogGroups][kCatalogSlots];
    for (auto& row : owner)
        for (int& o : row) o = -1;
    r.seek(kHeaderSize);
    for (uint32_t i = 0; i < tableCount; ++i) {
        uint32_t group = r.u32();
        const uint32_t tag = r.u32();
        const uint32_t offset = r.u32();
        r.skip(4);  // reserved
        if (group == 3) group = 10;
        if (group == 5) group = 11;
        const FormatTag* format = nullptr;
        for (const FormatTag& f : kFormatTags)
            if (f.tag == tag) format = &f;
        // Unknown tags and groups above 15 are skipped; so are 12..15, which have no row.
        if (!format || group > kCatalogMaxGroupTest || group >= uint32_t(kCatalogGroups)) continue;
        const int previous = owner[group][format->slot];
        if (previous >= 0) tables[previous].live = false;
        tables[i] = {true, offset, int(group), format->slot, format->utf8};
        owner[group][format->slot] = int(i);
    }
    if (!r.ok()) return kGeneralError;

    // First pass: measure.
    Tally need;
    int32_t counts[kCatalogGroups][kCatalogSlots] = {};
    for (uint32_t i = 0; i < tableCount; ++i) {
        const LiveTable& t = tables[i];
        if (!t.live) continue;
        if (t.offset > size) return kGeneralError;
        uint32_t entryCount = 0;
        if (!TableWalker(r.sub(t.offset, size - t.offset), t.utf8, need, nullptr).walk(entryCount))
            return kGeneralError;
        counts[t.group][t.slot] = int32_t(entryCount);
    }

    const uint64_t entryBytes = need.entries * sizeof(CatalogEntry);
    const uint64_t fullNameBytes = need.fullNames * sizeof(const char16_t*);
    const uint64_t otherNameBytes = need.otherNames * sizeof(const char16_t*);
    const uint64_t total = entryBytes + fullNameBytes + otherNameBytes + need.units * sizeof(char16_t);
    if (total > kStoragePerImageByte * kCatalogMaxTables * uint64_t(size) || uint64_t(size_t(total)) != total)
        return kGeneralError;
    if (total == 0) return kOk;  // no live table holds a record: an empty catalog

    void* block = g_allocate ? g_allocate(size_t(total)) : std::malloc(size_t(total));
    if (!block) return kOutOfMemory;
    uint8_t* base = static_cast<uint8_t*>(block);
    m_storage = block;
    m_storageSize = size_t(total);

    // Layout: the cells' entry arrays row by row, column by column; the full-name lists; the other-name
    // lists; the characters.
    CatalogEntry* starts[kCatalogGroups][kCatalogSlots];
    CatalogEntry* entries = constructEntries(base, size_t(need.entries));
    for (int g = 0; g < kCatalogGroups; ++g)
        for (int s = 0; s < kCatalogSlots; ++s) {
            starts[g][s] = entries;
            m_cells[g][s].entries = entries;
            entries += counts[g][s];
        }
    FillCursor fill;
    fill.fullNames = reinterpret_cast<const char16_t**>(base + entryBytes);
    fill.fullNamesEnd = fill.fullNames + need.fullNames;
    fill.otherNames = fill.fullNamesEnd;
    fill.otherNamesEnd = fill.otherNames + need.otherNames;
    fill.units = reinterpret_cast<char16_t*>(base + entryBytes + fullNameBytes + otherNameBytes);
    fill.unitsEnd = fill.units + need.units;

    // Second pass: fill, in the same order as the first.
    Tally filled;
    for (uint32_t i = 0; i < tableCount; ++i) {
        const LiveTable& t = tables[i];
        if (!t.live) continue;
        uint32_t entryCount = 0;
        if (!TableWalker(r.sub(t.offset, size - t.offset), t.utf8, filled, &fill)
                 .walk(entryCount, starts[t.group][t.slot], uint32_t(counts[t.group][t.slot]))) {
            release();
            return kGeneralError;
        }
        m_cells[t.group][t.slot].count = counts[t.group][t.slot];
    }
    return kOk;
}

const CatalogCell& FontCatalog::cell(int group, int formatSlot) const {
    static const CatalogCell kEmpty;
    if (group < 0 || group >= kCatalogGroups || formatSlot < 0 || formatSlot >= kCatalogSlots) return kEmpty;
    return m_cells[group][formatSlot];
}

int32_t FontCatalog::findByFullName(int formatSlot, const char16_t* name, int32_t& group) const {
    if (!name || formatSlot < 0 || formatSlot >= kCatalogSlots) return -1;
    for (int g = 0; g < kCatalogGroups; ++g) {
        const CatalogCell& c = m_cells[g][formatSlot];
        for (int32_t e = 0; e < c.count; ++e) {
            const CatalogEntry& entry = c.entries[e];
            for (int32_t n = 0; n < entry.fullNameCount; ++n) {
                const char16_t* a = entry.fullNames[n];
                const char16_t* b = name;
                while (*a && *a == *b) ++a, ++b;
                if (*a == *b) {
                    group = g;
                    return e;
                }
            }
        }
    }
    return -1;
}

void FontCatalog::release() {
    std::free(m_storage);
    m_storage = nullptr;
    m_storageSize = 0;
    for (auto& row : m_cells)
        for (CatalogCell& c : row) c = CatalogCell();
}
