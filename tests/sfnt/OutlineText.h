// Outlines as text for tests, one contour per line: "M x y L x y Q cx cy x y C cx1 cy1 cx2 cy2 x y Z".
// rawOutlineText prints the record's own 26.6 integers; outlineText prints font units (value / 64, with
// the exact decimal fraction when there is one), which reads more easily in crafted glyph tests.
#pragma once

#include <cstdint>
#include <string>

#include "sfnt/GlyphOutline.h"

namespace outline_text {

inline std::string raw(int32_t v) {
    return std::to_string(v);
}

inline std::string units(int32_t v) {
    const int64_t value = v;
    const int64_t magnitude = value < 0 ? -value : value;
    std::string s;
    if (value < 0) s += '-';
    s += std::to_string(magnitude / 64);
    int64_t fraction = magnitude % 64;
    if (fraction) {
        s += '.';
        // 1/64 = 0.015625: six decimal digits are exact.
        fraction *= 15625;
        std::string digits = std::to_string(fraction);
        digits.insert(0, 6 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        s += digits;
    }
    return s;
}

template <typename Format>
std::string text(const GlyphOutline& o, Format format) {
    std::string s;
    for (uint32_t c = 0; c < o.contourCount; ++c) {
        for (uint32_t i = o.contourStart[c]; i < o.contourStart[c + 1]; ++i) {
            const OutlinePoint& p = o.points[i];
            if (i != o.contourStart[c]) s += ' ';
            switch (p.kind) {
                case kOutlineMove:
                    s += "M " + format(p.x) + ' ' + format(p.y);
                    break;
                case kOutlineLine:
                    s += "L " + format(p.x) + ' ' + format(p.y);
                    break;
                case kOutlineQuadratic:
                    s += "Q " + format(p.cx1) + ' ' + format(p.cy1) + ' ' + format(p.x) + ' ' + format(p.y);
                    break;
                case kOutlineCubic:
                    s += "C " + format(p.cx1) + ' ' + format(p.cy1) + ' ' + format(p.cx2) + ' ' +
                         format(p.cy2) + ' ' + format(p.x) + ' ' + format(p.y);
                    break;
                default:
                    s += '?' + std::to_string(p.kind);
                    break;
            }
        }
        s += " Z\n";
    }
    return s;
}

}  // namespace outline_text

inline std::string rawOutlineText(const GlyphOutline& o) {
    return outline_text::text(o, outline_text::raw);
}
inline std::string outlineText(const GlyphOutline& o) {
    return outline_text::text(o, outline_text::units);
}
