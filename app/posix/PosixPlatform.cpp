#include "app/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Text.h"

namespace {

constexpr uint32_t kLcidJapanese = 1041;
constexpr uint32_t kLcidEnglishUs = 1033;
constexpr char kDefaultDataDir[] = "/usr/share";

thread_local uint32_t t_lastError = 0;

bool fail(int error) {
    t_lastError = uint32_t(error > 0 ? error : EIO);
    return false;
}

std::string toNative(const std::u16string& text) {
    return utf16ToUtf8(text);
}

// UTF-8 file-system text to UTF-16; false when the bytes are not valid UTF-8 (such a name could not be
// turned back into the same bytes).
bool fromNative(const std::string& text, std::u16string& out) {
    out = utf8ToUtf16(text);
    return utf16ToUtf8(out) == text;
}

bool storePath(const std::string& native, char16_t out[kMaxPathUnits]) {
    std::u16string wide;
    if (!fromNative(native, wide)) return fail(EILSEQ);
    if (wide.size() + 1 > kMaxPathUnits) return fail(ENAMETOOLONG);
    std::copy(wide.begin(), wide.end(), out);
    out[wide.size()] = u'\0';
    return true;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string commonAppData() {
    if (const char* dirs = std::getenv("XDG_DATA_DIRS")) {
        const std::string list(dirs);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            const std::string entry = list.substr(start, end - start);
            if (!entry.empty() && entry[0] == '/') return withoutTrailingSlashes(entry);
            start = end + 1;
        }
    }
    return kDefaultDataDir;
}

std::string child(const std::string& folder, const char* name) {
    std::string out = folder == "/" ? std::string() : folder;
    out += '/';
    out += name;
    return out;
}

char16_t upperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

class PosixListing final : public DirectoryListing {
public:
    explicit PosixListing(std::vector<std::pair<std::u16string, bool>> entries)
        : m_entries(std::move(entries)) {}
    bool next(DirectoryEntry& entry) override {
        if (m_next >= m_entries.size()) return false;
        const auto& [name, isDirectory] = m_entries[m_next++];
        entry.isDirectory = isDirectory;
        std::copy(name.begin(), name.end(), entry.name);
        entry.name[name.size()] = u'\0';
        return true;
    }

private:
    std::vector<std::pair<std::u16string, bool>> m_entries;
    size_t m_next = 0;
};

}  // namespace

std::u16string normalisePath(const std::u16string& absolute) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start < absolute.size()) {
        size_t end = absolute.find(u'/', start);
        if (end == std::u16string::npos) end = absolute.size();
        const std::u16string part = absolute.substr(start, end - start);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (parts.empty()) return u"/";
    std::u16string out;
    for (const auto& part : parts) {
        out += u'/';
        out += part;
    }
    return out;
}

bool listingOrderLess(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = upperAscii(a[i]), y = upperAscii(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

PosixPlatform::PosixPlatform() {
    std::vector<char> buffer(4096);
    std::u16string wide;
    if (getcwd(buffer.data(), buffer.size()) && fromNative(buffer.data(), wide) && !wide.empty())
        m_currentDirectory = std::move(wide);
    else
        m_currentDirectory.assign(1, u'/');
}

bool PosixPlatform::getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) {
    out[0] = u'\0';
    switch (folder) {
        case KnownFolder::CommonAppData:
            return storePath(commonAppData(), out);
        case KnownFolder::Fonts:
            return storePath(child(commonAppData(), "fonts"), out);
        case KnownFolder::Desktop: {
            const char* home = std::getenv("HOME");
            if (!home || home[0] != '/') return fail(ENOENT);
            const std::string desktop = child(withoutTrailingSlashes(home), "Desktop");
            struct stat st;
            if (stat(desktop.c_str(), &st) != 0) return fail(errno);
            if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR);
            return storePath(desktop, out);
        }
    }
    return fail(EINVAL);
}

uint32_t PosixPlatform::getLastError() {
    return t_lastError;
}

bool PosixPlatform::setCurrentDirectory(const char16_t* path) {
    if (!path || !*path) return fail(ENOENT);
    const std::u16string given(path);
    const bool absolute = given[0] == u'/';
    const std::u16string target =
        normalisePath(absolute ? given : (std::u16string(m_currentDirectory) += u'/') += given);
    if (target.size() > kMaxCurrentDirectoryUnits) return fail(ENAMETOOLONG);
    if (chdir(toNative(target).c_str()) != 0) return fail(errno);
    m_currentDirectory = target;
    if (absolute) m_listedDirectories.clear();  // a new walk begins
    return true;
}

uint32_t PosixPlatform::getCurrentDirectory(uint32_t capacity, char16_t* buffer) {
    const size_t length = m_currentDirectory.size();
    if (length + 1 > capacity) return uint32_t(length + 1);
    if (!buffer) {
        fail(EINVAL);
        return 0;
    }
    std::copy(m_currentDirectory.begin(), m_currentDirectory.end(), buffer);
    buffer[length] = u'\0';
    return uint32_t(length);
}

std::unique_ptr<DirectoryListing> PosixPlatform::listCurrentDirectory() {
    const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail(errno);
        return nullptr;
    }
    struct stat self;
    if (fstat(fd, &self) == 0) m_listedDirectories.insert({self.st_dev, self.st_ino});
    DIR* dir = fdopendir(fd);
    if (!dir) {
        fail(errno);
        close(fd);
        return nullptr;
    }

    std::vector<std::pair<std::u16string, bool>> entries;
    while (const dirent* d = readdir(dir)) {
        const std::string native(d->d_name);
        std::u16string name;
        if (!fromNative(native, name) || name.size() + 1 > kMaxPathUnits) continue;
        if (native == "." || native == "..") {
            entries.emplace_back(std::move(name), true);
            continue;
        }
        struct stat st;
        if (fstatat(fd, d->d_name, &st, 0) != 0) continue;  // dangling link, or no access
        if (S_ISREG(st.st_mode)) {
            entries.emplace_back(std::move(name), false);
        } else if (S_ISDIR(st.st_mode)) {
            struct stat link;
            const bool isLink =
                fstatat(fd, d->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
            if (isLink && m_listedDirectories.count({st.st_dev, st.st_ino})) continue;
            entries.emplace_back(std::move(name), true);
        }
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return listingOrderLess(a.first, b.first); });
    return std::make_unique<PosixListing>(std::move(entries));
}

uint32_t PosixPlatform::expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                                 uint32_t capacity) {
    if (!source) {
        fail(EINVAL);
        return 0;
    }
    const std::u16string text(source);
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find(u'%', i);
        if (open == std::u16string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            out += text.substr(open);
            break;
        }
        const std::u16string name = text.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : std::getenv(toNative(name).c_str());
        if (value) {
            out += utf8ToUtf16(value);
            i = close + 1;
        } else {
            // An unknown name stays as written; its closing % may open the next one.
            out += text.substr(open, close - open);
            i = close;
        }
    }
    const size_t needed = out.size() + 1;
    if (needed > UINT32_MAX) return fail(E2BIG), 0;
    if (needed <= capacity && destination) {
        std::copy(out.begin(), out.end(), destination);
        destination[out.size()] = u'\0';
    }
    return uint32_t(needed);
}

bool PosixPlatform::replaceFile(const char16_t* path, const char* bytes, size_t length) {
    if (!path || !*path || (length > 0 && !bytes)) return fail(EINVAL);
    std::string target = toNative(path);

    // An existing file keeps its permissions; a link is followed to the file it names, as CreateFileW
    // follows it. Something that is not a regular file, or that may not be written, is refused.
    struct stat st;
    mode_t mode = 0;
    if (lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char* real = realpath(target.c_str(), nullptr);
            if (!real) return fail(errno);
            target = real;
            std::free(real);
            if (stat(target.c_str(), &st) != 0) return fail(errno);
        }
        if (S_ISDIR(st.st_mode)) return fail(EISDIR);
        if (!S_ISREG(st.st_mode)) return fail(EINVAL);
        if (access(target.c_str(), W_OK) != 0) return fail(errno);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return fail(errno);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    // The new content goes to a temporary file beside the target, which then takes the target's place in
    // one rename: a failure at any point leaves the old file as it was.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = child(folder, (std::string(".") += base).append(".XXXXXX").c_str());
    if (base.size() + 8 > NAME_MAX) temporary = child(folder, ".korv.XXXXXX");
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return fail(errno);

    int error = 0;
    size_t written = 0;
    while (written < length && error == 0) {
        const ssize_t n = write(fd, bytes + written, length - written);
        if (n > 0)
            written += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            error = n < 0 ? errno : EIO;
    }
    if (error == 0 && fchmod(fd, mode) != 0) error = errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(name.data(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(name.data());
        return fail(error);
    }
    return true;
}

uint32_t PosixPlatform::getUserDefaultLcid() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return std::strncmp(value, "ja", 2) == 0 ? kLcidJapanese : kLcidEnglishUs;
    }
    return kLcidEnglishUs;
}

bool PosixPlatform::startThread(ThreadProc proc, void* parameter) {
    try {
        std::thread(proc, parameter).detach();
        return true;
    } catch (...) {
        return fail(EAGAIN);
    }
}
