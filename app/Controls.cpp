#include "app/Controls.h"

#include "platform/Dpi.h"

#include <vector>

namespace bw {

int LvGetItemCount(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring LvGetItemText(HWND list, int item, int subItem) {
    // LVM_GETITEMTEXT gives no length; grow the buffer until the text fits with room to spare.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        LVITEMW lvItem{};
        lvItem.iSubItem = subItem;
        lvItem.pszText = buffer.data();
        lvItem.cchTextMax = static_cast<int>(buffer.size());
        const auto length = static_cast<size_t>(
            ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvItem)));
        if (length + 1 < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 4);
    }
}

void LvSetItemText(HWND list, int item, int subItem, const std::wstring& text) {
    LVITEMW lvItem{};
    lvItem.iSubItem = subItem;
    lvItem.pszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvItem));
}

int LvInsertItem(HWND list, int item, const std::wstring& text, int image, LPARAM param) {
    LVITEMW lvItem{};
    lvItem.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    lvItem.iItem = item;
    lvItem.pszText = const_cast<wchar_t*>(text.c_str());
    lvItem.iImage = image;
    lvItem.lParam = param;
    return static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lvItem)));
}

// The fields of one row that `mask` asks for.
static LVITEMW LvGetItem(HWND list, int item, UINT mask) {
    LVITEMW lvItem{};
    lvItem.mask = mask;
    lvItem.iItem = item;
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lvItem));
    return lvItem;
}

int LvGetItemImage(HWND list, int item) {
    return LvGetItem(list, item, LVIF_IMAGE).iImage;
}

bool LvGetCheck(HWND list, int item) {
    return ListView_GetCheckState(list, item) != FALSE;
}

void LvSetCheck(HWND list, int item, bool checked) {
    ListView_SetCheckState(list, item, checked ? TRUE : FALSE);
}

int LvGetSelected(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void LvSelect(HWND list, int item) {
    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void LvInsertColumn(HWND list, int column, const std::wstring& title, int width) {
    LVCOLUMNW lvColumn{};
    lvColumn.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    lvColumn.pszText = const_cast<wchar_t*>(title.c_str());
    lvColumn.cx = width;
    lvColumn.iSubItem = column;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lvColumn));
}

std::wstring HwndGetText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

void HwndSetText(HWND window, const std::wstring& text) {
    ::SetWindowTextW(window, text.c_str());
}

bool TbIsEnabled(HWND toolBar, int command) {
    return ::SendMessageW(toolBar, TB_ISBUTTONENABLED, static_cast<WPARAM>(command), 0) != 0;
}

void TbEnable(HWND toolBar, int command, bool enabled) {
    ::SendMessageW(toolBar, TB_ENABLEBUTTON, static_cast<WPARAM>(command), MAKELPARAM(enabled ? TRUE : FALSE, 0));
}

std::wstring SbGetText(HWND statusBar) {
    const auto length = LOWORD(::SendMessageW(statusBar, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

void SbSetText(HWND statusBar, const std::wstring& text) {
    ::SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

namespace {
constexpr int kFontPoints = 9; // Segoe UI's size where the system cannot tell its message font
} // namespace

UINT WindowDpi(HWND window) {
    return DpiOfWindow(window);
}

// The font Windows uses for message boxes, at the size it has for `dpi`: the window's text looks like the rest of
// the system and stays sharp at any scale (a bitmap font such as MS Sans Serif turns jagged past 100 %).
LOGFONTW MessageFontFor(UINT dpi) {
    // SystemParametersInfoForDpi exists from Windows 10 1607 on; before, the metrics are the primary monitor's,
    // scaled from the system's DPI.
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = reinterpret_cast<ForDpiFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return metrics.lfMessageFont;
    }
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        HDC screen = ::GetDC(nullptr);
        const int systemDpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
        ::ReleaseDC(nullptr, screen);
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi), systemDpi > 0 ? systemDpi : 96);
        return font;
    }
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(kFontPoints, static_cast<int>(dpi), 72);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy_s(font.lfFaceName, L"Segoe UI");
    return font;
}

} // namespace bw
