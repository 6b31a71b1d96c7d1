// The scan worker: loads the catalog, walks the system and the per-user font folders twice (counting, then
// listing), identifies every file of the listing pass and appends the names of catalog fonts to the JSON
// font list held by the application object.
#pragma once

#include <cstdint>

#include "app/Ports.h"
#include "fontid/FontCatalog.h"
#include "fontid/Identify.h"

class CKorvApp;

// The thread's entry function; the parameter is the CKorvApp. Returns ScanFonts' value.
uint32_t FontScanThreadProc(void* parameter);

// How one file is identified (identifyFontFile; tests substitute their own).
using IdentifyFontFileFn = int32_t (*)(const char16_t* path, const FontCatalog& catalog,
                                       FontIdentity& result);

// The worker's body. Sets m_bScanDone = 1 (release) as its last write on every path. Returns 0.
uint32_t ScanFonts(CKorvApp& app, IdentifyFontFileFn identify = nullptr);

// Reads the catalog file and loads it: 0, kIoError (open, seek, size or short read), kOutOfMemory, or the
// status of FontCatalog::load. The catalog is reset first; the file image is freed on every path.
[[nodiscard]] int32_t LoadCatalogFile(const char16_t* path, FontCatalog& catalog);
