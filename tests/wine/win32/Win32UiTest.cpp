// Tests of the Windows layer that need the real Windows API: the transparent image control, the dialogs'
// framework pieces, the platform port and the byte-file stand-in. Built by the Windows cross-build with the
// program's own resources, run under Wine (inside Xvfb, on a Wine desktop) by the end-to-end suite:
//
//   korv-win32-tests.exe REPORT.txt [foreign-class]
//
// "foreign-class" runs the one test that needs a process of its own (a class "transparentimage" registered
// by someone else first). The report lists each failed check and ends with "passed N failed M"; the exit
// code is 0 only when nothing failed.
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/ui/KorvDlg.h"
#include "app/ui/ProgressWnd.h"
#include "app/ui/TransparentImage.h"
#include "app/ui/Win32Platform.h"
#include "app/ui/Wnd.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "res/resource.h"

namespace {

int g_passed = 0;
std::vector<std::string> g_failures;

void check(bool ok, const char* what, int line) {
    if (ok) {
        ++g_passed;
        return;
    }
    g_failures.push_back("line " + std::to_string(line) + ": " + what);
}

#define CHECK(condition) check((condition), #condition, __LINE__)

const char16_t* u16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

std::wstring tempFolder(const wchar_t* name) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::string readAll(const std::wstring& path) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "<missing>";
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

void writeAll(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Names in `folder` other than "." and "..".
std::vector<std::wstring> listFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

void removeFolder(const std::wstring& folder) {
    for (const std::wstring& name : listFolder(folder)) {
        const std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

void pumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// --- the transparent image control ------------------------------------------------------------------------

constexpr COLORREF kParentColour = RGB(200, 30, 40);

LRESULT CALLBACK parentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

HWND createParent() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = parentProc;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hbrBackground = CreateSolidBrush(kParentColour);
        wc.lpszClassName = L"korv-test-parent";
        registered = RegisterClassW(&wc) != 0;
    }
    return CreateWindowExW(0, L"korv-test-parent", L"korv test", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                           nullptr, nullptr, AfxGetInstanceHandle(), nullptr);
}

COLORREF pixelOf(HWND hWnd, int x, int y) {
    const HDC dc = GetDC(hWnd);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(hWnd, dc);
    return colour;
}

bool nearColour(COLORREF a, COLORREF b) {
    auto close = [](int p, int q) { return p - q < 8 && q - p < 8; };
    return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) &&
           close(GetBValue(a), GetBValue(b));
}

void testTransparentImage() {
    CHECK(RegisterTransparentImageClass());
    CHECK(RegisterTransparentImageClass());  // found again, with our procedure: usable
    CHECK(g_pfnStaticWndProc != nullptr);

    const HWND parent = createParent();
    CHECK(parent != nullptr);
    if (!parent) return;
    // A control larger than the bitmap, and one smaller than it.
    const HWND logo = CreateWindowExW(0, L"transparentimage", L"129", WS_CHILD | WS_VISIBLE, 10, 10, 160, 160,
                                      parent, HMENU(UINT_PTR(1003)), AfxGetInstanceHandle(), nullptr);
    const HWND clipped = CreateWindowExW(0, L"transparentimage", L"129", WS_CHILD | WS_VISIBLE, 200, 10, 60,
                                         60, parent, HMENU(UINT_PTR(1004)), AfxGetInstanceHandle(), nullptr);
    const HWND none = CreateWindowExW(0, L"transparentimage", L"no number", WS_CHILD | WS_VISIBLE, 200, 150,
                                      40, 40, parent, HMENU(UINT_PTR(1005)), AfxGetInstanceHandle(), nullptr);
    CHECK(logo && clipped && none);
    if (!logo || !clipped || !none) return;

    // Each window got its own object from the first procedure, and the framework procedure took over.
    auto* object = dynamic_cast<CTransparentImageExported*>(CWnd::FromHandlePermanent(logo));
    CHECK(object != nullptr);
    CHECK(GetWindowLongPtrW(logo, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(AfxGetAfxWndProc()));
    CHECK(CWnd::FromHandlePermanent(clipped) != object);
    if (object) CHECK(object->m_bitmap.m_hObject != nullptr);
    auto* empty = dynamic_cast<CTransparentImageExported*>(CWnd::FromHandlePermanent(none));
    CHECK(empty && empty->m_bitmap.m_hObject == nullptr);
    // The static control behind it still keeps the text.
    wchar_t text[16] = {};
    GetWindowTextW(logo, text, 16);
    CHECK(wcscmp(text, L"129") == 0);

    UpdateWindow(parent);
    pumpPending();
    // Bitmap 129: a teal tile on white; (40, 24) and (80, 40) are teal, (2, 2) white, which is not drawn.
    CHECK(nearColour(pixelOf(parent, 10 + 2, 10 + 2), kParentColour));
    CHECK(nearColour(pixelOf(parent, 10 + 40, 10 + 24), RGB(14, 124, 134)));
    CHECK(nearColour(pixelOf(parent, 10 + 80, 10 + 40), RGB(14, 124, 134)));
    // Beyond the bitmap inside a larger control, nothing is drawn either.
    CHECK(nearColour(pixelOf(parent, 10 + 150, 10 + 150), kParentColour));
    // The smaller control (60 x 60) is clipped at its right edge.
    CHECK(nearColour(pixelOf(parent, 200 + 40, 10 + 24), RGB(14, 124, 134)));
    CHECK(nearColour(pixelOf(parent, 200 + 80, 10 + 40), kParentColour));
    // A text that names no bitmap paints nothing.
    CHECK(nearColour(pixelOf(parent, 220, 170), kParentColour));

    DestroyWindow(parent);
    // After the last message each object is gone from the handle map (and has deleted itself).
    CHECK(CWnd::FromHandlePermanent(logo) == nullptr);
    CHECK(CWnd::FromHandlePermanent(clipped) == nullptr);
}

void testControlTextNumber() {
    CHECK(controlTextNumber(L"128") == 128);
    CHECK(controlTextNumber(L"  129abc") == 129);
    CHECK(controlTextNumber(L"abc") == 0);
    CHECK(controlTextNumber(L"") == 0);
    CHECK(controlTextNumber(L"-7") == -7);
    CHECK(controlTextNumber(L"99999999999999") == 2147483647);
    CHECK(controlTextNumber(L"-99999999999999") == -2147483647 - 1);
}

// Run in a process of its own: someone else's class of that name makes ours unusable.
int testForeignClass() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = AfxGetInstanceHandle();
    wc.lpszClassName = L"transparentimage";
    CHECK(RegisterClassW(&wc) != 0);
    CHECK(!RegisterTransparentImageClass());
    return 0;
}

// --- dialogs ----------------------------------------------------------------------------------------------

void testProgressDialog() {
    CProgressWnd dialog;
    CHECK(dialog.Create(nullptr));
    if (!dialog.m_hWnd) return;
    // The data exchange bound the progress bar; its range is the default 0..100.
    CHECK(dialog.m_progress.m_hWnd == GetDlgItem(dialog.m_hWnd, IDC_PROGRESS));
    dialog.m_progress.SetPos(42);
    CHECK(SendMessageW(dialog.m_progress.m_hWnd, PBM_GETPOS, 0, 0) == 42);
    CHECK(SendMessageW(dialog.m_progress.m_hWnd, PBM_GETRANGE, FALSE, 0) == 100);
    CHECK((GetWindowLongW(dialog.m_hWnd, GWL_STYLE) & WS_SYSMENU) == 0);  // no close box
    CHECK(IsWindowVisible(dialog.m_hWnd));
    dialog.OnOK();
    CHECK(!IsWindowVisible(dialog.m_hWnd));
    dialog.DestroyWindow();
    CHECK(dialog.m_hWnd == nullptr);
    CHECK(dialog.m_progress.m_hWnd == nullptr);  // the binding ended with the window
    dialog.m_progress.SetPos(50);                // and a late update asks nothing of a window that is gone
}

void testInstructionsDialog() {
    CKorvDlg dialog;
    CHECK(dialog.Create(nullptr));
    if (!dialog.m_hWnd) return;
    const auto icon = HICON(SendMessageW(dialog.m_hWnd, WM_GETICON, ICON_BIG, 0));
    CHECK(icon != nullptr);
    CHECK(HICON(SendMessageW(dialog.m_hWnd, WM_GETICON, ICON_SMALL, 0)) == icon);
    CHECK(HICON(SendMessageW(dialog.m_hWnd, WM_QUERYDRAGICON, 0, 0)) == icon);
    CHECK((GetWindowLongW(dialog.m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0);
    // Escape reaches the dialog's keyboard handling and ends it; Enter does not.
    MSG enter = {dialog.m_hWnd, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    wchar_t noBrowser[] = L"KORV_BROWSER_LOG=";
    _wputenv(noBrowser);
    CHECK(!dialog.PreTranslateMessage(&enter));
    CHECK(IsWindowVisible(dialog.m_hWnd));
    MSG escape = {GetDlgItem(dialog.m_hWnd, IDC_LOGIN), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    CHECK(dialog.PreTranslateMessage(&escape));
    CHECK(!IsWindowVisible(dialog.m_hWnd));
    dialog.DestroyWindow();
    CHECK(dialog.m_hWnd == nullptr);
    CHECK(wcsncmp(kLoginPageUrl, L"https://", 8) == 0);
    CHECK(wcsstr(kLoginPageUrl, L"/fonts/lists") != nullptr);
}

// --- the platform port ------------------------------------------------------------------------------------

void testReplaceFile() {
    Win32Platform platform;
    const std::wstring folder = tempFolder(L"korv-replace-test");
    const std::wstring target = folder + L"\\FontsList.json";

    CHECK(platform.replaceFile(u16(target.c_str()), "new", 3));
    CHECK(readAll(target) == "new");

    // An existing longer file is replaced entirely: no old bytes remain after the new ones.
    writeAll(target, std::string(10000, 'x'));
    CHECK(platform.replaceFile(u16(target.c_str()), "{}\n", 3));
    CHECK(readAll(target) == "{}\n");
    CHECK(platform.replaceFile(u16(target.c_str()), "", 0));
    CHECK(readAll(target).empty());

    // A target held open by someone who does not allow its deletion: refused after a short wait, unchanged.
    writeAll(target, "held");
    const HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    CHECK(!platform.replaceFile(u16(target.c_str()), "lost", 4));
    CloseHandle(held);
    CHECK(readAll(target) == "held");

    // A read-only file is refused and left as it was.
    writeAll(target, "keep");
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    CHECK(!platform.replaceFile(u16(target.c_str()), "lost", 4));
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    CHECK(readAll(target) == "keep");

    // A folder of that name is refused.
    const std::wstring sub = folder + L"\\sub.json";
    CreateDirectoryW(sub.c_str(), nullptr);
    CHECK(!platform.replaceFile(u16(sub.c_str()), "x", 1));
    RemoveDirectoryW(sub.c_str());

    // A folder that does not exist: nothing is created anywhere.
    const std::wstring missing = folder + L"\\missing\\FontsList.json";
    CHECK(!platform.replaceFile(u16(missing.c_str()), "x", 1));

    // No temporary file is left behind, whatever happened.
    const std::vector<std::wstring> names = listFolder(folder);
    CHECK(names.size() == 1 && names[0] == L"FontsList.json");
    removeFolder(folder);
}

void testFoldersAndListing() {
    Win32Platform platform;
    char16_t path[kMaxPathUnits] = {};
    CHECK(platform.getFolderPath(KnownFolder::Fonts, path) && path[0] != u'\0');
    CHECK(platform.getFolderPath(KnownFolder::CommonAppData, path) && path[0] != u'\0');
    CHECK(platform.getFolderPath(KnownFolder::Desktop, path) && path[0] != u'\0');

    const std::wstring folder = tempFolder(L"korv-list-test");
    CreateDirectoryW((folder + L"\\sub").c_str(), nullptr);
    writeAll(folder + L"\\フォント.ttf", "x");
    CHECK(platform.setCurrentDirectory(u16(folder.c_str())));

    // GetCurrentDirectoryW: the length when it fits, else the size needed with the terminator.
    char16_t small[4] = {};
    const uint32_t needed = platform.getCurrentDirectory(4, small);
    CHECK(needed == folder.size() + 1);
    char16_t current[kMaxPathUnits] = {};
    CHECK(platform.getCurrentDirectory(kMaxPathUnits, current) == folder.size());

    auto listing = platform.listCurrentDirectory();
    CHECK(listing != nullptr);
    bool sawFile = false, sawSub = false;
    DirectoryEntry entry;
    while (listing && listing->next(entry)) {
        const std::wstring name = reinterpret_cast<const wchar_t*>(entry.name);
        if (name == L"フォント.ttf") sawFile = !entry.isDirectory;
        if (name == L"sub") sawSub = entry.isDirectory;
    }
    CHECK(sawFile && sawSub);
    listing.reset();

    CHECK(platform.setCurrentDirectory(u"sub"));
    CHECK(platform.setCurrentDirectory(u".."));
    CHECK(!platform.setCurrentDirectory(u"missing"));

    // The file stand-in opens UTF-16 paths and reports the platform's error number.
    int error = -1;
    auto file = openFileForReading(u16((folder + L"\\フォント.ttf").c_str()), error);
    CHECK(file != nullptr && error == 0);
    if (file) {
        CHECK(file->seek(0, File::Origin::End) && file->tell() == 1);
    }
    file.reset();
    CHECK(openFileForReading(u"C:\\korv-missing\\x.ttf", error) == nullptr && error > 0);

    char16_t expanded[kMaxPathUnits] = {};
    const uint32_t size = platform.expandEnvironmentStrings(u"%userprofile%", expanded, kMaxPathUnits);
    CHECK(size > 1 && size <= kMaxPathUnits && expanded[0] != u'%');
    CHECK(platform.expandEnvironmentStrings(u"%userprofile%", expanded, 2) == size);  // too small: the size

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    DeleteFileW((folder + L"\\フォント.ttf").c_str());
    RemoveDirectoryW((folder + L"\\sub").c_str());
    RemoveDirectoryW(folder.c_str());
}

std::atomic<int> g_threadValue{0};

uint32_t threadProc(void* parameter) {
    g_threadValue.store(*static_cast<int*>(parameter), std::memory_order_release);
    return 0;
}

void testThreadAndLocale() {
    Win32Platform platform;
    static int value = 41;
    CHECK(platform.startThread(threadProc, &value));
    for (int i = 0; i < 500 && g_threadValue.load(std::memory_order_acquire) == 0; ++i) Sleep(10);
    CHECK(g_threadValue.load() == 41);
    CHECK(platform.getUserDefaultLcid() == GetUserDefaultLCID());

    // The ANSI code page conversion is the system's: with code page 932, Shift_JIS "あ" is U+3042.
    if (GetACP() == 932) {
        char16_t out[4] = {};
        CHECK(multiByteToWideChar(kCodePageAnsi, "\x82\xa0", 2, out, 4) == 1 && out[0] == u'\x3042');
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: korv-win32-tests REPORT.txt [foreign-class]\n", stderr);
        return 2;
    }
    AfxSetInstanceHandle(GetModuleHandleW(nullptr));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (argc > 2 && wcscmp(argv[2], L"foreign-class") == 0) {
        testForeignClass();
    } else {
        testControlTextNumber();
        testTransparentImage();
        testProgressDialog();
        testInstructionsDialog();
        testReplaceFile();
        testFoldersAndListing();
        testThreadAndLocale();
    }
    std::string report;
    for (const std::string& failure : g_failures) report += "FAILED " + failure + "\n";
    report += "passed " + std::to_string(g_passed) + " failed " + std::to_string(g_failures.size()) + "\n";
    FILE* f = _wfopen(argv[1], L"wb");
    if (f) {
        fwrite(report.data(), 1, report.size(), f);
        fclose(f);
    }
    return g_failures.empty() ? 0 : 1;
}
