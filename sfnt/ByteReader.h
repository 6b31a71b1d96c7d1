// The one bounds-checked reader of big-endian values that every parser uses. A read that does not fit
// returns 0 and latches ok() == false, so a whole header can be read and checked once. Bound tests compare
// counts (count > size - pos) and never form a pointer past the end, so no offset, length or count taken
// from a file can lead to a read outside the data.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    uint8_t u8() {
        const uint8_t* p = take(1);
        return p ? p[0] : 0;
    }
    uint16_t u16() {
        const uint8_t* p = take(2);
        return p ? uint16_t((uint32_t(p[0]) << 8) | p[1]) : 0;
    }
    int16_t s16() { return int16_t(u16()); }
    uint32_t u24() {
        const uint8_t* p = take(3);
        return p ? (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2] : 0;
    }
    uint32_t u32() {
        const uint8_t* p = take(4);
        return p ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3] : 0;
    }
    int32_t s32() { return int32_t(u32()); }
    // An unsigned big-endian value of 1 to 4 bytes (CFF offsets).
    uint32_t uN(unsigned width) {
        const uint8_t* p = (width >= 1 && width <= 4) ? take(width) : fail();
        uint32_t v = 0;
        if (p)
            for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
        return v;
    }
    // Returns a pointer to the next `count` bytes and moves past them, or nullptr (and !ok()).
    const uint8_t* bytes(size_t count) { return take(count); }
    void skip(size_t count) { take(count); }

    // Moves to an absolute position; a position past the end fails.
    void seek(size_t position) {
        if (!m_ok || position > m_size)
            fail();
        else
            m_pos = position;
    }

    // A reader over [offset, offset + length) of this reader's data; !ok() when it does not fit.
    ByteReader sub(size_t offset, size_t length) const {
        if (!m_ok || offset > m_size || length > m_size - offset) {
            ByteReader r;
            r.m_ok = false;
            return r;
        }
        return ByteReader(m_data + offset, length);
    }
    // True when [offset, offset + length) lies inside the data (64-bit safe, no wrap-around).
    bool fits(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }

    bool ok() const { return m_ok; }
    size_t size() const { return m_size; }
    size_t position() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }
    const uint8_t* data() const { return m_data; }

private:
    const uint8_t* take(size_t count) {
        if (!m_ok || count > m_size - m_pos) return fail();
        const uint8_t* p = m_data + m_pos;
        m_pos += count;
        return p;
    }
    const uint8_t* fail() {
        m_ok = false;
        return nullptr;
    }

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Big-endian loads at a position the caller has already checked against the data's size.
inline uint16_t loadU16(const uint8_t* p) { return uint16_t((uint32_t(p[0]) << 8) | p[1]); }
inline uint32_t loadU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Four-character tags, first character in the most significant byte.
constexpr uint32_t makeTag(char a, char b, char c, char d) {
    return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) |
           uint32_t(uint8_t(d));
}
