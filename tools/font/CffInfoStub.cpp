// Until the CFF fields of `info` are written (CffInfo.cpp), a CFF face prints only the shared fields. The
// definition is weak so that CffInfo.cpp's replaces it.
#include "tools/font/Commands.h"

[[gnu::weak]] void printCffInfo(const CffFont&, FILE*) {}
