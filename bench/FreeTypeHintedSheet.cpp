// FreeTypeHintedSheet FONT FACE PPEM TEXT OUT.svg
//
// FreeType's hinted outlines (FT_LOAD_DEFAULT at PPEM: its CFF driver's hinter for CFF faces) of the
// characters of TEXT (UTF-8), drawn as `korv-font svg --ppem PPEM` draws ours: one cell per glyph, the
// outline filled over the pixel grid, the baseline, the origin and the advance, the typographic ascender and
// descender dashed. tools/hinting_sheets.sh puts it beside korv-font's sheets for docs/hinting.md. FreeType
// is a peer here, drawn for comparison; it never enters the product.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The same geometry and colours as korv-font svg with --ppem.
constexpr double kPixelSpanPixels = 168;
constexpr double kMargin = 14, kLabel = 24, kFooter = 18, kGap = 10, kMinCellWidth = 92;
constexpr int kMaxColumns = 10;
const char* const kInk = "#1f2937";
const char* const kBaseline = "#2563eb";
const char* const kAdvance = "#e11d48";
const char* const kGuide = "#9ca3af";
const char* const kGrid = "#d9dde3";

std::vector<uint32_t> decodeUtf8(const char* s) {
    std::vector<uint32_t> codes;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        uint32_t c = *p++;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : 3;
        c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        while (extra-- > 0 && (*p & 0xC0) == 0x80) c = (c << 6) | (*p++ & 0x3F);
        codes.push_back(c);
    }
    return codes;
}

struct Cell {
    uint32_t code = 0;
    FT_UInt glyph = 0;
    std::string path;  // SVG path data relative to the origin, in 26.6 pixels (y up), scaled when drawn
    int32_t advance = 0;
    FT_Outline outline{};
    std::vector<FT_Vector> points;
    std::vector<char> tags;
    std::vector<short> contours;
};

// The outline as an SVG path in screen pixels, the origin at (ox, oy), k screen pixels per 26.6 unit.
struct PathSink {
    std::string d;
    double ox, oy, k;
    void add(char op, std::initializer_list<const FT_Vector*> points) {
        char buffer[64];
        d += op;
        for (const FT_Vector* v : points) {
            std::snprintf(buffer, sizeof buffer, "%.2f %.2f ", ox + double(v->x) * k, oy - double(v->y) * k);
            d += buffer;
        }
    }
};
int moveTo(const FT_Vector* to, void* user) {
    auto* s = static_cast<PathSink*>(user);
    if (!s->d.empty()) s->d += "Z";
    s->add('M', {to});
    return 0;
}
int lineTo(const FT_Vector* to, void* user) {
    static_cast<PathSink*>(user)->add('L', {to});
    return 0;
}
int conicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
    static_cast<PathSink*>(user)->add('Q', {c, to});
    return 0;
}
int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    static_cast<PathSink*>(user)->add('C', {c1, c2, to});
    return 0;
}

int64_t floorPixel(int64_t v) {
    return v & ~int64_t(63);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: FreeTypeHintedSheet FONT FACE PPEM TEXT OUT.svg\n");
        return 2;
    }
    const char* path = argv[1];
    const long face = std::atol(argv[2]);
    const int ppem = std::atoi(argv[3]);
    FT_Library library = nullptr;
    FT_Face ft = nullptr;
    if (FT_Init_FreeType(&library) || FT_New_Face(library, path, face, &ft) ||
        FT_Set_Pixel_Sizes(ft, 0, ppem)) {
        std::fprintf(stderr, "FreeTypeHintedSheet: cannot open %s face %ld at %d ppem\n", path, face, ppem);
        return 1;
    }
    const int em = ft->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
    const int32_t ascender = int32_t(int64_t(os2 ? os2->sTypoAscender : ft->bbox.yMax) * 64 * ppem / em);
    const int32_t descender = int32_t(int64_t(os2 ? os2->sTypoDescender : ft->bbox.yMin) * 64 * ppem / em);

    std::vector<Cell> cells;
    int64_t left = 0, right = 0, top = ascender, bottom = descender;
    for (uint32_t code : decodeUtf8(argv[4])) {
        Cell c;
        c.code = code;
        c.glyph = FT_Get_Char_Index(ft, code);
        if (FT_Load_Glyph(ft, c.glyph, FT_LOAD_DEFAULT)) continue;
        const FT_Outline& o = ft->glyph->outline;
        c.points.assign(o.points, o.points + o.n_points);
        c.tags.assign(o.tags, o.tags + o.n_points);
        c.contours.assign(o.contours, o.contours + o.n_contours);
        c.outline = o;
        c.outline.points = c.points.data();
        c.outline.tags = c.tags.data();
        c.outline.contours = c.contours.data();
        c.advance = int32_t(ft->glyph->advance.x);
        right = std::max<int64_t>(right, c.advance);
        for (const FT_Vector& v : c.points) {
            left = std::min<int64_t>(left, v.x), right = std::max<int64_t>(right, v.x);
            bottom = std::min<int64_t>(bottom, v.y), top = std::max<int64_t>(top, v.y);
        }
        cells.push_back(std::move(c));
    }
    left = floorPixel(left) - 64;
    bottom = floorPixel(bottom) - 64;
    right = -floorPixel(-right) + 64;
    top = -floorPixel(-top) + 64;

    const double pixelSize = std::max(3.0, double(int(kPixelSpanPixels / ppem)));
    const double k = pixelSize / 64;
    const double cellWidth = std::max(kMinCellWidth, double(right - left) * k + 2 * kMargin);
    const double cellHeight = double(top - bottom) * k + 2 * kMargin + kLabel + kFooter;
    const int columns = int(std::min<size_t>(std::max<size_t>(cells.size(), 1), kMaxColumns));
    const int rows = int((cells.size() + size_t(columns) - 1) / size_t(columns));
    const double width = kGap + columns * (cellWidth + kGap), height = 40 + rows * (cellHeight + kGap) + kGap;

    FILE* out = std::fopen(argv[5], "wb");
    if (!out) return 1;
    std::fprintf(
        out,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f "
        "%.0f\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n<rect width=\"100%%\" "
        "height=\"100%%\" fill=\"#f3f4f6\"/>\n",
        width, height, width, height);
    std::string name = path;
    name = name.substr(name.find_last_of('/') + 1);
    std::fprintf(
        out,
        "<text x=\"%.0f\" y=\"26\" font-size=\"15\" fill=\"%s\" font-weight=\"bold\">%s%s  \xC2\xB7  "
        "%zu glyphs  \xC2\xB7  %d ppem, FreeType %d.%d.%d hinted (FT_LOAD_DEFAULT), pixel grid</text>\n",
        kGap + 2, kInk, name.c_str(), face ? ("  face " + std::to_string(face)).c_str() : "", cells.size(),
        ppem, FREETYPE_MAJOR, FREETYPE_MINOR, FREETYPE_PATCH);
    FT_Outline_Funcs funcs{moveTo, lineTo, conicTo, cubicTo, 0, 0};
    for (size_t n = 0; n < cells.size(); ++n) {
        const Cell& c = cells[n];
        const double cx = kGap + double(n % size_t(columns)) * (cellWidth + kGap);
        const double cy = 40 + double(n / size_t(columns)) * (cellHeight + kGap);
        const double ox = cx + (cellWidth - double(right - left) * k) / 2 - double(left) * k;
        const double oy = cy + kLabel + kMargin + double(top) * k;
        auto sx = [&](int64_t x) { return ox + double(x) * k; };
        auto sy = [&](int64_t y) { return oy - double(y) * k; };
        std::fprintf(out,
                     "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" rx=\"6\" fill=\"white\" "
                     "stroke=\"#d1d5db\"/>\n<path d=\"",
                     cx, cy, cellWidth, cellHeight);
        for (int64_t x = left; x <= right; x += 64)
            std::fprintf(out, "M%.2f %.2fV%.2f", sx(x), sy(top), sy(bottom));
        for (int64_t y = bottom; y <= top; y += 64)
            std::fprintf(out, "M%.2f %.2fH%.2f", sx(left), sy(y), sx(right));
        std::fprintf(out, "\" stroke=\"%s\" stroke-width=\"1\" fill=\"none\"/>\n", kGrid);
        for (int32_t guide : {ascender, descender})
            std::fprintf(
                out,
                "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"0.80\" "
                "stroke-dasharray=\"4 3\"/>\n",
                sx(left), sy(guide), sx(right), sy(guide), kGuide);
        PathSink sink{"", ox, oy, k};
        FT_Outline_Decompose(const_cast<FT_Outline*>(&c.outline), &funcs, &sink);
        if (!sink.d.empty()) sink.d += "Z";
        std::fprintf(out, "<path fill=\"%s\" fill-opacity=\"0.78\" fill-rule=\"nonzero\" d=\"%s\"/>\n", kInk,
                     sink.d.c_str());
        std::fprintf(
            out,
            "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"1.20\"/>\n",
            sx(left), oy, sx(right), oy, kBaseline);
        std::fprintf(
            out,
            "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"0.90\" "
            "stroke-dasharray=\"4 3\"/>\n<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
            "stroke=\"%s\" stroke-width=\"1.20\"/>\n",
            ox, sy(top), ox, sy(bottom), kAdvance, sx(c.advance), sy(top), sx(c.advance), sy(bottom),
            kAdvance);
        std::fprintf(
            out,
            "<text x=\"%.2f\" y=\"%.2f\" font-size=\"13\" fill=\"%s\" font-weight=\"bold\">%u</text>\n"
            "<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#6b7280\" text-anchor=\"end\">"
            "U+%04X</text>\n<text x=\"%.2f\" y=\"%.2f\" font-size=\"10.5\" fill=\"#6b7280\">advance "
            "%.2f px</text>\n",
            cx + 8, cy + 17, kInk, c.glyph, cx + cellWidth - 8, cy + 17, c.code, cx + 8, cy + cellHeight - 6,
            c.advance / 64.0);
    }
    std::fputs("</svg>\n", out);
    std::fclose(out);
    FT_Done_Face(ft);
    FT_Done_FreeType(library);
    return 0;
}
