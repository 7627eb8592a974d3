// The entry a start of the window is asked to select: its arguments, and the row selected in a window that opens or
// that is open already.
#include "WindowTestSupport.h"

#include "app/EntrySelection.h"
#include "app/SingleInstance.h"

namespace bw::test {
namespace {

// Whatever the name holds, it comes back whole, and no part of it is taken for one of the program's switches.
TEST(StartArgumentsTest, AnyNameComesBackWholeAndNothingInItIsTakenForASwitch) {
    const std::wstring names[] = {L"Plain",
                                  L"With blanks",
                                  L"",
                                  L"\"quoted\"",
                                  L"say \"hi\" now",
                                  L"back\\slash",
                                  L"ends in backslashes\\\\",
                                  L"a\\\"b",
                                  L"\\\\\"",
                                  L"x --watch y",
                                  L"--after 4242",
                                  L"--select 2 other",
                                  L"\ttab",
                                  std::wstring(L"zero\0inside", 11),
                                  std::wstring(L"\0", 1),
                                  std::wstring(L"two\0\0zeros\0", 11)};
    for (const std::wstring& name : names) {
        for (const int code : {kUser, kCommonOffCode}) {
            const StartArguments read = ReadStartArguments(L"\"C:\\Program Files\\Bootwarden\\Bootwarden.exe\" " +
                                                           SelectArguments({code, name}));
            EXPECT_EQ(read.selection, (EntrySelection{code, name})) << name;
            EXPECT_EQ(read.head, L"") << name;
        }
    }
    // The switches before the selection stay what they are.
    const StartArguments read = ReadStartArguments(L"Bootwarden.exe --after 42 " + SelectArguments({kUser, L"x"}));
    EXPECT_EQ(HandOverFrom(read.head), std::optional<DWORD>(42));
    EXPECT_EQ(read.selection, (EntrySelection{kUser, L"x"}));
    // A selection without a name or a location is none.
    EXPECT_FALSE(ReadStartArguments(L"Bootwarden.exe --select 2").selection);
    EXPECT_FALSE(ReadStartArguments(L"Bootwarden.exe --select User Tool").selection);
    EXPECT_FALSE(ReadStartArguments(L"Bootwarden.exe").selection);
}

class SelectionWindowTest : public WindowTest {
protected:
    int Selected() const { return m_form->EntryList().Selected(); }
};

} // namespace

// The first start selects the entry once its import has listed it; an open window selects what a second start
// hands it; an entry that is gone by then selects nothing and says nothing.
TEST_F(SelectionWindowTest, TheEntryAskedForIsSelectedInANewWindowAndInAnOpenOne) {
    for (int i = 0; i < 40; ++i) {
        m_registry.SetRunValue(Location::User, L"Tool " + std::to_wstring(i),
                               L"c:\\tools\\tool.exe " + std::to_wstring(i));
    }
    const std::wstring odd = L"Odd \"name\" \\ here\\";
    m_registry.SetRunValue(Location::User, odd, L"c:\\odd.exe");
    m_form = std::make_unique<TMainForm>(::GetModuleHandleW(nullptr), m_desktop, m_programDir);
    ASSERT_TRUE(m_form->Create(SW_SHOWNORMAL));
    m_form->SelectEntry({kUser, L"Tool 37"}); // as main does once the window is there, the import under way
    Pump();
    ASSERT_GE(RowOf(L"Tool 37", kUser), 0);
    EXPECT_EQ(Selected(), RowOf(L"Tool 37", kUser));

    ASSERT_TRUE(HandSelectionTo(m_form->Handle(), {kUser, odd}));
    Pump();
    EXPECT_EQ(Selected(), RowOf(odd, kUser));
    EXPECT_GE(Selected(), 0);

    // Gone by then: nothing more happens.
    const int before = Selected();
    EXPECT_TRUE(HandSelectionTo(m_form->Handle(), {kUser, L"Gone"}));
    EXPECT_TRUE(HandSelectionTo(m_form->Handle(), {kStartUp, L"Tool 3"})); // the name, but in another place
    Pump();
    EXPECT_EQ(Selected(), before);
    EXPECT_TRUE(m_desktop.errors.empty());

    // A message of another program is not taken for one.
    COPYDATASTRUCT other{1, 0, nullptr};
    EXPECT_EQ(::SendMessageW(m_form->Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other)), FALSE);
    Close();

    // A start after the first: the list is there at once.
    Open();
    m_form->SelectEntry({kUser, L"Tool 5"});
    Pump();
    EXPECT_EQ(Selected(), RowOf(L"Tool 5", kUser));
}

} // namespace bw::test
