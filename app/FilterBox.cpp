#include "app/FilterBox.h"

#include "app/Controls.h"
#include "resources/Texts.h"

#include <commctrl.h>

#include <utility>

namespace bw {

TFilterBox::~TFilterBox() {
    if (m_edit != nullptr && ::IsWindow(m_edit)) {
        ::SetWindowLongPtrW(m_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_editProc));
        ::SetWindowLongPtrW(m_edit, GWLP_USERDATA, 0);
    }
}

void TFilterBox::Create(HWND parent, std::function<void()> leave) {
    m_leave = std::move(leave);
    m_edit = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr,
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | ES_AUTOHSCROLL, 0, 0, 0, 0,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControlId)), m_instance, nullptr);
    ::SendMessageW(m_edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(text::kFilterCue));
    // A plain window-procedure subclass, as the list's: the edit itself does nothing with Esc, Enter or Down.
    ::SetWindowLongPtrW(m_edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_editProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TFilterBox::EditProc)));
}

LRESULT CALLBACK TFilterBox::EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* box = reinterpret_cast<TFilterBox*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (box == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            box->Clear();
            return 0;
        }
        if ((wParam == VK_RETURN || wParam == VK_DOWN) && box->m_leave) {
            box->m_leave();
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == VK_ESCAPE || wParam == VK_RETURN) {
            return 0; // handled at the press; the edit would only beep
        }
        break;
    }
    return ::CallWindowProcW(box->m_editProc, window, message, wParam, lParam);
}

void TFilterBox::Move(int x, int y, int width, int height) {
    ::MoveWindow(m_edit, x, y, width, height, TRUE);
}

std::wstring TFilterBox::Text() const {
    return HwndGetText(m_edit);
}

void TFilterBox::Clear() {
    if (::GetWindowTextLengthW(m_edit) != 0) {
        HwndSetText(m_edit, L""); // the parent hears of it as of any change
    }
}

void TFilterBox::Focus() {
    ::SetFocus(m_edit);
    ::SendMessageW(m_edit, EM_SETSEL, 0, -1);
}

} // namespace bw
