#include "app/ui/Dialog.h"

#include <commctrl.h>

#include <algorithm>

CDialog::~CDialog() {
    // The dialog procedure must never meet a deleted object.
    DestroyWindow();
}

bool CDialog::Create(HWND hWndParent) {
    if (m_hWnd) return false;
    m_bEndModal = false;
    return CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hWndParent, dialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CDialog::DoModal() {
    m_nModalResult = -1;
    if (!Create(nullptr)) return -1;
    MSG msg;
    while (!m_bEndModal && m_hWnd) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(int(msg.wParam));  // leave the quit request to whoever runs the next loop
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DestroyWindow();
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEndModal = true;
    if (m_hWnd) {
        ::EndDialog(m_hWnd, nResult);
        PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the modal loop
    }
}

bool CDialog::UpdateData(bool bSaveAndValidate) {
    if (!m_hWnd) return false;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

bool CDialog::DestroyWindow() {
    return m_hWnd && ::DestroyWindow(m_hWnd);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    return m_hWnd && IsDialogMessageW(m_hWnd, pMsg);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT CDialog::handleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK:
                    OnOK();
                    return TRUE;
                case IDCANCEL:
                    OnCancel();
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK CDialog::dialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CDialog*>(lParam)->m_hWnd = hWnd;
    }
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    if (!self) return FALSE;
    RECT before = {};
    if (message == WM_INITDIALOG) GetWindowRect(hWnd, &before);
    INT_PTR result = FALSE;
    // No exception may travel through the system's frames that called us.
    try {
        result = self->handleMessage(message, wParam, lParam);
    } catch (...) {
        result = FALSE;
    }
    if (message == WM_INITDIALOG) self->postInitDialog(before);
    if (message == WM_NCDESTROY) self->onNcDestroy();
    return result;
}

void CDialog::postInitDialog(const RECT& before) {
    if (!m_hWnd || (GetWindowLongPtrW(m_hWnd, GWL_STYLE) & (WS_VISIBLE | WS_CHILD)) != 0) return;
    RECT after = {};
    GetWindowRect(m_hWnd, &after);
    if (after.left != before.left || after.top != before.top) return;
    const HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner && IsWindowEnabled(owner)) return;
    CenterWindow();
}

void CDialog::CenterWindow() {
    RECT rect = {};
    if (!m_hWnd || !GetWindowRect(m_hWnd, &rect)) return;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    const RECT& area = monitor.rcWork;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    if (x < area.left) x = area.left;  // a dialog larger than the screen keeps its caption in view
    if (y < area.top) y = area.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::onNcDestroy() {
    SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    for (CWnd* control : m_boundControls) control->m_hWnd = nullptr;
    m_boundControls.clear();
    m_hWnd = nullptr;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    CDialog* dialog = pDX->m_pDlgWnd;
    if (rControl.m_hWnd || !dialog->m_hWnd) return;
    const HWND hWnd = GetDlgItem(dialog->m_hWnd, nIDC);
    if (!hWnd) return;
    if (std::find(dialog->m_boundControls.begin(), dialog->m_boundControls.end(), &rControl) ==
        dialog->m_boundControls.end())
        dialog->m_boundControls.push_back(&rControl);
    rControl.m_hWnd = hWnd;
}

void CProgressCtrl::SetPos(int nPos) {
    if (m_hWnd) SendMessageW(m_hWnd, PBM_SETPOS, WPARAM(nPos), 0);
}
