#include "sfnt/Status.h"

#ifndef NDEBUG
// Deliberately out of line and not inlined away: set a breakpoint here to stop at the first failure.
void statusFailureHook(int32_t status) {
    static volatile int32_t lastFailure = 0;
    lastFailure = status;
}
#endif
