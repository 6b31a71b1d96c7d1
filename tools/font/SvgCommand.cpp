// korv-font svg FONT [--face N] [--ppem N [--hinted]] [--glyphs A-B | --text STRING] [--points] [-o OUT.svg]
//
// A sheet of glyphs, one cell each: the glyph index (and the character for --text) above, the outline
// filled with the non-zero winding rule, the baseline, the origin and the advance marked, the ascender and
// descender dashed. --points adds the outline's points: on-curve points filled, off-curve (control) points
// hollow with their handles, and the on-curve points a quadratic outline implies between two control points
// as small grey dots. With --ppem the outline is scaled by the face's own scaler to that pixel size (the
// metric lines likewise, with the same truncating arithmetic) and drawn magnified over the pixel grid; with
// --hinted the glyph's hint record is attached to that scaler first (CFF faces: stems and zones fitted).
// --glyphs takes one index or a range A-B (default: the first 64 glyphs); --text a UTF-8 string whose
// characters are mapped through the face's character map. A glyph that fails shows its status in its cell.
// The sheet goes to OUT.svg, or to standard output without -o; it is written even when glyphs fail.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sfnt/Status.h"
#include "tools/font/Commands.h"
#include "tools/font/GlyphArguments.h"

namespace {

constexpr uint32_t kDefaultGlyphs = 64;
constexpr uint32_t kMaxSheetGlyphs = 65536;
constexpr double kEmPixels = 128;         // screen pixels per em without --ppem
constexpr double kEmPixelsPoints = 240;   // ... with --points, so that the points have room
constexpr double kPixelSpanPixels = 168;  // about this many screen pixels per em with --ppem
constexpr double kMargin = 14, kLabel = 24, kFooter = 18, kGap = 10, kMinCellWidth = 92;
constexpr int kMaxColumns = 10;

// The colours of the sheet.
const char* const kInk = "#1f2937";
const char* const kBaseline = "#2563eb";
const char* const kAdvance = "#e11d48";
const char* const kGuide = "#9ca3af";
const char* const kGrid = "#d9dde3";
const char* const kOnCurve = "#dc2626";
const char* const kOffCurve = "#2563eb";
const char* const kHandle = "#93c5fd";

struct Cell {
    int64_t glyph = -1;  // -1: the character maps to no glyph
    int64_t code = -1;   // the character, for --text
    int16_t status = 0;
    std::vector<OutlinePoint> entries;
    std::vector<uint32_t> contourEnds;  // entry index past each completed contour
    int32_t advance = 0;                // in the sheet's units (below)
};

// Decodes UTF-8; a malformed sequence becomes U+FFFD.
std::vector<uint32_t> decodeUtf8(const char* s) {
    std::vector<uint32_t> codes;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        const unsigned char c = *p;
        uint32_t code = 0xFFFD;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) {
            ++p;
        } else {
            code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
            ++p;
            for (int i = 0; i < extra; ++i, ++p) {
                if ((*p & 0xC0) != 0x80) {
                    code = 0xFFFD;
                    break;
                }
                code = (code << 6) | (*p & 0x3F);
            }
            if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        }
        codes.push_back(code);
    }
    return codes;
}

std::string escape(const std::string& text) {
    std::string s;
    for (const char c : text) {
        switch (c) {
            case '&':
                s += "&amp;";
                break;
            case '<':
                s += "&lt;";
                break;
            case '>':
                s += "&gt;";
                break;
            case '"':
                s += "&quot;";
                break;
            default:
                s += c;
        }
    }
    return s;
}

std::string utf8(uint32_t code) {
    std::string s;
    if (code < 0x80) {
        s += char(code);
    } else if (code < 0x800) {
        s += char(0xC0 | (code >> 6));
        s += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        s += char(0xE0 | (code >> 12));
        s += char(0x80 | ((code >> 6) & 0x3F));
        s += char(0x80 | (code & 0x3F));
    } else {
        s += char(0xF0 | (code >> 18));
        s += char(0x80 | ((code >> 12) & 0x3F));
        s += char(0x80 | ((code >> 6) & 0x3F));
        s += char(0x80 | (code & 0x3F));
    }
    return s;
}

// A font-unit metric in the sheet's units: 26.6 font units, or 26.6 pixels with the plain scaler's
// arithmetic (size x value / unitsPerEm, truncated).
int32_t sheetUnits(int32_t fontUnits, uint16_t ppem, uint16_t unitsPerEm) {
    const int64_t v = int64_t(fontUnits) * 64;
    return int32_t(ppem && unitsPerEm ? v * ppem / unitsPerEm : v);
}

// The whole pixel at or below v (26.6).
int64_t floorPixel(int64_t v) {
    return v >= 0 ? v / 64 * 64 : -((-v + 63) / 64) * 64;
}

// Is the end of quadratic entry `e` the midpoint of its control point and the next entry's (a point the
// TrueType outline implies rather than stores)?
bool impliedBetween(const OutlinePoint& e, const OutlinePoint& next) {
    if (e.kind != kOutlineQuadratic || next.kind != kOutlineQuadratic) return false;
    const int64_t mx = (int64_t(e.cx1) + next.cx1) / 2, my = (int64_t(e.cy1) + next.cy1) / 2;
    return std::abs(mx - e.x) <= 1 && std::abs(my - e.y) <= 1;
}

class Sheet {
public:
    Sheet(FILE* out, double scale) : m_out(out), m_k(scale) {}

    // Screen position of sheet units (x, y) in a cell whose origin is at (ox, oy).
    double sx(double ox, int64_t x) const { return ox + double(x) * m_k; }
    double sy(double oy, int64_t y) const { return oy - double(y) * m_k; }

    void line(double x1, double y1, double x2, double y2, const char* colour, double width,
              bool dashed = false) {
        std::fprintf(
            m_out,
            "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" stroke-width=\"%.2f\"%s/>\n",
            x1, y1, x2, y2, colour, width, dashed ? " stroke-dasharray=\"4 3\"" : "");
    }

    // The filled outline: dark; translucent over a pixel grid; light with a thin dark edge under points.
    enum class Fill { Solid, Translucent, Light };
    void path(const Cell& cell, double ox, double oy, Fill fill) {
        // Screen coordinates (not a scaling transform, so that strokes keep their width in every viewer).
        std::string d;
        char buffer[200];
        uint32_t contour = 0;
        for (uint32_t i = 0; i < cell.entries.size(); ++i) {
            const OutlinePoint& p = cell.entries[i];
            const double x = sx(ox, p.x), y = sy(oy, p.y);
            switch (p.kind) {
                case kOutlineMove:
                    std::snprintf(buffer, sizeof buffer, "M%.2f %.2f", x, y);
                    break;
                case kOutlineLine:
                    std::snprintf(buffer, sizeof buffer, "L%.2f %.2f", x, y);
                    break;
                case kOutlineQuadratic:
                    std::snprintf(buffer, sizeof buffer, "Q%.2f %.2f %.2f %.2f", sx(ox, p.cx1), sy(oy, p.cy1),
                                  x, y);
                    break;
                case kOutlineCubic:
                    std::snprintf(buffer, sizeof buffer, "C%.2f %.2f %.2f %.2f %.2f %.2f", sx(ox, p.cx1),
                                  sy(oy, p.cy1), sx(ox, p.cx2), sy(oy, p.cy2), x, y);
                    break;
                default:
                    buffer[0] = 0;
            }
            d += buffer;
            if (contour < cell.contourEnds.size() && i + 1 == cell.contourEnds[contour]) {
                d += 'Z';
                ++contour;
            }
        }
        if (d.empty()) return;
        const char* style =
            fill == Fill::Solid ? "fill=\"#1f2937\""
            : fill == Fill::Translucent
                ? "fill=\"#1f2937\" fill-opacity=\"0.78\""
                : "fill=\"#dbe1ea\" fill-opacity=\"0.85\" stroke=\"#1f2937\" stroke-width=\"1.1\"";
        std::fprintf(m_out, "<path %s fill-rule=\"nonzero\" d=\"%s\"/>\n", style, d.c_str());
    }

    void points(const Cell& cell, double ox, double oy) {
        // Handles first, then the points over them.
        uint32_t contour = 0;
        std::string handles, dots;
        char buffer[200];
        int64_t px = 0, py = 0;
        for (uint32_t i = 0; i < cell.entries.size(); ++i) {
            const OutlinePoint& p = cell.entries[i];
            const uint32_t contourEnd =
                contour < cell.contourEnds.size() ? cell.contourEnds[contour] : uint32_t(cell.entries.size());
            auto handle = [&](int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
                std::snprintf(buffer, sizeof buffer, "M%.2f %.2fL%.2f %.2f", sx(ox, x1), sy(oy, y1),
                              sx(ox, x2), sy(oy, y2));
                handles += buffer;
            };
            auto control = [&](int64_t x, int64_t y) {
                std::snprintf(buffer, sizeof buffer,
                              "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.6\" fill=\"white\" stroke=\"%s\" "
                              "stroke-width=\"1.2\"/>\n",
                              sx(ox, x), sy(oy, y), kOffCurve);
                dots += buffer;
            };
            if (p.kind == kOutlineQuadratic) {
                handle(px, py, p.cx1, p.cy1);
                handle(p.cx1, p.cy1, p.x, p.y);
                control(p.cx1, p.cy1);
            } else if (p.kind == kOutlineCubic) {
                handle(px, py, p.cx1, p.cy1);
                handle(p.cx2, p.cy2, p.x, p.y);
                control(p.cx1, p.cy1);
                control(p.cx2, p.cy2);
            }
            // The end point: implied between two curves (the contour's start when the contour closes with a
            // curve into a curve), or stored.
            bool implied = false;
            if (p.kind == kOutlineMove) {
                const uint32_t last = contourEnd - 1;
                implied = last > i + 1 && impliedBetween(cell.entries[last], cell.entries[i + 1]) &&
                          cell.entries[last].x == p.x && cell.entries[last].y == p.y;
            } else if (i + 1 < contourEnd) {
                implied = impliedBetween(p, cell.entries[i + 1]);
            } else {
                implied = true;  // the closing entry ends on the contour's start, drawn with the move
            }
            if (!implied || p.kind == kOutlineMove) {
                std::snprintf(buffer, sizeof buffer,
                              "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%s\" fill=\"%s\"/>\n", sx(ox, p.x),
                              sy(oy, p.y), implied ? "1.7" : "2.6", implied ? kGuide : kOnCurve);
                dots += buffer;
            }
            px = p.x;
            py = p.y;
            if (i + 1 == contourEnd) ++contour;
        }
        if (!handles.empty())
            std::fprintf(m_out, "<path d=\"%s\" stroke=\"%s\" stroke-width=\"0.9\" fill=\"none\"/>\n",
                         handles.c_str(), kHandle);
        std::fputs(dots.c_str(), m_out);
    }

private:
    FILE* m_out;
    double m_k;
};

}  // namespace

int32_t runSvg(SfntFont& font, const FontOptions& options, FILE* out) {
    uint16_t ppem = 0;
    bool showPoints = false;
    bool hinted = false;
    const char* outputPath = nullptr;
    const char* glyphRange = nullptr;
    const char* text = nullptr;
    for (int i = 0; i < options.argumentCount; ++i) {
        const char* a = options.arguments[i];
        const bool hasValue = i + 1 < options.argumentCount;
        if (std::strcmp(a, "--ppem") == 0) {
            if (!hasValue || !glyph_args::parsePpem(options.arguments[i + 1], ppem)) {
                std::fprintf(stderr, "korv-font: --ppem needs a pixel size from 1 to 65535\n");
                return kParamError;
            }
            ++i;
        } else if (std::strcmp(a, "--glyphs") == 0 && hasValue) {
            glyphRange = options.arguments[++i];
        } else if (std::strcmp(a, "--text") == 0 && hasValue) {
            text = options.arguments[++i];
        } else if (std::strcmp(a, "-o") == 0 && hasValue) {
            outputPath = options.arguments[++i];
        } else if (std::strcmp(a, "--points") == 0) {
            showPoints = true;
        } else if (std::strcmp(a, "--hinted") == 0) {
            hinted = true;
        } else {
            std::fprintf(stderr, "korv-font: svg does not know %s\n", a);
            return kParamError;
        }
    }
    if (hinted && !ppem) {
        std::fprintf(stderr, "korv-font: --hinted needs --ppem\n");
        return kParamError;
    }
    if (glyphRange && text) {
        std::fprintf(stderr, "korv-font: svg takes --glyphs or --text, not both\n");
        return kParamError;
    }

    // The cells: glyph indexes, or characters mapped to glyphs.
    std::vector<Cell> cells;
    if (text) {
        for (const uint32_t code : decodeUtf8(text)) {
            Cell c;
            c.code = code;
            uint32_t glyph = 0;
            c.status = font.charToGlyph(code, glyph);
            if (c.status == 0) c.glyph = glyph;
            cells.push_back(c);
        }
    } else {
        uint32_t first = 0, last = font.glyphCount ? std::min(font.glyphCount, kDefaultGlyphs) - 1 : 0;
        if (glyphRange) {
            std::string range = glyphRange;
            const size_t dash = range.find('-');
            const std::string a = range.substr(0, dash),
                              b = dash == std::string::npos ? a : range.substr(dash + 1);
            if (!glyph_args::parseNumber(a.c_str(), UINT32_MAX, first) ||
                !glyph_args::parseNumber(b.c_str(), UINT32_MAX, last) || last < first ||
                uint64_t(last) - first >= kMaxSheetGlyphs) {
                std::fprintf(stderr, "korv-font: --glyphs needs A or A-B (A <= B, at most %u glyphs)\n",
                             kMaxSheetGlyphs);
                return kParamError;
            }
        } else if (font.glyphCount == 0) {
            std::fprintf(stderr, "korv-font: the face has no glyphs\n");
            return kParamError;
        }
        for (uint64_t g = first; g <= last; ++g) {
            Cell c;
            c.glyph = int64_t(g);
            cells.push_back(c);
        }
    }
    if (cells.empty()) {
        std::fprintf(stderr, "korv-font: nothing to draw\n");
        return kParamError;
    }

    // Load (and scale) every glyph.
    glyph_args::FaceWork face(font);
    if (face.status) return face.status;
    glyph_args::OutlinePtr outline(font.newOutline());
    if (!outline) return kOutOfMemory;
    std::unique_ptr<OutlineScaler> scaler;
    if (ppem) {
        scaler.reset(font.newScaler());
        if (!scaler) return kOutOfMemory;
        scaler->setSize(ppem, ppem);
    }
    // --hinted: the face's hint record receives each glyph's hints and is attached to the scaler.
    std::unique_ptr<HintRecord> hints(hinted ? font.newHintRecord() : nullptr);
    HintRecord* hintPointer = hints.get();
    if (hinted && font.hintingKind() != 0 && !hintPointer) return kOutOfMemory;
    if (hintPointer) face.work.hints = &hintPointer;
    const uint16_t em = font.unitsPerEm;
    // Vertical guides: the typographic ascender and descender when the face has 'OS/2', else its box.
    const int32_t ascender = sheetUnits(font.os2Length ? font.os2.sTypoAscender : font.head.yMax, ppem, em);
    const int32_t descender = sheetUnits(font.os2Length ? font.os2.sTypoDescender : font.head.yMin, ppem, em);
    int64_t left = 0, right = 0, top = ascender, bottom = descender;
    for (Cell& c : cells) {
        if (c.glyph < 0) continue;
        outline->clear();
        c.status = font.getGlyphOutline(uint32_t(c.glyph), face.work, *outline);
        if (scaler) {
            if (hintPointer) scaler->attachHints(hintPointer);
            const int16_t scaled = scaler->scaleOutline(*outline, nullptr);
            if (c.status == 0) c.status = scaled;
        }
        c.entries.assign(outline->points, outline->points + outline->pointCount);
        for (uint32_t i = 1; i <= outline->contourCount && i <= kMaxOutlineContours; ++i)
            c.contourEnds.push_back(outline->contourStart[i]);
        c.advance = int32_t(ppem && em ? int64_t(outline->advance) * ppem / em : outline->advance);
        right = std::max<int64_t>(right, c.advance);
        for (const OutlinePoint& p : c.entries) {
            const int n = p.kind == kOutlineCubic ? 3 : p.kind == kOutlineQuadratic ? 2 : 1;
            const int32_t xs[3] = {p.x, p.cx1, p.cx2}, ys[3] = {p.y, p.cy1, p.cy2};
            for (int j = 0; j < n; ++j) {
                left = std::min<int64_t>(left, xs[j]);
                right = std::max<int64_t>(right, xs[j]);
                bottom = std::min<int64_t>(bottom, ys[j]);
                top = std::max<int64_t>(top, ys[j]);
            }
        }
    }
    if (ppem) {
        // Whole pixels around everything and one more on each side, so the grid closes around the glyph.
        left = floorPixel(left) - 64;
        bottom = floorPixel(bottom) - 64;
        right = -floorPixel(-right) + 64;
        top = -floorPixel(-top) + 64;
    }
    if (right == left) right = left + 64;
    if (top == bottom) top = bottom + 64;

    // Screen pixels per sheet unit, and the cell size.
    double pixelSize = 0;
    double k;
    if (ppem) {
        pixelSize = std::max(3.0, double(int(kPixelSpanPixels / ppem)));
        k = pixelSize / 64;
    } else {
        k = (showPoints ? kEmPixelsPoints : kEmPixels) / (64.0 * (em ? em : 1000));
    }
    const double cellWidth = std::max(kMinCellWidth, double(right - left) * k + 2 * kMargin);
    const double cellHeight = double(top - bottom) * k + 2 * kMargin + kLabel + kFooter;
    const int columns = int(std::min<size_t>(cells.size(), kMaxColumns));
    const int rows = int((cells.size() + size_t(columns) - 1) / size_t(columns));
    const double headerHeight = 40;
    const double width = kGap + columns * (cellWidth + kGap);
    const double height = headerHeight + rows * (cellHeight + kGap) + kGap;

    FILE* file = out;
    if (outputPath) {
        file = std::fopen(outputPath, "wb");
        if (!file) {
            std::fprintf(stderr, "korv-font: cannot write %s\n", outputPath);
            return kIoError;
        }
    }
    Sheet sheet(file, k);
    std::fprintf(
        file,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"DejaVu Sans, Verdana, sans-serif\">\n",
        width, height, width, height);
    std::fprintf(file, "<rect width=\"100%%\" height=\"100%%\" fill=\"#f3f4f6\"/>\n");
    std::string name = options.path ? options.path : "";
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    std::string title =
        name + (options.face ? "  face " + std::to_string(options.face) : "") + "  \xC2\xB7  " +
        std::to_string(cells.size()) + (cells.size() == 1 ? " glyph" : " glyphs") + "  \xC2\xB7  " +
        (ppem ? std::to_string(ppem) + (hinted ? " ppem hinted, pixel grid" : " ppem, pixel grid")
              : std::to_string(em) + " units per em");
    std::fprintf(file,
                 "<text x=\"%.0f\" y=\"26\" font-size=\"15\" fill=\"%s\" font-weight=\"bold\">%s</text>\n",
                 kGap + 2, kInk, escape(title).c_str());

    for (size_t n = 0; n < cells.size(); ++n) {
        const Cell& c = cells[n];
        const double cx = kGap + double(n % size_t(columns)) * (cellWidth + kGap);
        const double cy = headerHeight + double(n / size_t(columns)) * (cellHeight + kGap);
        // The glyph's origin in screen pixels, centred horizontally in the cell.
        const double drawn = double(right - left) * k;
        const double ox = cx + (cellWidth - drawn) / 2 - double(left) * k;
        const double oy = cy + kLabel + kMargin + double(top) * k;
        std::fprintf(file,
                     "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" rx=\"6\" fill=\"white\" "
                     "stroke=\"#d1d5db\"/>\n",
                     cx, cy, cellWidth, cellHeight);
        const double frameTop = sheet.sy(oy, top), frameBottom = sheet.sy(oy, bottom);
        const double frameLeft = sheet.sx(ox, left), frameRight = sheet.sx(ox, right);
        if (ppem) {
            std::string grid;
            char buffer[120];
            for (int64_t x = left; x <= right; x += 64) {
                std::snprintf(buffer, sizeof buffer, "M%.2f %.2fV%.2f", sheet.sx(ox, x), frameTop,
                              frameBottom);
                grid += buffer;
            }
            for (int64_t y = bottom; y <= top; y += 64) {
                std::snprintf(buffer, sizeof buffer, "M%.2f %.2fH%.2f", frameLeft, sheet.sy(oy, y),
                              frameRight);
                grid += buffer;
            }
            std::fprintf(file, "<path d=\"%s\" stroke=\"%s\" stroke-width=\"1\" fill=\"none\"/>\n",
                         grid.c_str(), kGrid);
        }
        // Metric lines: ascender and descender dashed, then the baseline, the origin and the advance.
        sheet.line(frameLeft, sheet.sy(oy, ascender), frameRight, sheet.sy(oy, ascender), kGuide, 0.8, true);
        sheet.line(frameLeft, sheet.sy(oy, descender), frameRight, sheet.sy(oy, descender), kGuide, 0.8,
                   true);
        sheet.path(c, ox, oy,
                   showPoints ? Sheet::Fill::Light
                   : ppem     ? Sheet::Fill::Translucent
                              : Sheet::Fill::Solid);
        sheet.line(frameLeft, oy, frameRight, oy, kBaseline, 1.2);
        sheet.line(ox, frameTop, ox, frameBottom, kAdvance, 0.9, true);
        if (c.glyph >= 0)
            sheet.line(sheet.sx(ox, c.advance), frameTop, sheet.sx(ox, c.advance), frameBottom, kAdvance,
                       1.2);
        if (showPoints) sheet.points(c, ox, oy);

        // Labels: the index (and the character) above, the advance below, a failure in red.
        std::string label = c.glyph >= 0 ? std::to_string(c.glyph) : "\xE2\x80\x94";
        std::fprintf(
            file, "<text x=\"%.2f\" y=\"%.2f\" font-size=\"13\" fill=\"%s\" font-weight=\"bold\">%s</text>\n",
            cx + 8, cy + 17, kInk, escape(label).c_str());
        if (c.code >= 0) {
            char codeText[16];
            std::snprintf(codeText, sizeof codeText, "U+%04X", unsigned(c.code));
            std::string shown = codeText;
            if (c.code > 0x20 && c.code != 0x7F && c.code != 0xFFFD) shown += " " + utf8(uint32_t(c.code));
            std::fprintf(file,
                         "<text x=\"%.2f\" y=\"%.2f\" font-size=\"11\" fill=\"#6b7280\" "
                         "text-anchor=\"end\">%s</text>\n",
                         cx + cellWidth - 8, cy + 17, escape(shown).c_str());
        }
        std::string footer;
        if (c.status != 0) {
            footer = "status " + std::to_string(c.status);
        } else {
            const double advance = c.advance / 64.0;
            char buffer[48];
            std::snprintf(buffer, sizeof buffer, ppem ? "advance %.2f px" : "advance %.0f", advance);
            footer = buffer;
        }
        std::fprintf(file, "<text x=\"%.2f\" y=\"%.2f\" font-size=\"10.5\" fill=\"%s\">%s</text>\n", cx + 8,
                     cy + cellHeight - 6, c.status ? kOnCurve : "#6b7280", escape(footer).c_str());
    }
    std::fputs("</svg>\n", file);
    const bool written = std::ferror(file) == 0;
    if (outputPath && std::fclose(file) != 0) return kIoError;
    return written ? 0 : kIoError;
}
