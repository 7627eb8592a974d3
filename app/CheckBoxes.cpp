#include "app/CheckBoxes.h"

#include "app/Controls.h"
#include "app/UiHandles.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>

namespace bw {

namespace {

constexpr int kBoxSize = 16; // a check box's image, at 96 DPI (the small icons' size, as the list view makes it)
constexpr int kBoxMargin = 1;

void CloseTheme(HTHEME theme) {
    ::CloseThemeData(theme);
}
void CloseMemoryDc(HDC dc) {
    ::DeleteDC(dc);
}
using UniqueTheme = UniqueHandle<HTHEME, CloseTheme>;
using UniqueMemoryDc = UniqueHandle<HDC, CloseMemoryDc>;

// The theme's data for buttons at `dpi` (OpenThemeDataForDpi, from Windows 10 1703 on), else at the system's DPI.
HTHEME OpenButtonTheme(HWND list, UINT dpi) {
    using OpenForDpiFn = HTHEME(WINAPI*)(HWND, LPCWSTR, UINT);
    static const auto openForDpi = [] {
        const HMODULE uxtheme = ::GetModuleHandleW(L"uxtheme.dll");
        return uxtheme == nullptr ? nullptr
                                  : reinterpret_cast<OpenForDpiFn>(
                                        reinterpret_cast<void*>(::GetProcAddress(uxtheme, "OpenThemeDataForDpi")));
    }();
    return openForDpi != nullptr ? openForDpi(list, L"BUTTON", dpi) : ::OpenThemeData(list, L"BUTTON");
}

// The screen's device context for the owner's lifetime.
class ScreenDc {
public:
    ScreenDc() : m_dc(::GetDC(nullptr)) {}
    ~ScreenDc() {
        if (m_dc != nullptr) {
            ::ReleaseDC(nullptr, m_dc);
        }
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

// A check box without a theme, at any size: a frame, and for a set box a tick, in the window's text colour.
// (DrawFrameControl draws its box at one size whatever the rectangle on some systems.)
void DrawClassicBox(HDC dc, const RECT& box, bool checked, UINT dpi) {
    const int line = std::max(1, ScaleToDpi(1, dpi));
    const UniqueBrush frame(::CreateSolidBrush(::GetSysColor(COLOR_WINDOWTEXT)));
    for (int i = 0; i < line; ++i) {
        RECT edge{box.left + i, box.top + i, box.right - i, box.bottom - i};
        ::FrameRect(dc, &edge, frame.Get());
    }
    if (!checked) {
        return;
    }
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    const POINT tick[] = {{box.left + width * 5 / 20, box.top + height * 10 / 20},
                          {box.left + width * 9 / 20, box.top + height * 14 / 20},
                          {box.left + width * 15 / 20, box.top + height * 6 / 20}};
    const UniquePen pen(::CreatePen(PS_SOLID, std::max(2, ScaleToDpi(2, dpi)), ::GetSysColor(COLOR_WINDOWTEXT)));
    const HGDIOBJ before = ::SelectObject(dc, pen.Get());
    ::Polyline(dc, tick, 3);
    ::SelectObject(dc, before);
}

} // namespace

void FitCheckBoxes(HWND list, UINT dpi) {
    // The list view makes the images of its check boxes once, at the size of the system's small icons, and keeps
    // them through a change of DPI: where they are not of the window's DPI, they are drawn anew here at its size (as
    // the theme draws a button's box, or the classic box where there is no theme), unchecked first, then checked,
    // as the list's state images go. The list view owns them from here on, as it owned its own, and the images
    // before go.
    const int size = ScaleToDpi(kBoxSize, dpi);
    int width = 0;
    int height = 0;
    const HIMAGELIST current = ListView_GetImageList(list, LVSIL_STATE);
    if (current != nullptr && ::ImageList_GetIconSize(current, &width, &height) && width == size && height == size) {
        return;
    }
    HIMAGELIST boxes = ::ImageList_Create(size, size, ILC_COLOR32, 2, 0);
    if (boxes == nullptr) {
        return;
    }
    const ScreenDc screen;
    const UniqueMemoryDc memory(::CreateCompatibleDC(screen.Get()));
    const HDC dc = memory.Get();
    UniqueTheme theme(OpenButtonTheme(list, dpi));
    // A theme draws its box at the size its images have; one made for another DPI would leave the box as small (or
    // as large) as before, and the classic box is drawn instead.
    SIZE themed{};
    if (theme &&
        (FAILED(::GetThemePartSize(theme.Get(), dc, BP_CHECKBOX, CBS_UNCHECKEDNORMAL, nullptr, TS_TRUE, &themed)) ||
         themed.cy < size * 2 / 3 || themed.cy > size)) {
        theme.Reset();
    }
    for (const bool checked : {false, true}) {
        UniqueBitmap bitmap(::CreateCompatibleBitmap(screen.Get(), size, size));
        const HGDIOBJ before = ::SelectObject(dc, bitmap.Get());
        RECT all{0, 0, size, size};
        ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_WINDOW));
        RECT box = all;
        ::InflateRect(&box, -ScaleToDpi(kBoxMargin, dpi), -ScaleToDpi(kBoxMargin, dpi));
        if (theme) {
            ::DrawThemeBackground(theme.Get(), dc, BP_CHECKBOX, checked ? CBS_CHECKEDNORMAL : CBS_UNCHECKEDNORMAL, &box,
                                  nullptr);
        } else {
            DrawClassicBox(dc, box, checked, dpi);
        }
        ::SelectObject(dc, before);
        ::ImageList_Add(boxes, bitmap.Get(), nullptr);
    }
    HIMAGELIST before = ListView_SetImageList(list, boxes, LVSIL_STATE);
    if (before != nullptr && before != boxes) {
        ::ImageList_Destroy(before);
    }
    ::InvalidateRect(list, nullptr, FALSE);
}

} // namespace bw
