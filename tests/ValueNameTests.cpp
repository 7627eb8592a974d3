#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/ShellLink.h"
#include "store/Entry.h"
#include "store/EntryOperations.h"

namespace bw::test {

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using Values = std::map<std::wstring, std::wstring>;

// A value that another program made beside "x" with a counted name: every C-string call takes it for "x".
const std::wstring kHidden(L"x\0hidden", 8);

class HiddenNameTest : public SessionTest {
protected:
    ~HiddenNameTest() override {
        // `reg delete` and the C-string calls cannot remove it; the scratch key goes with it all the same.
        m_registry.RemoveCountedRunValue(Location::User, kHidden);
    }

    Values RunValues() const { return m_registry.CountedRunValues(Location::User); }
};

} // namespace

// The registry wrapper never acts on "x" for "x<NUL>hidden": reads, writes and deletes take the whole name.
TEST_F(HiddenNameTest, RegistryCallsActOnTheWholeName) {
    m_registry.SetRunValue(Location::User, L"x", L"c:\\x.exe");
    TRegistry registry;
    registry.SelectRoot(HKEY_CURRENT_USER);
    ASSERT_TRUE(registry.OpenExistingKey(kRunKeyPath, 0, KeyAccess::Write));

    EXPECT_FALSE(registry.HasValue(kHidden)) << "not there: \"x\" must not answer for it";
    EXPECT_EQ(registry.ReadText(kHidden), L"");

    registry.WriteText(kHidden, L"c:\\hidden.exe", REG_EXPAND_SZ);
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}, {kHidden, L"c:\\hidden.exe"}}));
    const auto value = registry.Value(kHidden);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->name, kHidden);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(value->Text(), L"c:\\hidden.exe");
    EXPECT_EQ(registry.ReadText(kHidden), L"c:\\hidden.exe");
    EXPECT_EQ(registry.ValueType(kHidden), static_cast<DWORD>(REG_EXPAND_SZ));

    EXPECT_TRUE(registry.RemoveValue(kHidden));
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}}));
    EXPECT_FALSE(registry.RemoveValue(kHidden)) << "already gone";
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}}));
}

// Switching the hidden entry off and on, carrying an edit of its store link, and deleting it each act on it
// alone; "x" starts throughout, and each is kept by a store link of its own.
TEST_F(HiddenNameTest, AnEntryWhoseNameHoldsAZeroIsChangedByItself) {
    m_registry.SetRunValue(Location::User, L"x", L"c:\\x.exe");
    m_registry.SetCountedRunValue(Location::User, kHidden, L"c:\\hidden.exe");
    (void)Listed();
    const Entry hidden = Row(kUser, kHidden);
    const Entry plain = Row(kUser, L"x");
    EXPECT_EQ(hidden.description, L"c:\\hidden.exe");
    EXPECT_EQ(plain.description, L"c:\\x.exe");
    EXPECT_FALSE(SameFileName(hidden.storeLinkPath, plain.storeLinkPath));
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"=x%0000hidden.lnk", L"x.lnk"));

    DisableEntry(hidden);
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}}));
    (void)Listed();
    EXPECT_EQ(Row(kUserOff, kHidden).description, L"c:\\hidden.exe");
    EXPECT_EQ(Row(kUser, L"x").description, L"c:\\x.exe");

    EnableEntry(Row(kUserOff, kHidden), nullptr);
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}, {kHidden, L"c:\\hidden.exe"}}));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre());

    (void)Listed();
    EditShortcut(StorePath(kUser, kHidden), [](TShellLink& link) { link.SetDescription(L"c:\\hidden-2.exe"); });
    (void)Listed();
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}, {kHidden, L"c:\\hidden-2.exe"}}));

    DeleteEntry(Row(kUser, kHidden));
    EXPECT_EQ(RunValues(), (Values{{L"x", L"c:\\x.exe"}}));
    (void)Listed();
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"x.lnk"));
}

// Names that differ only in a half of a surrogate pair standing alone are two entries, each changed exactly.
TEST_F(HiddenNameTest, NamesWithALoneSurrogateAreKeptApart) {
    const std::wstring first = L"tool\xD800";
    const std::wstring second = L"tool\xD801";
    m_registry.SetRunValue(Location::User, first, L"c:\\first.exe");
    m_registry.SetRunValue(Location::User, second, L"c:\\second.exe");
    (void)Listed();
    EXPECT_FALSE(SameFileName(Row(kUser, first).storeLinkPath, Row(kUser, second).storeLinkPath));

    DisableEntry(Row(kUser, first));
    EXPECT_EQ(RunValues(), (Values{{second, L"c:\\second.exe"}}));
    (void)Listed();
    EnableEntry(Row(kUserOff, first), nullptr);
    EXPECT_EQ(RunValues(), (Values{{first, L"c:\\first.exe"}, {second, L"c:\\second.exe"}}));
}

// A person sees every character of a name: a zero or another control character as its symbol, a lone half of a
// surrogate pair as the replacement character; a message that names it is never cut at the zero.
TEST(VisibleNames, ControlCharactersAndLoneSurrogatesCanBeSeen) {
    EXPECT_EQ(VisibleName(kHidden), L"x\u2400hidden");
    EXPECT_EQ(VisibleName(L"a\tb\x1F\x7F"), L"a\u2409b\u241F\u2421");
    EXPECT_EQ(VisibleName(L"\xD800x\xDC00"), L"\uFFFDx\uFFFD");
    EXPECT_EQ(VisibleName(L"smile \xD83D\xDE00"), L"smile \xD83D\xDE00") << "a whole pair is one character";
    EXPECT_EQ(VisibleName(L"Plain name"), L"Plain name");

    EXPECT_EQ(FormatMessageText(L"\"%s\" (%s)", {kHidden, L"hkcu"}), L"\"x\u2400hidden\" (hkcu)");
}

} // namespace bw::test
