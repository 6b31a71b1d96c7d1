// korv-font COMMAND FONT [--face N] [command arguments]
//
// The font object library's tool for people who work with fonts and for support. It reads FONT whole, loads
// face N (default 0: a single font, or member N of a collection after the collection-header test) with
// loadFontFace, and runs the command on it:
//   info   the load status, the kind tag, the counts, one "table TAG offset length" line per table record,
//          then the head, hhea, maxp and OS/2 fields under their published names ("head.unitsPerEm 2048")
//   cmap   "U+XXXX<TAB>glyph" for every code point 0..0x10FFFF that the (3,1) character map maps
//   outline  the outline record of glyphs or character codes, one entry per line (OutlineCommand.cpp)
//   svg      a sheet of glyphs as SVG (SvgCommand.cpp)
// Any failure prints "status N" (the library's status: -36 when the file cannot be read, -50 for a face that
// does not exist or a file that holds no font, -982 for malformed font data, -35 without a (3,1) map) and
// exits 1; success exits 0. A command line that names no known command or no font exits 2 with the usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cff/LoadFont.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "sfnt/Status.h"
#include "tools/font/Commands.h"

namespace {

struct Command {
    const char* name;
    int32_t (*run)(SfntFont& font, const FontOptions& options, FILE* out);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"info", runInfo, "the face's counts, table records and head, hhea, maxp and OS/2 fields"},
    {"cmap", runCmap, "every mapped code point of the (3,1) character map: U+XXXX<TAB>glyph"},
    {"outline", runOutline, "[--ppem N] [--char] ID...: the outline entries of glyphs (or codes)"},
    {"svg", runSvg, "[--ppem N] [--glyphs A-B | --text S] [--points] [-o OUT.svg]: a sheet of glyphs"},
};

void printUsage(FILE* out) {
    std::fputs(
        "usage: korv-font COMMAND FONT [--face N]\n"
        "Loads face N (default 0) of the font file FONT and runs COMMAND on it:\n",
        out);
    for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fputs("A failure prints \"status N\" with the library's status and exits 1.\n", out);
}

int fail(int32_t status) {
    std::printf("status %d\n", int(status));
    return 1;
}

// Reads a whole file: kOk, or kIoError with a message on standard error.
int32_t readFontFile(const char* path, std::vector<uint8_t>& bytes) {
    int error = 0;
    std::unique_ptr<File> file = openFileForReading(utf8ToUtf16(path).c_str(), error);
    if (!file) {
        std::fprintf(stderr, "korv-font: cannot open %s: %s\n", path, std::strerror(error));
        return kIoError;
    }
    int64_t size = -1;
    if (file->seek(0, File::Origin::End)) size = file->tell();
    if (size < 0 || size > int64_t(UINT32_MAX) || !file->seek(0, File::Origin::Start)) {
        std::fprintf(stderr, "korv-font: cannot read %s (its size is unknown or above 4 GB)\n", path);
        return kIoError;
    }
    bytes.resize(size_t(size));
    if (size > 0 && file->read(bytes.data(), bytes.size()) != bytes.size()) {
        std::fprintf(stderr, "korv-font: %s ended before its size was read\n", path);
        return kIoError;
    }
    return kOk;
}

// A face number: decimal digits only, below 2^32.
bool parseFace(const char* text, uint32_t& face) {
    if (!text || !*text) return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + uint64_t(*p - '0');
        if (value > UINT32_MAX) return false;
    }
    face = uint32_t(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    const Command* command = nullptr;
    if (argc >= 2)
        for (const Command& c : kCommands)
            if (std::strcmp(argv[1], c.name) == 0) command = &c;
    if (!command || argc < 3) {
        if (argc >= 2 && !command) std::fprintf(stderr, "korv-font: unknown command %s\n", argv[1]);
        printUsage(stderr);
        return 2;
    }

    FontOptions options;
    options.path = argv[2];
    std::vector<char*> rest;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--face") == 0) {
            // A face that is no number names no face: the same answer as one the file does not have.
            if (i + 1 >= argc || !parseFace(argv[i + 1], options.face)) {
                std::fprintf(stderr, "korv-font: --face needs a face number\n");
                return fail(kParamError);
            }
            ++i;
        } else {
            rest.push_back(argv[i]);
        }
    }
    options.argumentCount = int(rest.size());
    options.arguments = rest.data();

    std::vector<uint8_t> bytes;
    const int32_t read = readFontFile(options.path, bytes);
    if (read != kOk) return fail(read);
    int16_t status = 0;
    std::unique_ptr<SfntFont> font = loadFontFace(bytes.data(), uint32_t(bytes.size()), options.face, status);
    if (!font) return fail(status);

    // Large outputs (cmap) go through one big buffer.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    const int32_t result = command->run(*font, options, stdout);
    font->release();
    if (result != 0) return fail(result);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
