// Dialogs from templates, modal and modeless, with data exchange.
//
// One static dialog procedure binds the object to its window at WM_INITDIALOG (the object rides in
// DWLP_USER) and hands every later message to handleMessage, the class's message map. For dialogs its result
// is the dialog procedure's: TRUE when the message was handled, FALSE to leave it to the system's dialog
// handling (except for the few messages whose value a dialog procedure returns directly, such as
// WM_INITDIALOG and WM_QUERYDRAGICON).
//
// A dialog without an enabled owner that its initialisation did not move is centred on its monitor, as
// message boxes are.
//
// A modal dialog runs its own message loop, so that PreTranslateMessage sees each message before the
// dialog's keyboard handling (IsDialogMessageW) does.
#pragma once

#include <windows.h>

#include <vector>

#include "app/ui/Wnd.h"

class CDialog;

// The direction of one data exchange between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    bool m_bSaveAndValidate;  // true: controls to members; false: members to controls
    CDialog* m_pDlgWnd;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}
    ~CDialog() override;

    // Creates the dialog from its template as a modeless dialog owned by `hWndParent` (none: nullptr).
    // False when it could not be created.
    bool Create(HWND hWndParent = nullptr);
    // Creates the dialog without owner and runs it until EndDialog; the dialog's window is destroyed before
    // this returns. Returns the value given to EndDialog, or -1 when the dialog could not be created.
    INT_PTR DoModal();
    // Ends the dialog: a modal loop returns `nResult`; a modeless dialog is hidden (DestroyWindow ends it).
    void EndDialog(int nResult);
    // Runs the data exchange in one direction.
    bool UpdateData(bool bSaveAndValidate = true);
    bool DestroyWindow();
    // Moves the dialog to the middle of its monitor's work area.
    void CenterWindow();

    // Sees each message of the modal loop before it is dispatched; true when the message was used up.
    // This base hands it to the dialog's keyboard handling.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnInitDialog();  // data exchange to the controls; TRUE lets the system set the focus
    virtual void OnOK();          // data exchange from the controls, then EndDialog(IDOK)
    virtual void OnCancel();      // EndDialog(IDCANCEL)

private:
    friend void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
    static INT_PTR CALLBACK dialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void postInitDialog(const RECT& before);
    void onNcDestroy();

    UINT m_nIDTemplate;
    bool m_bEndModal = false;
    INT_PTR m_nModalResult = -1;
    std::vector<CWnd*> m_boundControls;  // released when the dialog's window goes
};

// Binds control `nIDC` of the dialog to `rControl` (once; the binding ends with the dialog's window).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// A progress bar ("msctls_progress32"); its default range is 0 to 100.
class CProgressCtrl : public CWnd {
public:
    void SetPos(int nPos);
};
