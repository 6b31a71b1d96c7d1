// Glyph access of CFF fonts: the outline of a glyph by index or by character code, through the Type 2
// charstring interpreter; the hint record the interpreter fills; and the working state a caller needs.
//
// Ownership: prepareGlyphWork() creates the interpreter (it is large: a 48-entry stack and 10 frames) and
// hands it to the caller inside the GlyphWork; releaseGlyphWork() frees it. The font itself points the
// interpreter at its buffer and CFF table on every glyph, so an interpreter can never run one font's
// charstrings against another font's bytes. A caller therefore loads a CFF glyph exactly as a TrueType one:
//     GlyphWork work; font->prepareGlyphWork(work); GlyphOutline* o = font->newOutline();
//     font->getGlyphOutline(g, work, *o); ... font->releaseGlyphWork(work); deleteGlyphOutline(o);
// Hints are wanted when work.hints points at a hint-record pointer that holds a record (newHintRecord()).
//
// The random operator's seed starts at 0 in every new interpreter and is only advanced by glyphs that use
// the operator: the same sequence of glyph loads gives the same outlines in every run and on every platform.
// (Fonts practically never use it; a fixed start is what makes their outlines reproducible.)
#include <new>

#include "cff/CffFont.h"
#include "cff/Type2Interpreter.h"

namespace {

constexpr int32_t kInitialRandomSeed = 0;

}  // namespace

HintRecord* CffFont::newHintRecord() {
    return new (std::nothrow) HintRecord;
}

uint32_t CffFont::hintingKind() const {
    return HintRecord::kTag;
}

int16_t CffFont::prepareGlyphWork(GlyphWork& work) {
    Type2Interpreter* interpreter = new (std::nothrow) Type2Interpreter;
    if (!interpreter) return KORV_FAIL(int16_t(kOutOfMemory));
    interpreter->data = data;
    interpreter->dataSize = dataSize;
    interpreter->cffOffset = cffOffset;
    interpreter->cffLength = cffLength;
    interpreter->randomSeed = kInitialRandomSeed;
    work.interpreter = interpreter;
    return 0;
}

void CffFont::releaseGlyphWork(GlyphWork& work) {
    delete work.interpreter;
    work.interpreter = nullptr;
}

int16_t CffFont::getGlyphOutline(uint32_t glyph, GlyphWork& work, GlyphOutline& outline) {
    if (glyph >= charStrings.count) return int16_t(kGlyphAbsent);
    Type2Interpreter* interpreter = work.interpreter;
    if (!interpreter) return KORV_FAIL(int16_t(kParamError));  // prepareGlyphWork() was not called

    // The glyph's Font DICT. FDSelect is only consulted with more than one; an index it gives that names no
    // Font DICT of the font is malformed data (its Private DICT slot was never loaded).
    int32_t fd = 0;
    if (fdCount > 1) {
        fd = fontDictOf(glyph, interpreter->fdRangeHint);
        if (fd < 0 || fd >= fdCount) return KORV_FAIL(kFontDataError);
    }
    const CffPrivateDict& privateDict = privateDicts[fd];
    interpreter->data = data;
    interpreter->dataSize = dataSize;
    interpreter->cffOffset = cffOffset;
    interpreter->cffLength = cffLength;
    interpreter->globalSubrs = &globalSubrs;
    interpreter->localSubrs = &localSubrs[fd];
    interpreter->defaultWidthX = privateDict.defaultWidthX;
    interpreter->nominalWidthX = privateDict.nominalWidthX;
    HintRecord* hints = work.hints ? *work.hints : nullptr;

    uint32_t start = 0, length = 0;
    charStrings.getElement(uint16_t(glyph), start, length);
    if (length == 0) {
        // No contours and the default advance; a record describes this glyph too: no stems, no masks.
        const int64_t advance = int64_t(privateDict.defaultWidthX) * 64;
        if (advance < INT32_MIN || advance > INT32_MAX) return KORV_FAIL(kFontDataError);
        outline.advance = int32_t(advance);
        if (hints) {
            hints->clear();
            hints->fdIndex = fd;
        }
        return 0;
    }
    const int16_t status = interpreter->run(start, length, outline, hints);
    if (status == 0 && hints) hints->fdIndex = fd;
    return status;
}

int16_t CffFont::getCharOutline(uint32_t code, GlyphWork& work, GlyphOutline& outline) {
    uint32_t glyph = 0;
    const int16_t status = charToGlyph(code, glyph);  // -35 without a (3,1) subtable, 2 when not mapped
    if (status != 0) return status;
    return getGlyphOutline(glyph, work, outline);
}
