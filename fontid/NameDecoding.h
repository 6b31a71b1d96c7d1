// Decoding of the four full-name versions (name ID 4) of a TrueType font's `name` table.
#pragma once

#include <cstdint>

constexpr int kFullNameSlotCount = 4;
constexpr int kFullNameCapacity = 128;  // units per slot: at most 127 characters and a NUL

// Slot 0: Windows Japanese (3/0x0411); 1: Macintosh Japanese (1/11); 2: Windows English (3/0x0409);
// 3: Macintosh English (1/0). An empty slot (first unit NUL) is skipped by the matching.
struct FullNameSlots {
    char16_t slot[kFullNameSlotCount][kFullNameCapacity];
};

// Fills the slots from a `name` table: 0, or kParamError (-50) for a malformed header.
[[nodiscard]] int32_t collectFullNames(const uint8_t* table, uint32_t length, FullNameSlots& slots);

// Decodes one name string into a NUL-terminated UTF-16 destination, or leaves it as it was (encodings that
// are not decoded).
void decodeNameString(const uint8_t* bytes, uint32_t length, uint16_t platform, uint16_t encoding,
                      char16_t* destination, int capacity);

// The ANSI code page conversion of a name: NUL at the converted count when it is below the capacity,
// otherwise at capacity - 1 (a result that does not fit becomes empty).
void convertAnsiName(const uint8_t* bytes, uint32_t length, char16_t* destination, int capacity);

// 0, or kParamError when the header or any record (of any name ID) runs past the table.
[[nodiscard]] int32_t validateNameTable(const uint8_t* table, uint32_t length);
