// Loading any font of a file buffer: a single TrueType or OpenType CFF font, or a member of a collection.
#pragma once

#include <cstdint>
#include <memory>

#include "sfnt/SfntFont.h"

// Loads face `face` of the font file in [data, data + size), which the caller keeps alive as long as the
// font (the font object refers into it). Single fonts have face 0 only; a collection ('ttcf') has the faces
// its header names, after the collection-header test. TrueType faces load as TrueTypeFont, OpenType CFF
// faces ('OTTO') as CffFont.
// On success returns the font with status 0. Otherwise returns null with the status: kParamError (-50) for
// a face that does not exist or for bytes that hold no sfnt font (no known version tag); kFontDataError
// (-982) for a malformed collection header or a face whose load failed (the load's status).
[[nodiscard]] std::unique_ptr<SfntFont> loadFontFace(const uint8_t* data, uint32_t size, uint32_t face,
                                                     int16_t& status);
