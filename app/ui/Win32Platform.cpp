#include "app/ui/Win32Platform.h"

#include <windows.h>

#include <process.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed to the Windows API as wchar_t");

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

class Win32Listing final : public DirectoryListing {
public:
    Win32Listing(HANDLE find, const WIN32_FIND_DATAW& first) : m_find(find), m_data(first) {}
    ~Win32Listing() override { FindClose(m_find); }
    Win32Listing(const Win32Listing&) = delete;
    Win32Listing& operator=(const Win32Listing&) = delete;

    bool next(DirectoryEntry& entry) override {
        if (!m_haveFirst) {
            m_data = WIN32_FIND_DATAW{};
            if (!FindNextFileW(m_find, &m_data)) return false;
        }
        m_haveFirst = false;
        entry.isDirectory = (m_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        static_assert(sizeof entry.name == sizeof m_data.cFileName, "one MAX_PATH name");
        std::memcpy(entry.name, m_data.cFileName, sizeof entry.name);
        entry.name[kMaxPathUnits - 1] = u'\0';
        return true;
    }

private:
    HANDLE m_find;
    WIN32_FIND_DATAW m_data;
    bool m_haveFirst = true;
};

struct ThreadStart {
    ThreadProc proc;
    void* parameter;
};

unsigned WINAPI threadMain(void* argument) {
    const ThreadStart start = *static_cast<ThreadStart*>(argument);
    delete static_cast<ThreadStart*>(argument);
    return start.proc(start.parameter);
}

// Closes a file handle once.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            close();
            m_handle = other.m_handle;
            other.m_handle = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    bool close() {
        if (!valid()) return true;
        const bool ok = CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_handle;
};

constexpr int kTemporaryNameAttempts = 100;  // names tried for the new file beside the target
constexpr int kMoveAttempts = 20;            // a file held open by someone else is waited for this often ...
constexpr DWORD kMoveRetryMs = 50;           // ... this long each time: one second in all
constexpr size_t kLongestPathUnits = 32768;  // the longest path in the extended form, terminator included
// The longest temporary name, "~korv-ffffffff-99.tmp", with room to spare.
constexpr size_t kTemporaryNameUnits = 24;

// MoveFileExW over the target, waiting a little while the target is held open by someone else.
bool moveOver(const wchar_t* source, const wchar_t* target) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (attempt >= kMoveAttempts || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
                                         error != ERROR_ACCESS_DENIED))
            return false;
        Sleep(kMoveRetryMs);
    }
}

bool writeAll(HANDLE file, const char* bytes, size_t length) {
    constexpr size_t kChunk = size_t(1) << 30;  // WriteFile takes a 32-bit count
    while (length > 0) {
        const DWORD count = DWORD(length < kChunk ? length : kChunk);
        DWORD written = 0;
        if (!WriteFile(file, bytes, count, &written, nullptr) || written == 0) return false;
        bytes += written;
        length -= written;
    }
    return true;
}

// Removes a new file of ours that did not make it: through its handle (opened with DELETE access), or by
// its name when it cannot be marked for deletion.
void discard(FileHandle& file, const wchar_t* name) {
    FILE_DISPOSITION_INFO disposition = {TRUE};  // removed when closed
    const bool marked =
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    file.close();
    if (!marked) DeleteFileW(name);
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The path of the file open in `file`, every link on the way resolved (GetFinalPathNameByHandleW, which
// gives the extended "\\?\" form). The plain form is used when it and a temporary name beside it fit in
// MAX_PATH; a longer path keeps the extended form, which the file calls take at any length.
bool finalPathOf(HANDLE file, std::wstring& out) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n != 0 && n < path.size()) {
            path.resize(n);
            break;
        }
        // Too small: n is the size needed, terminator included (Wine fails with ERROR_MORE_DATA instead).
        if ((n == 0 && GetLastError() != ERROR_MORE_DATA) || path.size() >= kLongestPathUnits) return false;
        path.resize(std::min<size_t>(kLongestPathUnits, std::max<size_t>(n, path.size() * 2)));
    }
    std::wstring plain;
    if (startsWith(path, L"\\\\?\\UNC\\"))
        plain = L"\\\\" + path.substr(8);  // \\?\UNC\server\share\... is \\server\share\...
    else if (startsWith(path, L"\\\\?\\") && path.size() >= 6 && path[5] == L':')
        plain = path.substr(4);  // \\?\C:\... is C:\...
    out = !plain.empty() && plain.size() + kTemporaryNameUnits < MAX_PATH ? plain : path;
    return true;
}

// Replaces the existing file `target` (a final path, no link) through a new file beside it: same folder,
// so that the final move is a rename on one volume, done only once every byte is written and flushed.
bool replaceExisting(const std::wstring& target, const char* bytes, size_t length) {
    std::wstring folder(target);
    const size_t slash = folder.find_last_of(L'\\');
    folder.resize(slash == std::wstring::npos ? 0 : slash + 1);

    // The new file stays open, with deletion access, until it has replaced the target: whoever else
    // opens it then must allow deletion too, so a shell or indexer that looks at the new file cannot
    // hold it open and make the move fail.
    FileHandle file(INVALID_HANDLE_VALUE);
    std::wstring temporary;
    wchar_t process[16] = {};
    swprintf(process, 16, L"%lx", static_cast<unsigned long>(GetCurrentProcessId()));
    for (int n = 0; n < kTemporaryNameAttempts && !file.valid(); ++n) {
        temporary = folder + L"~korv-" + process + L"-" + std::to_wstring(n) + L".tmp";
        file = FileHandle(CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (!file.valid()) return false;

    const bool stored = writeAll(file.get(), bytes, length) && FlushFileBuffers(file.get()) &&
                        moveOver(temporary.c_str(), target.c_str());
    if (!stored) discard(file, temporary.c_str());  // the target stays as it was
    return stored;
}

// Creates the file `path`, which nothing could be opened at, with the bytes. CREATE_NEW never replaces
// anything: a dangling link there (which cannot be opened, as a missing file cannot) makes it fail with
// ERROR_FILE_EXISTS and stays as it was, as does a name that someone else takes meanwhile; a missing
// folder fails with ERROR_PATH_NOT_FOUND. A failed write removes the new file again.
bool createNew(const wchar_t* path, const char* bytes, size_t length) {
    FileHandle file(CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    const bool stored = writeAll(file.get(), bytes, length) && FlushFileBuffers(file.get());
    if (!stored) discard(file, path);
    return stored;
}

}  // namespace

bool Win32Platform::getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) {
    int csidl = CSIDL_DESKTOP;
    switch (folder) {
        case KnownFolder::CommonAppData:
            csidl = CSIDL_COMMON_APPDATA;
            break;
        case KnownFolder::Fonts:
            csidl = CSIDL_FONTS;
            break;
        case KnownFolder::Desktop:
            csidl = CSIDL_DESKTOP;
            break;
    }
    static_assert(kMaxPathUnits == MAX_PATH, "SHGetFolderPathW fills MAX_PATH units");
    wchar_t path[MAX_PATH] = {};
    out[0] = u'\0';
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_DEFAULT, path))) return false;
    path[MAX_PATH - 1] = L'\0';
    std::memcpy(out, path, sizeof path);
    return true;
}

uint32_t Win32Platform::getLastError() {
    return GetLastError();
}

bool Win32Platform::setCurrentDirectory(const char16_t* path) {
    return SetCurrentDirectoryW(wide(path)) != 0;
}

uint32_t Win32Platform::getCurrentDirectory(uint32_t capacity, char16_t* buffer) {
    return GetCurrentDirectoryW(capacity, wide(buffer));
}

std::unique_ptr<DirectoryListing> Win32Platform::listCurrentDirectory() {
    WIN32_FIND_DATAW data = {};
    const HANDLE find = FindFirstFileW(L"*.*", &data);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    auto* listing = new (std::nothrow) Win32Listing(find, data);
    if (!listing) FindClose(find);
    return std::unique_ptr<DirectoryListing>(listing);
}

uint32_t Win32Platform::expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                                 uint32_t capacity) {
    return ExpandEnvironmentStringsW(wide(source), wide(destination), capacity);
}

bool Win32Platform::replaceFile(const char16_t* path, const char* bytes, size_t length) {
    if (!path || !*path || (length > 0 && !bytes)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // What the name reaches, links followed: a symbolic link, or a chain of them, is written through to
    // the file it finally names and stays a link, as CreateFileW would write through it.
    FileHandle existing(CreateFileW(wide(path), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!existing.valid()) return createNew(wide(path), bytes, length);

    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(existing.get(), &information)) return false;
    // A folder is refused, and so is a file that may not be written (the move would replace it all the same).
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    std::wstring target;
    if (!finalPathOf(existing.get(), target)) return false;
    existing.close();  // an open handle would stop the move
    return replaceExisting(target, bytes, length);
}

uint32_t Win32Platform::getUserDefaultLcid() {
    return GetUserDefaultLCID();
}

bool Win32Platform::startThread(ThreadProc proc, void* parameter) {
    auto* start = new (std::nothrow) ThreadStart{proc, parameter};
    if (!start) return false;
    const uintptr_t thread = _beginthreadex(nullptr, 0, threadMain, start, 0, nullptr);
    if (thread == 0) {
        delete start;
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));  // never joined
    return true;
}
