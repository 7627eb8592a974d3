#include "platform/Token.h"

#include "platform/UniqueHandle.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

namespace bw {

namespace {

bool TokenIsElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const UniqueKernelHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

// "DOMAIN\name" of the token's user; the domain is left out where it is the computer's own.
std::wstring AccountOfToken(HANDLE token) {
    DWORD size = 0;
    (void)::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use{};
    if (!::LookupAccountSidW(nullptr, user->User.Sid, name, &nameLength, domain, &domainLength, &use)) {
        return {};
    }
    return std::wstring(domain, domainLength) + L"\\" + std::wstring(name, nameLength);
}

std::wstring SidOfToken(HANDLE token) {
    DWORD size = 0;
    (void)::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::vector<BYTE> buffer(size);
    wchar_t* text = nullptr;
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return {};
    }
    std::wstring sid(text);
    ::LocalFree(text);
    return sid;
}

std::wstring SidOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return {};
    }
    const UniqueKernelHandle owned(token);
    return SidOfToken(token);
}

// The process of the shell, which runs as the account that owns the desktop; null when there is none to open.
UniqueKernelHandle ShellProcess() {
    const HWND shell = ::GetShellWindow();
    DWORD processId = 0;
    if (shell == nullptr || ::GetWindowThreadProcessId(shell, &processId) == 0 || processId == 0) {
        return UniqueKernelHandle();
    }
    // Limited query rights are all that another account's process grants; enough to read its token's user.
    return UniqueKernelHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
}

std::wstring AccountOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return {};
    }
    const UniqueKernelHandle owned(token);
    return AccountOfToken(token);
}

std::wstring RealProcessAccount() {
    return AccountOfProcess(::GetCurrentProcess());
}

std::wstring RealDesktopAccount() {
    const UniqueKernelHandle process = ShellProcess();
    return process ? AccountOfProcess(process.Get()) : std::wstring();
}

std::wstring RealProcessSid() {
    return SidOfProcess(::GetCurrentProcess());
}

std::wstring RealDesktopSid() {
    const UniqueKernelHandle process = ShellProcess();
    return process ? SidOfProcess(process.Get()) : std::wstring();
}

} // namespace

namespace seam {
TSeam<bool()> Elevated(&TokenIsElevated);
TSeam<std::wstring()> ProcessAccount(&RealProcessAccount);
TSeam<std::wstring()> DesktopAccount(&RealDesktopAccount);
TSeam<std::wstring()> ProcessSid(&RealProcessSid);
TSeam<std::wstring()> DesktopSid(&RealDesktopSid);
} // namespace seam

bool RunsAsAdministrator() {
    return seam::Elevated();
}

std::wstring ProcessAccountName() {
    return seam::ProcessAccount();
}

std::wstring DesktopAccountName() {
    return seam::DesktopAccount();
}

std::wstring ProcessUserSid() {
    return seam::ProcessSid();
}

std::wstring DesktopUserSid() {
    return seam::DesktopSid();
}

} // namespace bw
