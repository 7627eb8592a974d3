#pragma once

#include "platform/FileCopy.h"
#include "app/UiHandles.h"

#include <windows.h>
#include <commctrl.h>

#include <optional>

namespace bw {

// The main window's progress bar as the copy sees it.
class TProgressBarAdapter : public ProgressControl {
public:
    explicit TProgressBarAdapter(HWND bar) : m_bar(bar) {}
    void SetMax(int value) override;
    void SetMin(int value) override;
    void SetPosition(int value) override;

private:
    HWND m_bar;
    int m_min = 0;
    int m_max = 100;
};

// The tool bar: flat glyph buttons with hints, and the hidden progress bar after the Help button. The glyph
// strip is the one drawn for the window's DPI.
class TToolBar {
public:
    enum Command { PropButton = 101, RefreshButton, AddButton, DeleteButton, HelpButton, RestartButton, ViewButton };
    // The commands of the menus that drop down from the View button and from the Add button's arrow.
    enum ViewCommand : UINT {
        HideWindowsCommand = 401,
        TakeOverCommand = 402,
        AddForMeCommand,
        AddForAllUsersCommand,
        HistoryCommand,
        WatchWhileClosedCommand,
    };

    explicit TToolBar(HINSTANCE instance) : m_instance(instance) {}
    TToolBar(const TToolBar&) = delete;
    TToolBar& operator=(const TToolBar&) = delete;

    void Create(HWND parent, UINT dpi);
    void ApplyDpi(UINT dpi);
    // Puts the bar along the top of a client area `width` wide; returns its height.
    int LayOut(int width);

    HWND Handle() const { return m_bar; }
    HWND ProgressBar() const { return m_progressBar; }
    ProgressControl& Progress() { return *m_progress; }

    void Enable(int command, bool enabled);
    bool IsEnabled(int command) const;

    // Shows or hides the shield button "Restart as administrator" (shown only while the program lacks the rights).
    void ShowRestart(bool shown);
    bool IsShown(int command) const;

    // The screen rectangle of a button, for a menu that drops down from it.
    RECT ButtonRect(int command) const;

    // Answers the tooltips' request for a button's hint; true when the notification was one.
    bool HandleNotify(const NMHDR& header);

private:
    HINSTANCE m_instance;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    HWND m_bar = nullptr;
    HWND m_progressBar = nullptr;
    UniqueImageList m_images;
    UniqueImageList m_disabledImages;
    std::optional<TProgressBarAdapter> m_progress;
};

} // namespace bw
