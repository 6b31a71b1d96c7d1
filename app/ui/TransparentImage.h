// The "transparentimage" window class: a child control that shows a bitmap of the program's resources with
// pure white left out (transparent). Dialog templates name the bitmap by the control's text: its resource
// id in decimal ("128", "129").
//
// The class is the system "static" class with a first window procedure of its own. The first message of each
// new window creates the window's object (CTransparentImageExported), binds it in the framework's handle map
// and hands the window over to the framework's standard procedure; from then on the object's message map
// serves the window and every other message goes to the static control's procedure. The object deletes
// itself after the window's last message.
#pragma once

#include <windows.h>

#include "app/ui/Gdi.h"
#include "app/ui/Wnd.h"

// The system "static" class's window procedure, saved at registration: every control's default procedure.
extern WNDPROC g_pfnStaticWndProc;

class CTransparentImage : public CWnd {
public:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    CBitmap m_bitmap;  // the bitmap named by the window's text; empty when that names none

protected:
    LRESULT onCreate(WPARAM wParam, LPARAM lParam);
    void onPaint();
};

// The object created for each window of the class.
class CTransparentImageExported final : public CTransparentImage {
public:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    void PostNcDestroy() override;
};

// The class's window procedure until a window's first message has been served.
LRESULT CALLBACK TransparentImageFirstProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Registers "transparentimage" for the program's module, built from the "static" class's information,
// unless a class of that name exists. True when the class is usable: registered now, or registered
// before with TransparentImageFirstProc as its procedure.
bool RegisterTransparentImageClass();

// The leading decimal number of a control's text (optional blanks and sign, then digits), as the C
// runtime's _wtoi reads it; 0 when the text does not start with a number. Values beyond 32 bits saturate.
int controlTextNumber(const wchar_t* text);
