// The Vista-style save dialog (IFileSaveDialog) with the settings the program gives it: title, folder,
// proposed file name, default extension, one filter, and the old-style flags that have a meaning for it.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>

class CFileDialog {
public:
    // A save dialog. `filterName` and `filterPattern` are the one filter entry (e.g. "json(*.json)",
    // "*.json"); `flags` are OFN_* flags, of which OFN_OVERWRITEPROMPT matters here (OFN_HIDEREADONLY and
    // OFN_NONETWORKBUTTON have nothing to act on in this style of dialog).
    CFileDialog(const wchar_t* defaultExtension, DWORD flags, const wchar_t* filterName,
                const wchar_t* filterPattern);

    std::wstring m_title;     // empty: the system's title
    std::wstring m_folder;    // empty: the system's choice
    std::wstring m_fileName;  // proposed name, without folder

    // Shows the dialog, owned by `hWndOwner` (none: nullptr). IDOK when a file was chosen, IDCANCEL when
    // the user cancelled, -1 when the dialog could not be shown.
    INT_PTR DoModal(HWND hWndOwner = nullptr);
    // The chosen file's full path, after IDOK.
    const std::wstring& GetPathName() const { return m_pathName; }

private:
    std::wstring m_defaultExtension;
    DWORD m_flags;
    std::wstring m_filterName;
    std::wstring m_filterPattern;
    std::wstring m_pathName;
};
