#include "app/ui/Wnd.h"

#include <map>
#include <new>

namespace {

std::map<HWND, CWnd*>& handleMap() {
    static std::map<HWND, CWnd*> map;
    return map;
}

HINSTANCE g_hInstance = nullptr;

}  // namespace

CWnd::~CWnd() {
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) Detach();
}

bool CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd) return false;
    try {
        if (!handleMap().emplace(hWnd, this).second) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_hWnd = hWnd;
    return true;
}

HWND CWnd::Detach() {
    const HWND hWnd = m_hWnd;
    if (hWnd) {
        auto& map = handleMap();
        const auto it = map.find(hWnd);
        if (it != map.end() && it->second == this) map.erase(it);
        m_hWnd = nullptr;
    }
    return hWnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    const auto& map = handleMap();
    const auto it = map.find(hWnd);
    return it == map.end() ? nullptr : it->second;
}

LRESULT CWnd::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return defaultProc(message, wParam, lParam);
}

LRESULT CWnd::defaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd) return DefWindowProcW(hWnd, message, wParam, lParam);
    LRESULT result = 0;
    // No exception may travel through the system's frames that called us.
    try {
        result = wnd->handleMessage(message, wParam, lParam);
    } catch (...) {
        result = 0;
    }
    if (message == WM_NCDESTROY) {
        wnd->Detach();
        wnd->PostNcDestroy();  // may delete the object
    }
    return result;
}

WNDPROC AfxGetAfxWndProc() {
    return AfxWndProc;
}

HINSTANCE AfxGetInstanceHandle() {
    return g_hInstance ? g_hInstance : GetModuleHandleW(nullptr);
}

void AfxSetInstanceHandle(HINSTANCE hInstance) {
    g_hInstance = hInstance;
}
