// The ANSI code page on Windows is the system's own: the platform conversion does the work.
#include <windows.h>

#include <climits>

#include "platform/detail/AnsiCodePage.h"

int ansiToWide(const char* source, size_t sourceBytes, char16_t* destination, int destinationCapacity) {
    if (sourceBytes == 0 || sourceBytes > size_t(INT_MAX)) return 0;
    return MultiByteToWideChar(CP_ACP, 0, source, int(sourceBytes), reinterpret_cast<wchar_t*>(destination),
                               destinationCapacity);
}
