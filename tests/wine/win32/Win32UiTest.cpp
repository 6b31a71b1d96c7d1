// Tests of the Windows layer that need the real Windows API: the transparent image control, the dialogs'
// framework pieces, the platform port and the byte-file stand-in. Built by the Windows cross-build with the
// program's own resources, run under Wine (inside Xvfb, on a Wine desktop) by the end-to-end suite:
//
//   korv-win32-tests.exe REPORT.txt [foreign-class | links FOLDER | version KORV.EXE]
//
// "foreign-class" runs the one test that needs a process of its own (a class "transparentimage" registered
// by someone else first); "links" the saves through the symbolic links that the suite made in FOLDER;
// "version" reads the program's version information, and lists its values in the report as well. The
// report lists each failed check and ends with "passed N failed M"; the exit code is 0 only when nothing
// failed.
#include <windows.h>

#include <share.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Strings.h"
#include "app/Version.h"
#include "app/ui/KorvDlg.h"
#include "app/ui/ProgressWnd.h"
#include "app/ui/TransparentImage.h"
#include "app/ui/Win32Platform.h"
#include "app/ui/Win32UserInterface.h"
#include "app/ui/Wnd.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "res/resource.h"

namespace {

int g_passed = 0;
std::vector<std::string> g_failures;
std::vector<std::string> g_values;  // "value NAME=TEXT" lines of the report, for the suite to check too

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
    FILE* f = _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
    if (!f) return "<missing>";
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

void writeAll(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfsopen(path.c_str(), L"wb", _SH_DENYNO);
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

std::vector<std::wstring> sortedListing(const std::wstring& folder) {
    std::vector<std::wstring> names = listFolder(folder);
    std::sort(names.begin(), names.end());
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
    // Painting: the system's while the dialog is open, the icon's while it is minimised.
    CHECK(dialog.handleMessage(WM_PAINT, 0, 0) == FALSE);
    ShowWindow(dialog.m_hWnd, SW_MINIMIZE);
    if (IsIconic(dialog.m_hWnd)) {
        InvalidateRect(dialog.m_hWnd, nullptr, TRUE);
        CHECK(dialog.handleMessage(WM_PAINT, 0, 0) == TRUE);
    }
    ShowWindow(dialog.m_hWnd, SW_RESTORE);
    pumpPending();
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

// --- resources ------------------------------------------------------------------------------------------

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);     // 1041
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

// The languages resource (type, id) is stored under.
std::vector<WORD> languagesOf(LPCWSTR type, UINT id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(GetModuleHandleW(nullptr), type, MAKEINTRESOURCEW(id), collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::vector<uint8_t> resourceBytes(LPCWSTR type, UINT id, WORD language) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    if (!found) return {};
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    if (!bytes) return {};
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
}

// Little-endian fields of a resource, copied out byte by byte; a read past the end latches !ok.
class ResourceReader {
public:
    explicit ResourceReader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    uint16_t u16() {
        if (m_pos + 2 > m_bytes.size()) return fail();
        const uint16_t v = uint16_t(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    uint32_t u32() { return u16() | (uint32_t(u16()) << 16); }
    uint8_t u8() { return m_pos < m_bytes.size() ? m_bytes[m_pos++] : uint8_t(fail()); }
    // A string or an ordinal ("#<n>") as dialog templates hold them.
    std::wstring text() {
        uint16_t c = u16();
        if (c == 0xFFFF) return L"#" + std::to_wstring(u16());
        std::wstring out;
        for (; c != 0 && m_ok; c = u16()) out += wchar_t(c);
        return out;
    }
    void align4() { m_pos = (m_pos + 3) & ~size_t(3); }
    void skip(size_t n) { m_pos += n; }
    bool ok() const { return m_ok; }

private:
    uint16_t fail() {
        m_ok = false;
        return 0;
    }
    const std::vector<uint8_t>& m_bytes;
    size_t m_pos = 0;
    bool m_ok = true;
};

struct TemplateItem {
    uint32_t style, exStyle, id;
    int x, y, cx, cy;
    std::wstring className, text;
};

struct DialogTemplate {
    uint32_t style = 0, exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::wstring title, face;
    uint16_t points = 0;
    std::vector<TemplateItem> items;
    bool ok = false;
};

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
    return text;
}

// A DLGTEMPLATEEX with its items. Predefined classes come as ordinals: 0x80 button, 0x82 static.
DialogTemplate readDialog(UINT id) {
    DialogTemplate dialog;
    const std::vector<uint8_t> bytes = resourceBytes(RT_DIALOG, id, kJapanese);
    ResourceReader r(bytes);
    if (r.u16() != 1 || r.u16() != 0xFFFF) return dialog;
    r.u32();  // help id
    dialog.exStyle = r.u32();
    dialog.style = r.u32();
    const uint16_t count = r.u16();
    dialog.x = int16_t(r.u16()), dialog.y = int16_t(r.u16()), dialog.cx = int16_t(r.u16()),
    dialog.cy = int16_t(r.u16());
    r.text();  // menu
    r.text();  // class
    dialog.title = r.text();
    dialog.points = r.u16();
    r.u16();  // weight
    r.u8();   // italic
    r.u8();   // character set
    dialog.face = r.text();
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        r.align4();
        TemplateItem item;
        r.u32();  // help id
        item.exStyle = r.u32();
        item.style = r.u32();
        item.x = int16_t(r.u16()), item.y = int16_t(r.u16()), item.cx = int16_t(r.u16()),
        item.cy = int16_t(r.u16());
        item.id = r.u32();
        item.className = lower(r.text());
        if (item.className == L"#128") item.className = L"button";
        if (item.className == L"#130") item.className = L"static";
        item.text = r.text();
        r.skip(r.u16());  // creation data
        dialog.items.push_back(item);
    }
    dialog.ok = r.ok();
    return dialog;
}

bool sameItem(const TemplateItem& item, uint32_t id, const wchar_t* className, const wchar_t* text,
              uint32_t style, int x, int y, int cx, int cy) {
    return item.id == id && item.className == className && item.text == text && item.style == style &&
           item.exStyle == 0 && item.x == x && item.y == y && item.cx == cx && item.cy == cy;
}

void testResources() {
    const DialogTemplate main = readDialog(IDD_KORV_DIALOG);
    CHECK(main.ok);
    CHECK(main.style == (DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU));
    CHECK(main.exStyle == WS_EX_APPWINDOW);
    CHECK(main.x == 0 && main.y == 0 && main.cx == 666 && main.cy == 466);
    CHECK(main.title == L"新 ZELKO への移行手順");
    CHECK(main.face == L"MS UI Gothic" && main.points == 9);
    const uint32_t text = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
    const uint32_t push = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
    const uint32_t none = 0xFFFFFFFF;
    CHECK(main.items.size() == 8);
    if (main.items.size() == 8) {
        CHECK(sameItem(main.items[0], IDC_LOGO, L"transparentimage", L"129",
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP, 296, 9, 73, 85));
        CHECK(sameItem(main.items[1], none, L"static", reinterpret_cast<const wchar_t*>(kInstructionsIntro),
                       text, 10, 109, 300, 8));
        CHECK(sameItem(main.items[2], none, L"static", reinterpret_cast<const wchar_t*>(kInstructionsHeading),
                       text, 10, 131, 300, 8));
        CHECK(sameItem(main.items[3], none, L"static", reinterpret_cast<const wchar_t*>(kInstructionsStep),
                       text, 10, 146, 300, 8));
        CHECK(sameItem(main.items[4], none, L"static", reinterpret_cast<const wchar_t*>(kInstructionsNote),
                       text, 10, 154, 300, 8));
        CHECK(sameItem(main.items[5], IDC_LOGIN, L"button",
                       reinterpret_cast<const wchar_t*>(kInstructionsLogin), push, 10, 169, 50, 14));
        CHECK(sameItem(main.items[6], none, L"static", L"#130",
                       WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE, 7, 190, 652, 248));
        CHECK(sameItem(main.items[7], IDCANCEL, L"button",
                       reinterpret_cast<const wchar_t*>(kInstructionsClose), push, 609, 445, 50, 14));
        for (const TemplateItem& item : main.items)
            CHECK((item.style & BS_DEFPUSHBUTTON) == 0 || item.className != L"button");
    }

    const DialogTemplate progress = readDialog(IDD_PROGRESS);
    CHECK(progress.ok);
    CHECK(progress.style == (DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION));
    CHECK(progress.exStyle == 0);
    CHECK(progress.cx == 266 && progress.cy == 174);
    CHECK(progress.title == reinterpret_cast<const wchar_t*>(loadString(IDS_TOOL_TITLE)));
    CHECK(progress.face == L"MS UI Gothic" && progress.points == 9);
    CHECK(progress.items.size() == 3);
    if (progress.items.size() == 3) {
        CHECK(sameItem(progress.items[0], IDC_PROGRESS_LOGO, L"transparentimage", L"128",
                       WS_CHILD | WS_VISIBLE | WS_TABSTOP, 97, 9, 73, 85));
        CHECK(sameItem(progress.items[1], none, L"static", reinterpret_cast<const wchar_t*>(kProgressText),
                       text, 10, 100, 67, 8));
        CHECK(sameItem(progress.items[2], IDC_PROGRESS, L"msctls_progress32", L"",
                       WS_CHILD | WS_VISIBLE | WS_BORDER, 7, 122, 252, 14));
    }

    // The string table is the same text as the other front ends'.
    for (UINT id = IDS_TOOL_TITLE; id <= IDS_ERR_GENERAL; ++id) {
        const wchar_t* resource = nullptr;
        const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&resource), 0);
        CHECK(length > 0 &&
              std::wstring(resource, size_t(length)) == reinterpret_cast<const wchar_t*>(loadString(id)));
    }

    // Bitmaps: 24 bits, their sizes.
    const struct {
        UINT id;
        int32_t width, height;
    } bitmaps[] = {{IDB_PROGRESS_LOGO, 128, 128}, {IDB_LOGO, 128, 128}, {IDB_INSTRUCTIONS, 1138, 372}};
    for (const auto& bitmap : bitmaps) {
        const std::vector<uint8_t> bytes = resourceBytes(RT_BITMAP, bitmap.id, kJapanese);
        ResourceReader r(bytes);
        CHECK(r.u32() == 40);
        CHECK(int32_t(r.u32()) == bitmap.width && int32_t(r.u32()) == bitmap.height);
        CHECK(r.u16() == 1 && r.u16() == 24);
    }

    // The icon: twelve images, stored under US English.
    const std::vector<uint8_t> group = resourceBytes(RT_GROUP_ICON, IDI_TOOL, kEnglishUs);
    ResourceReader r(group);
    CHECK(r.u16() == 0 && r.u16() == 1);
    const uint16_t count = r.u16();
    CHECK(count == 12);
    const int expected[12][2] = {{48, 4},   {32, 4},   {16, 4},  {48, 8},  {32, 8},  {16, 8},
                                 {256, 32}, {128, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}};
    for (uint16_t i = 0; i < count && i < 12; ++i) {
        const int width = r.u8(), height = r.u8();
        r.u8();  // colours
        r.u8();
        r.u16();  // planes
        const int bits = r.u16();
        r.u32();  // bytes
        const uint16_t image = r.u16();
        CHECK((width == 0 ? 256 : width) == expected[i][0] && (height == 0 ? 256 : height) == expected[i][0]);
        CHECK(bits == expected[i][1]);
        CHECK(languagesOf(RT_ICON, image) == std::vector<WORD>{kEnglishUs});
    }
    CHECK(languagesOf(RT_GROUP_ICON, IDI_TOOL) == std::vector<WORD>{kEnglishUs});
    CHECK(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOOL)) != nullptr);

    // Everything else is Japanese.
    for (UINT id : {IDD_KORV_DIALOG, IDD_PROGRESS})
        CHECK(languagesOf(RT_DIALOG, id) == std::vector<WORD>{kJapanese});
    for (UINT id : {IDB_PROGRESS_LOGO, IDB_LOGO, IDB_INSTRUCTIONS})
        CHECK(languagesOf(RT_BITMAP, id) == std::vector<WORD>{kJapanese});
    CHECK(languagesOf(RT_STRING, IDS_TOOL_TITLE / 16 + 1) == std::vector<WORD>{kJapanese});

    // The manifest: common controls 6, no elevation, DPI aware.
    const std::vector<uint8_t> manifest = resourceBytes(RT_MANIFEST, 1, kJapanese);
    const std::string xml(manifest.begin(), manifest.end());
    CHECK(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos);
    CHECK(xml.find("level=\"asInvoker\"") != std::string::npos);
    CHECK(xml.find(">true</dpiAware>") != std::string::npos);
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

// The one subfolder of `folder`, `levels` times down.
std::wstring descend(std::wstring folder, int levels) {
    for (int i = 0; i < levels; ++i) {
        const std::vector<std::wstring> names = listFolder(L"\\\\?\\" + folder);
        if (names.size() != 1) return folder + L"\\<not one subfolder>";
        folder += L"\\" + names[0];
    }
    return folder;
}

// Saving through symbolic links, over the links that the end-to-end suite makes in `base` before it runs
// this (Wine shows Unix links as the files or folders they name):
//   real\t-abs.json t-rel.json t-chain.json t-folder.json   "old ..." (longer than what is written)
//   real\readonly.json (read-only) real\sub.json (a folder)
//   links\abs.json -> real\t-abs.json (absolute)     links\rel.json -> ..\real\t-rel.json
//   links\chain.json -> links\chain-mid.json -> ..\real\t-chain.json
//   links\viafolder -> real                          links\readonly.json -> real\readonly.json
//   links\folder.json -> real\sub.json
//   links\long.json -> long\*\*\*\t-long.json: the final path fits in MAX_PATH, with a temporary name
//                      beside it only in the extended form
//   links\longer.json -> longer\*\*\*\t-longer.json: the final path is longer than MAX_PATH
//   links\dangling-missing.json -> missing\x.json   links\dangling-here.json -> real\absent.json
// The suite then checks that every link is still the link it made, and that nothing else appeared.
void testReplaceThroughLinks(const std::wstring& base) {
    Win32Platform platform;
    const std::wstring real = base + L"\\real";
    const std::wstring links = base + L"\\links";
    auto replace = [&](const std::wstring& path, const std::string& bytes) {
        return platform.replaceFile(u16(path.c_str()), bytes.data(), bytes.size());
    };

    // The file each link finally names gets the bytes in full.
    CHECK(replace(links + L"\\abs.json", "abs"));
    CHECK(readAll(real + L"\\t-abs.json") == "abs");
    CHECK(replace(links + L"\\rel.json", "rel"));
    CHECK(readAll(real + L"\\t-rel.json") == "rel");
    CHECK(replace(links + L"\\chain.json", "chain"));
    CHECK(readAll(real + L"\\t-chain.json") == "chain");
    CHECK(replace(links + L"\\viafolder\\t-folder.json", "folder"));
    CHECK(readAll(real + L"\\t-folder.json") == "folder");
    // Twice through the same link: the link still leads to the file.
    CHECK(replace(links + L"\\abs.json", "again"));
    CHECK(readAll(real + L"\\t-abs.json") == "again");
    CHECK(readAll(links + L"\\abs.json") == "again");

    // A final path that leaves no room for the temporary name within MAX_PATH: the extended form.
    const std::wstring longFolder = L"\\\\?\\" + descend(base + L"\\long", 3);
    CHECK(replace(links + L"\\long.json", "long"));
    CHECK(readAll(longFolder + L"\\t-long.json") == "long");
    CHECK(listFolder(longFolder) == std::vector<std::wstring>{L"t-long.json"});

    // A final path longer than MAX_PATH: written in the extended form where the system can tell that path
    // (Windows); Wine 8 cannot (GetFinalPathNameByHandleW fails for it), and the save is then refused
    // with the file unchanged.
    const std::wstring longerFolder = L"\\\\?\\" + descend(base + L"\\longer", 3);
    const std::wstring longer = longerFolder + L"\\t-longer.json";
    bool systemResolves = false;
    const HANDLE handle = CreateFileW(longer.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(handle != INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) {
        std::wstring path(32768, L'\0');
        const DWORD n = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
        systemResolves = n > MAX_PATH && n < path.size();
        CloseHandle(handle);
    }
    const std::string longerBefore = readAll(longer);
    CHECK(replace(links + L"\\longer.json", "longer") == systemResolves);
    CHECK(readAll(longer) == (systemResolves ? "longer" : longerBefore));
    CHECK(listFolder(longerFolder) == std::vector<std::wstring>{L"t-longer.json"});

    // Refused, and nothing changes: a read-only target, a folder, dangling links into a missing folder and
    // into an existing one (nothing is created at the link's target, and the link stays).
    const std::string readOnlyBefore = readAll(real + L"\\readonly.json");
    CHECK(!replace(links + L"\\readonly.json", "lost"));
    CHECK(readAll(real + L"\\readonly.json") == readOnlyBefore);
    CHECK(!replace(links + L"\\folder.json", "lost"));
    CHECK(!replace(links + L"\\dangling-missing.json", "lost"));
    CHECK(GetFileAttributesW((base + L"\\missing").c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(!replace(links + L"\\dangling-here.json", "lost"));
    CHECK(GetFileAttributesW((real + L"\\absent.json").c_str()) == INVALID_FILE_ATTRIBUTES);

    // No temporary file is left anywhere.
    const std::vector<std::wstring> expectedReal = {L"readonly.json", L"sub.json",      L"t-abs.json",
                                                    L"t-chain.json",  L"t-folder.json", L"t-rel.json"};
    CHECK(sortedListing(real) == expectedReal);
    // (Wine lists a dangling link in no folder listing.)
    const std::vector<std::wstring> expectedLinks = {L"abs.json",      L"chain-mid.json", L"chain.json",
                                                     L"folder.json",   L"long.json",      L"longer.json",
                                                     L"readonly.json", L"rel.json",       L"viafolder"};
    CHECK(sortedListing(links) == expectedLinks);
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

// --- the wait between the wait loop's polls ----------------------------------------------------------------

struct DelayedMessage {
    DWORD delayMs;
    DWORD threadId;  // posts WM_USER to this thread, or ...
    HWND window;     // ... sends it to this window
};

DWORD WINAPI deliverLater(void* parameter) {
    const DelayedMessage* message = static_cast<const DelayedMessage*>(parameter);
    Sleep(message->delayMs);
    if (message->window)
        SendMessageW(message->window, WM_USER, 0, 0);
    else
        PostThreadMessageW(message->threadId, WM_USER, 0, 0);
    return 0;
}

void testWaitForMessage() {
    Win32UserInterface ui;
    pumpPending();
    auto elapsedMs = [](ULONGLONG start) { return GetTickCount64() - start; };

    // Nothing comes: the whole time-out, and not much more.
    ULONGLONG start = GetTickCount64();
    ui.waitForMessage(100);
    const ULONGLONG idle = elapsedMs(start);
    CHECK(idle >= 80 && idle < 1000);

    // A message already seen by a peek but still queued ends the wait at once.
    PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
    MSG msg;
    CHECK(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    start = GetTickCount64();
    ui.waitForMessage(5000);
    CHECK(elapsedMs(start) < 1000);
    pumpPending();

    // A message posted by another thread during the wait ends it.
    DelayedMessage posted = {50, GetCurrentThreadId(), nullptr};
    HANDLE thread = CreateThread(nullptr, 0, deliverLater, &posted, 0, nullptr);
    start = GetTickCount64();
    ui.waitForMessage(5000);
    CHECK(elapsedMs(start) < 2000);
    CHECK(WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    pumpPending();

    // So does a message sent from another thread (the worker's repaint request), which the next pump
    // delivers, releasing the sender.
    const HWND window = createParent();
    pumpPending();  // the new window's own messages
    DelayedMessage sent = {50, 0, window};
    thread = CreateThread(nullptr, 0, deliverLater, &sent, 0, nullptr);
    start = GetTickCount64();
    ui.waitForMessage(5000);
    CHECK(elapsedMs(start) < 2000);
    bool released = false;
    for (int i = 0; i < 200 && !released; ++i) {
        ui.pumpMessage();
        released = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        if (!released) ui.waitForMessage(10);
    }
    CHECK(released);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    DestroyWindow(window);
    pumpPending();
}

// --- the program's version information -------------------------------------------------------------------

std::string utf8(const std::wstring& text) {
    std::string out;
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    out.resize(size_t(n > 0 ? n : 0));
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring versionString(const std::vector<uint8_t>& info, const wchar_t* block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

// The version resource of the program `exe` as the shell's file properties read it (GetFileVersionInfoW,
// VerQueryValueW): the numbers and texts of the project version, the tool's title (the program's own string
// 129) as product name and description, the original file name, and one translation, Japanese in Unicode.
void testVersionInfo(const std::wstring& exe) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    CHECK(size > 0);
    if (size == 0) return;
    std::vector<uint8_t> info(size);
    CHECK(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    CHECK(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
          length >= sizeof *fixed);
    if (!fixed) return;
    CHECK(fixed->dwSignature == VS_FFI_SIGNATURE);
    const DWORD high = MAKELONG(KORV_VERSION_MINOR, KORV_VERSION_MAJOR);
    const DWORD low = MAKELONG(KORV_VERSION_TWEAK, KORV_VERSION_PATCH);
    CHECK(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low);
    CHECK(fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low);
    CHECK(fixed->dwFileType == VFT_APP && fixed->dwFileOS == VOS_NT_WINDOWS32);
    CHECK((fixed->dwFileFlags & fixed->dwFileFlagsMask) == 0);  // a release, not a debug or private build

    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    CHECK(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                         &length));
    CHECK(translations && length == sizeof(Translation) && translations[0].language == 0x0411 &&
          translations[0].codePage == 1200);

    std::wstring title;
    const HMODULE program = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    CHECK(program != nullptr);
    if (program) {
        const wchar_t* text = nullptr;
        const int n = LoadStringW(program, IDS_TOOL_TITLE, reinterpret_cast<LPWSTR>(&text), 0);
        if (n > 0 && text) title.assign(text, size_t(n));
        FreeLibrary(program);
    }
    CHECK(title == L"ZELKO フォント移行ツール");
    const wchar_t* block = L"041104B0";
    const std::u16string version16 = utf8ToUtf16(KORV_VERSION_TEXT);
    const std::wstring version(version16.begin(), version16.end());
    CHECK(versionString(info, block, L"ProductName") == title);
    CHECK(versionString(info, block, L"FileDescription") == title);
    CHECK(versionString(info, block, L"OriginalFilename") == L"korv.exe");
    CHECK(versionString(info, block, L"FileVersion") == version);
    CHECK(versionString(info, block, L"ProductVersion") == version);
    for (const wchar_t* name :
         {L"ProductName", L"FileDescription", L"OriginalFilename", L"FileVersion", L"ProductVersion"})
        g_values.push_back("value " + utf8(name) + "=" + utf8(versionString(info, block, name)));
    g_values.push_back("value fixed=" + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                       std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                       std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                       std::to_string(LOWORD(fixed->dwFileVersionLS)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: korv-win32-tests REPORT.txt [foreign-class | links FOLDER | version KORV.EXE]\n",
                   stderr);
        return 2;
    }
    AfxSetInstanceHandle(GetModuleHandleW(nullptr));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (argc > 2 && wcscmp(argv[2], L"foreign-class") == 0) {
        testForeignClass();
    } else if (argc > 3 && wcscmp(argv[2], L"links") == 0) {
        testReplaceThroughLinks(argv[3]);
    } else if (argc > 3 && wcscmp(argv[2], L"version") == 0) {
        testVersionInfo(argv[3]);
    } else {
        testResources();
        testControlTextNumber();
        testTransparentImage();
        testProgressDialog();
        testInstructionsDialog();
        testReplaceFile();
        testFoldersAndListing();
        testThreadAndLocale();
        testWaitForMessage();
    }
    std::string report;
    for (const std::string& value : g_values) report += value + "\n";
    for (const std::string& failure : g_failures) report += "FAILED " + failure + "\n";
    report += "passed " + std::to_string(g_passed) + " failed " + std::to_string(g_failures.size()) + "\n";
    FILE* f = _wfsopen(argv[1], L"wb", _SH_DENYNO);
    if (f) {
        fwrite(report.data(), 1, report.size(), f);
        fclose(f);
    }
    return g_failures.empty() ? 0 : 1;
}
