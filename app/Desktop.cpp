#include "app/Desktop.h"

#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"
#include "resources/Texts.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cwctype>
#include <vector>

namespace bw {

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

bool TSystemDesktop::RunAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& folder) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI; // a declined prompt is no error to show
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool started = ::ShellExecuteExW(&info) != FALSE;
    UniqueKernelHandle process(info.hProcess);
    return started;
}

} // namespace bw
