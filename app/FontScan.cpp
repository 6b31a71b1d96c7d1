// The scan worker. Both passes walk the same two roots in the same order:
//
//   1. the system font folder (m_szFontsFolder),
//   2. the per-user font folder: kUserProfileVariable expanded, followed by kUserFontsSuffix.
//
// The walk of one root keeps pending subdirectories on a stack of names. Entering a directory replaces its
// name on the stack by a ".." marker that stays below the directory's own subdirectories, so that popping
// the marker later returns to the parent. The root is listed first; subdirectories are then visited
// depth-first, the most recently listed first. Entries come in the order the listing returns them.
//
// Nothing met is ever dropped for want of room: the stack grows with the number of pending folders (a
// folder with hundreds of subfolders is common in large font libraries), and the list's buffer is sized by
// the counting pass from the names' real lengths, then grown if files appeared between the passes. Only
// the path-length limits of the platform leave folders and files out.
#include "app/FontScan.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/FontList.h"
#include "app/KorvApp.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

constexpr uint32_t kMaxPathLength = kMaxPathUnits - 1;  // 259 units of path before the terminator
constexpr uint32_t kShortDirectoryProbe = 16;           // the length test asks with a 16-unit buffer
constexpr int kMaxUtf8NameBytes = 1024;                 // 259 units need at most 777 bytes of UTF-8
constexpr int32_t kExcludedGroup = 7;                   // catalog fonts of this group are never listed

constexpr char16_t kParent[] = u"..";

bool equals(const char16_t* a, const char16_t* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// Copies a NUL-terminated string into a buffer of `capacity` units; false (buffer untouched beyond the
// copy) when it does not fit.
bool copyString(char16_t* out, uint32_t capacity, const char16_t* text) {
    const size_t n = wideLength(text);
    if (n + 1 > capacity) return false;
    std::memcpy(out, text, (n + 1) * sizeof(char16_t));
    return true;
}

// Pending subdirectories and ".." markers; grows as needed (allocation failure throws std::bad_alloc,
// which the worker reports as kOutOfMemory).
struct DirectoryStack {
    std::vector<std::u16string> names;
};

// Walks one root; the current directory must already be the root. `onFile(name)` returns false to end the
// listing of the current directory at once (the walk goes on with the stack).
template <typename OnFile>
void walkRoot(PlatformPort& platform, DirectoryStack& stack, OnFile&& onFile) {
    std::vector<std::u16string>& names = stack.names;
    names.clear();
    do {
        if (!names.empty()) {
            const std::u16string name = std::move(names.back());
            names.pop_back();
            if (name == kParent) {
                (void)platform.setCurrentDirectory(kParent);
                continue;
            }
            // Enter only when the path of the subdirectory stays well inside the 259-unit limit. The probe
            // returns the length when it is below 16, otherwise the length plus one.
            char16_t probe[kShortDirectoryProbe];
            const uint64_t current = platform.getCurrentDirectory(kShortDirectoryProbe, probe);
            if (current + name.size() + 3 > kMaxPathLength) continue;
            if (!platform.setCurrentDirectory(name.c_str())) continue;
            names.emplace_back(kParent);
        }

        std::unique_ptr<DirectoryListing> listing = platform.listCurrentDirectory();
        if (!listing) continue;
        DirectoryEntry entry;
        while (listing->next(entry)) {
            entry.name[kMaxPathUnits - 1] = u'\0';
            if (entry.isDirectory) {
                if (equals(entry.name, u".") || equals(entry.name, kParent)) continue;
                names.emplace_back(entry.name);
            } else if (!onFile(entry.name)) {
                break;
            }
        }
    } while (!names.empty());
}

// The per-user root, or false when it cannot be formed within 259 units (then it is not walked).
bool userFontsFolder(PlatformPort& platform, char16_t (&out)[kMaxPathUnits]) {
    const uint32_t expanded = platform.expandEnvironmentStrings(kUserProfileVariable, out, kMaxPathUnits);
    if (expanded == 0 || expanded > kMaxPathUnits) {
        out[0] = u'\0';
        return false;
    }
    out[kMaxPathUnits - 1] = u'\0';
    const size_t length = wideLength(out);
    if (!copyString(out + length, uint32_t(kMaxPathUnits - length), kUserFontsSuffix)) {
        out[0] = u'\0';
        return false;
    }
    return true;
}

int32_t callIdentifyFontFile(const char16_t* path, const FontCatalog& catalog, FontIdentity& result) {
    return identifyFontFile(path, catalog, result);
}

class Scanner {
public:
    Scanner(CKorvApp& app, IdentifyFontFileFn identify) : m_app(app), m_identify(identify) {}

    void run() {
        const int32_t status = LoadCatalogFile(m_app.m_szCatalogPath, m_catalog);
        if (status != kOk) {
            m_app.m_nStatus = status == kIoError ? kNoCatalog : status;
            return;
        }
        char16_t roots[2][kMaxPathUnits] = {};
        bool haveRoot[2] = {};
        haveRoot[0] = copyString(roots[0], kMaxPathUnits, m_app.m_szFontsFolder);
        haveRoot[1] = userFontsFolder(m_app.m_platform, roots[1]);

        for (int pass = 0; pass < 2; ++pass) {
            m_listing = pass == 1;
            if (m_app.m_pProgressWnd) m_app.m_pProgressWnd->refresh();
            m_passCount = 0;
            for (int root = 0; root < 2; ++root) {
                if (!haveRoot[root] || !m_app.m_platform.setCurrentDirectory(roots[root])) continue;
                walkRoot(m_app.m_platform, m_stack, [this](const char16_t* name) { return onFile(name); });
            }
            if (pass == 0 && !prepareList()) return;
        }
        m_writer.finish();
        m_app.m_nJsonLength = m_writer.length();
        if (m_outOfMemory)
            m_app.m_nStatus = kOutOfMemory;
        else if (m_writer.isEmpty())
            m_app.m_nStatus = kNoFontsFound;
    }

    void end() { m_catalog.release(); }

private:
    // After the counting pass: the progress total and the one buffer of the list, large enough for every
    // file met to be listed (never smaller than 128 bytes per file).
    bool prepareList() {
        m_app.m_nProgressTotal.store(m_passCount, std::memory_order_relaxed);
        m_app.m_nProgressCount.store(0, std::memory_order_relaxed);
        int64_t capacity = fontListCapacity(m_passCount);
        const int64_t needed = int64_t(kJsonMinimumCapacity) + m_neededBytes;
        if (capacity >= 0 && needed > capacity) capacity = needed <= INT32_MAX ? needed : -1;
        char* buffer = capacity > 0 ? static_cast<char*>(std::malloc(size_t(capacity))) : nullptr;
        if (!buffer) {
            m_app.m_nStatus = kOutOfMemory;
            return false;
        }
        m_app.m_pJsonBuffer = buffer;
        m_app.m_nJsonLength = 0;
        m_writer = FontListWriter(buffer, int32_t(capacity));
        (void)m_writer.begin();  // the capacity is at least kJsonMinimumCapacity
        m_app.m_nJsonLength = m_writer.length();
        return true;
    }

    // Files that appeared after the counting pass can outgrow the buffer: it is grown rather than an entry
    // dropped. False when no larger buffer can be had.
    bool growList(size_t nameBytes, const char* name) {
        const int64_t capacity = m_writer.capacity();
        const int64_t needed = int64_t(m_writer.length()) + int64_t(m_writer.roomFor(name, nameBytes));
        int64_t grown = capacity * 2 > needed ? capacity * 2 : needed;
        if (grown > INT32_MAX) grown = INT32_MAX;
        if (grown < needed) return false;
        char* buffer = static_cast<char*>(std::realloc(m_app.m_pJsonBuffer, size_t(grown)));
        if (!buffer) return false;
        m_app.m_pJsonBuffer = buffer;
        m_writer.moveTo(buffer, int32_t(grown));
        return true;
    }

    // One file met; false ends the listing of the current directory.
    bool onFile(const char16_t* name) {
        // Only this thread writes the counter; the main thread reads it concurrently.
        const int32_t count = m_app.m_nProgressCount.load(std::memory_order_relaxed);
        if (count < INT32_MAX) m_app.m_nProgressCount.store(count + 1, std::memory_order_relaxed);
        if (m_passCount < INT32_MAX) ++m_passCount;
        if (!m_listing) {
            // The room this file's entry would take if it qualifies.
            char utf8[kMaxUtf8NameBytes];
            const int written = wideCharToUtf8(name, -1, utf8, kMaxUtf8NameBytes);
            if (written > 0)
                m_neededBytes += kJsonLaterEntryBytes + int64_t(jsonEscapedLength(utf8, size_t(written - 1)));
            return true;
        }
        if (m_outOfMemory) return false;

        char16_t path[kMaxPathUnits];
        const uint32_t directory = m_app.m_platform.getCurrentDirectory(kMaxPathUnits, path);
        if (directory == 0 || directory >= kMaxPathLength) return true;  // no room (or no directory)
        size_t length = directory;
        size_t room = kMaxPathLength - length;
        if (path[length - 1] != kPathSeparator) {
            path[length++] = kPathSeparator;
            room = kMaxPathLength - length;
        }
        if (!copyString(path + length, uint32_t(room + 1), name)) return true;  // the path would be too long

        FontIdentity identity;
        const int32_t status = m_identify(path, m_catalog, identity);
        if (status != kOk || identity.group == -1 || identity.group == kExcludedGroup) return true;

        char utf8[kMaxUtf8NameBytes];
        const int written = wideCharToUtf8(name, -1, utf8, kMaxUtf8NameBytes);
        if (written <= 0) return true;
        const size_t nameBytes = size_t(written - 1);
        if (m_writer.append(utf8, nameBytes)) return true;
        if (!growList(nameBytes, utf8) || !m_writer.append(utf8, nameBytes)) {
            m_outOfMemory = true;
            return false;
        }
        return true;
    }

    CKorvApp& m_app;
    IdentifyFontFileFn m_identify;
    FontCatalog m_catalog;
    DirectoryStack m_stack;
    FontListWriter m_writer{nullptr, 0};
    int32_t m_passCount = 0;
    int64_t m_neededBytes = 0;  // entry bytes of every file met by the counting pass
    bool m_listing = false;
    bool m_outOfMemory = false;
};

}  // namespace

int32_t LoadCatalogFile(const char16_t* path, FontCatalog& catalog) {
    catalog.release();
    int error = 0;
    std::unique_ptr<File> file = openFileForReading(path, error);
    if (!file) return kIoError;
    if (!file->seek(0, File::Origin::End)) return kIoError;
    const int64_t end = file->tell();
    // The size must be a non-negative 32-bit value: a larger file is not read in part.
    if (end < 0 || end > INT32_MAX) return kIoError;
    const size_t size = size_t(end);
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!image) return kOutOfMemory;
    if (!file->seek(0, File::Origin::Start)) return kIoError;
    if (file->read(image.get(), size) != size) return kIoError;
    return catalog.load(image.get(), size);
}

uint32_t ScanFonts(CKorvApp& app, IdentifyFontFileFn identify) {
    {
        // Large (64 x 260 units of stack): kept off the thread's stack.
        std::unique_ptr<Scanner> scanner(new (std::nothrow)
                                             Scanner(app, identify ? identify : callIdentifyFontFile));
        if (!scanner) {
            app.m_nStatus = kOutOfMemory;
        } else {
            try {
                scanner->run();
            } catch (const std::bad_alloc&) {
                app.m_nStatus = kOutOfMemory;
            } catch (...) {
                app.m_nStatus = kGeneralError;
            }
            scanner->end();
        }
    }
    // The hand-over: everything above is visible to the main thread once it sees the flag.
    app.m_bScanDone.store(1, std::memory_order_release);
    return 0;
}

uint32_t FontScanThreadProc(void* parameter) {
    return ScanFonts(*static_cast<CKorvApp*>(parameter));
}
