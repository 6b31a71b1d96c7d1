#include "app/ui/FileDialog.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

// Holds one COM interface pointer and releases it.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (m_p) m_p->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return m_p; }
    T* get() const { return m_p; }
    void** out() { return reinterpret_cast<void**>(&m_p); }
    T** address() { return &m_p; }

private:
    T* m_p = nullptr;
};

// Frees a string the shell allocated.
class CoTaskString {
public:
    ~CoTaskString() { CoTaskMemFree(m_p); }
    PWSTR* address() { return &m_p; }
    PWSTR get() const { return m_p; }

private:
    PWSTR m_p = nullptr;
};

}  // namespace

CFileDialog::CFileDialog(const wchar_t* defaultExtension, DWORD flags, const wchar_t* filterName,
                         const wchar_t* filterPattern)
    : m_defaultExtension(defaultExtension),
      m_flags(flags),
      m_filterName(filterName),
      m_filterPattern(filterPattern) {}

INT_PTR CFileDialog::DoModal(HWND hWndOwner) {
    m_pathName.clear();
    ComRef<IFileSaveDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSaveDialog,
                                dialog.out())))
        return -1;

    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options))) return -1;
    options |= FOS_FORCEFILESYSTEM;
    if (m_flags & OFN_OVERWRITEPROMPT)
        options |= FOS_OVERWRITEPROMPT;
    else
        options &= ~FILEOPENDIALOGOPTIONS(FOS_OVERWRITEPROMPT);
    if (FAILED(dialog->SetOptions(options))) return -1;

    const COMDLG_FILTERSPEC filter = {m_filterName.c_str(), m_filterPattern.c_str()};
    if (FAILED(dialog->SetFileTypes(1, &filter)) || FAILED(dialog->SetFileTypeIndex(1)) ||
        FAILED(dialog->SetDefaultExtension(m_defaultExtension.c_str())))
        return -1;
    if (!m_title.empty() && FAILED(dialog->SetTitle(m_title.c_str()))) return -1;
    if (!m_folder.empty()) {
        // A folder that the shell cannot name is left to the system's choice.
        ComRef<IShellItem> folder;
        if (SUCCEEDED(SHCreateItemFromParsingName(m_folder.c_str(), nullptr, IID_IShellItem, folder.out())))
            dialog->SetFolder(folder.get());
    }
    if (!m_fileName.empty() && FAILED(dialog->SetFileName(m_fileName.c_str()))) return -1;

    const HRESULT shown = dialog->Show(hWndOwner);
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return IDCANCEL;
    if (FAILED(shown)) return -1;

    ComRef<IShellItem> result;
    if (FAILED(dialog->GetResult(result.address()))) return -1;
    CoTaskString path;
    if (FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, path.address())) || !path.get()) return -1;
    m_pathName = path.get();
    return IDOK;
}
