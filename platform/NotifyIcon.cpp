#include "platform/NotifyIcon.h"

#include <cwchar>

namespace bw {

namespace {

BOOL RealNotifyIcon(DWORD message, NOTIFYICONDATAW* data) {
    return ::Shell_NotifyIconW(message, data);
}

// The icon's number among the window's icons: it has only this one.
constexpr UINT kIconId = 1;

void CopyCut(wchar_t* destination, size_t size, const std::wstring& text) {
    (void)wcsncpy(destination, text.c_str(), size - 1);
    destination[size - 1] = L'\0';
}

} // namespace

namespace seam {
TSeam<BOOL(DWORD, NOTIFYICONDATAW*)> NotifyIcon(RealNotifyIcon);
} // namespace seam

TNotifyIcon::TNotifyIcon(HWND window, UINT callbackMessage, HICON icon, const std::wstring& tip)
    : m_window(window), m_callbackMessage(callbackMessage), m_icon(icon), m_tip(tip) {}

TNotifyIcon::~TNotifyIcon() {
    if (m_added) {
        NOTIFYICONDATAW data = Data(0);
        (void)seam::NotifyIcon(NIM_DELETE, &data); // an icon the shell has lost already is fine
    }
}

NOTIFYICONDATAW TNotifyIcon::Data(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_window;
    data.uID = kIconId;
    data.uFlags = flags;
    return data;
}

bool TNotifyIcon::Add() {
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = m_callbackMessage;
    data.hIcon = m_icon;
    CopyCut(data.szTip, sizeof data.szTip / sizeof data.szTip[0], m_tip);
    // After Explorer restarted the old icon is gone; an icon the shell still has is taken away first, so that the
    // add cannot fail on it.
    if (m_added) {
        NOTIFYICONDATAW old = Data(0);
        (void)seam::NotifyIcon(NIM_DELETE, &old);
    }
    m_added = seam::NotifyIcon(NIM_ADD, &data) != FALSE;
    if (m_added) {
        data.uVersion = NOTIFYICON_VERSION_4;
        (void)seam::NotifyIcon(NIM_SETVERSION, &data); // without it the events come in the old manner
    }
    return m_added;
}

bool TNotifyIcon::Notify(const std::wstring& title, const std::wstring& text) {
    NOTIFYICONDATAW data = Data(NIF_INFO);
    CopyCut(data.szInfoTitle, sizeof data.szInfoTitle / sizeof data.szInfoTitle[0], title);
    CopyCut(data.szInfo, sizeof data.szInfo / sizeof data.szInfo[0], text);
    data.dwInfoFlags = NIIF_INFO | NIIF_RESPECT_QUIET_TIME;
    return seam::NotifyIcon(NIM_MODIFY, &data) != FALSE;
}

} // namespace bw
