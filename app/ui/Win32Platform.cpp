#include "app/ui/Win32Platform.h"

#include <windows.h>

#include <process.h>
#include <shlobj.h>

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
    const wchar_t* target = wide(path);
    const DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;  // the file may not be written; the move would replace it all the same

    std::wstring folder(target);
    const size_t slash = folder.find_last_of(L"\\/");
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
                        moveOver(temporary.c_str(), target);
    if (!stored) {
        FILE_DISPOSITION_INFO disposition = {TRUE};  // removed when closed
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    file.close();
    if (!stored) DeleteFileW(temporary.c_str());  // in case the disposition could not be set; else a no-op
    return stored;
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
