#include "support/FontCorpus.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace corpus {

namespace {

namespace fs = std::filesystem;

const char* const kRoots[] = {"/usr/share/fonts", "/usr/share/texmf/fonts/opentype"};

bool hasFontExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".ttf" || ext == ".otf" || ext == ".ttc";
}

bool readAt(std::ifstream& in, uint64_t offset, size_t count, Bytes& out) {
    out.resize(count);
    in.clear();
    in.seekg(std::streamoff(offset));
    if (!in) return false;
    in.read(reinterpret_cast<char*>(out.data()), std::streamsize(count));
    return size_t(in.gcount()) == count;
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

}  // namespace

std::vector<std::string> fontFiles() {
    std::set<std::string> seen;
    for (const char* root : kRoots) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) continue;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink, ec),
             end;
             it != end; it.increment(ec)) {
            if (ec) break;
            if (!hasFontExtension(it->path())) continue;
            const fs::path real = fs::canonical(it->path(), ec);
            if (ec || !fs::is_regular_file(real, ec)) continue;
            seen.insert(real.string());
        }
    }
    return {seen.begin(), seen.end()};
}

uint32_t faceCount(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes head;
    if (!readAt(in, 0, 12, head)) return 0;
    if (std::memcmp(head.data(), "ttcf", 4) == 0) return be32(head.data() + 8);
    return 1;
}

bool readTable(const std::string& path, uint32_t face, const char* tag, Bytes& table) {
    std::ifstream in(path, std::ios::binary);
    Bytes head;
    if (!readAt(in, 0, 12, head)) return false;
    uint64_t fontOffset = 0;
    if (std::memcmp(head.data(), "ttcf", 4) == 0) {
        if (face >= be32(head.data() + 8)) return false;
        Bytes entry;
        if (!readAt(in, 12 + 4ull * face, 4, entry)) return false;
        fontOffset = be32(entry.data());
        if (!readAt(in, fontOffset, 12, head)) return false;
    } else if (face != 0) {
        return false;
    }
    const uint32_t numTables = be16(head.data() + 4);
    Bytes records;
    if (!readAt(in, fontOffset + 12, 16ull * numTables, records)) return false;
    for (uint32_t i = 0; i < numTables; ++i) {
        const uint8_t* r = records.data() + 16 * i;
        if (std::memcmp(r, tag, 4) != 0) continue;
        return readAt(in, be32(r + 8), be32(r + 12), table);
    }
    return false;
}

bool readFile(const std::string& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    return size >= 0 && readAt(in, 0, size_t(size), bytes);
}

}  // namespace corpus
