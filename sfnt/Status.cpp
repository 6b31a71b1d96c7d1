#include "sfnt/Status.h"

#ifndef NDEBUG
// Out of line on purpose: set a breakpoint here to stop at the first failure of the font layers.
volatile int32_t g_lastFailureStatus = 0;

void statusFailureHook(int32_t status) {
    g_lastFailureStatus = status;
}
#endif
