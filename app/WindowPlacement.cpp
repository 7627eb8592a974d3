#include "app/MainForm.h"

#include "app/Controls.h"
#include "platform/Dpi.h"

// The main window's placement and list settings, as the settings file left them and as the window now is.

namespace bw {

void TMainForm::PlaceFromSettings(int& showCommand) {
    if (!m_settings.bounds) {
        return; // the defaults
    }
    // The placement's coordinates are the work area's of the main monitor; the bounds are kept on whichever
    // monitor is nearest, so a monitor unplugged since does not leave the window out of reach.
    HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO primaryInfo{};
    primaryInfo.cbSize = sizeof primaryInfo;
    ::GetMonitorInfoW(primary, &primaryInfo);
    const POINT offset{primaryInfo.rcWork.left, primaryInfo.rcWork.top};
    RECT bounds = *m_settings.bounds;
    ::OffsetRect(&bounds, offset.x, offset.y);
    const HMONITOR monitor = ::MonitorFromRect(&bounds, MONITOR_DEFAULTTONEAREST);
    // Bounds taken on a monitor of another scale (or before its scale was changed) keep their corner and take the
    // size they had in this monitor's scale. A file written without the DPI places them as they are.
    if (m_settings.dpi) {
        bounds = ScaleBounds(bounds, *m_settings.dpi, DpiOfMonitor(monitor));
    }
    MONITORINFO nearest{};
    nearest.cbSize = sizeof nearest;
    ::GetMonitorInfoW(monitor, &nearest);
    bounds = KeepOnWorkArea(bounds, nearest.rcWork);
    ::OffsetRect(&bounds, -offset.x, -offset.y);

    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ::GetWindowPlacement(m_window, &placement);
    placement.rcNormalPosition = bounds;
    placement.showCmd = SW_HIDE;
    ::SetWindowPlacement(m_window, &placement);
    // Of the usual ways to start, the one the window was closed in wins; minimised or hidden starts stay so.
    if (showCommand == SW_SHOWNORMAL || showCommand == SW_SHOWMAXIMIZED || showCommand == SW_SHOWDEFAULT) {
        showCommand = m_settings.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    }
}

void TMainForm::ApplyListSettings() {
    if (m_settings.sort) {
        m_list.SetSort(*m_settings.sort);
    }
    m_list.SetHideWindows(m_settings.hideWindows);
    // Settings written before the Signer column hold one width less; the new column then takes its default.
    if (m_settings.columnWidths.size() + 1 >= static_cast<size_t>(kColumnCount)) {
        std::vector<int> widths;
        for (int width : m_settings.columnWidths) {
            widths.push_back(ScaleToDpi(width, m_dpi));
        }
        m_list.SetColumnWidths(widths);
    }
}

void TMainForm::SaveWindowSettings() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!::GetWindowPlacement(m_window, &placement)) {
        return;
    }
    WindowSettings settings;
    settings.bounds = placement.rcNormalPosition;
    settings.dpi = m_dpi;
    settings.maximized = placement.showCmd == SW_SHOWMAXIMIZED ||
                         (placement.showCmd == SW_SHOWMINIMIZED && (placement.flags & WPF_RESTORETOMAXIMIZED) != 0);
    if (m_list.ColumnsSizedByUser()) {
        for (int width : m_list.ColumnWidths()) {
            settings.columnWidths.push_back(::MulDiv(width, USER_DEFAULT_SCREEN_DPI, static_cast<int>(m_dpi)));
        }
    }
    settings.sort = m_list.Sort();
    settings.hideWindows = m_list.HidesWindows();
    // Not kept where the folder cannot be written: no box for that. Beside a program run from a share, written on
    // a thread of its own that nothing waits for but the process's end (the old file stays whole until the new one
    // replaces it).
    if (!m_scheduler.StoreIsRemote()) {
        (void)SaveSettings(SettingsPath(), settings);
        return;
    }
    TCommandWork::Detach(
        [path = SettingsPath(), settings](const std::atomic<bool>&) { (void)SaveSettings(path, settings); });
}

} // namespace bw
