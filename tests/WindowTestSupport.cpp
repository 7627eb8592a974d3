#include "WindowTestSupport.h"

#include "app/CommandWork.h"
#include "app/Controls.h"
#include "platform/NamedObjects.h"
#include "store/Locations.h"
#include "store/StoreLock.h"

#include <ostream>
#include <thread>
#include <utility>

namespace bw::test {

namespace {

// True when this thread, the window's, holds the store's lock: another thread cannot take it, and this one can (a
// mutex is taken again by the thread that owns it, and only by that one).
bool ThisThreadHoldsTheStoreLock() {
    if (ProgramDir().empty()) {
        return false;
    }
    bool freeElsewhere = true;
    std::thread other([&] {
        try {
            TNamedMutex mutex(StoreLockName(ProgramDir()));
            freeElsewhere = mutex.Acquire(0);
        } catch (const EBootwarden&) {
            // not to be shared here: nobody of this program holds it
        }
    });
    other.join();
    if (freeElsewhere) {
        return false;
    }
    try {
        TNamedMutex mutex(StoreLockName(ProgramDir()));
        return mutex.Acquire(0);
    } catch (const EBootwarden&) {
        return false;
    }
}

} // namespace

void FakeDesktop::Asked(const std::wstring& what) {
    if (ThisThreadHoldsTheStoreLock()) {
        askedWhileLocked.push_back(what);
    }
}

bool FakeDesktop::Confirm(HWND, const std::wstring& question) {
    Asked(question);
    questions.push_back(question);
    if (whileDialogOpen) {
        whileDialogOpen();
    }
    return confirmAnswer;
}

bool FakeDesktop::ConfirmDefaultNo(HWND owner, const std::wstring& question) {
    return Confirm(owner, question);
}

Answer FakeDesktop::Choose(HWND, const std::wstring& question, const wchar_t*, const wchar_t*) {
    Asked(question);
    questions.push_back(question);
    if (whileDialogOpen) {
        whileDialogOpen();
    }
    return choiceAnswer ? *choiceAnswer : confirmAnswer ? Answer::Yes : Answer::No;
}

std::optional<std::wstring> FakeDesktop::BrowseForProgram(HWND) {
    Asked(L"the file-open dialog");
    ++browseCount;
    if (whileDialogOpen) {
        whileDialogOpen();
    }
    return browseAnswer;
}

void FakeDesktop::ShowError(HWND, const std::wstring& title, const std::wstring& text) {
    Asked(text);
    errors.push_back({title, text});
    if (whileErrorShown) {
        const auto action = std::move(whileErrorShown);
        whileErrorShown = nullptr;
        action();
    }
}

void FakeDesktop::ShowProperties(HWND, const std::wstring& file) {
    propertiesShown.push_back(file);
}

INT_PTR FakeDesktop::OpenWithShell(HWND, const std::wstring& file, const std::wstring& parameters, const std::wstring&,
                                   int) {
    shellOpened.push_back(file);
    shellParameters.push_back(parameters);
    return 42;
}

UINT FakeDesktop::ChooseFromMenu(HWND, HMENU menu, POINT) {
    std::vector<MenuItem> items;
    for (int item = 0; item < ::GetMenuItemCount(menu); ++item) {
        wchar_t caption[128]{};
        ::GetMenuStringW(menu, static_cast<UINT>(item), caption, 128, MF_BYPOSITION);
        const UINT state = ::GetMenuState(menu, static_cast<UINT>(item), MF_BYPOSITION);
        if ((state & MF_SEPARATOR) == 0) {
            items.push_back({caption, ::GetMenuItemID(menu, item), (state & (MF_GRAYED | MF_DISABLED)) == 0,
                             (state & MF_CHECKED) != 0});
        }
    }
    Asked(L"a pop-up menu");
    menus.push_back(std::move(items));
    if (whileDialogOpen) {
        whileDialogOpen();
    }
    return std::exchange(menuAnswer, 0);
}

void FakeDesktop::ShowInFolder(HWND, const std::wstring& path) {
    foldersShown.push_back(path);
}

void FakeDesktop::OpenRegistryEditor(HWND, const std::wstring& key) {
    registryKeysOpened.push_back(key);
}

void FakeDesktop::CopyText(HWND, const std::wstring& text) {
    copied.push_back(text);
}

bool FakeDesktop::RunAsAdministrator(HWND, const std::wstring& program, const std::wstring& folder,
                                     const std::wstring& parameters) {
    restarts.push_back({program, folder, parameters});
    return restartAnswer;
}

void PrintTo(const Row& row, std::ostream* out) {
    const auto narrow = [](const std::wstring& text) {
        std::string result;
        for (wchar_t c : text) {
            result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return result;
    };
    *out << "{" << narrow(row.name) << " | " << narrow(row.target) << " | " << narrow(row.location) << " | "
         << (row.checked ? "on" : "off") << "}";
}

WindowTest::~WindowTest() {
    m_form.reset();
    Pump();
    // A settings file written beside a program on a share is written on a thread of its own: it ends before the
    // scratch folders go.
    (void)TCommandWork::WaitForLeftRunning(10000);
}

void WindowTest::TearDown() {
    EXPECT_THAT(m_desktop.askedWhileLocked, ::testing::IsEmpty()) << "asked while the store was held";
    StoreTest::TearDown();
}

void WindowTest::Open() {
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    Pump();
}

void WindowTest::Pump() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    if (m_form && ::IsWindow(m_form->Handle()) && m_form->Importing()) {
        PumpUntilImported();
    }
    // The programs' publishers and signers, and the entries' icons, come from the readers' threads; what they show
    // is waited for.
    const ULONGLONG start = ::GetTickCount64();
    while (m_waitForFacts && m_form && ::IsWindow(m_form->Handle()) &&
           (m_form->EntryList().FactsPending() || m_form->EntryList().IconsPending()) &&
           ::GetTickCount64() - start < 20000) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
}

std::vector<Row> WindowTest::Rows() const {
    std::vector<Row> rows;
    const HWND list = m_form->List();
    for (int item = 0; item < LvGetItemCount(list); ++item) {
        rows.push_back({LvGetItemText(list, item, 0), LvGetItemText(list, item, 1), LvGetItemText(list, item, 2),
                        LvGetCheck(list, item)});
    }
    return rows;
}

int WindowTest::RowOf(const std::wstring& name, int code) const {
    return m_form->EntryList().FindRow(name, code);
}

void WindowTest::PumpUntilImported() {
    const ULONGLONG start = ::GetTickCount64();
    while (m_form->Importing() && ::GetTickCount64() - start < 120000) {
        MSG message{};
        if (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    Pump();
}

void WindowTest::ToggleRow(int item) {
    LvSetCheck(m_form->List(), item, !LvGetCheck(m_form->List(), item));
    Pump();
}

void WindowTest::KeyUp(WPARAM key, bool shift, bool control) {
    // The modifiers are held for real, as far as the key state goes.
    BYTE state[256]{};
    ::GetKeyboardState(state);
    BYTE held[256];
    std::copy(std::begin(state), std::end(state), std::begin(held));
    held[VK_SHIFT] = shift ? 0x80 : 0;
    held[VK_CONTROL] = control ? 0x80 : 0;
    ::SetKeyboardState(held);
    ::SendMessageW(m_form->List(), WM_KEYDOWN, key, 0x00000001);
    ::SendMessageW(m_form->List(), WM_KEYUP, key, 0xC0000001);
    ::SetKeyboardState(state);
    Pump();
}

void WindowTest::Click(int command) {
    ::SendMessageW(m_form->Handle(), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(m_form->ToolBar()));
    Pump();
}

void WindowTest::Select(int item) {
    // As a click does: the row alone is selected.
    ListView_SetItemState(m_form->List(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (item >= 0) {
        LvSelect(m_form->List(), item);
    }
    Pump();
}

void WindowTest::SelectAlso(int item) {
    ListView_SetItemState(m_form->List(), item, LVIS_SELECTED, LVIS_SELECTED);
    Pump();
}

void WindowTest::ClickHeader(int column) {
    const HWND header = ListView_GetHeader(m_form->List());
    RECT bounds{};
    ASSERT_TRUE(Header_GetItemRect(header, column, &bounds));
    const LPARAM at = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(header, WM_LBUTTONUP, 0, at);
    Pump();
}

std::wstring WindowTest::StatusPart(int part) const {
    const HWND bar = m_form->StatusBar();
    const auto length = LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

} // namespace bw::test
