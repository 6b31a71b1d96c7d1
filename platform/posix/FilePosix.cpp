// Byte files on POSIX systems, read with pread(2) at a position kept here: a seek costs no system call,
// and every read asks the system for exactly the bytes wanted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/File.h"
#include "platform/Text.h"

namespace {

class PosixFile final : public File {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    ~PosixFile() override { close(m_fd); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool seek(int64_t offset, Origin origin) override {
        int64_t base = 0;
        if (origin == Origin::End) {
            struct stat st {};
            if (fstat(m_fd, &st) != 0) return false;
            base = int64_t(st.st_size);
        }
        // Like fseek: a position before the start fails, one past the end is allowed.
        if (offset < -base || offset > INT64_MAX - base) return false;
        m_position = base + offset;
        return true;
    }
    int64_t tell() override { return m_position; }
    size_t read(void* destination, size_t count) override {
        size_t done = 0;
        while (done < count) {
            const ssize_t got = pread(m_fd, static_cast<char*>(destination) + done, count - done,
                                      off_t(m_position + int64_t(done)));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // the end of the file, or an error: fewer bytes than asked for
            done += size_t(got);
        }
        m_position += int64_t(done);
        return done;
    }

private:
    int m_fd;
    int64_t m_position = 0;
};

}  // namespace

std::unique_ptr<File> openFileForReading(const char16_t* path, int& error, FileBuffering buffering) {
    error = 0;
    if (!path) {
        error = EINVAL;
        return nullptr;
    }
    // File names are UTF-8 on disk and UTF-16 inside.
    const std::string native = utf16ToUtf8(std::u16string(path));
    // Opened without blocking, and only regular files are read: opening a FIFO for reading would wait for a
    // writer forever, and a device or a folder is no font file or catalog. (Reads of a regular file do not
    // heed O_NONBLOCK, so the flag can stay.)
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
    // A few scattered ranges of a large file: the system's read-ahead would fetch far more from storage than
    // is asked for.
    if (buffering == FileBuffering::Unbuffered) (void)posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    return std::make_unique<PosixFile>(fd);
}
