// The migration instructions dialog (template 102): how to register the saved font list with the new web
// edition of the service, and a button that opens the service's font-list page. Enter opens the page too,
// whatever control has the focus, and leaves the dialog open; Escape, the close button and the caption's
// close box close it.
#pragma once

#include <windows.h>

#include "app/ui/Dialog.h"

class CKorvDlg final : public CDialog {
public:
    CKorvDlg();

    BOOL PreTranslateMessage(MSG* pMsg) override;
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Asks the shell to open the font-list page in the default browser; the outcome is not examined.
    void OpenLoginPage();

protected:
    BOOL OnInitDialog() override;

private:
    BOOL onPaint();

    HICON m_hIcon;  // the tool's icon, shared: never destroyed
};

// The page OpenLoginPage opens: https on the service's web host (a build setting), path /fonts/lists.
extern const wchar_t kLoginPageUrl[];
