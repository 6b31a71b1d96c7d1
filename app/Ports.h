// The two seams between the run flow and the system it runs on. The flow (KorvApp, FontScan) is portable and
// reaches files, folders, threads and windows only through these interfaces; each platform supplies one
// implementation of each (Win32: app/ui and platform calls; Linux: app/posix, a terminal front end), and
// the tests supply scripted ones.
//
// Every method names the Windows call it stands for, and keeps that call's result conventions where the flow
// depends on them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// Paths are NUL-terminated UTF-16 in buffers of this many units (MAX_PATH, terminator included).
constexpr uint32_t kMaxPathUnits = 260;

// Separators and fixed folder names of the platform.
#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
// Appended to the expansion of kUserProfileVariable to give the per-user font folder.
constexpr char16_t kUserFontsSuffix[] = u"\\AppData\\Local\\Microsoft\\Windows\\Fonts";
constexpr char16_t kUserProfileVariable[] = u"%userprofile%";
#else
constexpr char16_t kPathSeparator = u'/';
constexpr char16_t kUserFontsSuffix[] = u"/.local/share/fonts";
constexpr char16_t kUserProfileVariable[] = u"%HOME%";
#endif

// Folders the program looks up, always at their default location.
enum class KnownFolder {
    CommonAppData,  // CSIDL_COMMON_APPDATA; Linux: the first entry of XDG_DATA_DIRS, else /usr/share
    Fonts,          // CSIDL_FONTS;          Linux: <CommonAppData>/fonts
    Desktop,        // CSIDL_DESKTOP;        Linux: $HOME/Desktop
};

// One entry of a directory listing (WIN32_FIND_DATAW, reduced to what the walk reads).
struct DirectoryEntry {
    bool isDirectory = false;           // FILE_ATTRIBUTE_DIRECTORY
    char16_t name[kMaxPathUnits] = {};  // cFileName: at most 259 units and the terminator
};

// An open listing of the current directory (a FindFirstFileW handle). Destruction is FindClose.
class DirectoryListing {
public:
    virtual ~DirectoryListing() = default;
    // The first call returns FindFirstFileW's entry, each later one FindNextFileW's; false when there are no
    // more entries.
    virtual bool next(DirectoryEntry& entry) = 0;
};

// The worker thread's entry function (AFX_THREADPROC): its result is the thread's exit code.
using ThreadProc = uint32_t (*)(void* parameter);

// Files, folders, environment and threads.
class PlatformPort {
public:
    virtual ~PlatformPort() = default;

    // SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_DEFAULT, out): true on success, with `out` a
    // NUL-terminated path of at most 259 units. On failure `out` is left empty.
    virtual bool getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) = 0;

    // GetLastError(): the error code of the last failed call of this port on the calling thread (0 if none).
    virtual uint32_t getLastError() = 0;

    // SetCurrentDirectoryW: an absolute path, a name relative to the current directory, or "..". The
    // current directory is logical, as on Windows: ".." returns to the folder the name was entered from,
    // also when the name was a link. Fails (false) when the result would not fit in 259 units.
    virtual bool setCurrentDirectory(const char16_t* path) = 0;

    // GetCurrentDirectoryW(capacity, buffer): when the current directory and its terminator fit into
    // `capacity` units, copies them and returns the length without the terminator; otherwise copies nothing
    // and returns the size needed, terminator included. 0 on failure.
    virtual uint32_t getCurrentDirectory(uint32_t capacity, char16_t* buffer) = 0;

    // FindFirstFileW(L"*.*") on the current directory; nullptr when that fails. Entries "." and ".." may
    // appear (as directories). Entries that can be neither entered nor read as files are not listed.
    virtual std::unique_ptr<DirectoryListing> listCurrentDirectory() = 0;

    // ExpandEnvironmentStringsW(source, destination, capacity): replaces each %NAME% of a set variable by
    // its value. Returns the size of the result in units including the terminator; when that is more than
    // `capacity`, the destination's contents are not to be used. 0 on failure.
    virtual uint32_t expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                              uint32_t capacity) = 0;

    // Writes `length` bytes as the whole new content of the file at `path` (CreateFileW with CREATE_ALWAYS,
    // WriteFile, CloseHandle; made safe): the file is either replaced entirely, or - on any failure,
    // including a short write - left as it was, with no temporary file left behind. An existing file that
    // may not be written is refused. A symbolic link (or a chain of them) is written through to the file it
    // finally names and stays a link; a link that leads to nothing is refused and left as it was, and
    // nothing is created. True only when every byte was stored.
    virtual bool replaceFile(const char16_t* path, const char* bytes, size_t length) = 0;

    // GetUserDefaultLCID(): 1041 for a Japanese user locale.
    virtual uint32_t getUserDefaultLcid() = 0;

    // AfxBeginThread(proc, parameter) with normal priority, default stack and security, running at once.
    // The thread is never joined. False when no thread could be started (proc is then never called).
    virtual bool startThread(ThreadProc proc, void* parameter) = 0;
};

// The progress dialog (CProgressWnd, template 103) while the scan runs. Owned by the user-interface port;
// the pointer stays valid until UserInterfacePort::cleanup().
class ProgressWindow {
public:
    // SendMessageW(progress bar, PBM_SETPOS, percent): 0..100. Main thread.
    virtual void setPosition(int32_t percent) = 0;
    // IsWindow(hwnd) && IsWindowVisible(hwnd). Main thread.
    virtual bool isVisible() = 0;
    // UpdateWindow(hwnd). Called by the WORKER thread at the start of each scan pass: must be safe against
    // the main thread's calls, and a no-op once the window is closed.
    virtual void refresh() = 0;
    // The OK action (data exchange, EndDialog) and DestroyWindow. Main thread. Fine twice.
    virtual void close() = 0;

protected:
    ~ProgressWindow() = default;
};

// Outcome of the save dialog.
enum class SaveDialogResult {
    Ok,         // a file was chosen (and, if it exists, overwriting it was confirmed)
    Cancelled,  // the user closed the dialog without choosing
    Failed,     // the dialog could not be shown
};

// Windows, dialogs and messages. All methods are called on the main thread only, except
// ProgressWindow::refresh(). Any of them may throw; the run flow turns an escaped exception into
// kGeneralError where the progress and save steps are concerned.
class UserInterfacePort {
public:
    virtual ~UserInterfacePort() = default;

    // InitCommonControlsEx, CoInitializeEx, the framework's start-up (shell manager, visual manager,
    // registry key). Nothing depends on its outcome.
    virtual void initFramework() = 0;

    // RegisterTransparentImageClass: whether the "transparentimage" window class is usable.
    virtual bool registerTransparentImageClass() = 0;

    // Creates the progress dialog as a modeless dialog without owner and shows it (SW_SHOW); nullptr when
    // it could not be created.
    virtual ProgressWindow* showProgress() = 0;

    // One PeekMessageW(PM_REMOVE) for any window; if a message was taken, TranslateMessage and
    // DispatchMessageW. Never waits for a message.
    virtual void pumpMessage() = 0;

    // MsgWaitForMultipleObjectsEx(0, NULL, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE): returns as soon as
    // a message is waiting for this thread (one already seen but not yet taken, or one sent from another
    // thread, included), else after `timeoutMs`. Takes no message. Between two polls of the wait loop, so
    // that the loop leaves the processor to the worker. A front end without a message queue (the default)
    // just sleeps for the time-out.
    virtual void waitForMessage(uint32_t timeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    }

    // CFileDialog in save mode (Vista style, no owner, default extension "json", filter
    // "json(*.json)|*.json||", OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NONETWORKBUTTON) with the title
    // given, opening in `initialFolder` when it is not null, proposing `proposedPath`. On Ok, `chosen` is
    // the chosen full path.
    virtual SaveDialogResult runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                           const char16_t* proposedPath, std::u16string& chosen) = 0;

    // MessageBoxW(NULL, string `stringId`, string IDS_TOOL_TITLE, MB_ICONERROR | MB_OK); returns when the
    // box is closed.
    virtual void showMessage(uint32_t stringId) = 0;

    // The instructions dialog (CKorvDlg, template 102) as the main window, run modally; its result is
    // ignored.
    virtual void runInstructionsDialog() = 0;

    // The shell manager's deletion and the framework's control-bar clean-up. Ends the life of the progress
    // window object.
    virtual void cleanup() = 0;
};
