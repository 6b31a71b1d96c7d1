// The platform port on the Windows API: known folders, the current directory, directory listings,
// environment expansion, the font list's file, the user locale and the worker thread.
#pragma once

#include "app/Ports.h"

class Win32Platform final : public PlatformPort {
public:
    bool getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) override;
    uint32_t getLastError() override;
    bool setCurrentDirectory(const char16_t* path) override;
    uint32_t getCurrentDirectory(uint32_t capacity, char16_t* buffer) override;
    std::unique_ptr<DirectoryListing> listCurrentDirectory() override;
    uint32_t expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                      uint32_t capacity) override;
    // Links are followed to the file they finally name (a chain too), which is replaced and the links kept.
    // An existing file is replaced through a new file beside it (same folder, so the final move is a
    // rename on one volume) once every byte is written and flushed; a read-only file or a folder is
    // refused. Where nothing can be opened, the file is created exclusively, so a dangling link is refused
    // and left as it was. On failure the new file is removed again.
    bool replaceFile(const char16_t* path, const char* bytes, size_t length) override;
    uint32_t getUserDefaultLcid() override;
    bool startThread(ThreadProc proc, void* parameter) override;
};
