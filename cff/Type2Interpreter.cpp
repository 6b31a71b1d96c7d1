// The Type 2 charstring interpreter.
//
// Layout of the work: the tokenizer reads operand bytes (classified by a 256-entry table) onto the fixed
// stack, follows callsubr/callgsubr/return itself through a fixed array of 10 frames, and reports every other
// operator; the first one reported decides the advance width; then each operator runs through a table
// indexed by its byte (32 one-byte entries of handler and width count, 256 escaped entries). Operands stay
// in the stack, frames in their array; the only allocations are the growth of the outline's point array and
// of the hint record's mask list.
//
// Numbers are 26.6 (font units x 64). Every sum, product and quotient is taken in 64 bits; a result that
// does not fit in a signed 32-bit value (a stack value, a point, a stem edge, the advance) is refused with
// kFontDataError. No real glyph comes near: their values stay below 2^16 units, that is 2^22 in 26.6.
//
// Drawing operators compute their points in 64 bits with a "pen" held in locals, note whether any value fell
// outside the 32-bit range, and commit the entries and the current point only when none did: a refused
// operator appends nothing.
#include "cff/Type2Interpreter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sfnt/ByteReader.h"
#include "sfnt/FixedMath.h"
#include "sfnt/Status.h"

namespace {

constexpr int32_t kOne = 64;  // 1.0 in 26.6

// endchar: the run ends when it is reported.
constexpr int32_t kOpEndChar = 14;

// The bottom ghost-stem width: -21 units.
constexpr int32_t kBottomGhostWidth = -21 * kOne;

// Bytes below 32 that the tokenizer handles itself rather than report as operators: 10 callsubr,
// 11 return, 28 (an i16 follows), 29 callgsubr. One bit per byte.
constexpr uint32_t kOpCallSubr = 10, kOpReturn = 11, kOpShortInt = 28, kOpCallGsubr = 29;
constexpr uint32_t kTokenizerBytes =
    (1u << kOpCallSubr) | (1u << kOpReturn) | (1u << kOpShortInt) | (1u << kOpCallGsubr);

// Two-byte integers: lead byte 247 + k (k = 0..7) followed by b1 is kTwoByte[k].base + kTwoByte[k].step x b1
// in 26.6, that is (k x 256 + b1 + 108) x 64 for k < 4 and -((k - 4) x 256 + b1 + 108) x 64 from 4 on.
struct TwoByteInteger {
    int32_t base;
    int32_t step;
};
constexpr std::array<TwoByteInteger, 8> makeTwoByte() {
    std::array<TwoByteInteger, 8> values{};
    for (int k = 0; k < 8; ++k) {
        const int32_t magnitude = ((k & 3) * 256 + 108) * 64;
        values[size_t(k)] = k < 4 ? TwoByteInteger{magnitude, 64} : TwoByteInteger{-magnitude, -64};
    }
    return values;
}
constexpr std::array<TwoByteInteger, 8> kTwoByte = makeTwoByte();

// v + 2^31 as an unsigned value: below 2^32 exactly when v fits in a signed 32-bit value, so that the OR
// of several tells whether all of them fit.
inline uint64_t biased(int64_t v) {
    return uint64_t(v) + 0x80000000ull;
}
// Non-zero when v does not fit in a signed 32-bit value (v is a sum of a few 32-bit values).
inline uint64_t outOfRange(int64_t v) {
    return biased(v) >> 32;
}
inline bool fits(int64_t v) {
    return outOfRange(v) == 0;
}

// 16.16 to 26.6, rounded half up: the value shifted right by 10 (toward minus infinity) plus its 2^9 bit.
inline int32_t fixedTo26Dot6(int32_t v) {
    return (v >> 10) + ((v >> 9) & 1);
}

// floor(sqrt(v)) for a 64-bit value, bit by bit.
uint64_t isqrt64(uint64_t v) {
    uint64_t root = 0;
    uint64_t bit = uint64_t(1) << 62;
    while (bit > v) bit >>= 2;
    while (bit) {
        if (v >= root + bit) {
            v -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

// Element `i` (< count) of a parsed INDEX, read straight from its offset array (count + 1 offsets of offSize
// bytes, checked ascending by the parse): the lookup of every subroutine call, kept short.
inline uint32_t offsetOf(const uint8_t* offsets, uint32_t offSize, uint32_t i) {
    const uint8_t* p = offsets + size_t(i) * offSize;
    switch (offSize) {
        case 1:
            return p[0];
        case 2:
            return loadU16(p);
        case 3:
            return (uint32_t(p[0]) << 16) | loadU16(p + 1);
        default:
            return loadU32(p);
    }
}
inline bool subroutineBounds(const CffIndex& index, uint32_t i, uint32_t& start, uint32_t& length) {
    if (!index.offsets || index.offSize < 1 || index.offSize > 4) return false;
    const uint32_t from = offsetOf(index.offsets, index.offSize, i);
    const uint32_t to = offsetOf(index.offsets, index.offSize, i + 1);
    if (from == 0 || to < from) return false;
    start = index.dataStart + from - 1;
    length = to - from;
    return true;
}

// Points of one drawing operator, computed in 64 bits in locals and committed at the end when all fit.
// `bad` gathers every coordinate plus 2^31 by OR: each one in the signed 32-bit range is then below 2^32
// (as an unsigned 64-bit value), one outside it is not, so the OR has a bit above 31 exactly when one did
// not fit.
struct Pen {
    OutlinePoint* cursor;
    int64_t x, y;
    uint64_t bad;

    void line(int64_t dx, int64_t dy) {
        x += dx;
        y += dy;
        bad |= biased(x) | biased(y);
        OutlinePoint* p = cursor++;
        p->kind = kOutlineLine;
        p->x = int32_t(x);
        p->y = int32_t(y);
    }
    void curve(int64_t dx1, int64_t dy1, int64_t dx2, int64_t dy2, int64_t dx3, int64_t dy3) {
        const int64_t x1 = x + dx1, y1 = y + dy1;
        const int64_t x2 = x1 + dx2, y2 = y1 + dy2;
        x = x2 + dx3;
        y = y2 + dy3;
        bad |= biased(x1) | biased(y1) | biased(x2) | biased(y2) | biased(x) | biased(y);
        OutlinePoint* p = cursor++;
        p->kind = kOutlineCubic;
        p->x = int32_t(x);
        p->y = int32_t(y);
        p->cx1 = int32_t(x1);
        p->cy1 = int32_t(y1);
        p->cx2 = int32_t(x2);
        p->cy2 = int32_t(y2);
    }
};

}  // namespace

// The operator handlers. Each takes its operands from stack[stackBase .. stackBase + stackCount) (the
// topmost ones when there are more than it uses) and returns 0 or a status.
struct Type2Operators {
    using T = Type2Interpreter;
    using Handler = int16_t (*)(T&);

    static int16_t fail(T&) { return KORV_FAIL(kFontDataError); }

    static void clearStack(T& t) {
        t.stackCount = 0;
        t.stackBase = 0;
    }
    static const int32_t* operands(const T& t) { return t.stack + t.stackBase; }

    // ---- contours and drawing

    // Starts a contour at (x, y): the contour limit, its start, a move entry. Room for one entry is there.
    static int16_t openContour(T& t, int32_t x, int32_t y) {
        GlyphOutline& o = *t.outline;
        if (o.contourCount >= kMaxOutlineContours) return KORV_FAIL(kFontDataError);
        o.contourStart[o.contourCount++] = uint32_t(t.cursor - o.points);
        OutlinePoint* p = t.cursor++;
        p->kind = kOutlineMove;
        p->x = x;
        p->y = y;
        t.currentX = t.startX = x;
        t.currentY = t.startY = y;
        t.m_open = true;
        return 0;
    }

    static int16_t moveTo(T& t, int64_t dx, int64_t dy) {
        const int64_t x = int64_t(t.currentX) + dx, y = int64_t(t.currentY) + dy;
        if (!fits(x) || !fits(y)) return KORV_FAIL(kFontDataError);
        if (int16_t s = t.room(2)) return s;  // the closing line and the move
        t.closeContour();
        clearStack(t);
        return openContour(t, int32_t(x), int32_t(y));
    }

    // Makes room for `entries` points (and a move), opens a contour at the current point when drawing starts
    // before any moveto, and sets up the pen.
    static int16_t begin(T& t, uint32_t entries, Pen& pen) {
        if (int16_t s = t.room(entries + 1)) return s;
        if (!t.m_open)
            if (int16_t s = openContour(t, t.currentX, t.currentY)) return s;
        pen.cursor = t.cursor;
        pen.x = t.currentX;
        pen.y = t.currentY;
        pen.bad = 0;
        return 0;
    }
    static int16_t finish(T& t, const Pen& pen) {
        if (pen.bad >> 32) return KORV_FAIL(kFontDataError);
        t.cursor = pen.cursor;
        t.currentX = int32_t(pen.x);
        t.currentY = int32_t(pen.y);
        clearStack(t);
        return 0;
    }

    static int16_t rmoveto(T& t) {
        if (t.stackCount < 2) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t) + t.stackCount - 2;
        return moveTo(t, a[0], a[1]);
    }
    static int16_t hmoveto(T& t) {
        if (t.stackCount < 1) return KORV_FAIL(kFontDataError);
        return moveTo(t, operands(t)[t.stackCount - 1], 0);
    }
    static int16_t vmoveto(T& t) {
        if (t.stackCount < 1) return KORV_FAIL(kFontDataError);
        return moveTo(t, 0, operands(t)[t.stackCount - 1]);
    }

    static int16_t rlineto(T& t) {
        const int n = t.stackCount;
        if (n < 2) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t) + (n & 1);
        const int pairs = n >> 1;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(pairs), pen)) return s;
        for (int i = 0; i < pairs; ++i, a += 2) pen.line(a[0], a[1]);
        return finish(t, pen);
    }

    // Alternating horizontal and vertical lines, one per operand.
    static int16_t alternatingLines(T& t, bool horizontal) {
        const int n = t.stackCount;
        if (n < 1) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t);
        Pen pen;
        if (int16_t s = begin(t, uint32_t(n), pen)) return s;
        int i = 0;
        if (!horizontal) pen.line(0, a[i++]);
        // Pairs of a horizontal and a vertical line, then a last horizontal one when the count is odd.
        for (; i + 1 < n; i += 2) {
            pen.line(a[i], 0);
            pen.line(0, a[i + 1]);
        }
        if (i < n) pen.line(a[i], 0);
        return finish(t, pen);
    }
    static int16_t hlineto(T& t) { return alternatingLines(t, true); }
    static int16_t vlineto(T& t) { return alternatingLines(t, false); }

    static int16_t rrcurveto(T& t) {
        const int n = t.stackCount;
        if (n < 6) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t) + n % 6;
        const int curves = n / 6;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(curves), pen)) return s;
        for (int i = 0; i < curves; ++i, a += 6) pen.curve(a[0], a[1], a[2], a[3], a[4], a[5]);
        return finish(t, pen);
    }

    static int16_t rcurveline(T& t) {
        const int n = t.stackCount;
        if (n < 8) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t) + (n - 2) % 6;
        const int curves = (n - 2) / 6;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(curves) + 1, pen)) return s;
        for (int i = 0; i < curves; ++i, a += 6) pen.curve(a[0], a[1], a[2], a[3], a[4], a[5]);
        pen.line(a[0], a[1]);
        return finish(t, pen);
    }

    static int16_t rlinecurve(T& t) {
        const int n = t.stackCount;
        if (n < 8) return KORV_FAIL(kFontDataError);
        const int32_t* a = operands(t) + ((n - 6) & 1);
        const int lines = (n - 6) >> 1;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(lines) + 1, pen)) return s;
        for (int i = 0; i < lines; ++i, a += 2) pen.line(a[0], a[1]);
        pen.curve(a[0], a[1], a[2], a[3], a[4], a[5]);
        return finish(t, pen);
    }

    // vvcurveto and hhcurveto: groups of 4; with a count that is not a multiple of 4 the operand just
    // before the first group is the first curve's dx1 (vv) or dy1 (hh), and the ones below it are skipped.
    static int16_t parallelCurves(T& t, bool vertical) {
        const int n = t.stackCount;
        if (n < 4) return KORV_FAIL(kFontDataError);
        const int extra = n % 4;
        const int32_t* a = operands(t);
        int64_t first = 0;
        if (extra) {
            a += extra - 1;
            first = *a++;
        }
        const int curves = n / 4;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(curves), pen)) return s;
        for (int i = 0; i < curves; ++i, a += 4) {
            if (vertical)
                pen.curve(first, a[0], a[1], a[2], 0, a[3]);
            else
                pen.curve(a[0], first, a[1], a[2], a[3], 0);
            first = 0;
        }
        return finish(t, pen);
    }
    static int16_t vvcurveto(T& t) { return parallelCurves(t, true); }
    static int16_t hhcurveto(T& t) { return parallelCurves(t, false); }

    // vhcurveto and hvcurveto: groups of 4 alternating vertical-start and horizontal-start curves; with a
    // count that is not a multiple of 4 the topmost 4k + 1 operands are used and the last curve takes 5 (its
    // fifth the final dx or dy).
    static int16_t alternatingCurves(T& t, bool horizontal) {
        const int n = t.stackCount;
        if (n < 4) return KORV_FAIL(kFontDataError);
        const int extra = n % 4;
        const int32_t* a = operands(t) + (extra ? extra - 1 : 0);
        const int curves = n / 4;
        Pen pen;
        if (int16_t s = begin(t, uint32_t(curves), pen)) return s;
        for (int i = 0; i < curves; ++i, a += 4, horizontal = !horizontal) {
            const int64_t last = (extra && i == curves - 1) ? a[4] : 0;
            if (horizontal)
                pen.curve(a[0], 0, a[1], a[2], last, a[3]);
            else
                pen.curve(0, a[0], a[1], a[2], a[3], last);
        }
        return finish(t, pen);
    }
    static int16_t vhcurveto(T& t) { return alternatingCurves(t, false); }
    static int16_t hvcurveto(T& t) { return alternatingCurves(t, true); }

    // The flex family: two curves from the topmost `count` operands.
    static int16_t flexOperands(T& t, int count, const int32_t*& a, Pen& pen) {
        if (t.stackCount < count) return KORV_FAIL(kFontDataError);
        a = operands(t) + t.stackCount - count;
        return begin(t, 2, pen);
    }
    static int16_t hflex(T& t) {
        const int32_t* a;
        Pen pen;
        if (int16_t s = flexOperands(t, 7, a, pen)) return s;
        pen.curve(a[0], 0, a[1], a[2], a[3], 0);
        pen.curve(a[4], 0, a[5], -int64_t(a[2]), a[6], 0);
        return finish(t, pen);
    }
    static int16_t flex(T& t) {
        const int32_t* a;
        Pen pen;
        if (int16_t s = flexOperands(t, 13, a, pen)) return s;
        pen.curve(a[0], a[1], a[2], a[3], a[4], a[5]);
        pen.curve(a[6], a[7], a[8], a[9], a[10], a[11]);  // a[12], the flex depth, is ignored
        return finish(t, pen);
    }
    static int16_t hflex1(T& t) {
        const int32_t* a;
        Pen pen;
        if (int16_t s = flexOperands(t, 9, a, pen)) return s;
        pen.curve(a[0], a[1], a[2], a[3], a[4], 0);
        pen.curve(a[5], 0, a[6], a[7], a[8], -(int64_t(a[1]) + a[3] + a[7]));
        return finish(t, pen);
    }
    static int16_t flex1(T& t) {
        const int32_t* a;
        Pen pen;
        if (int16_t s = flexOperands(t, 11, a, pen)) return s;
        const int64_t dx = int64_t(a[0]) + a[2] + a[4] + a[6] + a[8];
        const int64_t dy = int64_t(a[1]) + a[3] + a[5] + a[7] + a[9];
        pen.curve(a[0], a[1], a[2], a[3], a[4], a[5]);
        if ((dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy))
            pen.curve(a[6], a[7], a[8], a[9], a[10], -dy);
        else
            pen.curve(a[6], a[7], a[8], a[9], -dx, a[10]);
        return finish(t, pen);
    }

    // ---- hints

    // Stems from the operands in pairs (an odd count skips the bottom one): edge = running position + first,
    // width = second, running position = edge + width. A bottom ghost stem (width -21 units) is stored with
    // its edge shifted by the width. Horizontal stems go before the vertical ones in the record.
    static int16_t stems(T& t, bool horizontal) {
        const int n = t.stackCount;
        if (n < 2) return KORV_FAIL(kFontDataError);
        const int pairs = n >> 1;
        if (HintRecord* h = t.hints) {
            const int stored = h->hStemCount + h->vStemCount;
            if (stored + pairs > kType2MaxStems) return KORV_FAIL(kFontDataError);
            // Computed first, stored only when every edge fits, so that a refused operator leaves the record
            // as it was.
            Stem added[kType2MaxOperands / 2];
            const int32_t* a = operands(t) + (n & 1);
            int64_t running = 0;
            uint64_t bad = 0;
            for (int i = 0; i < pairs; ++i, a += 2) {
                const int64_t edge = running + a[0];
                const int32_t width = a[1];
                running = edge + width;
                const int64_t position = width == kBottomGhostWidth ? edge + width : edge;
                bad |= outOfRange(position);
                added[i].position = int32_t(position);
                added[i].width = width;
            }
            if (bad) return KORV_FAIL(kFontDataError);
            Stem* at = h->stems + stored;
            if (horizontal) {
                at = h->stems + h->hStemCount;
                std::memmove(at + pairs, at, size_t(h->vStemCount) * sizeof(Stem));
                h->hStemCount = int16_t(h->hStemCount + pairs);
            } else {
                h->vStemCount = int16_t(h->vStemCount + pairs);
            }
            std::memcpy(at, added, size_t(pairs) * sizeof(Stem));
        }
        // Without a record any number of stems is accepted; the count only sets the mask length, which is
        // refused from 65 stems on, so it saturates long before it could wrap.
        const int count = t.hintCount + pairs;
        t.hintCount = int16_t(count > INT16_MAX ? INT16_MAX : count);
        clearStack(t);
        return 0;
    }
    static int16_t hstem(T& t) { return stems(t, true); }
    static int16_t vstem(T& t) { return stems(t, false); }

    // hintmask and cntrmask: operands left on the stack are vertical stems; then the mask bytes follow the
    // operator, one bit per stem declared so far.
    static int16_t mask(T& t, bool record) {
        if (t.stackCount >= 2) {
            if (int16_t s = stems(t, false)) return s;
        }
        clearStack(t);
        const int length = (t.hintCount - 1) / 8 + 1;  // 1 also for no stems
        if (length > kType2MaxMaskBytes || t.m_end - t.m_position < length) return KORV_FAIL(kFontDataError);
        if (record && t.hints) {
            HintMaskEntry entry{};
            const GlyphOutline& o = *t.outline;
            uint32_t contour = o.contourCount, point = 0;
            if (t.m_open) {
                contour = o.contourCount - 1;
                point = uint32_t(t.cursor - o.points) - o.contourStart[contour];
            }
            // A contour of more than 65535 entries has no place a mask entry could name.
            if (point > 0xFFFF) return KORV_FAIL(kFontDataError);
            entry.contourIndex = uint16_t(contour);
            entry.pointIndex = uint16_t(point);
            std::memcpy(entry.mask, t.m_position, size_t(length));
            if (int16_t s = t.hints->appendMask(entry)) return s;
        }
        t.m_position += length;
        return 0;
    }
    static int16_t hintmask(T& t) { return mask(t, true); }
    static int16_t cntrmask(T& t) { return mask(t, false); }

    // ---- escaped operators: arithmetic and storage on the stack

    static int16_t escape(T& t) {
        if (t.m_position == t.m_end) return KORV_FAIL(kFontDataError);
        return kEscaped[*t.m_position++](t);
    }

    // The topmost operand; the caller has checked the count.
    static int32_t* top(T& t) { return t.stack + t.stackBase + t.stackCount - 1; }

    static int16_t pushResult(T& t, int32_t* at, int64_t value, int popped) {
        if (!fits(value)) return KORV_FAIL(kFontDataError);
        *at = int32_t(value);
        t.stackCount = int16_t(t.stackCount - popped + 1);
        return 0;
    }
    template <int64_t (*F)(int64_t, int64_t)>
    static int16_t binary(T& t) {
        if (t.stackCount < 2) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t) - 1;
        return pushResult(t, a, F(a[0], a[1]), 2);
    }
    template <int64_t (*F)(int64_t)>
    static int16_t unary(T& t) {
        if (t.stackCount < 1) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t);
        return pushResult(t, a, F(a[0]), 1);
    }
    static int64_t opAnd(int64_t a, int64_t b) { return (a != 0 && b != 0) ? kOne : 0; }
    static int64_t opOr(int64_t a, int64_t b) { return (a != 0 || b != 0) ? kOne : 0; }
    static int64_t opEq(int64_t a, int64_t b) { return a == b ? kOne : 0; }
    static int64_t opAdd(int64_t a, int64_t b) { return a + b; }
    static int64_t opSub(int64_t a, int64_t b) { return a - b; }
    static int64_t opMul(int64_t a, int64_t b) { return (a * b) >> 6; }  // |a x b| <= 2^62
    static int64_t opNot(int64_t a) { return a == 0 ? kOne : 0; }
    static int64_t opAbs(int64_t a) { return a < 0 ? -a : a; }
    static int64_t opNeg(int64_t a) { return -a; }

    static int16_t div(T& t) {
        if (t.stackCount < 2) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t) - 1;
        if (a[1] == 0) return KORV_FAIL(kFontDataError);
        return pushResult(t, a, int64_t(a[0]) * kOne / a[1], 2);  // truncated toward zero
    }

    static int16_t sqrt(T& t) {
        if (t.stackCount < 1) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t);
        if (*a < 0) return KORV_FAIL(kFontDataError);
        // sqrt(v / 64) x 64 = floor(sqrt(v) x 8). FixedSqrt gives floor(sqrt(v) x 65536) while that fits in
        // 31 bits (v below 2^30); larger operands take the same root from a 64-bit integer square root.
        if (*a < (int32_t(1) << 30)) {
            Fixed root = 0;
            FixedSqrt(*a, root);
            *a = root >> 13;
        } else {
            *a = int32_t(isqrt64(uint64_t(*a) << 6));
        }
        return 0;
    }

    static int16_t drop(T& t) {
        if (t.stackCount < 1) return KORV_FAIL(kFontDataError);
        --t.stackCount;
        return 0;
    }
    static int16_t put(T&) { return 0; }  // the transient array is not kept: operands stay on the stack
    static int16_t ifelse(T& t) {
        if (t.stackCount < 4) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t) - 3;
        if (a[3] < a[2]) a[0] = a[1];
        t.stackCount = int16_t(t.stackCount - 3);
        return 0;
    }
    static int16_t random(T& t) {
        if (t.stackBase + t.stackCount >= kType2MaxOperands) return KORV_FAIL(kFontDataError);
        const uint32_t seed = uint32_t(t.randomSeed) * 123456789u + 987654321u;
        t.randomSeed = int32_t(seed);
        t.stack[t.stackBase + t.stackCount++] = kOne - int32_t(seed & 63);  // in (0, 1]
        return 0;
    }
    static int16_t dup(T& t) {
        if (t.stackCount < 1 || t.stackBase + t.stackCount >= kType2MaxOperands)
            return KORV_FAIL(kFontDataError);
        int32_t* a = top(t);
        a[1] = a[0];
        ++t.stackCount;
        return 0;
    }
    static int16_t exch(T& t) {
        if (t.stackCount < 2) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t) - 1;
        std::swap(a[0], a[1]);
        return 0;
    }
    static int16_t index(T& t) {
        const int n = t.stackCount;
        if (n < 2) return KORV_FAIL(kFontDataError);
        int32_t* a = top(t);
        int32_t i = *a >> 6;
        if (i < 0) i = 0;  // a negative index copies the element directly below
        if (i >= n - 1) return KORV_FAIL(kFontDataError);
        *a = a[-1 - i];
        return 0;
    }
    static int16_t roll(T& t) {
        const int n = t.stackCount;
        if (n < 2) return KORV_FAIL(kFontDataError);
        const int32_t* a = top(t) - 1;
        const int32_t count = a[0] >> 6;
        const int32_t shift = a[1] >> 6;
        const int remaining = n - 2;
        if (count < 0 || count > remaining) return KORV_FAIL(kFontDataError);
        t.stackCount = int16_t(remaining);
        if (count == 0) return 0;
        int32_t up = shift % count;
        if (up < 0) up += count;
        int32_t* first = t.stack + t.stackBase + remaining - count;
        std::rotate(first, first + (count - up), first + count);
        return 0;
    }

    // ---- tables

    struct OneByte {
        Handler handler;
        int8_t width;  // width count: > 0 exactly that many operands, < 0 an odd count, 0 never a width
    };

    static constexpr std::array<OneByte, 32> makeOneByte() {
        std::array<OneByte, 32> ops{};
        for (auto& op : ops) op = {fail, 0};
        ops[1] = {hstem, -1};
        ops[3] = {vstem, -1};
        ops[4] = {vmoveto, 2};
        ops[5] = {rlineto, 0};
        ops[6] = {hlineto, 0};
        ops[7] = {vlineto, 0};
        ops[8] = {rrcurveto, 0};
        ops[12] = {escape, 0};
        ops[14] = {fail, 1};  // endchar ends the run before any handler
        ops[18] = {hstem, -1};
        ops[19] = {hintmask, -1};  // the width may come before a first hint operator that declares the
        ops[20] = {cntrmask, -1};  // stems implicitly (vstems before the mask), as before hstem and vstem
        ops[21] = {rmoveto, 3};
        ops[22] = {hmoveto, 2};
        ops[23] = {vstem, -1};
        ops[24] = {rcurveline, 0};
        ops[25] = {rlinecurve, 0};
        ops[26] = {vvcurveto, 0};
        ops[27] = {hhcurveto, 0};
        ops[30] = {vhcurveto, 0};
        ops[31] = {hvcurveto, 0};
        return ops;
    }

    static constexpr std::array<Handler, 256> makeEscaped() {
        std::array<Handler, 256> ops{};
        for (auto& op : ops) op = fail;  // 0 dotsection, 21 get and the reserved ones among them
        ops[3] = binary<opAnd>;
        ops[4] = binary<opOr>;
        ops[5] = unary<opNot>;
        ops[9] = unary<opAbs>;
        ops[10] = binary<opAdd>;
        ops[11] = binary<opSub>;
        ops[12] = div;
        ops[14] = unary<opNeg>;
        ops[15] = binary<opEq>;
        ops[18] = drop;
        ops[20] = put;
        ops[22] = ifelse;
        ops[23] = random;
        ops[24] = binary<opMul>;
        ops[26] = sqrt;
        ops[27] = dup;
        ops[28] = exch;
        ops[29] = index;
        ops[30] = roll;
        ops[34] = hflex;
        ops[35] = flex;
        ops[36] = hflex1;
        ops[37] = flex1;
        return ops;
    }

    static const std::array<OneByte, 32> kOneByte;
    static const std::array<Handler, 256> kEscaped;
};

const std::array<Type2Operators::OneByte, 32> Type2Operators::kOneByte = Type2Operators::makeOneByte();
const std::array<Type2Operators::Handler, 256> Type2Operators::kEscaped = Type2Operators::makeEscaped();

int16_t Type2Interpreter::grow(uint32_t entries) {
    // The outline doubles (at least 16 entries at a time): a caller's request for n entries at once.
    outline->pointCount = uint32_t(cursor - outline->points);
    const uint32_t capacity = outline->pointCapacity;
    if (int16_t s =
            outline->reserve(entries, capacity > kOutlineGrowthPoints ? capacity : kOutlineGrowthPoints))
        return s;
    cursor = outline->points + outline->pointCount;
    m_limit = outline->points + outline->pointCapacity;
    return 0;
}

void Type2Interpreter::closeContour() {
    if (!m_open) return;
    m_open = false;
    const uint32_t first = outline->contourStart[outline->contourCount - 1];
    const uint32_t entries = uint32_t(cursor - outline->points) - first;
    if (entries <= 1 || (currentX == startX && currentY == startY)) return;
    OutlinePoint* p = cursor++;  // the caller has made room
    p->kind = kOutlineLine;
    p->x = startX;
    p->y = startY;
}

int16_t Type2Interpreter::interpret() {
    const uint8_t* p = m_position;
    const uint8_t* end = m_end;
    int count = 0;
    bool first = true;
    for (;;) {
        if (p == end) {
            if (m_depth > 0) {
                --m_depth;
                p = m_frames[m_depth].position;
                end = m_frames[m_depth].end;
                continue;
            }
            // A charstring that ends without endchar ends with it. A width before it is taken below.
            if (!first) return 0;
            m_position = p;
            stackCount = int16_t(count);
            return takeWidth(kOpEndChar);
        }
        const uint32_t b = *p++;
        // The three frequent kinds of byte (one-byte integers are most of them, then operators, then
        // two-byte integers) are told apart by plain branches on the byte itself: a jump table here would
        // be an indirect branch per byte, mispredicted at every change of kind, and a class table would put
        // one more load between the byte and each branch (a misprediction is found that much later).
        if (b - 32 <= 246 - 32) {  // 32..246: b - 139
            if (count == kType2MaxOperands) goto malformed;
            stack[count++] = (int32_t(b) - 139) * kOne;
            continue;
        }
        if (b < 32 && ((kTokenizerBytes >> b) & 1) == 0) {
            if (m_budget == 0) goto malformed;
            --m_budget;
            m_position = p;
            m_end = end;
            // stackBase is 0 here: run() starts with it, and only takeWidth sets it, for a first operator
            // that clears the stack (and with it stackBase) whenever it succeeds: stems, masks, movetos,
            // endchar.
            stackCount = int16_t(count);
            if (first) {
                first = false;
                if (int16_t s = takeWidth(int32_t(b))) return s;
            }
            // The drawing and hint operators of real glyphs are called directly, so that the compiler can
            // inline them here; the rest go through the table. (b is below 32 here: the mask only tells the
            // compiler so.)
            int16_t status;
            using Ops = Type2Operators;
            switch (b & 31) {
                case kOpEndChar:
                    return 0;
                case 1:
                case 18:
                    status = Ops::hstem(*this);
                    break;
                case 3:
                case 23:
                    status = Ops::vstem(*this);
                    break;
                case 4:
                    status = Ops::vmoveto(*this);
                    break;
                case 5:
                    status = Ops::rlineto(*this);
                    break;
                case 6:
                    status = Ops::hlineto(*this);
                    break;
                case 7:
                    status = Ops::vlineto(*this);
                    break;
                case 8:
                    status = Ops::rrcurveto(*this);
                    break;
                case 19:
                    status = Ops::hintmask(*this);
                    break;
                case 21:
                    status = Ops::rmoveto(*this);
                    break;
                case 22:
                    status = Ops::hmoveto(*this);
                    break;
                case 24:
                    status = Ops::rcurveline(*this);
                    break;
                case 25:
                    status = Ops::rlinecurve(*this);
                    break;
                case 26:
                    status = Ops::vvcurveto(*this);
                    break;
                case 27:
                    status = Ops::hhcurveto(*this);
                    break;
                case 30:
                    status = Ops::vhcurveto(*this);
                    break;
                case 31:
                    status = Ops::hvcurveto(*this);
                    break;
                default:
                    status = Ops::kOneByte[b & 31].handler(*this);
                    break;
            }
            if (status) return status;
            // The operator may have read on (escape, masks) and leaves operands for the next one (the
            // arithmetic): the tokenizer goes on from what it left.
            p = m_position;
            end = m_end;
            count = stackBase + stackCount;
            continue;
        }
        if (b - 247 <= 254 - 247) {
            if (p == end || count == kType2MaxOperands) goto malformed;
            // 247..250: (b - 247) x 256 + b1 + 108; 251..254: the negative of (b - 251) x 256 + b1 + 108.
            const TwoByteInteger& form = kTwoByte[b - 247];
            stack[count++] = form.base + form.step * int32_t(*p++);
            continue;
        }
        switch (b) {
            case kOpCallSubr:
            case kOpCallGsubr: {
                // The number is popped (its integer part, rounded toward minus infinity) and biased.
                const CffSubrIndex* index = b == kOpCallSubr ? localSubrs : globalSubrs;
                if (m_budget == 0 || count == 0 || !index || m_depth == kType2MaxSubrDepth) goto malformed;
                --m_budget;
                const int64_t number = int64_t(stack[--count] >> 6) + index->bias;
                if (number < 0 || number >= index->count) goto malformed;
                uint32_t start = 0, length = 0;
                // The INDEX was parsed inside this table; a view that was not still cannot lead outside it.
                if (!subroutineBounds(*index, uint32_t(number), start, length) ||
                    uint64_t(start) + length > cffLength)
                    goto malformed;
                m_frames[m_depth++] = Frame{p, end, m_cff + start};
                p = m_cff + start;
                end = p + length;
                continue;
            }
            case kOpReturn:
                if (m_budget == 0 || m_depth == 0) goto malformed;
                --m_budget;
                --m_depth;
                p = m_frames[m_depth].position;
                end = m_frames[m_depth].end;
                continue;
            case kOpShortInt:
                if (end - p < 2 || count == kType2MaxOperands) goto malformed;
                stack[count++] = int32_t(int16_t(loadU16(p))) * kOne;
                p += 2;
                continue;
            default:  // 255: a 16.16 value follows
                if (end - p < 4 || count == kType2MaxOperands) goto malformed;
                stack[count++] = fixedTo26Dot6(int32_t(loadU32(p)));
                p += 4;
                continue;
        }
    }

malformed:
    m_position = p;
    m_end = end;
    stackBase = 0;
    stackCount = int16_t(count);
    return KORV_FAIL(kFontDataError);
}

int16_t Type2Interpreter::takeWidth(int32_t op) {
    // The first operator decides the width: a bottom operand beyond what it takes.
    const int width = Type2Operators::kOneByte[size_t(op)].width;
    int64_t advance = int64_t(defaultWidthX) * kOne;
    if ((width > 0 && stackCount == width) || (width < 0 && (stackCount & 1))) {
        advance = int64_t(stack[0] & ~(kOne - 1)) + int64_t(nominalWidthX) * kOne;
        stackBase = 1;
        --stackCount;
    }
    if (!fits(advance)) return KORV_FAIL(kFontDataError);
    outline->advance = int32_t(advance);
    return 0;
}

int16_t Type2Interpreter::run(uint32_t start, uint32_t length, GlyphOutline& glyph, HintRecord* hintRecord) {
    outline = &glyph;
    hints = hintRecord;
    if (hints) hints->clear();
    stackCount = 0;
    stackBase = 0;
    hintCount = 0;
    currentX = currentY = startX = startY = 0;
    m_depth = 0;
    m_budget = kType2OperatorBudget;
    m_open = false;
    cursor = glyph.points + glyph.pointCount;
    m_limit = glyph.points + glyph.pointCapacity;

    int16_t status = 0;
    // The charstring must lie inside the CFF table, and the table inside the buffer.
    if (!data || uint64_t(cffOffset) + cffLength > dataSize || uint64_t(start) + length > cffLength) {
        status = KORV_FAIL(kFontDataError);
    } else {
        m_cff = data + cffOffset;
        m_position = m_cff + start;
        m_end = m_position + length;
        status = interpret();
    }
    if (status == 0) {
        status = room(1);
        if (status == 0) closeContour();
    }

    glyph.pointCount = uint32_t(cursor - glyph.points);
    glyph.contourStart[glyph.contourCount] = glyph.pointCount;
    operatorsExecuted = kType2OperatorBudget - m_budget;
    return status;
}
