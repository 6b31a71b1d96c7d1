// Stand-ins for the platform's text conversions (MultiByteToWideChar / WideCharToMultiByte without flags).
// Text inside the system is NUL-terminated UTF-16 (char16_t; wchar_t on Windows has the same layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr unsigned kCodePageAnsi = 0;     // the system's ANSI code page (CP_ACP)
constexpr unsigned kCodePageUtf8 = 65001;  // CP_UTF8

// Converts `sourceLength` bytes (-1: up to and including the NUL) of the code page's text into UTF-16.
// destinationCapacity 0 asks for the number of units needed. Otherwise returns the number of units written,
// or 0 when the result does not fit (nothing useful is left in the destination) or the code page is
// unusable. A source length of 0 also returns 0. Without flags, invalid input does not fail: each invalid
// sequence becomes a replacement character, as the platform's own conversion does.
// On Windows the ANSI code page is the system's; on other systems it is Windows-31J (code page 932).
int multiByteToWideChar(unsigned codePage, const char* source, int sourceLength, char16_t* destination,
                        int destinationCapacity);

// Converts UTF-16 (sourceLength -1: up to and including the NUL) to UTF-8 (the only code page the system
// writes). destinationCapacity 0 asks for the number of bytes needed; otherwise returns the bytes written,
// or 0 when they do not fit. Unpaired surrogates become U+FFFD.
int wideCharToUtf8(const char16_t* source, int sourceLength, char* destination, int destinationCapacity);

// Length of a NUL-terminated UTF-16 string.
size_t wideLength(const char16_t* text);

// Conveniences for tests and tools (not on the identification path).
std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& text);
