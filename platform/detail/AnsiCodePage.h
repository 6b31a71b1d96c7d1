// The ANSI code page conversion of one platform (see multiByteToWideChar). `sourceBytes` counts every byte
// to convert, terminator included when the caller asked for it.
#pragma once

#include <cstddef>

int ansiToWide(const char* source, size_t sourceBytes, char16_t* destination, int destinationCapacity);
