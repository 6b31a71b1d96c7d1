#include "app/ui/KorvDlg.h"

#include <shellapi.h>

#include "app/ui/Gdi.h"

#include "res/resource.h"

#ifndef KORV_SERVICE_HOST
#define KORV_SERVICE_HOST "www.zelko.example"
#endif

#define KORV_WIDEN2(text) L##text
#define KORV_WIDEN(text) KORV_WIDEN2(text)

const wchar_t kLoginPageUrl[] = L"https://" KORV_WIDEN(KORV_SERVICE_HOST) L"/fonts/lists";

CKorvDlg::CKorvDlg() : CDialog(IDD_KORV_DIALOG) {
    m_hIcon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_TOOL));
}

BOOL CKorvDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    return TRUE;
}

BOOL CKorvDlg::PreTranslateMessage(MSG* pMsg) {
    // Enter never reaches the dialog's keyboard handling, so it neither presses a button nor closes the
    // dialog: it opens the page, and the key goes on to the focused control as an ordinary key.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
        OpenLoginPage();
        return FALSE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

LRESULT CKorvDlg::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            return onPaint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(m_hIcon);
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_LOGIN && HIWORD(wParam) == BN_CLICKED) {
                OpenLoginPage();
                return TRUE;
            }
            return CDialog::handleMessage(message, wParam, lParam);
        default:
            return CDialog::handleMessage(message, wParam, lParam);
    }
}

BOOL CKorvDlg::onPaint() {
    if (!IsIconic(m_hWnd)) return FALSE;  // the system paints the dialog
    CPaintDC dc(m_hWnd);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect = {};
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc.m_hDC, x, y, m_hIcon);
    return TRUE;
}

void CKorvDlg::OpenLoginPage() {
    ShellExecuteW(nullptr, L"open", kLoginPageUrl, nullptr, nullptr, SW_SHOW);
}
