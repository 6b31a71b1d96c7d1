#include "app/ui/TransparentImage.h"

#include <climits>
#include <cstdint>
#include <new>

WNDPROC g_pfnStaticWndProc = nullptr;

namespace {

constexpr wchar_t kClassName[] = L"transparentimage";
constexpr COLORREF kTransparentColour = RGB(255, 255, 255);
constexpr int kTextCapacity = 32;  // room for any number a template may hold, and more

}  // namespace

int controlTextNumber(const wchar_t* text) {
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
    int64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > int64_t(INT_MAX) + 1) value = int64_t(INT_MAX) + 1;
    }
    if (negative) return value > INT_MAX ? INT_MIN : int(-value);
    return value > INT_MAX ? INT_MAX : int(value);
}

LRESULT CTransparentImage::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return onCreate(wParam, lParam);
        case WM_PAINT:
            onPaint();
            return 0;
        case WM_DESTROY:
            return defaultProc(message, wParam, lParam);
        default:
            return CWnd::handleMessage(message, wParam, lParam);
    }
}

LRESULT CTransparentImage::onCreate(WPARAM wParam, LPARAM lParam) {
    if (defaultProc(WM_CREATE, wParam, lParam) == -1) return -1;
    wchar_t text[kTextCapacity] = {};
    GetWindowTextW(m_hWnd, text, kTextCapacity);
    const UINT id = UINT(controlTextNumber(text)) & 0xFFFFu;
    // Id 0 names no resource (it would be a null name); the control then paints nothing.
    if (id != 0) m_bitmap.loadFromResource(AfxGetInstanceHandle(), id);
    return 0;
}

void CTransparentImage::onPaint() {
    CPaintDC dc(m_hWnd);
    BITMAP bitmap = {};
    if (!dc.m_hDC || !m_bitmap.GetBitmap(&bitmap)) return;
    const HDC memory = CreateCompatibleDC(dc.m_hDC);
    if (!memory) return;
    const HGDIOBJ previous = SelectObject(memory, m_bitmap.m_hObject);
    TransparentBlt(dc.m_hDC, 0, 0, bitmap.bmWidth, bitmap.bmHeight, memory, 0, 0, bitmap.bmWidth,
                   bitmap.bmHeight, kTransparentColour);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

LRESULT CTransparentImageExported::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return defaultProc(message, wParam, lParam);
    return CTransparentImage::handleMessage(message, wParam, lParam);
}

void CTransparentImageExported::PostNcDestroy() {
    delete this;
}

LRESULT CALLBACK TransparentImageFirstProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* image = new (std::nothrow) CTransparentImageExported();
    if (image && !image->Attach(hWnd)) {
        delete image;
        image = nullptr;
    }
    if (!image) {
        // No object: the window is not created (its first message is WM_NCCREATE).
        return message == WM_NCCREATE ? FALSE : DefWindowProcW(hWnd, message, wParam, lParam);
    }
    image->SetDefaultWindowProc(g_pfnStaticWndProc);
    SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxGetAfxWndProc()));
    return CallWindowProcW(AfxGetAfxWndProc(), hWnd, message, wParam, lParam);
}

bool RegisterTransparentImageClass() {
    const HINSTANCE instance = AfxGetInstanceHandle();
    WNDCLASSW existing = {};
    if (GetClassInfoW(instance, kClassName, &existing))
        return existing.lpfnWndProc == TransparentImageFirstProc;

    WNDCLASSW staticClass = {};
    if (!GetClassInfoW(nullptr, L"static", &staticClass)) return false;
    g_pfnStaticWndProc = staticClass.lpfnWndProc;

    WNDCLASSW wc = {};
    wc.style = CS_PARENTDC;
    wc.lpfnWndProc = TransparentImageFirstProc;
    wc.cbClsExtra = staticClass.cbClsExtra;
    wc.cbWndExtra = staticClass.cbWndExtra;
    wc.hInstance = instance;
    wc.hIcon = staticClass.hIcon;
    wc.hCursor = nullptr;
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc) != 0;
}
