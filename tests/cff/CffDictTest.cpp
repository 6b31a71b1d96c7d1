#include "cff/CffDict.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cff/CffIndex.h"
#include "sfnt/ByteReader.h"
#include "support/FontBytes.h"

namespace {

// Records every operator as "op:v v r:v" (reals as 16.16 with an "r:" prefix), one string per call.
class RecordingHandler : public CffDictHandler {
public:
    int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                       const int32_t* operands) override {
        std::string text = std::to_string(op) + ":";
        for (uint16_t i = 0; i < operandCount; ++i) {
            if (i > 0) text += ' ';
            text += (isReal[i] ? "r:" : "") + std::to_string(operands[i]);
        }
        calls.push_back(text);
        if (failAtCall != 0 && calls.size() == failAtCall) return failStatus;
        return 0;
    }
    std::vector<std::string> calls;
    size_t failAtCall = 0;
    int16_t failStatus = 0;
};

int16_t parse(const FontBytes& b, RecordingHandler& handler) {
    // A copy of exactly the DICT's bytes, so ASan sees any read past the end.
    std::vector<uint8_t> copy(b.vec());
    return parseCffDict(handler, copy.data(), uint32_t(copy.size()));
}

std::vector<std::string> calls(const FontBytes& b) {
    RecordingHandler h;
    EXPECT_EQ(parse(b, h), 0);
    return h.calls;
}

// Appends `n` one-byte operands 139 + i (values 0, 1, 2 …).
FontBytes& operandsUpTo(FontBytes& b, unsigned n) {
    for (unsigned i = 0; i < n; ++i) b.u8(139 + i % 100);
    return b;
}

FontBytes& op(FontBytes& b, uint16_t code) {
    if (code >= kCffOpEscape) return b.u8(12).u8(code - kCffOpEscape);
    return b.u8(code);
}

}  // namespace

TEST(CffDictTest, EmptyDictSucceedsWithoutCalls) {
    RecordingHandler h;
    EXPECT_EQ(parseCffDict(h, nullptr, 0), 0);
    EXPECT_TRUE(h.calls.empty());
}

TEST(CffDictTest, IntegerOperandEncodings) {
    FontBytes b;
    b.u8(139).u8(32).u8(246);                           // 0, -107, 107
    b.u8(247).u8(0).u8(250).u8(255);                    // 108, 1131
    b.u8(251).u8(0).u8(254).u8(255);                    // -108, -1131
    b.u8(28).u16(0x8000).u8(28).u16(0x7FFF);            // -32768, 32767
    b.u8(29).u32(0x80000000u).u8(29).u32(0xFFFFFFFFu);  // INT32_MIN, -1
    b.u8(29).u32(0x7FFFFFFFu);                          // INT32_MAX
    b.u8(6);                                            // BlueValues takes up to 14
    EXPECT_EQ(calls(b), (std::vector<std::string>{
                            "6:0 -107 107 108 1131 -108 -1131 -32768 32767 -2147483648 -1 2147483647"}));
}

TEST(CffDictTest, TruncatedOperandsFail) {
    const std::vector<std::vector<uint8_t>> truncated = {
        {28}, {28, 1}, {29}, {29, 1, 2, 3}, {247}, {250}, {251}, {254}, {30}, {30, 0x12}, {30, 0x1A, 0x55},
    };
    for (const std::vector<uint8_t>& bytes : truncated) {
        FontBytes b;
        b.bytes(bytes);
        RecordingHandler h;
        EXPECT_EQ(parse(b, h), kFontDataError) << int(bytes[0]) << " of " << bytes.size();
    }
}

TEST(CffDictTest, ReservedOperandBytesFail) {
    for (unsigned byte : {22u, 23u, 24u, 25u, 26u, 27u, 31u, 255u}) {
        FontBytes b;
        b.u8(139).u8(byte).u8(139).u8(0);
        RecordingHandler h;
        EXPECT_EQ(parse(b, h), kFontDataError) << byte;
        EXPECT_TRUE(h.calls.empty());
    }
}

TEST(CffDictTest, EveryOperatorFollowsItsOperandRule) {
    // Expected rule per operator code: 'k' exact count k (as a digit), 'u' up to 14, 'i' ignored, 'e' error.
    std::map<uint16_t, char> rules;
    for (uint16_t code = 0; code <= 21; ++code) rules[code] = '1';
    rules[5] = '4';
    rules[6] = rules[7] = rules[14] = 'u';
    rules[8] = rules[9] = 'i';
    rules[18] = '2';
    rules.erase(12);
    for (uint16_t b = 0; b <= 255; ++b) {
        char rule = 'e';
        if (b <= 6 || (b >= 8 && b <= 11) || b == 14 || (b >= 17 && b <= 21) || (b >= 31 && b <= 38))
            rule = '1';
        if (b == 7) rule = '6';
        if (b == 12 || b == 13) rule = 'u';
        if (b == 15 || b == 22 || b == 23) rule = 'i';
        if (b == 30) rule = '3';
        rules[uint16_t(kCffOpEscape + b)] = rule;
    }
    for (const auto& [code, rule] : rules) {
        for (unsigned n = 0; n <= 16; ++n) {
            FontBytes b;
            operandsUpTo(b, n);
            op(b, code);
            b.u8(139).u8(0);  // a version operator after it shows the list was emptied
            RecordingHandler h;
            const int16_t status = parse(b, h);
            bool accepted = false;
            size_t expectedCalls = 0;
            switch (rule) {
                case 'e':
                    break;
                case 'i':
                    accepted = true;
                    expectedCalls = 1;  // only the version
                    break;
                case 'u':
                    accepted = n <= 14;
                    expectedCalls = 2;
                    break;
                default:
                    accepted = n == unsigned(rule - '0');
                    expectedCalls = 2;
            }
            if (!accepted) {
                EXPECT_EQ(status, kFontDataError) << code << " with " << n;
                EXPECT_TRUE(h.calls.empty()) << code << " with " << n;
                continue;
            }
            ASSERT_EQ(status, 0) << code << " with " << n;
            ASSERT_EQ(h.calls.size(), expectedCalls) << code << " with " << n;
            if (expectedCalls == 2) {
                std::string text = std::to_string(code) + ":";
                for (unsigned i = 0; i < n; ++i) {
                    if (i > 0) text += ' ';
                    text += std::to_string(i % 100);
                }
                EXPECT_EQ(h.calls[0], text);
            }
            EXPECT_EQ(h.calls.back(), "0:0");
        }
    }
}

TEST(CffDictTest, WrongCountsOfTheCommonStructuralOperatorsFail) {
    struct Case {
        uint16_t code;
        unsigned operands;
    };
    for (Case c : {Case{5, 3}, Case{18, 1}, Case{256 + 7, 5}, Case{256 + 30, 2}, Case{6, 15}}) {
        FontBytes b;
        operandsUpTo(b, c.operands);
        op(b, c.code);
        RecordingHandler h;
        EXPECT_EQ(parse(b, h), kFontDataError) << c.code;
    }
    FontBytes family;
    operandsUpTo(family, 40).u8(8);  // FamilyBlues: skipped whatever its count
    EXPECT_TRUE(calls(family).empty());
}

TEST(CffDictTest, EscapeAsLastByteFails) {
    FontBytes b;
    b.u8(139).u8(12);
    RecordingHandler h;
    EXPECT_EQ(parse(b, h), kFontDataError);
    FontBytes only;
    only.u8(12);
    EXPECT_EQ(parse(only, h), kFontDataError);
}

TEST(CffDictTest, TrailingOperandsAreDropped) {
    FontBytes b;
    b.u8(139).u8(0).u8(140).u8(141);
    EXPECT_EQ(calls(b), (std::vector<std::string>{"0:0"}));
}

TEST(CffDictTest, OperandListHoldsAtMost48) {
    FontBytes full;
    operandsUpTo(full, kCffMaxDictOperands);
    EXPECT_TRUE(calls(full).empty());  // 48 operands, then the end: dropped, fine
    FontBytes over;
    operandsUpTo(over, kCffMaxDictOperands + 1);
    RecordingHandler h;
    EXPECT_EQ(parse(over, h), kFontDataError);
    // The list empties after each operator, so 48 + 48 around one is fine.
    FontBytes twice;
    operandsUpTo(twice, kCffMaxDictOperands).u8(8);
    operandsUpTo(twice, 1).u8(0);
    EXPECT_EQ(calls(twice), (std::vector<std::string>{"0:0"}));
}

TEST(CffDictTest, HandlerStatusStopsTheParseAsIs) {
    FontBytes b;
    b.u8(139).u8(0).u8(140).u8(1).u8(141).u8(2);
    for (int16_t status : {int16_t(7), int16_t(-36), kFontDataError}) {
        RecordingHandler h;
        h.failAtCall = 2;
        h.failStatus = status;
        EXPECT_EQ(parse(b, h), status);
        EXPECT_EQ(h.calls, (std::vector<std::string>{"0:0", "1:1"}));
    }
}

TEST(CffDictTest, RealOperands) {
    FontBytes b;
    b.u8(30).u8(0x1A).u8(0x5B).u8(0x2F);  // 1.5E2
    b.u8(30).u8(0xA5).u8(0xFF);           // .5
    b.u8(30).u8(0xE2).u8(0xA2).u8(0x5F);  // -2.25
    b.u8(30).u8(0x1C).u8(0x3F);           // 1E-3
    b.u8(30).u8(0x1F);                    // 1, ended by a low 0xF nibble
    b.u8(139);                            // an integer among them
    b.u8(6);
    EXPECT_EQ(calls(b), (std::vector<std::string>{"6:r:9830400 r:32768 r:-147456 r:66 r:65536 0"}));
}

TEST(CffDictTest, BadRealsFail) {
    const std::vector<std::vector<uint8_t>> bad = {
        {30, 0x1D, 0xFF},        // '*'
        {30, 0x32, 0x76, 0x7F},  // 32767 is out of range
        {30, 0x1A, 0xA1, 0xFF},  // two points
        {30, 0x1B, 0xB1, 0xFF},  // two exponents
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        FontBytes b;
        b.bytes(bad[i]).u8(0);
        RecordingHandler h;
        EXPECT_EQ(parse(b, h), kFontDataError) << i;
    }
    FontBytes ok;
    ok.u8(30).u8(0x32).u8(0x76).u8(0x6F).u8(0);  // 32766
    EXPECT_EQ(calls(ok), (std::vector<std::string>{"0:r:2147352576"}));
}

TEST(CffDictTest, RealTextIsLimitedTo64Characters) {
    auto realOfZeros = [](unsigned zeros, bool withMinusExponent) {
        FontBytes b;
        b.u8(30);
        std::vector<uint8_t> nibbles(zeros, 0);
        if (withMinusExponent) nibbles.push_back(0xC);
        nibbles.push_back(0xF);
        if (nibbles.size() % 2) nibbles.push_back(0xF);
        for (size_t i = 0; i < nibbles.size(); i += 2) b.u8((nibbles[i] << 4) | nibbles[i + 1]);
        return b.u8(0);
    };
    RecordingHandler h;
    EXPECT_EQ(parse(realOfZeros(kCffMaxRealText, false), h), 0);
    EXPECT_EQ(parse(realOfZeros(kCffMaxRealText + 1, false), h), kFontDataError);
    // Nibble 0xC adds two characters ("E-").
    EXPECT_EQ(parse(realOfZeros(kCffMaxRealText - 2, true), h), 0);
    EXPECT_EQ(parse(realOfZeros(kCffMaxRealText - 1, true), h), kFontDataError);
    EXPECT_EQ(h.calls, (std::vector<std::string>{"0:r:0", "0:r:0"}));
}

// ----- Real fonts, compared with fontTools -----

namespace {

// The first font's tables of an sfnt file or collection: tag -> (offset, length).
std::map<uint32_t, std::pair<uint32_t, uint32_t>> tableDirectory(const std::vector<uint8_t>& file) {
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> tables;
    ByteReader r(file.data(), file.size());
    uint32_t fontOffset = 0;
    if (r.u32() == makeTag('t', 't', 'c', 'f')) {
        r.skip(4);
        if (r.u32() == 0) return tables;
        fontOffset = r.u32();
    }
    r.seek(fontOffset + 4);
    const uint16_t numTables = r.u16();
    r.skip(6);
    for (uint16_t i = 0; i < numTables && r.ok(); ++i) {
        const uint32_t tag = r.u32();
        r.skip(4);
        const uint32_t offset = r.u32(), length = r.u32();
        if (r.ok() && r.fits(offset, length)) tables[tag] = {offset, length};
    }
    return tables;
}

std::string hex(const uint8_t* p, uint32_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint32_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// Collects "dict <label> <code> <operands>" lines and each operator's operands.
class DumpHandler : public CffDictHandler {
public:
    DumpHandler(std::vector<std::string>& out, std::string label) : m_out(out), m_label(std::move(label)) {}
    int16_t onOperator(uint16_t code, uint16_t operandCount, const uint8_t* isReal,
                       const int32_t* operands) override {
        std::string line = "dict " + m_label + " " + std::to_string(code);
        std::vector<int32_t>& kept = ops[code];
        kept.clear();
        for (uint16_t i = 0; i < operandCount; ++i) {
            line += isReal[i] ? " r:" : " ";
            line += std::to_string(operands[i]);
            kept.push_back(operands[i]);
        }
        m_out.push_back(line);
        return 0;
    }
    std::map<uint16_t, std::vector<int32_t>> ops;

private:
    std::vector<std::string>& m_out;
    std::string m_label;
};

// Parses the CFF table of `file` with our toolkit into the same lines the fontTools script writes.
void dumpCff(const std::vector<uint8_t>& file, std::vector<std::string>& out) {
    auto tables = tableDirectory(file);
    ASSERT_TRUE(tables.count(makeTag('C', 'F', 'F', ' ')));
    ASSERT_TRUE(tables.count(makeTag('m', 'a', 'x', 'p')));
    const auto [maxpOffset, maxpLength] = tables[makeTag('m', 'a', 'x', 'p')];
    ASSERT_GE(maxpLength, 6u);
    const uint16_t numGlyphs = loadU16(file.data() + maxpOffset + 4);
    out.push_back("numglyphs " + std::to_string(numGlyphs));

    const auto [cffOffset, cffLength] = tables[makeTag('C', 'F', 'F', ' ')];
    const uint8_t* cff = file.data() + cffOffset;
    ASSERT_GE(cffLength, 4u);
    ASSERT_EQ(cff[0], 1);

    CffIndex names, topDicts, strings;
    CffSubrIndex globalSubrs;
    ASSERT_EQ(names.parse(cff, cffLength, cff[2]), 0);
    ASSERT_EQ(topDicts.parse(cff, cffLength, cff[2] + names.totalSize), 0);
    ASSERT_EQ(strings.parse(cff, cffLength, cff[2] + names.totalSize + topDicts.totalSize), 0);
    ASSERT_EQ(
        globalSubrs.parse(cff, cffLength, cff[2] + names.totalSize + topDicts.totalSize + strings.totalSize),
        0);
    EXPECT_EQ(globalSubrs.bias, cffSubrBias(globalSubrs.count));
    out.push_back("count names " + std::to_string(names.count));
    for (uint16_t i = 0; i < names.count; ++i) {
        uint32_t start = 0, length = 0;
        names.getElement(i, start, length);
        out.push_back("name " + hex(cff + start, length));
    }
    out.push_back("count top " + std::to_string(topDicts.count));
    out.push_back("count strings " + std::to_string(strings.count));
    out.push_back("count gsubrs " + std::to_string(globalSubrs.count));

    ASSERT_GE(topDicts.count, 1);
    uint32_t start = 0, length = 0;
    topDicts.getElement(0, start, length);
    DumpHandler top(out, "top");
    ASSERT_EQ(parseCffDict(top, cff + start, length), 0);

    ASSERT_TRUE(top.ops.count(17));
    CffCharStringsIndex charStrings;
    ASSERT_EQ(charStrings.parse(cff, cffLength, uint32_t(top.ops[17][0])), 0);
    out.push_back("count charstrings " + std::to_string(charStrings.count));
    EXPECT_EQ(charStrings.count, numGlyphs);  // one charstring per glyph
    EXPECT_GT(charStrings.maxElementLength, 0);

    std::vector<std::pair<std::string, std::vector<int32_t>>> privates;
    if (top.ops.count(18)) privates.push_back({"private", top.ops[18]});
    if (top.ops.count(kCffOpEscape + 36)) {
        CffIndex fdArray;
        ASSERT_EQ(fdArray.parse(cff, cffLength, uint32_t(top.ops[kCffOpEscape + 36][0])), 0);
        out.push_back("count fdarray " + std::to_string(fdArray.count));
        for (uint16_t i = 0; i < fdArray.count; ++i) {
            fdArray.getElement(i, start, length);
            DumpHandler fd(out, "fd" + std::to_string(i));
            ASSERT_EQ(parseCffDict(fd, cff + start, length), 0);
            if (fd.ops.count(18)) privates.push_back({"fdprivate" + std::to_string(i), fd.ops[18]});
        }
    }
    for (const auto& [label, sizeAndOffset] : privates) {
        const uint32_t size = uint32_t(sizeAndOffset[0]), offset = uint32_t(sizeAndOffset[1]);
        ASSERT_TRUE(uint64_t(offset) + size <= cffLength) << label;
        DumpHandler priv(out, label);
        ASSERT_EQ(parseCffDict(priv, cff + offset, size), 0) << label;
        if (priv.ops.count(19)) {
            CffSubrIndex subrs;
            ASSERT_EQ(subrs.parse(cff, cffLength, offset + uint32_t(priv.ops[19][0])), 0) << label;
            EXPECT_EQ(subrs.bias, cffSubrBias(subrs.count));
            out.push_back("count " + label + ".subrs " + std::to_string(subrs.count));
        }
    }
}

// Writes fontTools' view of a CFF table: counts of the INDEXes and the raw operands of the Top DICT, Font
// DICTs and Private DICTs (reals as Python floats), in the order dumpCff produces them.
const char* const kFontToolsDump = R"PY(
import io, sys
from fontTools.ttLib import TTFont
from fontTools import cffLib
from fontTools.misc import psCharStrings

class Raw(psCharStrings.DictDecompiler):
    operators = {}
    def __init__(self):
        super().__init__(None)
        self.records = []
    def handle_operator(self, operator):
        self.records.append((operator[0], self.popall()))
for b in range(22):
    if b != 12:
        Raw.operators[b] = (b, 'raw')
for b in range(256):
    Raw.operators[(12, b)] = (256 + b, 'raw')
IGNORED = {8, 9, 256 + 15, 256 + 22, 256 + 23}

def fmt(v):
    return 'r:%r' % v if isinstance(v, float) else str(v)

def dump(out, label, data):
    d = Raw()
    d.decompile(data)
    ops = {}
    for code, args in d.records:
        ops[code] = args
        if code not in IGNORED:
            out.append(' '.join(['dict', label, str(code)] + [fmt(a) for a in args]))
    return ops

def index(f, offset):
    f.seek(offset)
    return cffLib.Index(f, isCFF2=False)

def main(path, outPath):
    font = TTFont(path, fontNumber=0, lazy=True)
    data = font.reader['CFF ']
    f = io.BytesIO(data)
    out = ['numglyphs %d' % font['maxp'].numGlyphs]
    names = index(f, data[2])
    top = cffLib.Index(f, isCFF2=False)
    strings = cffLib.Index(f, isCFF2=False)
    gsubrs = cffLib.Index(f, isCFF2=False)
    out.append('count names %d' % len(names))
    for i in range(len(names)):
        out.append('name %s' % names[i].hex())
    out.append('count top %d' % len(top))
    out.append('count strings %d' % len(strings))
    out.append('count gsubrs %d' % len(gsubrs))
    ops = dump(out, 'top', top[0])
    out.append('count charstrings %d' % len(index(f, ops[17][0])))
    privates = []
    if 18 in ops:
        privates.append(('private', ops[18]))
    if 256 + 36 in ops:
        fds = index(f, ops[256 + 36][0])
        out.append('count fdarray %d' % len(fds))
        for i in range(len(fds)):
            fdOps = dump(out, 'fd%d' % i, fds[i])
            if 18 in fdOps:
                privates.append(('fdprivate%d' % i, fdOps[18]))
    for label, (size, offset) in privates:
        pOps = dump(out, label, data[offset:offset + size])
        if 19 in pOps:
            out.append('count %s.subrs %d' % (label, len(index(f, offset + pOps[19][0]))))
    with open(outPath, 'w') as o:
        o.write('\n'.join(out) + '\n')

main(sys.argv[1], sys.argv[2])
)PY";

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Lines are equal word by word, except that a real ("r:") of ours in 16.16 may differ by one unit from
// fontTools' float scaled to 16.16 (the float is itself a rounding of the decimal text).
bool sameLine(const std::string& ours, const std::string& theirs) {
    const std::vector<std::string> a = splitWords(ours), b = splitWords(theirs);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (a[i].rfind("r:", 0) != 0 || b[i].rfind("r:", 0) != 0) return false;
        const double expected = std::strtod(b[i].c_str() + 2, nullptr) * 65536.0;
        if (std::fabs(std::strtod(a[i].c_str() + 2, nullptr) - std::round(expected)) > 1.0) return false;
    }
    return true;
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(CffDictTest, RealFontsMatchFontTools) {
    const char* const fonts[] = {
        "/usr/share/fonts/opentype/freefont/FreeSans.otf",
        "/usr/share/fonts/opentype/freefont/FreeSansBold.otf",
        "/usr/share/fonts/opentype/freefont/FreeSansOblique.otf",
        "/usr/share/fonts/opentype/freefont/FreeSansBoldOblique.otf",
        "/usr/share/fonts/opentype/freefont/FreeSerif.otf",
        "/usr/share/fonts/opentype/freefont/FreeSerifBold.otf",
        "/usr/share/fonts/opentype/freefont/FreeSerifItalic.otf",
        "/usr/share/fonts/opentype/freefont/FreeSerifBoldItalic.otf",
        "/usr/share/fonts/opentype/freefont/FreeMono.otf",
        "/usr/share/fonts/opentype/freefont/FreeMonoBold.otf",
        "/usr/share/fonts/opentype/freefont/FreeMonoOblique.otf",
        "/usr/share/fonts/opentype/freefont/FreeMonoBoldOblique.otf",
        "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
        "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc",
        "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
        "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc",
    };
    if (std::system("/usr/bin/python3 -c 'import fontTools' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with fontTools (python3-fonttools) is not installed";
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("korv_cff_fonttools_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    const std::string script = (dir / "dump.py").string();
    std::ofstream(script) << kFontToolsDump;

    int compared = 0;
    for (const char* font : fonts) {
        if (!std::filesystem::exists(font)) continue;
        SCOPED_TRACE(font);
        const std::string expectedPath = (dir / "expected.txt").string();
        std::filesystem::remove(expectedPath);
        const std::string command = "/usr/bin/python3 '" + script + "' '" + font + "' '" + expectedPath + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<std::string> expected = readLines(expectedPath);

        std::vector<uint8_t> file(std::filesystem::file_size(font));
        std::ifstream in(font, std::ios::binary);
        ASSERT_TRUE(in.read(reinterpret_cast<char*>(file.data()), std::streamsize(file.size())));
        std::vector<std::string> ours;
        dumpCff(file, ours);
        ASSERT_EQ(ours.size(), expected.size());
        for (size_t i = 0; i < ours.size(); ++i)
            EXPECT_TRUE(sameLine(ours[i], expected[i]))
                << "ours:     " << ours[i] << "\nfontTools: " << expected[i];
        ++compared;
    }
    std::filesystem::remove_all(dir);
    if (compared == 0) GTEST_SKIP() << "no CFF font installed (fonts-freefont-otf, fonts-noto-cjk)";
    std::printf("compared %d CFF fonts with fontTools\n", compared);
}
