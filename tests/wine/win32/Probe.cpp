// korv-probe: reports the visible top-level windows of its desktop and their child windows as JSON, for the
// end-to-end tests that drive the program under Wine (xdotool sees titles, not the texts inside a window).
//
//   korv-probe.exe OUTPUT.json
//
// One object per window: handle, owning process id, class, text, style, extended style and rectangle on the
// screen; the children (in z order, which for dialogs is template order) with their control id in
// addition. Also the caption button size, for clicking a caption's close box.
#include <windows.h>

#include <share.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string jsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const char c : utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The window's text as its own window procedure reports it (WM_GETTEXT, marshalled across processes), so
// that an edit control's contents are seen too, not only captions.
std::wstring windowText(HWND hWnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::wstring text(size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return {};
    text.resize(size_t(got) < text.size() ? size_t(got) : text.size() - 1);
    return text;
}

std::wstring className(HWND hWnd) {
    wchar_t name[256] = {};
    GetClassNameW(hWnd, name, 256);
    return name;
}

std::string describe(HWND hWnd) {
    RECT rect = {};
    GetWindowRect(hWnd, &rect);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  "\"hwnd\": %llu, \"pid\": %lu, \"id\": %ld, \"style\": %lu, \"exstyle\": %lu, "
                  "\"rect\": [%ld, %ld, %ld, %ld], \"visible\": %s",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hWnd)), pid,
                  long(GetWindowLongPtrW(hWnd, GWLP_ID)),
                  static_cast<unsigned long>(GetWindowLongW(hWnd, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongW(hWnd, GWL_EXSTYLE)), rect.left, rect.top,
                  rect.right, rect.bottom, IsWindowVisible(hWnd) ? "true" : "false");
    return std::string("{") + numbers + ", \"class\": " + jsonString(className(hWnd)) +
           ", \"text\": " + jsonString(windowText(hWnd));
}

BOOL CALLBACK collect(HWND hWnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hWnd);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: korv-probe OUTPUT.json\n", stderr);
        return 2;
    }
    std::vector<HWND> topLevel;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&topLevel));
    std::string out = "{\"caption_button\": [" + std::to_string(GetSystemMetrics(SM_CXSIZE)) + ", " +
                      std::to_string(GetSystemMetrics(SM_CYSIZE)) + "], \"frame\": [" +
                      std::to_string(GetSystemMetrics(SM_CXFIXEDFRAME)) + ", " +
                      std::to_string(GetSystemMetrics(SM_CYFIXEDFRAME)) + "], \"windows\": [";
    bool first = true;
    for (HWND hWnd : topLevel) {
        if (!IsWindowVisible(hWnd)) continue;
        out += first ? "\n" : ",\n";
        first = false;
        out += describe(hWnd) + ", \"children\": [";
        std::vector<HWND> children;
        EnumChildWindows(hWnd, collect, reinterpret_cast<LPARAM>(&children));
        for (size_t i = 0; i < children.size(); ++i) {
            if (GetParent(children[i]) != hWnd) continue;  // direct children only
            out += (out.back() == '[' ? "\n  " : ",\n  ") + describe(children[i]) + "}";
        }
        out += "]}";
    }
    out += "\n]}\n";
    // Written to a temporary name and renamed, so a reader never sees half a report.
    const std::wstring temporary = std::wstring(argv[1]) + L".part";
    FILE* f = _wfsopen(temporary.c_str(), L"wb", _SH_DENYNO);
    if (!f) return 1;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !written) return 1;
    return MoveFileExW(temporary.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
