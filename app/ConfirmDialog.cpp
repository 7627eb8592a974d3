#include "app/Desktop.h"

#include "resources/Texts.h"

#include <algorithm>
#include <vector>

namespace bw {

namespace {

constexpr int kIconId = 100;
constexpr int kTextId = 101;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// Builds a dialog template in memory: the dialog needs no resource, and its texts are the program's own.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, const wchar_t* title, WORD pointSize, const wchar_t* font) {
        AddDword(style | DS_SETFONT);
        AddDword(0); // extended style
        m_countAt = m_words.size();
        AddWord(0); // item count, filled in as items are added
        AddShorts({0, 0, cx, cy});
        AddWord(0); // no menu
        AddWord(0); // the standard dialog class
        AddString(title);
        AddWord(pointSize);
        AddString(font);
    }

    void AddItem(DWORD style, short x, short y, short cx, short cy, WORD id, WORD windowClass, const wchar_t* text) {
        if (m_words.size() % 2 != 0) {
            AddWord(0); // every item starts on a DWORD boundary
        }
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        AddShorts({x, y, cx, cy});
        AddWord(id);
        AddWord(0xFFFF);
        AddWord(windowClass);
        AddString(text);
        AddWord(0); // no creation data
        ++m_words[m_countAt];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void AddWord(WORD word) { m_words.push_back(word); }
    void AddDword(DWORD value) {
        AddWord(LOWORD(value));
        AddWord(HIWORD(value));
    }
    void AddShorts(std::initializer_list<short> values) {
        for (short value : values) {
            AddWord(static_cast<WORD>(value));
        }
    }
    void AddString(const wchar_t* text) {
        for (; *text != L'\0'; ++text) {
            AddWord(static_cast<WORD>(*text));
        }
        AddWord(0);
    }

    std::vector<WORD> m_words; // a vector of WORD is aligned for the DWORDs the template starts with
    size_t m_countAt = 0;
};

struct DialogState {
    const std::wstring* question;
    int defaultButton;
    int cancelAnswer; // what Escape and the close box answer
};

constexpr int kButtonIds[] = {IDYES, IDNO, IDCANCEL};

// Grows the text to fit the question, moves the buttons under it and centres the dialog on the screen.
void LayOut(HWND dialog, const std::wstring& question) {
    HWND text = ::GetDlgItem(dialog, kTextId);
    RECT textRect{};
    ::GetWindowRect(text, &textRect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&textRect), 2);

    HDC dc = ::GetDC(text);
    const auto oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0)));
    RECT needed{0, 0, textRect.right - textRect.left, 0};
    ::DrawTextW(dc, question.c_str(), static_cast<int>(question.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(text, dc);

    const int grow = std::max<int>(0, (needed.bottom - needed.top) - (textRect.bottom - textRect.top));
    if (grow > 0) {
        ::SetWindowPos(text, nullptr, 0, 0, textRect.right - textRect.left, needed.bottom - needed.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        for (int id : kButtonIds) {
            HWND button = ::GetDlgItem(dialog, id);
            if (button == nullptr) {
                continue;
            }
            RECT rect{};
            ::GetWindowRect(button, &rect);
            ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
            ::SetWindowPos(button, nullptr, rect.left, rect.top + grow, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }

    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top + grow;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    ::SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ConfirmProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto* state = reinterpret_cast<const DialogState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SendDlgItemMessageW(dialog, kIconId, STM_SETICON,
                              reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_QUESTION)), 0);
        ::SetDlgItemTextW(dialog, kTextId, state->question->c_str());
        LayOut(dialog, *state->question);
        ::SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(state->defaultButton), 0);
        ::SetFocus(::GetDlgItem(dialog, state->defaultButton));
        return FALSE; // the focus is set
    }
    case WM_COMMAND: {
        const auto* state = reinterpret_cast<const DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDYES:
        case IDNO:
            ::EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDCANCEL: // Escape, the close box, the "later" button, or the window closing meanwhile
            ::EndDialog(dialog, state != nullptr ? state->cancelAnswer : IDCANCEL);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

struct Button {
    int id;
    const wchar_t* caption;
    short width;
};

// The question dialog with `buttons` in a row under the text, `defaultButton` the default with the focus.
int ShowQuestionDialog(HWND owner, const std::wstring& question, std::initializer_list<Button> buttons,
                       int defaultButton, int cancelAnswer) {
    short row = 0;
    for (const Button& button : buttons) {
        row = static_cast<short>(row + button.width + 6);
    }
    const short width = std::max<short>(232, static_cast<short>(row + 52));
    DialogTemplate dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, width, 62,
                          text::kConfirmCaption, 8, L"MS Shell Dlg");
    dialog.AddItem(SS_ICON, 10, 10, 20, 20, kIconId, kStaticClass, L"");
    dialog.AddItem(SS_LEFT | SS_NOPREFIX, 42, 14, static_cast<short>(width - 52), 16, kTextId, kStaticClass, L"");
    short x = static_cast<short>((width - row + 6) / 2);
    bool first = true;
    for (const Button& button : buttons) {
        const DWORD kind = button.id == defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        dialog.AddItem(kind | WS_TABSTOP | (first ? WS_GROUP : 0), x, 38, button.width, 14,
                       static_cast<WORD>(button.id), kButtonClass, button.caption);
        x = static_cast<short>(x + button.width + 6);
        first = false;
    }
    DialogState state{&question, defaultButton, cancelAnswer};
    return static_cast<int>(::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.Get(), owner, ConfirmProc,
                                                      reinterpret_cast<LPARAM>(&state)));
}

} // namespace

int ShowConfirmDialog(HWND owner, const std::wstring& question, int defaultButton) {
    const int answer = ShowQuestionDialog(owner, question, {{IDYES, text::kYes, 50}, {IDNO, text::kNo, 50}},
                                          defaultButton != IDNO ? IDYES : IDNO, IDNO); // Escape and closing answer No
    return answer == IDYES ? IDYES : IDNO;
}

int ShowChoiceDialog(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no) {
    const int answer = ShowQuestionDialog(
        owner, question, {{IDYES, yes, 84}, {IDNO, no, 84}, {IDCANCEL, text::kLater, 60}}, IDCANCEL, IDCANCEL);
    return answer == IDYES || answer == IDNO ? answer : IDCANCEL;
}

namespace {

struct OwnedDialogs {
    HWND owner;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectOwnedDialog(HWND window, LPARAM lParam) {
    auto& found = *reinterpret_cast<OwnedDialogs*>(lParam);
    wchar_t className[16]{};
    ::GetClassNameW(window, className, 16);
    if (::GetWindow(window, GW_OWNER) == found.owner && std::wstring(className) == L"#32770") {
        found.dialogs.push_back(window);
    }
    return TRUE;
}

} // namespace

void EndQuestions(HWND owner) {
    OwnedDialogs found{owner, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), &CollectOwnedDialog, reinterpret_cast<LPARAM>(&found));
    for (HWND dialog : found.dialogs) {
        // What Escape sends: our questions take it for no answer, a message box with only "OK" for OK, the
        // file-open dialog for Cancel.
        const int id =
            ::GetDlgItem(dialog, IDCANCEL) == nullptr && ::GetDlgItem(dialog, IDOK) != nullptr ? IDOK : IDCANCEL;
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    ::EndMenu(); // a pop-up menu chooses nothing
}

} // namespace bw
