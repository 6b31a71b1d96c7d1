// korv-font's commands, one file each. Every command receives the loaded face (not const: the outline
// operations work on it) and prints to `out`; it returns the status the tool reports (0, or a library
// status printed as "status N" with exit code 1). A command is listed in Main.cpp's kCommands.
#pragma once

#include <cstdint>
#include <cstdio>

class SfntFont;
class CffFont;

// What the command line gave: the font path, the face, and the arguments that the shared options did not
// take (a command's own, in order).
struct FontOptions {
    const char* path = nullptr;
    uint32_t face = 0;
    int argumentCount = 0;
    char** arguments = nullptr;
};

// info: the load and the face's tables, one "key value" line each.
[[nodiscard]] int32_t runInfo(SfntFont& font, const FontOptions& options, FILE* out);
// cmap: every code point 0..0x10FFFF that charToGlyph maps, "U+XXXX<TAB>glyph".
[[nodiscard]] int32_t runCmap(SfntFont& font, const FontOptions& options, FILE* out);
// outline: the outline record of glyphs (or character codes), one entry per line (OutlineCommand.cpp).
[[nodiscard]] int32_t runOutline(SfntFont& font, const FontOptions& options, FILE* out);
// svg: a sheet of glyphs as SVG (SvgCommand.cpp).
[[nodiscard]] int32_t runSvg(SfntFont& font, const FontOptions& options, FILE* out);

// The fields of a CFF face that info prints after the shared ones (CffInfo.cpp).
void printCffInfo(const CffFont& font, FILE* out);
