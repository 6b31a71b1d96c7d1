#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/File.h"
#include "platform/Text.h"

namespace {

class PosixFile final : public File {
public:
    explicit PosixFile(FILE* f) : m_file(f) {}
    ~PosixFile() override { std::fclose(m_file); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool seek(int64_t offset, Origin origin) override {
        return fseeko(m_file, off_t(offset), origin == Origin::Start ? SEEK_SET : SEEK_END) == 0;
    }
    int64_t tell() override { return int64_t(ftello(m_file)); }
    size_t read(void* destination, size_t count) override {
        return std::fread(destination, 1, count, m_file);
    }

private:
    FILE* m_file;
};

}  // namespace

std::unique_ptr<File> openFileForReading(const char16_t* path, int& error) {
    error = 0;
    if (!path) {
        error = EINVAL;
        return nullptr;
    }
    // File names are UTF-8 on disk and UTF-16 inside.
    const std::string native = utf16ToUtf8(std::u16string(path));
    // Opened without blocking, and only regular files are read: opening a FIFO for reading would wait for a
    // writer forever, and a device or a folder is no font file or catalog.
    const int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno > 0 ? errno : EIO;
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        error = errno > 0 ? errno : EIO;
        close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(f);
}
