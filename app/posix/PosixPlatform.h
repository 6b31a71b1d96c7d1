// The platform port on Linux and other POSIX systems.
//
// - Folders: CommonAppData is the first absolute entry of XDG_DATA_DIRS (else /usr/share), Fonts its
//   "fonts" subfolder, Desktop $HOME/Desktop when that folder exists.
// - The current directory is kept logically, as Windows keeps it: ".." leaves a directory the way it was
//   entered, also through a symbolic link, and a path longer than 258 units is refused.
// - Listings are sorted like an NTFS folder: UTF-16 code units with ASCII letters compared as upper case,
//   ties by plain code units. Regular files (also through links) and directories are listed; FIFOs,
//   sockets, devices and dangling links are not (opening a FIFO would block the scan). A link to a
//   directory is listed unless that directory was already listed since the walk last set an absolute
//   current directory - which stops link cycles and repeated subtrees from multiplying the walk. Names
//   that are not valid UTF-8 or longer than 259 units cannot be named in UTF-16 and are not listed.
// - The user locale is Japanese (1041) when LC_ALL, LC_MESSAGES or LANG (the first one set) starts with
//   "ja"; otherwise 1033.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

#include "app/Ports.h"

class PosixPlatform final : public PlatformPort {
public:
    PosixPlatform();

    bool getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) override;
    uint32_t getLastError() override;
    bool setCurrentDirectory(const char16_t* path) override;
    uint32_t getCurrentDirectory(uint32_t capacity, char16_t* buffer) override;
    std::unique_ptr<DirectoryListing> listCurrentDirectory() override;
    uint32_t expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                      uint32_t capacity) override;
    bool replaceFile(const char16_t* path, const char* bytes, size_t length) override;
    uint32_t getUserDefaultLcid() override;
    bool startThread(ThreadProc proc, void* parameter) override;

    // The logical current directory (tests, the terminal front end).
    const std::u16string& currentDirectory() const { return m_currentDirectory; }

private:
    std::u16string m_currentDirectory;
    std::set<std::pair<dev_t, ino_t>> m_listedDirectories;
};

// The longest current directory accepted (MAX_PATH less the terminator and the trailing separator).
constexpr size_t kMaxCurrentDirectoryUnits = kMaxPathUnits - 2;

// Lexically normalises an absolute path: "." and empty components removed, ".." taking away the component
// before it (never above the root); no trailing slash except for the root itself.
std::u16string normalisePath(const std::u16string& absolute);

// The listing order: UTF-16 code units with ASCII a-z compared as A-Z; ties by plain code units.
bool listingOrderLess(const std::u16string& a, const std::u16string& b);
