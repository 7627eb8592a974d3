#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace bw {

// The filter box on the tool bar: a one-line edit whose text narrows the list. Esc clears it; Enter and the Down
// key give the focus to the list.
class TFilterBox {
public:
    static constexpr int kControlId = 120; // of its EN_CHANGE notifications to the parent

    explicit TFilterBox(HINSTANCE instance) : m_instance(instance) {}
    ~TFilterBox();
    TFilterBox(const TFilterBox&) = delete;
    TFilterBox& operator=(const TFilterBox&) = delete;

    // `leave` is where Enter and Down put the focus.
    void Create(HWND parent, std::function<void()> leave);
    void Move(int x, int y, int width, int height);
    HWND Handle() const { return m_edit; }

    std::wstring Text() const;
    void Clear();
    // Puts the focus in the box with its text selected, so that typing replaces it.
    void Focus();

private:
    static LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_instance;
    HWND m_edit = nullptr;
    WNDPROC m_editProc = nullptr;
    std::function<void()> m_leave;
};

} // namespace bw
