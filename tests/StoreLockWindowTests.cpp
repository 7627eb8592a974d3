#include "WindowTestSupport.h"

#include "app/SingleInstance.h"
#include "platform/NamedObjects.h"
#include "resources/Texts.h"
#include "store/StoreLock.h"
#include "store/StoreSession.h"

#include <thread>

namespace bw::test {

namespace {

// The store's lock held by another thread, as bwcli holds it from another process: the window's own thread could
// take a lock it holds itself again.
class OtherHolder {
public:
    OtherHolder() : m_release(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        UniqueObject taken(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_thread = std::thread([this, &taken] {
            TNamedMutex mutex(StoreLockName(ProgramDir()));
            const bool held = mutex.Acquire(0);
            ::SetEvent(taken.Get());
            if (held) {
                ::WaitForSingleObject(m_release.Get(), INFINITE);
            }
        });
        ::WaitForSingleObject(taken.Get(), INFINITE);
    }
    ~OtherHolder() { Release(); }
    void Release() {
        if (m_thread.joinable()) {
            ::SetEvent(m_release.Get());
            m_thread.join();
        }
    }

private:
    UniqueObject m_release;
    std::thread m_thread;
};

// A refresh of the store as bwcli runs it, from another thread of its own: the lock, a session of its own, and
// the count of work moved on.
void RefreshAsAnotherProcess() {
    std::thread other([] {
        (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            const TStoreLock lock;
            TStoreWatch watch;
            TStoreSession session;
            (void)session.Refresh(false, nullptr);
            watch.Seen();
        }
        ::CoUninitialize();
    });
    other.join();
}

// Lets every stamp settle, so that each change below is told from the one before by its stamp.
void Settle() {
    ::Sleep(250);
}

class StoreLockWindowTest : public WindowTest {};

} // namespace

TEST_F(StoreLockWindowTest, ToggleWhileAnotherProcessWorksSaysTheStoreIsBusyAndChangesNothing) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    Open();
    OtherHolder other;
    ToggleRow(RowOf(L"Tool", kUser));
    Pump();
    ASSERT_EQ(m_desktop.errors.size(), 1u);
    EXPECT_EQ(m_desktop.errors[0].text, ErrorBoxText(text::kStoreBusy));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_TRUE(StoreNames(kUserOff).empty());
    EXPECT_TRUE(Rows().at(static_cast<size_t>(RowOf(L"Tool", kUser))).checked); // the box shows it still starts
}

TEST_F(StoreLockWindowTest, RefreshWhileAnotherProcessWorksRunsOnceItIsDone) {
    Open();
    auto other = std::make_unique<OtherHolder>();
    m_registry.SetRunValue(Location::User, L"Late", L"c:\\late.exe");
    m_form->RefreshAll();
    Pump();
    EXPECT_TRUE(Rows().empty()); // it waited briefly, and let the other finish
    EXPECT_TRUE(m_desktop.errors.empty());
    other.reset();
    for (int i = 0; i < 40 && Rows().empty(); ++i) {
        ::Sleep(50);
        Pump();
    }
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_THAT(StoreNames(kUser), ::testing::ElementsAre(L"Late.lnk"));
}

// The window's last import left "Tool" at v1; an updater wrote v2, bwcli's import carried v2 into the store link,
// and the updater wrote v3. The store link differs from what the window left, but it is no edit: v3 stays.
TEST_F(StoreLockWindowTest, AnImportByAnotherProcessIsNotTakenForAnEdit) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\v1.exe");
    Open();
    Settle();
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\v2.exe");
    Settle();
    RefreshAsAnotherProcess();
    ASSERT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool\\v2.exe");
    Settle();
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\v3.exe");
    Settle();
    m_form->RefreshAll();
    Pump();
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool\\v3.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool\\v3.exe");

    // The window's own imports are bases again: an edit of the store link now is carried into the system.
    Settle();
    WriteShortcut(StorePath(kUser, L"Tool"), L"c:\\tool\\mine.exe", L"c:\\tool\\mine.exe");
    Settle();
    m_form->RefreshAll();
    Pump();
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool\\mine.exe");
}

// An edit of a store link that the window has not written back yet when another process works on the store (bwcli
// lists the entries) is news for neither: the window takes in that process's bases and still carries the edit.
TEST_F(StoreLockWindowTest, APendingEditOutlivesAnotherProcesssWork) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool\\v1.exe");
    Open();
    Settle();
    WriteShortcut(StorePath(kUser, L"Tool"), L"c:\\tool\\mine.exe", L"c:\\tool\\mine.exe");
    Settle();
    RefreshAsAnotherProcess();
    ASSERT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool\\v1.exe");
    m_form->RefreshAll();
    Pump();
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool\\mine.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool\\mine.exe");
}

TEST_F(StoreLockWindowTest, ASecondStartOnTheStoreBringsTheFirstWindowBack) {
    Open();
    TNamedValue first(StoreWindowName(m_programDir));
    ASSERT_FALSE(first.Existed());
    PublishWindow(first, m_form->Handle());
    ::ShowWindow(m_form->Handle(), SW_MINIMIZE);
    Pump();
    ASSERT_TRUE(::IsIconic(m_form->Handle()));

    // What main does at a second start, before it reads anything.
    TNamedValue second(StoreWindowName(m_programDir));
    ASSERT_TRUE(second.Existed());
    EXPECT_TRUE(BringFirstWindowToFront(second, 1000));
    Pump();
    EXPECT_FALSE(::IsIconic(m_form->Handle()));

    // Another store has a window of its own.
    TempFolder elsewhere;
    TNamedValue other(StoreWindowName(elsewhere.Path()));
    EXPECT_FALSE(other.Existed());
    EXPECT_FALSE(BringFirstWindowToFront(other, 0));
}

} // namespace bw::test
