// Why a file is, or is not, in the font list: one plain-English line from an identification's status,
// result and trace, for the person supporting a user who asks where a font went.
#pragma once

#include <cstdint>
#include <string>

#include "fontid/FontCatalog.h"
#include "fontid/Identify.h"

std::string explainIdentification(int32_t status, const FontIdentity& identity, const IdentifyTrace& trace,
                                  const FontCatalog& catalog);
