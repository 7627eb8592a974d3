#include "app/Desktop.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/UniqueHandle.h"
#include "resources/Texts.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace bw {

namespace {
void FreeGlobal(HGLOBAL memory) {
    ::GlobalFree(memory);
}
using UniqueGlobal = UniqueHandle<HGLOBAL, FreeGlobal>;
} // namespace

std::wstring ApplicationTitle(const std::wstring& executablePath) {
    std::wstring title = FileNamePart(executablePath);
    title = title.substr(0, title.find(L'.'));
    for (size_t i = 1; i < title.size(); ++i) {
        title[i] = static_cast<wchar_t>(std::towlower(title[i]));
    }
    return title;
}

std::wstring ErrorBoxText(const std::wstring& message) {
    if (!message.empty() && message.back() > L'.') {
        return message + L".";
    }
    return message;
}

bool TSystemDesktop::Confirm(HWND owner, const std::wstring& question) {
    return ShowConfirmDialog(owner, question) == IDYES;
}

bool TSystemDesktop::ConfirmDefaultNo(HWND owner, const std::wstring& question) {
    return ShowConfirmDialog(owner, question, IDNO) == IDYES;
}

Answer TSystemDesktop::Choose(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no) {
    switch (ShowChoiceDialog(owner, question, yes, no)) {
    case IDYES:
        return Answer::Yes;
    case IDNO:
        return Answer::No;
    default:
        return Answer::None;
    }
}

std::optional<std::wstring> TSystemDesktop::BrowseForProgram(HWND owner) {
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = text::kBrowseFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = text::kBrowseFolder;
    dialog.lpstrTitle = text::kBrowseTitle;
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!::GetOpenFileNameW(&dialog)) {
        return std::nullopt;
    }
    return std::wstring(file.data());
}

void TSystemDesktop::ShowError(HWND owner, const std::wstring& title, const std::wstring& text) {
    ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

void TSystemDesktop::ShowProperties(HWND owner, const std::wstring& file) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The verb is one of the item's context menu, which the shell reaches only through its ID list.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_INVOKEIDLIST;
    info.hwnd = owner;
    info.lpVerb = L"properties";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOW;
    (void)::ShellExecuteExW(&info); // the shell shows its own message on failure
    UniqueFile process(info.hProcess != nullptr ? info.hProcess : INVALID_HANDLE_VALUE);
}

INT_PTR TSystemDesktop::OpenWithShell(HWND owner, const std::wstring& file, const std::wstring& parameters,
                                      const std::wstring& folder, int showCommand) {
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, nullptr, file.c_str(),
                                                     parameters.empty() ? nullptr : parameters.c_str(),
                                                     folder.empty() ? nullptr : folder.c_str(), showCommand));
}

UINT TDesktop::ChooseFromMenu(HWND, HMENU, POINT) {
    return 0;
}

void TDesktop::ShowInFolder(HWND, const std::wstring&) {}

void TDesktop::OpenRegistryEditor(HWND, const std::wstring&) {}

void TDesktop::CopyText(HWND, const std::wstring&) {}

UINT TSystemDesktop::ChooseFromMenu(HWND owner, HMENU menu, POINT screenPoint) {
    // The owner must be in front, or the menu does not close when the user clicks elsewhere.
    ::SetForegroundWindow(owner);
    return static_cast<UINT>(::TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screenPoint.x,
                                                screenPoint.y, owner, nullptr));
}

void TSystemDesktop::ShowInFolder(HWND owner, const std::wstring& path) {
    // The shell's own call, not "explorer /select": it reuses a window already open on the folder and needs no
    // quoting of the path.
    PIDLIST_ABSOLUTE item = ::ILCreateFromPathW(path.c_str());
    if (item == nullptr) {
        (void)OpenWithShell(owner, FolderPart(path), L"", L"", SW_SHOWNORMAL); // the folder at least
        return;
    }
    (void)::SHOpenFolderAndSelectItems(item, 0, nullptr, 0); // the shell shows its own message on failure
    ::ILFree(item);
}

void TSystemDesktop::OpenRegistryEditor(HWND owner, const std::wstring& key) {
    // The Registry Editor opens at the key its "LastKey" names; an editor already open stays where it is.
    const auto size = static_cast<DWORD>((key.size() + 1) * sizeof(wchar_t));
    (void)::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit",
                            L"LastKey", REG_SZ, key.c_str(), size); // without it, the editor opens where it was
    (void)OpenWithShell(owner, L"regedit.exe", L"", L"", SW_SHOWNORMAL);
}

void TSystemDesktop::CopyText(HWND owner, const std::wstring& text) {
    if (!::OpenClipboard(owner)) {
        return; // another program holds the clipboard
    }
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (void* locked = memory ? ::GlobalLock(memory.Get()) : nullptr) {
        std::copy(text.c_str(), text.c_str() + text.size() + 1, static_cast<wchar_t*>(locked));
        ::GlobalUnlock(memory.Get());
        if (::SetClipboardData(CF_UNICODETEXT, memory.Get()) != nullptr) {
            (void)memory.Release(); // the clipboard owns it now
        }
    }
    ::CloseClipboard();
}

bool TSystemDesktop::RunAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& folder,
                                        const std::wstring& parameters) {
    return StartAsAdministrator(owner, program, parameters, folder);
}

} // namespace bw
