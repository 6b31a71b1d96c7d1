// map-character FONT CODE [FACE]: loads a face of a font file with the korv font library, maps a character
// code (hexadecimal, "U+" optional) to its glyph and prints the glyph and its advance width in font units:
//   U+0041 glyph 36 advance 1401 unitsPerEm 2048
// The advance comes with the glyph's outline, the same way for TrueType and CFF faces. Exit status 0, or 1
// with "status N".
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <cff/LoadFont.h>
#include <sfnt/SfntFont.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: map-character FONT CODE [FACE]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char* text = argv[2];
    if ((text[0] == 'U' || text[0] == 'u') && text[1] == '+') text += 2;
    const uint32_t code = uint32_t(std::strtoul(text, nullptr, 16));
    const uint32_t face = argc > 3 ? uint32_t(std::strtoul(argv[3], nullptr, 10)) : 0;

    // The font refers into `bytes`, which must outlive it.
    int16_t status = 0;
    std::unique_ptr<SfntFont> font = loadFontFace(bytes.data(), uint32_t(bytes.size()), face, status);
    if (!font) {
        std::printf("status %d\n", status);
        return 1;
    }
    uint32_t glyph = 0;
    status = font->charToGlyph(code, glyph);  // 0, kGlyphAbsent (2) or -35 without a Unicode map
    if (status != 0) {
        std::printf("status %d\n", status);
        return 1;
    }

    // The glyph's outline: the font prepares what its outline operations need (a glyph loader, or a
    // charstring interpreter), the outline record receives the entries and the metrics in 26.6.
    GlyphWork work;
    GlyphOutline* outline = font->newOutline();
    status = outline ? font->prepareGlyphWork(work) : int16_t(-108);
    if (status == 0) status = font->getGlyphOutline(glyph, work, *outline);
    if (status == 0)
        std::printf("U+%04X glyph %u advance %d unitsPerEm %u\n", unsigned(code), unsigned(glyph),
                    int(outline->advance / 64), unsigned(font->unitsPerEm));
    else
        std::printf("status %d\n", status);
    font->releaseGlyphWork(work);
    deleteGlyphOutline(outline);
    font->release();
    return status == 0 ? 0 : 1;
}
