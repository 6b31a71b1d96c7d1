// Owners of GDI objects and paint contexts: each releases what it holds when it goes.
#pragma once

#include <windows.h>

// A bitmap handle and its owner: the bitmap is deleted with the object.
class CBitmap {
public:
    CBitmap() = default;
    ~CBitmap() { DeleteObject(); }
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // Loads bitmap resource `id` from `hInstance`; false (and nothing owned) when it does not exist.
    bool loadFromResource(HINSTANCE hInstance, UINT id) {
        DeleteObject();
        m_hObject = LoadBitmapW(hInstance, MAKEINTRESOURCEW(id));
        return m_hObject != nullptr;
    }
    void DeleteObject() {
        if (m_hObject) ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
    // GetObjectW for the BITMAP record; false when there is no bitmap or the query fails.
    bool GetBitmap(BITMAP* bitmap) const {
        return m_hObject && GetObjectW(m_hObject, sizeof(BITMAP), bitmap) == int(sizeof(BITMAP));
    }

    HBITMAP m_hObject = nullptr;
};

// BeginPaint / EndPaint around one WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd) { m_hDC = BeginPaint(hWnd, &m_ps); }
    ~CPaintDC() { EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC m_hDC = nullptr;
    PAINTSTRUCT m_ps = {};

private:
    HWND m_hWnd;
};
