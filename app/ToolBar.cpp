#include "app/ToolBar.h"

#include "app/Controls.h"
#include "resources/Texts.h"
#include "resources/resource.h"

#include <iterator>

namespace bw {

namespace {

// Pixel sizes at 96 DPI.
constexpr int kToolBarHeight = 25;
constexpr int kButtonWidth = 25;
constexpr int kButtonHeight = 23;
constexpr int kSeparator = 8;
constexpr int kHelpSeparator = 109;
constexpr int kProgressWidth = 11;

// Glyph indices in the tool bar strip; the shield is the system's own, added after the strip.
enum Glyph {
    RefreshGlyph = 0,
    DeleteGlyph = 1,
    AddGlyph = 2,
    HelpGlyph = 3,
    PropertiesGlyph = 4,
    ViewGlyph = 5,
    ShieldGlyph = 6
};

// The separator before the shield button goes and comes with it.
constexpr int kRestartSeparator = 199;

const wchar_t* HintOf(UINT_PTR command) {
    switch (command) {
    case TToolBar::PropButton:
        return text::kPropButtonHint;
    case TToolBar::RefreshButton:
        return text::kRefreshButtonHint;
    case TToolBar::AddButton:
        return text::kAddButtonHint;
    case TToolBar::DeleteButton:
        return text::kDeleteButtonHint;
    case TToolBar::HelpButton:
        return text::kHelpButtonHint;
    case TToolBar::RestartButton:
        return text::kRestartButtonHint;
    case TToolBar::ViewButton:
        return text::kViewButtonHint;
    }
    return L"";
}

// A greyed, lighter copy of a glyph strip for disabled buttons; the magenta background stays as it is.
// (Deriving disabled glyphs from the mask alone turns a glyph with a light body into a grey block.)
HBITMAP FadedCopy(HBITMAP strip) {
    DIBSECTION section{};
    if (::GetObjectW(strip, sizeof section, &section) != sizeof section || section.dsBm.bmBitsPixel != 24 ||
        section.dsBm.bmBits == nullptr) {
        return nullptr;
    }
    auto copy = static_cast<HBITMAP>(::CopyImage(strip, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION target{};
    if (copy == nullptr || ::GetObjectW(copy, sizeof target, &target) != sizeof target ||
        target.dsBm.bmBits == nullptr) {
        return copy;
    }
    auto* bits = static_cast<BYTE*>(target.dsBm.bmBits);
    for (LONG y = 0; y < target.dsBm.bmHeight; ++y) {
        BYTE* pixel = bits + static_cast<size_t>(y) * static_cast<size_t>(target.dsBm.bmWidthBytes);
        for (LONG x = 0; x < target.dsBm.bmWidth; ++x, pixel += 3) {
            if (pixel[0] == 255 && pixel[1] == 0 && pixel[2] == 255) {
                continue;
            }
            const int grey = (pixel[0] * 11 + pixel[1] * 59 + pixel[2] * 30) / 100;
            const auto faded = static_cast<BYTE>(128 + grey / 2);
            pixel[0] = pixel[1] = pixel[2] = faded;
        }
    }
    return copy;
}

} // namespace

void TProgressBarAdapter::SetMax(int value) {
    m_max = value;
    ::SendMessageW(m_bar, PBM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
}

void TProgressBarAdapter::SetMin(int value) {
    m_min = value;
    ::SendMessageW(m_bar, PBM_SETRANGE32, static_cast<WPARAM>(m_min), static_cast<LPARAM>(m_max));
}

void TProgressBarAdapter::SetPosition(int value) {
    ::SendMessageW(m_bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void TToolBar::Create(HWND parent, UINT dpi) {
    m_bar = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE |
                                  CCS_NOPARENTALIGN,
                              0, 0, 0, 0, parent, nullptr, m_instance, nullptr);
    ::SendMessageW(m_bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    // A drop-down button (Add) is split: the button does what it always did, its arrow drops the menu down.
    ::SendMessageW(m_bar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    m_progressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD, 0, 0, 0, 0, m_bar, nullptr, m_instance,
                                      nullptr); // hidden: nothing shows it
    ::SendMessageW(m_progressBar, PBM_SETRANGE32, 0, 100);
    m_progress.emplace(m_progressBar);
    ApplyDpi(dpi);

    // Separators carry their width in iBitmap.
    const TBBUTTON buttons[] = {
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {PropertiesGlyph, PropButton, 0, BTNS_BUTTON, {}, 0, 0},
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {RefreshGlyph, RefreshButton, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        // The button adds to the user's own Startup folder; its arrow offers the folder of all users.
        {AddGlyph, AddButton, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_DROPDOWN, {}, 0, 0},
        {DeleteGlyph, DeleteButton, 0, BTNS_BUTTON, {}, 0, 0},
        {kSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {ViewGlyph, ViewButton, TBSTATE_ENABLED, BTNS_BUTTON | BTNS_WHOLEDROPDOWN, {}, 0, 0},
        {kSeparator, kRestartSeparator, TBSTATE_HIDDEN, BTNS_SEP, {}, 0, 0},
        {ShieldGlyph, RestartButton, TBSTATE_ENABLED | TBSTATE_HIDDEN, BTNS_BUTTON, {}, 0, 0},
        {kHelpSeparator, 0, 0, BTNS_SEP, {}, 0, 0},
        {HelpGlyph, HelpButton, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0},
    };
    ::SendMessageW(m_bar, TB_ADDBUTTONSW, static_cast<WPARAM>(std::size(buttons)), reinterpret_cast<LPARAM>(buttons));
}

void TToolBar::ApplyDpi(UINT dpi) {
    m_dpi = dpi;
    // The glyph strip drawn for the nearest size at or below the monitor's.
    const int glyph = dpi >= 192 ? 32 : dpi >= 144 ? 24 : 16;
    const int strip = glyph == 32 ? IDB_TOOLBAR32 : glyph == 24 ? IDB_TOOLBAR24 : IDB_TOOLBAR16;
    m_images.Reset(::ImageList_Create(glyph, glyph, ILC_COLOR24 | ILC_MASK, 7, 0));
    UniqueBitmap bitmap(static_cast<HBITMAP>(
        ::LoadImageW(m_instance, MAKEINTRESOURCEW(strip), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (bitmap) {
        ::ImageList_AddMasked(m_images.Get(), bitmap.Get(), RGB(255, 0, 255));
    }
    m_disabledImages.Reset(::ImageList_Create(glyph, glyph, ILC_COLOR24 | ILC_MASK, 7, 0));
    if (bitmap) {
        UniqueBitmap faded(FadedCopy(bitmap.Get()));
        ::ImageList_AddMasked(m_disabledImages.Get(), faded ? faded.Get() : bitmap.Get(), RGB(255, 0, 255));
    }
    // The shield that Windows puts on every command that asks for an administrator's rights, at the glyph's size.
    // LoadIconWithScaleDown (common controls 6) scales it down from a larger image; without it, the system scales.
    using LoadScaledFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto loadScaled = reinterpret_cast<LoadScaledFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
    HICON shield = nullptr;
    if (loadScaled == nullptr || FAILED(loadScaled(nullptr, IDI_SHIELD, glyph, glyph, &shield))) {
        shield = static_cast<HICON>(::LoadImageW(nullptr, IDI_SHIELD, IMAGE_ICON, glyph, glyph, 0));
    }
    if (shield != nullptr) {
        const UniqueHicon owned(shield);
        ::ImageList_AddIcon(m_images.Get(), shield);
        ::ImageList_AddIcon(m_disabledImages.Get(), shield);
    }
    ::SendMessageW(m_bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_images.Get()));
    ::SendMessageW(m_bar, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(m_disabledImages.Get()));
    ::SendMessageW(m_bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(glyph, glyph));
    ::SendMessageW(m_bar, TB_SETBUTTONSIZE, 0,
                   MAKELPARAM(ScaleToDpi(kButtonWidth, dpi), ScaleToDpi(kButtonHeight, dpi)));
}

int TToolBar::LayOut(int width) {
    const int height = ScaleToDpi(kToolBarHeight, m_dpi);
    ::MoveWindow(m_bar, 0, 0, width, height, TRUE);
    RECT help{};
    ::SendMessageW(m_bar, TB_GETRECT, HelpButton, reinterpret_cast<LPARAM>(&help));
    ::MoveWindow(m_progressBar, help.right, help.top, ScaleToDpi(kProgressWidth, m_dpi),
                 ScaleToDpi(kButtonHeight, m_dpi), FALSE);
    return height;
}

void TToolBar::Enable(int command, bool enabled) {
    TbEnable(m_bar, command, enabled);
}

bool TToolBar::IsEnabled(int command) const {
    return TbIsEnabled(m_bar, command);
}

void TToolBar::ShowRestart(bool shown) {
    ::SendMessageW(m_bar, TB_HIDEBUTTON, kRestartSeparator, MAKELPARAM(!shown, 0));
    ::SendMessageW(m_bar, TB_HIDEBUTTON, RestartButton, MAKELPARAM(!shown, 0));
}

bool TToolBar::IsShown(int command) const {
    return ::SendMessageW(m_bar, TB_ISBUTTONHIDDEN, static_cast<WPARAM>(command), 0) == 0;
}

RECT TToolBar::ButtonRect(int command) const {
    RECT rect{};
    ::SendMessageW(m_bar, TB_GETRECT, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(&rect));
    ::MapWindowPoints(m_bar, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool TToolBar::HandleNotify(const NMHDR& header) {
    if (header.code != TTN_GETDISPINFOW) {
        return false;
    }
    auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
    info.lpszText = const_cast<wchar_t*>(HintOf(header.idFrom));
    return true;
}

} // namespace bw
