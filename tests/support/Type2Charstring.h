// A small assembler of Type 2 charstrings for tests, fuzz seeds and benchmarks: a text of operands and
// operator names, separated by blanks, becomes charstring bytes.
//   123  -5          integers, in the shortest encoding (1 byte for -107..107, 2 up to +-1131, else 28 i16)
//   i:-5             an integer always in the 28 i16 form; b:5 in the 1-byte form
//   f:1.5  f:0x8000  a 16.16 operand (255 and four bytes), decimal or as the raw 32-bit value
//   rmoveto  hstem   one-byte operators by name; escaped ones (add, flex1 ...) become 12 b
//   op:9  esc:38     any one-byte operator / escaped operator by number
//   x:1A2B           raw bytes in hex (mask bytes, truncated operands)
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace type2 {

using Bytes = std::vector<uint8_t>;

inline const std::map<std::string, int>& operatorCodes() {
    static const std::map<std::string, int> codes = {
        {"hstem", 1},
        {"vstem", 3},
        {"vmoveto", 4},
        {"rlineto", 5},
        {"hlineto", 6},
        {"vlineto", 7},
        {"rrcurveto", 8},
        {"callsubr", 10},
        {"return", 11},
        {"endchar", 14},
        {"hstemhm", 18},
        {"hintmask", 19},
        {"cntrmask", 20},
        {"rmoveto", 21},
        {"hmoveto", 22},
        {"vstemhm", 23},
        {"rcurveline", 24},
        {"rlinecurve", 25},
        {"vvcurveto", 26},
        {"hhcurveto", 27},
        {"callgsubr", 29},
        {"vhcurveto", 30},
        {"hvcurveto", 31},
        // escaped: 256 + b
        {"dotsection", 256},
        {"and", 259},
        {"or", 260},
        {"not", 261},
        {"abs", 265},
        {"add", 266},
        {"sub", 267},
        {"div", 268},
        {"neg", 270},
        {"eq", 271},
        {"drop", 274},
        {"put", 276},
        {"get", 277},
        {"ifelse", 278},
        {"random", 279},
        {"mul", 280},
        {"sqrt", 282},
        {"dup", 283},
        {"exch", 284},
        {"index", 285},
        {"roll", 286},
        {"hflex", 290},
        {"flex", 291},
        {"hflex1", 292},
        {"flex1", 293},
    };
    return codes;
}

inline void pushInteger(Bytes& out, long v, char form = 0) {
    if (form == 'b' || (form == 0 && v >= -107 && v <= 107)) {
        out.push_back(uint8_t(v + 139));
    } else if (form == 0 && v >= 108 && v <= 1131) {
        v -= 108;
        out.push_back(uint8_t(247 + v / 256));
        out.push_back(uint8_t(v % 256));
    } else if (form == 0 && v <= -108 && v >= -1131) {
        v = -v - 108;
        out.push_back(uint8_t(251 + v / 256));
        out.push_back(uint8_t(v % 256));
    } else {
        out.push_back(28);
        out.push_back(uint8_t(uint16_t(v) >> 8));
        out.push_back(uint8_t(v));
    }
}

inline void pushFixed(Bytes& out, uint32_t raw) {
    out.push_back(255);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(raw >> shift));
}

// Assembles the text; throws std::invalid_argument on a word it does not know.
inline Bytes assemble(const std::string& text) {
    Bytes out;
    std::istringstream words(text);
    std::string w;
    while (words >> w) {
        const auto& codes = operatorCodes();
        if (auto it = codes.find(w); it != codes.end()) {
            if (it->second >= 256) out.push_back(12);
            out.push_back(uint8_t(it->second & 0xFF));
        } else if (w.rfind("op:", 0) == 0) {
            out.push_back(uint8_t(std::stoi(w.substr(3))));
        } else if (w.rfind("esc:", 0) == 0) {
            out.push_back(12);
            out.push_back(uint8_t(std::stoi(w.substr(4))));
        } else if (w.rfind("x:", 0) == 0) {
            for (size_t i = 2; i + 1 < w.size(); i += 2)
                out.push_back(uint8_t(std::stoul(w.substr(i, 2), nullptr, 16)));
        } else if (w.rfind("f:0x", 0) == 0) {
            pushFixed(out, uint32_t(std::stoul(w.substr(4), nullptr, 16)));
        } else if (w.rfind("f:", 0) == 0) {
            const double v = std::stod(w.substr(2));
            pushFixed(out, uint32_t(int32_t(v * 65536.0)));
        } else if (w.rfind("i:", 0) == 0 || w.rfind("b:", 0) == 0) {
            pushInteger(out, std::stol(w.substr(2)), w[0]);
        } else {
            size_t used = 0;
            long v = 0;
            try {
                v = std::stol(w, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != w.size()) throw std::invalid_argument("unknown charstring word: " + w);
            pushInteger(out, v);
        }
    }
    return out;
}

// A CFF INDEX of the given elements (offSize 4), as the table stores it.
inline Bytes index(const std::vector<Bytes>& elements) {
    Bytes out;
    out.push_back(uint8_t(elements.size() >> 8));
    out.push_back(uint8_t(elements.size()));
    if (elements.empty()) return out;
    out.push_back(4);
    uint32_t offset = 1;
    auto put32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
    };
    put32(offset);
    for (const Bytes& e : elements) {
        offset += uint32_t(e.size());
        put32(offset);
    }
    for (const Bytes& e : elements) out.insert(out.end(), e.begin(), e.end());
    return out;
}

}  // namespace type2
