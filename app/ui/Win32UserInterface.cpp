#include "app/ui/Win32UserInterface.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <string>

#include "app/Strings.h"
#include "app/ui/FileDialog.h"
#include "app/ui/KorvDlg.h"
#include "app/ui/ProgressWnd.h"
#include "app/ui/TransparentImage.h"

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// String resource `id` of the program (the system's string table, not NUL-terminated in place).
std::wstring resourceString(uint32_t id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(AfxGetInstanceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, size_t(length)) : std::wstring();
}

}  // namespace

// The progress dialog behind the port. The worker thread reaches it only through refresh(): it reads the
// window handle, which close() clears before it destroys the window, so a late refresh asks nothing of a
// window that is gone. (UpdateWindow from the worker is answered by the main thread's message polling; a
// lock around it would deadlock with the main thread.)
class Win32ProgressWindow final : public ProgressWindow {
public:
    bool create() {
        if (!m_dialog.Create(nullptr)) return false;
        ShowWindow(m_dialog.m_hWnd, SW_SHOW);
        m_hWndForWorker.store(m_dialog.m_hWnd, std::memory_order_release);
        return true;
    }
    ~Win32ProgressWindow() { close(); }

    void setPosition(int32_t percent) override { m_dialog.m_progress.SetPos(percent); }
    bool isVisible() override {
        const HWND hWnd = m_dialog.m_hWnd;
        return hWnd && IsWindow(hWnd) && IsWindowVisible(hWnd);
    }
    void refresh() override {
        const HWND hWnd = m_hWndForWorker.load(std::memory_order_acquire);
        if (hWnd) UpdateWindow(hWnd);
    }
    void close() override {
        m_hWndForWorker.store(nullptr, std::memory_order_release);
        if (!m_dialog.m_hWnd) return;
        m_dialog.OnOK();
        m_dialog.DestroyWindow();
    }

private:
    CProgressWnd m_dialog;
    std::atomic<HWND> m_hWndForWorker{nullptr};
};

Win32UserInterface::Win32UserInterface() = default;
Win32UserInterface::~Win32UserInterface() = default;

void Win32UserInterface::initFramework() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // Needed by the save dialog; kept for the life of the process.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

bool Win32UserInterface::registerTransparentImageClass() {
    return RegisterTransparentImageClass();
}

ProgressWindow* Win32UserInterface::showProgress() {
    auto progress = std::make_unique<Win32ProgressWindow>();
    if (!progress->create()) return nullptr;
    m_progress = std::move(progress);
    return m_progress.get();
}

void Win32UserInterface::pumpMessage() {
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Win32UserInterface::waitForMessage(uint32_t timeoutMs) {
    // MWMO_INPUTAVAILABLE: a message that an earlier PeekMessageW saw but left in the queue ends the wait
    // too, not only one that arrives afterwards. QS_ALLINPUT includes messages sent from the worker thread
    // (its UpdateWindow), which the next PeekMessageW then delivers.
    MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

SaveDialogResult Win32UserInterface::runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                                   const char16_t* proposedPath, std::u16string& chosen) {
    CFileDialog dialog(L"json", OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NONETWORKBUTTON, L"json(*.json)",
                       L"*.json");
    dialog.m_title = wide(title);
    if (initialFolder) dialog.m_folder = wide(initialFolder);
    // The dialog takes the folder and the name apart.
    const std::wstring proposed = wide(proposedPath);
    const size_t slash = proposed.find_last_of(L"\\/");
    dialog.m_fileName = slash == std::wstring::npos ? proposed : proposed.substr(slash + 1);

    switch (dialog.DoModal(nullptr)) {
        case IDOK:
            chosen.assign(reinterpret_cast<const char16_t*>(dialog.GetPathName().c_str()),
                          dialog.GetPathName().size());
            return SaveDialogResult::Ok;
        case IDCANCEL:
            return SaveDialogResult::Cancelled;
        default:
            return SaveDialogResult::Failed;
    }
}

void Win32UserInterface::showMessage(uint32_t stringId) {
    const std::wstring text = resourceString(stringId);
    const std::wstring caption = resourceString(IDS_TOOL_TITLE);
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void Win32UserInterface::runInstructionsDialog() {
    CKorvDlg dialog;
    dialog.DoModal();
}

void Win32UserInterface::cleanup() {
    m_progress.reset();
}
