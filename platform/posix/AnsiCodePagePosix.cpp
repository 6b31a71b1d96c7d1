// The ANSI code page on POSIX systems: Windows-31J (code page 932) through iconv. The catalogs and the
// Macintosh and ShiftJIS names that this tool meets are Japanese, written on systems whose ANSI code page is
// 932.
#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/detail/AnsiCodePage.h"

namespace {

static_assert(std::endian::native == std::endian::little, "the converter below asks iconv for UTF-16LE");

// Code page 932's default character: what the platform conversion puts for a byte sequence it cannot map.
constexpr char16_t kDefaultChar = 0x30FB;

// iconv descriptors carry conversion state and are not thread-safe: one per thread, opened on first use.
struct Converter {
    iconv_t cd = iconv_t(-1);
    Converter() {
        cd = iconv_open("UTF-16LE", "CP932");
        if (cd == iconv_t(-1)) cd = iconv_open("UTF-16LE", "WINDOWS-31J");
    }
    ~Converter() {
        if (cd != iconv_t(-1)) iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
};

}  // namespace

int ansiToWide(const char* source, size_t sourceBytes, char16_t* destination, int destinationCapacity) {
    thread_local Converter converter;
    if (converter.cd == iconv_t(-1)) return 0;
    iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);

    size_t count = 0;
    bool overflow = false;
    auto emit = [&](const char16_t* units, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (destinationCapacity > 0) {
                if (count < size_t(destinationCapacity))
                    destination[count] = units[i];
                else
                    overflow = true;
            }
            ++count;
        }
    };

    char* in = const_cast<char*>(source);
    size_t inLeft = sourceBytes;
    char16_t chunk[256];
    while (inLeft > 0 && !overflow) {
        char* out = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof chunk;
        const size_t r = iconv(converter.cd, &in, &inLeft, &out, &outLeft);
        emit(chunk, (sizeof chunk - outLeft) / sizeof(char16_t));
        if (r != size_t(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ (an unmappable sequence) or EINVAL (a lead byte cut off at the end): one default
        // character for the offending byte, then go on after it.
        emit(&kDefaultChar, 1);
        ++in;
        --inLeft;
        iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
    }
    if (overflow || count > size_t(INT32_MAX)) return 0;
    return int(count);
}
