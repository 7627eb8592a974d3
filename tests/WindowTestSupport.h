#pragma once

#include "TestEnvironment.h"

#include "app/Desktop.h"
#include "app/MainForm.h"
#include "platform/Signature.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace bw::test {

// Answers the window's dialogs as a test tells it and records what the window asked of the desktop.
class FakeDesktop : public TDesktop {
public:
    bool Confirm(HWND owner, const std::wstring& question) override;
    bool ConfirmDefaultNo(HWND owner, const std::wstring& question) override; // answers as Confirm does
    // The question between two changes: `choiceAnswer` when set, else Yes or No as `confirmAnswer` says.
    Answer Choose(HWND owner, const std::wstring& question, const wchar_t* yes, const wchar_t* no) override;
    std::optional<std::wstring> BrowseForProgram(HWND owner) override;
    void ShowError(HWND owner, const std::wstring& title, const std::wstring& text) override;
    void ShowProperties(HWND owner, const std::wstring& file) override;
    INT_PTR OpenWithShell(HWND owner, const std::wstring& file, const std::wstring& parameters,
                          const std::wstring& folder, int showCommand) override;
    UINT ChooseFromMenu(HWND owner, HMENU menu, POINT screenPoint) override;
    void ShowInFolder(HWND owner, const std::wstring& path) override;
    void OpenRegistryEditor(HWND owner, const std::wstring& key) override;
    void CopyText(HWND owner, const std::wstring& text) override;
    bool RunAsAdministrator(HWND owner, const std::wstring& program, const std::wstring& folder,
                            const std::wstring& parameters) override;

    // Every question, message, menu and file-open dialog comes here first: one shown while the window's thread
    // holds the store's lock is recorded, and a window test fails on it.
    void Asked(const std::wstring& what);
    std::vector<std::wstring> askedWhileLocked;

    bool confirmAnswer = true;
    std::optional<Answer> choiceAnswer;
    std::optional<std::wstring> browseAnswer;
    std::function<void()> whileDialogOpen; // runs while a dialog "is open", as a refresh might
    std::function<void()> whileErrorShown; // runs while the error box "is open"

    std::vector<std::wstring> questions;
    int browseCount = 0;
    struct Error {
        std::wstring title;
        std::wstring text;
    };
    std::vector<Error> errors;
    std::vector<std::wstring> propertiesShown;
    std::vector<std::wstring> shellOpened;
    std::vector<std::wstring> shellParameters; // of each in shellOpened

    // The pop-up menus shown, each as its items; the command the next one answers with (0: none chosen).
    struct MenuItem {
        std::wstring caption;
        UINT command;
        bool enabled;
        bool checked = false;
    };
    std::vector<std::vector<MenuItem>> menus;
    UINT menuAnswer = 0;
    std::vector<std::wstring> foldersShown;
    std::vector<std::wstring> registryKeysOpened;
    std::vector<std::wstring> copied;
    bool restartAnswer = true; // the elevated program started (the user said Yes to Windows' prompt)
    struct Restart {
        std::wstring program;
        std::wstring folder;
        std::wstring parameters;
    };
    std::vector<Restart> restarts;
};

struct Row {
    std::wstring name;
    std::wstring target;
    std::wstring location;
    bool checked;
    bool operator==(const Row& other) const {
        return name == other.name && target == other.target && location == other.location && checked == other.checked;
    }
};
void PrintTo(const Row& row, std::ostream* out);

// Handles this thread's messages as its message loop does until `done` holds, at most `bound` milliseconds; whether it
// holds. Unlike WindowTest::Pump, it never waits for an import under way to end.
template <typename Done> bool HandleMessagesUntil(Done done, ULONGLONG bound) {
    const ULONGLONG start = ::GetTickCount64();
    while (!done() && ::GetTickCount64() - start < bound) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return done();
}

// Sends the window WM_NULL from a thread of its own, again and again as other programs and the system do, and keeps
// the longest time one waited for its answer.
class AnswerWatch {
public:
    explicit AnswerWatch(HWND window) : m_window(window), m_thread([this] { Run(); }) {}
    // Stops; the caller's thread goes on answering until the last message sent has been answered.
    ~AnswerWatch() {
        m_stop = true;
        while (!m_ended) {
            MSG message{};
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            ::Sleep(1);
        }
        m_thread.join();
    }
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;
    ULONGLONG Longest() const { return m_longest; }

private:
    void Run() {
        while (!m_stop) {
            const ULONGLONG start = ::GetTickCount64();
            DWORD_PTR answer = 0;
            (void)::SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer);
            m_longest = std::max<ULONGLONG>(m_longest, ::GetTickCount64() - start);
            ::Sleep(5);
        }
        m_ended = true;
    }
    HWND m_window;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
    std::atomic<ULONGLONG> m_longest{0};
    std::thread m_thread;
};

// The store and system of StoreTest with the real main window on top.
class WindowTest : public StoreTest {
protected:
    ~WindowTest() override;
    void TearDown() override;

    void Open();
    // Handles every message waiting, as the message loop would, a long import, and the reading of the programs'
    // facts (unless m_waitForFacts is false).
    void Pump();
    void PumpUntilImported(); // runs the message loop until a long import has ended
    // The window's bounds as it would save them, and the window closed as the close box closes it.
    RECT NormalBounds() const {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        ::GetWindowPlacement(m_form->Handle(), &placement);
        return placement.rcNormalPosition;
    }
    void Close() {
        ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
        Pump();
        m_form.reset();
    }

    std::vector<Row> Rows() const;
    int RowOf(const std::wstring& name, int code) const;
    void ToggleRow(int item);                                         // as a click on the check box would
    void KeyUp(WPARAM key, bool shift = false, bool control = false); // pressed and released in the list
    void Click(int command);
    void Select(int item);
    void SelectAlso(int item);    // adds a row to the selection, as a Ctrl+click does
    void ClickHeader(int column); // the mouse pressed and released on the column's header
    std::wstring StatusPart(int part) const;

    FakeDesktop m_desktop;
    std::unique_ptr<TMainForm> m_form;
    bool m_waitForFacts = true;
    // The test programs carry no signature of their own, and Windows says so (TRUST_E_NOSIGNATURE); under the
    // scratch registry Wine cannot check a signature at all.
    TSeam<TrustAnswer(const std::wstring&)>::TScope m_unsignedFiles{seam::FileTrust.Replace([](const std::wstring&) {
        return TrustAnswer{static_cast<LONG>(0x800B0100), L"", false};
    })};
};

} // namespace bw::test
