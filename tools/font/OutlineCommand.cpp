// korv-font outline FONT [--face N] [--ppem N [--hinted]] [--char] ID...
//
// For each ID, a glyph index (or with --char a character code, U+XXXX or decimal, mapped through the face's
// character map), one header line
//   glyph G status S advance A sidebearing B contours C
// then one line per entry of the outline record:
//   M x y | L x y | Q cx cy x y | C cx1 cy1 cx2 cy2 x y      and "Z" after each contour.
// Every number is the record's own integer: 26.6 values, font units x 64. With --ppem the outline is first
// scaled by the face's own scaler (setSize(ppem, ppem), then scaleOutline in place), so coordinates are
// 26.6 pixels; the advance and side bearing stay as the record holds them (font units x 64). With --hinted
// the glyph's hint record (slot 2, filled by slot 5) is attached to that scaler before scaling: CFF faces'
// stems and alignment zones are fitted to the pixel grid (TrueType faces have no hint record: plain scaling).
// With --char, G is the glyph the code maps to, or -1 when it maps to none.
// A glyph that fails prints its status and the entries appended before the failure (completed contours
// with their "Z", then the entries of an unfinished one); the command goes on with the next ID and ends
// with the first failure's status (exit 1), or 0 when every glyph loaded.
#include <cstdio>
#include <vector>

#include "sfnt/Status.h"
#include "tools/font/Commands.h"
#include "tools/font/GlyphArguments.h"

namespace {

void printEntry(const OutlinePoint& p, FILE* out) {
    switch (p.kind) {
        case kOutlineMove:
            std::fprintf(out, "M %d %d\n", p.x, p.y);
            break;
        case kOutlineLine:
            std::fprintf(out, "L %d %d\n", p.x, p.y);
            break;
        case kOutlineQuadratic:
            std::fprintf(out, "Q %d %d %d %d\n", p.cx1, p.cy1, p.x, p.y);
            break;
        case kOutlineCubic:
            std::fprintf(out, "C %d %d %d %d %d %d\n", p.cx1, p.cy1, p.cx2, p.cy2, p.x, p.y);
            break;
        default:  // no operation of ours writes another kind; shown as it is stored
            std::fprintf(out, "E %d %d %d %d %d %d %d\n", p.kind, p.x, p.y, p.cx1, p.cy1, p.cx2, p.cy2);
            break;
    }
}

void printOutline(const GlyphOutline& o, FILE* out) {
    uint32_t i = 0;
    for (uint32_t c = 0; c < o.contourCount && c < kMaxOutlineContours; ++c) {
        for (; i < o.contourStart[c + 1] && i < o.pointCount; ++i) printEntry(o.points[i], out);
        std::fputs("Z\n", out);
    }
    for (; i < o.pointCount; ++i) printEntry(o.points[i], out);  // an unfinished contour
}

}  // namespace

int32_t runOutline(SfntFont& font, const FontOptions& options, FILE* out) {
    uint16_t ppem = 0;
    bool byCode = false;
    bool hinted = false;
    std::vector<const char*> texts;
    for (int i = 0; i < options.argumentCount; ++i) {
        const char* a = options.arguments[i];
        if (std::strcmp(a, "--ppem") == 0) {
            if (i + 1 >= options.argumentCount || !glyph_args::parsePpem(options.arguments[i + 1], ppem)) {
                std::fprintf(stderr, "korv-font: --ppem needs a pixel size from 1 to 65535\n");
                return kParamError;
            }
            ++i;
        } else if (std::strcmp(a, "--char") == 0) {
            byCode = true;
        } else if (std::strcmp(a, "--hinted") == 0) {
            hinted = true;
        } else {
            texts.push_back(a);
        }
    }
    if (hinted && !ppem) {
        std::fprintf(stderr, "korv-font: --hinted needs --ppem\n");
        return kParamError;
    }
    if (texts.empty()) {
        std::fprintf(stderr, "korv-font: outline needs at least one glyph index (or code with --char)\n");
        return kParamError;
    }
    // Glyph indexes are decimal (the face answers 2 for one it does not have); codes U+XXXX or decimal.
    std::vector<uint32_t> ids;
    for (const char* text : texts) {
        uint32_t v = 0;
        if (byCode ? !glyph_args::parseCode(text, v) : !glyph_args::parseNumber(text, UINT32_MAX, v)) {
            std::fprintf(stderr, "korv-font: %s is not a %s\n", text,
                         byCode ? "character code (U+XXXX or decimal, up to U+10FFFF)" : "glyph index");
            return kParamError;
        }
        ids.push_back(v);
    }

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

    int32_t firstFailure = 0;
    for (const uint32_t id : ids) {
        outline->clear();
        int64_t glyph = id;
        int16_t status;
        if (byCode) {
            uint32_t mapped = 0;
            glyph = font.charToGlyph(id, mapped) == 0 ? int64_t(mapped) : -1;
            status = font.getCharOutline(id, face.work, *outline);
        } else {
            status = font.getGlyphOutline(id, face.work, *outline);
        }
        if (scaler) {
            if (hintPointer) scaler->attachHints(hintPointer);
            const int16_t scaled = scaler->scaleOutline(*outline, nullptr);
            if (status == 0) status = scaled;
        }
        std::fprintf(out, "glyph %lld status %d advance %d sidebearing %d contours %u\n", (long long)glyph,
                     int(status), outline->advance, outline->sideBearing, outline->contourCount);
        printOutline(*outline, out);
        if (status != 0 && firstFailure == 0) firstFailure = status;
    }
    return firstFailure;
}
