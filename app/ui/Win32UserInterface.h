// The user-interface port on the Windows API and the framework layer: the progress dialog, the save
// dialog, message boxes and the instructions dialog.
#pragma once

#include <memory>

#include "app/Ports.h"

class Win32ProgressWindow;

class Win32UserInterface final : public UserInterfacePort {
public:
    Win32UserInterface();
    ~Win32UserInterface() override;

    void initFramework() override;
    bool registerTransparentImageClass() override;
    ProgressWindow* showProgress() override;
    void pumpMessage() override;
    void waitForMessage(uint32_t timeoutMs) override;
    SaveDialogResult runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                   const char16_t* proposedPath, std::u16string& chosen) override;
    void showMessage(uint32_t stringId) override;
    void runInstructionsDialog() override;
    void cleanup() override;

private:
    std::unique_ptr<Win32ProgressWindow> m_progress;
};
