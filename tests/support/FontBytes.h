// Small builders for test bytes: big-endian values appended in order, with patching for offsets that are
// known only later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FontBytes {
public:
    FontBytes& u8(uint32_t v) {
        m_bytes.push_back(uint8_t(v));
        return *this;
    }
    FontBytes& u16(uint32_t v) { return u8(v >> 8).u8(v); }
    FontBytes& u24(uint32_t v) { return u8(v >> 16).u8(v >> 8).u8(v); }
    FontBytes& u32(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
    FontBytes& tag(std::string_view t) {
        for (size_t i = 0; i < 4; ++i) u8(i < t.size() ? uint8_t(t[i]) : ' ');
        return *this;
    }
    FontBytes& bytes(std::string_view s) {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    FontBytes& bytes(const std::vector<uint8_t>& v) {
        m_bytes.insert(m_bytes.end(), v.begin(), v.end());
        return *this;
    }
    FontBytes& zeros(size_t n) {
        m_bytes.insert(m_bytes.end(), n, 0);
        return *this;
    }
    // Pads with zeros to a multiple of `alignment`.
    FontBytes& align(size_t alignment) {
        while (m_bytes.size() % alignment) m_bytes.push_back(0);
        return *this;
    }
    // UTF-16BE code units of an ASCII or UTF-16 string.
    FontBytes& utf16be(std::u16string_view s) {
        for (char16_t c : s) u16(c);
        return *this;
    }
    // Overwrites an already appended value.
    void patch16(size_t at, uint32_t v) {
        m_bytes.at(at) = uint8_t(v >> 8);
        m_bytes.at(at + 1) = uint8_t(v);
    }
    void patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) m_bytes.at(at + size_t(i)) = uint8_t(v >> (24 - 8 * i));
    }

    size_t size() const { return m_bytes.size(); }
    const uint8_t* data() const { return m_bytes.data(); }
    const std::vector<uint8_t>& vec() const { return m_bytes; }
    std::vector<uint8_t>& vec() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};
