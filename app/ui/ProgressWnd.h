// The progress dialog (template 103): the tool's logo, one line of text and a progress bar, shown while the
// font folders are searched. No buttons and no close box; it does nothing on its own.
#pragma once

#include "app/ui/Dialog.h"

class CProgressWnd final : public CDialog {
public:
    CProgressWnd();

    CProgressCtrl m_progress;  // control 1000, bound by the data exchange

    // The OK action: data exchange from the controls, then the end of the dialog.
    void OnOK() override { CDialog::OnOK(); }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
