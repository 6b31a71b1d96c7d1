// parseCffDict and parseCffReal on arbitrary bytes. Input layout:
//   0       u8   mode: bit 0 set = the rest is the text of a real; otherwise a DICT, and bits 1..7 name the
//                handler call (1-based, 0 = none) that returns a status of its own
//   1..     the DICT or the text
// The handler checks what every operator it receives must satisfy; the parse must end with 0,
// kFontDataError or exactly the handler's own status.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cff/CffDict.h"

namespace {

constexpr int16_t kHandlerStatus = 77;

class CheckingHandler : public CffDictHandler {
public:
    int16_t onOperator(uint16_t op, uint16_t operandCount, const uint8_t* isReal,
                       const int32_t* operands) override {
        ++calls;
        // Operators that never reach a handler: the escape byte, ignored and reserved ones.
        const bool reserved = op == 8 || op == 9 || op == 12 || (op > 21 && op < kCffOpEscape) ||
                              op == kCffOpEscape + 15 || op == kCffOpEscape + 16 ||
                              (op >= kCffOpEscape + 22 && op <= kCffOpEscape + 29) || op > kCffOpEscape + 38;
        if (reserved || operandCount > 14) std::abort();
        int32_t sum = 0;
        for (uint16_t i = 0; i < operandCount; ++i) {
            if (isReal[i] > 1) std::abort();
            sum ^= operands[i];
        }
        lastSum = sum;
        return calls == failAt ? kHandlerStatus : 0;
    }
    uint32_t calls = 0;
    uint32_t failAt = 0;
    int32_t lastSum = 0;
};

void checkReal(const uint8_t* text, size_t length) {
    if (length > 100000) return;
    const char* chars = reinterpret_cast<const char*>(text);
    Fixed value = 0;
    const bool ok = parseCffReal(chars, uint32_t(length), value);
    if (!ok) return;
    if (value == INT32_MIN) std::abort();  // no 16.16 result has a magnitude of 2^31
    // A leading '-' negates exactly.
    if (length == 0 || chars[0] != '-') {
        std::vector<char> negated(length + 1);
        negated[0] = '-';
        if (length) std::memcpy(negated.data() + 1, chars, length);
        Fixed negatedValue = 0;
        if (!parseCffReal(negated.data(), uint32_t(negated.size()), negatedValue) || negatedValue != -value)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > 0xFFFFFFFFu) return 0;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    if (data[0] & 1) {
        checkReal(body, length);
        return 0;
    }
    CheckingHandler handler;
    handler.failAt = data[0] >> 1;
    const int16_t status = parseCffDict(handler, body, uint32_t(length));
    if (status == kHandlerStatus) {
        if (handler.failAt == 0 || handler.calls != handler.failAt) std::abort();
    } else if (status != 0 && status != kFontDataError) {
        std::abort();
    }
    if (status == 0 && handler.failAt != 0 && handler.calls >= handler.failAt) std::abort();
    return 0;
}
