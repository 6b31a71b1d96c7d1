// The Windows program: the run flow on the Win32 ports.
#include <windows.h>

#include "app/KorvApp.h"
#include "app/ui/Win32Platform.h"
#include "app/ui/Win32UserInterface.h"
#include "app/ui/Wnd.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    AfxSetInstanceHandle(hInstance);
    try {
        Win32Platform platform;
        Win32UserInterface ui;
        CKorvApp app(platform, ui);
        app.InitInstance();
        return CKorvApp::exitCodeFor(app.m_nStatus);
    } catch (...) {
        return 1;
    }
}
