// Status codes shared by every layer of the system. 0 is success; the font layers return the 16-bit forms,
// the application and the identification the 32-bit ones. Keep the values exactly: stored results, tests and
// the tool's support output rely on them.
#pragma once

#include <cstdint>

// 32-bit statuses of the application and the identification.
constexpr int32_t kOk = 0;
constexpr int32_t kNotMatched = 1;        // identification: the font's name matched no catalog entry
constexpr int32_t kGlyphAbsent = 2;       // font objects: a glyph or character that is simply absent
constexpr int32_t kGeneralError = -1;
constexpr int32_t kNoCatalog = -2;
constexpr int32_t kNoFontsFound = -3;
constexpr int32_t kNoCharMap = -35;       // font objects: no usable character map selected
constexpr int32_t kIoError = -36;
constexpr int32_t kShortRead = -37;       // a file read returned fewer bytes than the file's size
constexpr int32_t kParamError = -50;      // malformed data, or a font kind that is not identified
constexpr int32_t kOutOfMemory = -108;
constexpr int32_t kUserCancelled = -128;

// 16-bit status of the font layers (subsystems 3 and 4); its unsigned form is 64554.
constexpr int16_t kFontDataError = -982;

// Every failure of the font layers passes through here in debug builds: one place for a breakpoint.
#ifndef NDEBUG
void statusFailureHook(int32_t status);
extern volatile int32_t g_lastFailureStatus;
#define KORV_FAIL(status) (statusFailureHook(status), (status))
#else
#define KORV_FAIL(status) (status)
#endif
