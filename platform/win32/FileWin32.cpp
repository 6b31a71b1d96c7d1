// Byte files on Windows: the runtime library's UTF-16 open ("rb") with 64-bit seek and tell.
#include <share.h>
#include <stdio.h>

#include <cerrno>

#include "platform/File.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 paths are handed to the runtime as wchar_t");

class Win32File final : public File {
public:
    explicit Win32File(FILE* f) : m_file(f) {}
    ~Win32File() override { fclose(m_file); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool seek(int64_t offset, Origin origin) override {
        return _fseeki64(m_file, offset, origin == Origin::Start ? SEEK_SET : SEEK_END) == 0;
    }
    int64_t tell() override { return _ftelli64(m_file); }
    size_t read(void* destination, size_t count) override { return fread(destination, 1, count, m_file); }

private:
    FILE* m_file;
};

}  // namespace

std::unique_ptr<File> openFileForReading(const char16_t* path, int& error, FileBuffering buffering) {
    error = 0;
    if (!path) {
        error = EINVAL;
        return nullptr;
    }
    // _wfopen's sharing (others may read and write), spelled as _wfsopen, which no compiler deprecates.
    FILE* f = _wfsopen(reinterpret_cast<const wchar_t*>(path), L"rb", _SH_DENYNO);
    if (!f) {
        error = errno > 0 ? errno : EIO;
        return nullptr;
    }
    if (buffering == FileBuffering::Unbuffered) setvbuf(f, nullptr, _IONBF, 0);
    return std::make_unique<Win32File>(f);
}
