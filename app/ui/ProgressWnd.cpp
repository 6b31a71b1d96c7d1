#include "app/ui/ProgressWnd.h"

#include "res/resource.h"

CProgressWnd::CProgressWnd() : CDialog(IDD_PROGRESS) {}

void CProgressWnd::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
}
