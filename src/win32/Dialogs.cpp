#include "win32/Dialogs.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwctype>
#include <vector>

#include "platform/WideText_win.h"

namespace sparkloom::win32 {

using platform::Utf8OfWide;
using platform::WideOf;

std::wstring DialogFilter(const std::string& filter) {
    std::wstring parts = WideOf(filter);
    for (wchar_t& c : parts) {
        if (c == L'|') {
            c = L'\0';
        }
    }
    parts.push_back(L'\0');
    parts.push_back(L'\0');
    return parts;
}

std::wstring WithCrLf(const std::string& text) {
    const std::wstring wide = WideOf(text);
    std::wstring out;
    out.reserve(wide.size() + 8);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) {
            out.push_back(L'\r');
        }
        out.push_back(wide[i]);
    }
    return out;
}

namespace {

// "*.jpg", ".jpg" and "jpg" name the extension jpg; "*.*" names none.
std::wstring DefaultExtension(const std::string& given) {
    std::wstring extension = WideOf(given);
    while (!extension.empty() && (extension.front() == L'*' || extension.front() == L'.')) {
        extension.erase(extension.begin());
    }
    for (wchar_t c : extension) {
        if (!std::iswalnum(c)) {
            return {};
        }
    }
    return extension;
}

}  // namespace

std::string ChooseFileNative(HWND owner, const FileRequest& request) {
    const bool save = request.kind == FileRequest::Kind::Save;
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring title = WideOf(request.title);
    const std::wstring folder = WideOf(request.initialFolder);
    const std::wstring extension = DefaultExtension(request.defaultExtension);
    const std::wstring initialName = WideOf(request.initialFileName);
    // Room for the longest path Windows takes.
    std::vector<wchar_t> file(32768, L'\0');
    initialName.copy(file.data(), file.size() - 1);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    // The window asks about overwriting itself, after its own checks.
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   OFN_PATHMUSTEXIST | (save ? 0 : OFN_FILEMUSTEXIST);
    BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME && file[0] != L'\0') {
        // A particle name with letters a file name cannot hold: open empty.
        file.assign(file.size(), L'\0');
        chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    }
    return chosen ? Utf8OfWide(file.data()) : std::string();
}

namespace {

constexpr DWORD kStatusLine = 1;

// The file-system path of item, or "" for an item without one.
std::wstring PathOf(IShellItem* item) {
    std::wstring path;
    PWSTR text = nullptr;
    if (item != nullptr && SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &text))) {
        path = text;
        CoTaskMemFree(text);
    }
    return path;
}

// Keeps the picker's status line on the path of the highlighted folder; an
// item without a file-system path leaves the previous path shown. It lives on
// the stack for the dialog's run, so counting references frees nothing.
class StatusLine final : public IFileDialogEvents {
public:
    explicit StatusLine(IFileDialogCustomize* customize) : mCustomize(customize) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == IID_IUnknown || id == IID_IFileDialogEvents) {
            *object = static_cast<IFileDialogEvents*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog* dialog) override {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetCurrentSelection(&item))) {
            Show(item);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*,
                                               FDE_SHAREVIOLATION_RESPONSE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*,
                                          FDE_OVERWRITE_RESPONSE*) override {
        return E_NOTIMPL;
    }

private:
    void Show(IShellItem* item) {
        const std::wstring path = PathOf(item);
        item->Release();
        if (!path.empty() && mCustomize != nullptr) {
            mCustomize->SetControlLabel(kStatusLine, path.c_str());
        }
    }

    IFileDialogCustomize* mCustomize;
};

}  // namespace

// The folder picker of Windows Vista and later rather than SHBrowseForFolder:
// both Windows and Wine take a path typed or pasted into its name box, where
// Wine's SHBrowseForFolder ignores its edit box and returns the tree's
// selection. Its added text line serves as the older browser's status line.
std::string BrowseForFolderNative(HWND owner, const std::string& initialFolder,
                                  const std::string& title) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog)))) {
        return {};
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST |
                       FOS_NOCHANGEDIR);
    if (!title.empty()) {
        dialog->SetTitle(WideOf(title).c_str());
    }
    IFileDialogCustomize* customize = nullptr;
    dialog->QueryInterface(IID_IFileDialogCustomize, reinterpret_cast<void**>(&customize));
    if (customize != nullptr) {
        customize->AddText(kStatusLine, L"");
    }
    // The remembered folder is preselected: the picker opens in its parent
    // with its name filled in, so that OK alone chooses it, and the status
    // line follows the highlighted folder from there. Without one the line
    // stays empty; a folder that is gone leaves the picker where Windows opens it.
    DWORD cookie = 0;
    bool advised = false;
    StatusLine status(customize);
    if (!initialFolder.empty()) {
        IShellItem* folder = nullptr;
        if (SUCCEEDED(SHCreateItemFromParsingName(WideOf(initialFolder).c_str(), nullptr,
                                                  IID_IShellItem,
                                                  reinterpret_cast<void**>(&folder)))) {
            IShellItem* parent = nullptr;
            PWSTR name = nullptr;
            if (SUCCEEDED(folder->GetParent(&parent)) &&
                SUCCEEDED(folder->GetDisplayName(SIGDN_PARENTRELATIVEPARSING, &name))) {
                dialog->SetFolder(parent);
                dialog->SetFileName(name);
            } else {
                dialog->SetFolder(folder);
            }
            CoTaskMemFree(name);
            if (parent != nullptr) {
                parent->Release();
            }
            if (customize != nullptr) {
                customize->SetControlLabel(kStatusLine, PathOf(folder).c_str());
            }
            folder->Release();
        }
        advised = customize != nullptr && SUCCEEDED(dialog->Advise(&status, &cookie));
    }

    std::wstring chosen;
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->GetResult(&result))) {
            chosen = PathOf(result);
            result->Release();
        }
    }
    if (advised) {
        dialog->Unadvise(cookie);
    }
    if (customize != nullptr) {
        customize->Release();
    }
    dialog->Release();
    // "C:\" names the drive as "C:", like every other folder without its separator.
    while (!chosen.empty() && (chosen.back() == L'\\' || chosen.back() == L'/')) {
        chosen.pop_back();
    }
    return Utf8OfWide(chosen);
}

}  // namespace sparkloom::win32
