// Crafted tables of a small TrueType font for the font-object tests: each table in its ordinary form, with
// the fields the tests vary as parameters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/FontBytes.h"
#include "support/SfntBuilder.h"

namespace ttparts {

// 'head' of `length` bytes (54 in the ordinary form): version 1.0, unitsPerEm and indexToLocFormat as
// given, a wrong checksum adjustment and magic number (never compared), distinctive box values.
inline Bytes head(uint16_t unitsPerEm = 2048, int16_t indexToLocFormat = 0, size_t length = 54) {
    FontBytes b;
    b.u32(0x00010000).u32(0x00028000).u32(0x12345678).u32(0xDEADBEEF);  // version .. magicNumber
    b.u16(0x000B).u16(unitsPerEm);
    b.u32(0).u32(0xD5A1B2C3).u32(0).u32(0xD5A1B2C4);                // created, modified
    b.u16(uint16_t(-100)).u16(uint16_t(-200)).u16(1100).u16(900);   // xMin yMin xMax yMax
    b.u16(1).u16(9).u16(2).u16(uint16_t(indexToLocFormat)).u16(0);  // macStyle .. glyphDataFormat
    Bytes out = b.vec();
    out.resize(length, 0);
    return out;
}

// 'hhea' of `length` bytes (36 in the ordinary form).
inline Bytes hhea(uint16_t numberOfHMetrics, size_t length = 36) {
    FontBytes b;
    b.u32(0x00010000).u16(800).u16(uint16_t(-200)).u16(90).u16(1000);
    b.u16(uint16_t(-50)).u16(uint16_t(-60)).u16(1050).u16(1).u16(0).u16(0);
    b.u16(0x1111).u16(0x2222).u16(0x3333).u16(0x4444);  // reserved: never read
    b.u16(0).u16(numberOfHMetrics);
    Bytes out = b.vec();
    out.resize(length, 0);
    return out;
}

// 'maxp' version 1.0 (or as given) with the capacities of a small font.
inline Bytes maxp(uint16_t numGlyphs, uint32_t version = 0x00010000, size_t length = 32) {
    FontBytes b;
    b.u32(version).u16(numGlyphs);
    for (uint16_t v : {20, 3, 40, 4, 2, 0, 0, 0, 0, 64, 100, 2, 1}) b.u16(v);
    Bytes out = b.vec();
    out.resize(length, 0);
    return out;
}

// 'hmtx': the long metrics (advance 500 + 10 x i, lsb i), then the side bearings.
inline Bytes hmtx(uint16_t numGlyphs, uint16_t numberOfHMetrics) {
    FontBytes b;
    for (uint16_t i = 0; i < numberOfHMetrics; ++i) b.u16(500 + 10 * i).u16(i);
    for (uint16_t i = numberOfHMetrics; i < numGlyphs; ++i) b.u16(uint16_t(-i));
    return b.vec();
}

// 'loca' from glyph offsets (numGlyphs + 1 of them), short (halves) or long.
inline Bytes loca(const std::vector<uint32_t>& offsets, bool longFormat) {
    FontBytes b;
    for (uint32_t o : offsets) longFormat ? b.u32(o) : b.u16(o / 2);
    return b.vec();
}

// A 'cmap' of format-4 subtables, one per (platform, encoding) given, each mapping 'A' (0x41) to glyph 1.
inline Bytes cmap(const std::vector<std::pair<uint16_t, uint16_t>>& encodings) {
    FontBytes sub;
    sub.u16(4).u16(32).u16(0);           // format, length, language
    sub.u16(4).u16(4).u16(1).u16(0);     // segCountX2, searchRange, entrySelector, rangeShift
    sub.u16(0x41).u16(0xFFFF).u16(0);    // endCode[2], reservedPad
    sub.u16(0x41).u16(0xFFFF);           // startCode[2]
    sub.u16(uint16_t(1 - 0x41)).u16(1);  // idDelta[2]
    sub.u16(0).u16(0);                   // idRangeOffset[2]
    FontBytes b;
    b.u16(0).u16(uint16_t(encodings.size()));
    const uint32_t first = 4 + 8 * uint32_t(encodings.size());
    for (size_t i = 0; i < encodings.size(); ++i)
        b.u16(encodings[i].first).u16(encodings[i].second).u32(first + uint32_t(i * sub.size()));
    for (size_t i = 0; i < encodings.size(); ++i) b.bytes(sub.vec());
    return b.vec();
}

// 'OS/2' of `length` bytes: each 16-bit field i of the first 32 bytes holds 100 + i, then distinctive values.
inline Bytes os2(size_t length = 78) {
    FontBytes b;
    for (uint16_t i = 0; i < 16; ++i) b.u16(100 + i);
    for (uint8_t i = 0; i < 10; ++i) b.u8(i + 1);  // panose
    b.u32(0x80000001).u32(2).u32(3).u32(0x40000004).tag("KORV");
    for (uint16_t i = 0; i < 8; ++i) b.u16(200 + i);
    Bytes out = b.vec();
    out.resize(length, 0);
    return out;
}

// 'post' of `length` bytes: version 3.0, italic angle -12.5.
inline Bytes post(size_t length = 32) {
    FontBytes b;
    b.u32(0x00030000).u32(uint32_t(-(12 << 16) - 0x8000)).u16(uint16_t(-75)).u16(50);
    b.u32(1).u32(0).u32(0).u32(0).u32(0);
    Bytes out = b.vec();
    out.resize(length, 0);
    return out;
}

inline Bytes name() {
    return nameTable({windowsName(u"Test Regular")});
}

// The tables of a font in directory order, to be changed before building.
struct Tables {
    std::vector<std::pair<std::string, Bytes>> list;

    // Replaces the first table with this tag, or adds it at the end.
    Tables& set(const std::string& tag, Bytes data) {
        for (auto& t : list)
            if (t.first == tag) {
                t.second = std::move(data);
                return *this;
            }
        list.emplace_back(tag, std::move(data));
        return *this;
    }
    Tables& add(const std::string& tag, Bytes data) {
        list.emplace_back(tag, std::move(data));
        return *this;
    }
    Tables& drop(const std::string& tag) {
        for (auto it = list.begin(); it != list.end(); ++it)
            if (it->first == tag) {
                list.erase(it);
                break;
            }
        return *this;
    }
    SfntBuilder builder() const {
        SfntBuilder s;
        for (const auto& t : list) s.table(t.first, t.second);
        s.minSize(0);
        return s;
    }
    Bytes build() const { return builder().build(); }
};

// The eight tables of a TrueType font with 3 glyphs (lengths 0, 20, 12), in sorted order.
inline Tables font() {
    Tables t;
    t.add("cmap", cmap({{3, 1}}))
        .add("glyf", Bytes(32, 0))
        .add("head", head())
        .add("hhea", hhea(2))
        .add("hmtx", hmtx(3, 2))
        .add("loca", loca({0, 0, 20, 32}, false))
        .add("maxp", maxp(3))
        .add("name", name());
    return t;
}

}  // namespace ttparts
