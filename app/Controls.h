#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace bw {

// Thin helpers over the messages of the common controls, so that window code (and tests) read as intent.

int LvGetItemCount(HWND list);
std::wstring LvGetItemText(HWND list, int item, int subItem);
void LvSetItemText(HWND list, int item, int subItem, const std::wstring& text);
int LvInsertItem(HWND list, int item, const std::wstring& text, int image, LPARAM param);
int LvGetItemImage(HWND list, int item);
bool LvGetCheck(HWND list, int item);
void LvSetCheck(HWND list, int item, bool checked);
int LvGetSelected(HWND list); // the first selected row, or -1
void LvSelect(HWND list, int item);
void LvInsertColumn(HWND list, int column, const std::wstring& title, int width);

// A length in pixels at 96 DPI, scaled for `dpi`.
inline int ScaleToDpi(int pixels, UINT dpi) {
    return ::MulDiv(pixels, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

std::wstring HwndGetText(HWND window);
void HwndSetText(HWND window, const std::wstring& text);

bool TbIsEnabled(HWND toolBar, int command);
void TbEnable(HWND toolBar, int command, bool enabled);

std::wstring SbGetText(HWND statusBar);
void SbSetText(HWND statusBar, const std::wstring& text);

// The window's DPI (the system's where Windows cannot tell one window's).
UINT WindowDpi(HWND window);

// The font Windows uses for message boxes, at the size it has for `dpi`.
LOGFONTW MessageFontFor(UINT dpi);

} // namespace bw
