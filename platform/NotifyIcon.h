#pragma once

#include "platform/Seam.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace bw {

namespace seam {
// Shell_NotifyIconW. A test puts a recorder in its place: under Wine the notification area may not exist.
extern TSeam<BOOL(DWORD, NOTIFYICONDATAW*)> NotifyIcon;
} // namespace seam

// One icon of a window in the notification area. The shell sends `callbackMessage` to the window for the icon's
// events in the manner of version 4 (the event in the low word of lParam, NIN_BALLOONUSERCLICK among them).
class TNotifyIcon {
public:
    TNotifyIcon(HWND window, UINT callbackMessage, HICON icon, const std::wstring& tip);
    // Takes the icon away again if it was added.
    ~TNotifyIcon();
    TNotifyIcon(const TNotifyIcon&) = delete;
    TNotifyIcon& operator=(const TNotifyIcon&) = delete;

    // Adds the icon; again after the taskbar was made anew (TaskbarCreated), when the icon went with the old one.
    // False when the shell refused it (no taskbar yet): TaskbarCreated comes once there is one.
    bool Add();
    // A notice beside the icon: a title and up to four lines of text, as the shell cuts them (63 and 255 characters).
    bool Notify(const std::wstring& title, const std::wstring& text);

private:
    NOTIFYICONDATAW Data(UINT flags) const;

    HWND m_window;
    UINT m_callbackMessage;
    HICON m_icon;
    std::wstring m_tip;
    bool m_added = false;
};

} // namespace bw
