// The framework's window object. A CWnd is bound to its window through the handle map, and the framework's
// standard window procedure (AfxWndProc) hands every message of such a window to the object's
// handleMessage, its message map. Messages a class does not handle go to the window procedure the object
// stands in front of (its default procedure), or to DefWindowProcW.
//
// All windows of the program are created and served on the main thread; the handle map is used from there
// only.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Enters this object into the handle map for `hWnd`. False when either is already bound, or the map
    // cannot grow.
    bool Attach(HWND hWnd);
    // Takes this object out of the handle map; returns the window it was bound to.
    HWND Detach();
    // The object bound to `hWnd` in the handle map, or nullptr.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // The procedure that receives the messages this object leaves unhandled.
    void SetDefaultWindowProc(WNDPROC pfnSuper) { m_pfnSuper = pfnSuper; }

    // The message map: one switch per class. This base handles nothing.
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

protected:
    // Default processing of a message.
    LRESULT defaultProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs after the window's last message (WM_NCDESTROY), once the object has been detached.
    virtual void PostNcDestroy() {}

private:
    friend LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    WNDPROC m_pfnSuper = nullptr;
};

// The framework's standard window procedure.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
WNDPROC AfxGetAfxWndProc();

// The program's module: resources are loaded from it and window classes registered for it.
HINSTANCE AfxGetInstanceHandle();
void AfxSetInstanceHandle(HINSTANCE hInstance);
