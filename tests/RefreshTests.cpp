#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "store/StoreSession.h"

#include <algorithm>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class RefreshCycleTest : public StoreTest {
protected:
    bool Refresh() { return m_session.Refresh(true, nullptr); }

    // Lets time pass for the files of the store and the Startup folder: their stamps are set an hour back, as
    // if every change lay long behind. Then refreshes until a refresh finds nothing changed.
    void Settle() {
        FILETIME now = SystemTimeNow();
        ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
        ticks.QuadPart -= 3600ULL * 10'000'000ULL;
        const FILETIME past{ticks.LowPart, ticks.HighPart};
        std::vector<std::wstring> folders = {m_startup};
        for (int code : AllCodes()) {
            folders.push_back(StoreFolderPath(code));
        }
        for (const std::wstring& folder : folders) {
            for (const std::wstring& name : FolderNames(folder)) {
                UniqueFile file(::CreateFileW((folder + L"\\" + name).c_str(), FILE_WRITE_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
                ::SetFileTime(file.Get(), &past, nullptr, &past);
            }
        }
        ::Sleep(150); // the registry's own step
        for (int i = 0; i < 5 && Refresh(); ++i) {
        }
        ASSERT_FALSE(Refresh()) << "the store never settled";
    }

    const Entry* Find(int code, const std::wstring& name) const {
        for (const Entry& entry : m_session.Entries()) {
            if (entry.code == code && entry.name == name) {
                return &entry;
            }
        }
        return nullptr;
    }

    std::string RawValue(const std::wstring& name) const {
        TRegistry registry;
        registry.SelectRoot(HKEY_CURRENT_USER);
        EXPECT_TRUE(registry.OpenExistingKey(kRunKeyPath));
        const auto value = registry.Value(name);
        return value ? value->data : std::string("(none)");
    }

    TStoreSession m_session;
};

// A refresh that finds nothing changed does nothing; every kind of change from outside is still seen by the
// next refresh, however soon after the last one it lands.
TEST_F(RefreshCycleTest, SeesEveryKindOfChangeAndOnlyThen) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\gone.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"first");
    ASSERT_TRUE(Refresh());
    Settle();

    // Value data of the same length, written right after a refresh.
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-2.exe");
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(Find(kUser, L"Tool")->description, L"c:\\tool-2.exe");
    Settle();

    m_registry.SetRunValue(Location::User, L"New", L"c:\\new.exe");
    EXPECT_TRUE(Refresh());
    EXPECT_NE(Find(kUser, L"New"), nullptr);

    m_registry.RemoveRunValue(Location::User, L"Gone");
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(Find(kUser, L"Gone"), nullptr);
    Settle();

    // A Startup shortcut edited, and edited again within the same step of the file system's clock: its times
    // are put back as they were, so its stamp (times, size, attributes) is the very one the last refresh read.
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"secnd");
    EXPECT_TRUE(Refresh());
    const FileStamp seen = *StampAt(StartupPath(L"Notes.lnk"));
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"third");
    {
        UniqueFile file(::CreateFileW(StartupPath(L"Notes.lnk").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(::SetFileTime(file.Get(), &seen.created, nullptr, &seen.written));
    }
    ASSERT_EQ(*StampAt(StartupPath(L"Notes.lnk")), seen);
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(Find(kStartUp, L"Notes")->description, L"third");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).description, L"third");
    Settle();

    // A store link edited through its properties: carried into the system; and again within one step of the
    // clock, its stamp unchanged.
    WriteShortcut(StorePath(kUser, L"Tool"), L"c:\\tool-3.exe", L"c:\\tool-3.exe");
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-3.exe");
    const FileStamp toolSeen = *StampAt(StorePath(kUser, L"Tool"));
    WriteShortcut(StorePath(kUser, L"Tool"), L"c:\\tool-4.exe", L"c:\\tool-4.exe");
    {
        UniqueFile file(::CreateFileW(StorePath(kUser, L"Tool").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(::SetFileTime(file.Get(), &toolSeen.created, nullptr, &toolSeen.written));
    }
    ASSERT_EQ(*StampAt(StorePath(kUser, L"Tool")), toolSeen);
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-4.exe");
    Settle();
    EXPECT_THAT(m_session.Entries(), SizeIs(3));
}

// The write-back carries edits of store links into the system and nothing else: what another program changed
// while the store link stayed as the import left it is imported, never put back.
TEST_F(RefreshCycleTest, OutsideChangesAreImportedAndStoreEditsWrittenBack) {
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\app\\v1\\app.exe");
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    WriteShortcut(StartupPath(L"Theirs.lnk"), L"c:\\theirs.exe", L"theirs");
    WriteShortcut(StartupPath(L"Mine.lnk"), L"c:\\mine.exe", L"mine");
    Refresh();

    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\app\\v2\\app.exe");
    WriteShortcut(StartupPath(L"Theirs.lnk"), L"c:\\theirs-v2.exe", L"theirs v2");
    WriteShortcut(StorePath(kUser, L"Expand"), L"c:\\x.exe", L"%SystemRoot%\\edited.exe");
    WriteShortcut(StorePath(kStartUp, L"Mine"), L"c:\\mine.exe", L"mine, edited");
    Refresh();

    EXPECT_EQ(m_registry.RunValue(Location::User, L"Updater")->text, L"c:\\app\\v2\\app.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Updater")).description, L"c:\\app\\v2\\app.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Theirs.lnk")).description, L"theirs v2");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Theirs")).description, L"theirs v2");
    const auto expand = m_registry.RunValue(Location::User, L"Expand");
    EXPECT_EQ(expand->text, L"%SystemRoot%\\edited.exe");
    EXPECT_EQ(expand->type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(ReadShortcut(StartupPath(L"Mine.lnk")).description, L"mine, edited");

    // Closing writes back without an import.
    WriteShortcut(StorePath(kUser, L"Updater"), L"c:\\app\\v3\\app.exe", L"c:\\app\\v3\\app.exe");
    m_session.WriteBack(nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Updater")->text, L"c:\\app\\v3\\app.exe");
}

// Nothing is written back that was not read whole and mirrored by the last import.
TEST_F(RefreshCycleTest, NothingUnreadOrUnmirroredIsWrittenBack) {
    m_registry.SetRunValue(Location::User, L"Held", L"c:\\held.exe");
    m_registry.SetRunValue(Location::User, L"Boxed", L"c:\\boxed.exe");
    m_registry.SetRunValue(Location::User, L"Stale", L"c:\\app\\v1.exe");
    const wchar_t tailed[] = L"c:\\tailed.exe\0tail";
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Tailed", REG_SZ, tailed, sizeof tailed);
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Binary", REG_BINARY, nullptr, 0);
    ImportSystemEntries(); // as the last run of the program left the store
    ASSERT_TRUE(RemoveName(StorePath(kUser, L"Boxed")));
    ASSERT_TRUE(::CreateDirectoryW(StorePath(kUser, L"Boxed").c_str(), nullptr)); // where the link belongs
    const std::string tailedBefore = RawValue(L"Tailed");

    {
        // Held open while the program starts, and while an updater changes a value: neither link can be read,
        // replaced or removed.
        const UniqueFile held = HoldFile(StorePath(kUser, L"Held"), 0);
        const UniqueFile stale = HoldFile(StorePath(kUser, L"Stale"), 0);
        Refresh();
        m_registry.SetRunValue(Location::User, L"Stale", L"c:\\app\\v2.exe");
        WriteShortcut(StorePath(kUser, L"Binary"), L"c:\\x.exe", L"c:\\edited.exe");
        Refresh();
        Refresh();
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Held")->text, L"c:\\held.exe");
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Stale")->text, L"c:\\app\\v2.exe");
        EXPECT_EQ(Find(kUser, L"Stale")->description, L"c:\\app\\v2.exe") << "the stale link pretends to mirror";

        // Said once per entry in a run, however often the refresh runs.
        const std::vector<ImportProblem> problems = m_session.TakeNewProblems();
        std::vector<std::wstring> names;
        for (const ImportProblem& problem : problems) {
            names.push_back(problem.name);
            EXPECT_EQ(problem.folder, L"Run\\User\\");
        }
        EXPECT_THAT(names, ::testing::UnorderedElementsAre(L"Held", L"Boxed", L"Stale"));
        Refresh();
        EXPECT_THAT(m_session.TakeNewProblems(), IsEmpty());
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Boxed")->text, L"c:\\boxed.exe");
    EXPECT_EQ(RawValue(L"Tailed"), tailedBefore) << "rewritten, and what follows its first zero dropped";
    const auto binary = m_registry.RunValue(Location::User, L"Binary");
    EXPECT_EQ(binary->type, DWORD{REG_BINARY}) << "turned into text";
    EXPECT_EQ(binary->text, L"");

    // Released, the links mirror their values again.
    Refresh();
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Stale")).description, L"c:\\app\\v2.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Held")).description, L"c:\\held.exe");
}

// A first start that must copy thousands of entries does so in parts, so that a window can answer between them.
TEST_F(RefreshCycleTest, ALongImportRunsInParts) {
    for (int i = 0; i < 150; ++i) {
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"c:\\tool.exe " + std::to_wstring(i));
    }
    ASSERT_TRUE(m_session.BeginRefresh(false, nullptr));
    EXPECT_EQ(m_session.ImportTotal(), 150u);
    int parts = 0;
    while (!m_session.ContinueRefresh(1)) {
        EXPECT_LE(m_session.ImportDone(), m_session.ImportTotal());
        ++parts;
    }
    EXPECT_GT(parts, 1);
    EXPECT_THAT(m_session.Entries(), SizeIs(150));
    EXPECT_THAT(StoreNames(kUser), SizeIs(150));
}

// A Startup folder that tells names apart by case holds Foo.lnk and FOO.lnk: never one store link for both, so an edit
// through one never replaces the other.
TEST_F(RefreshCycleTest, NamesThatDifferOnlyInCaseNeverShareAStoreLink) {
    WriteShortcut(StartupPath(L"Foo.lnk"), L"c:\\foo.exe", L"foo");
    WriteShortcut(StartupPath(L"other.tmp"), L"c:\\other.exe", L"other");
    if (!CopyUnderOtherCase(m_startup, L"other.tmp", L"FOO.lnk")) {
        GTEST_SKIP() << "this file system keeps no two names that differ only in case";
    }
    const std::string other = ReadFileBytes(StartupPath(L"other.tmp"));
    ASSERT_TRUE(::DeleteFileW(StartupPath(L"other.tmp").c_str()));
    const std::string foo = ReadFileBytes(StartupPath(L"Foo.lnk"));
    Refresh();
    EXPECT_THAT(StoreNames(kStartUp), SizeIs(1));
    const Entry* lower = Find(kStartUp, L"Foo");
    const Entry* upper = Find(kStartUp, L"FOO");
    ASSERT_TRUE(lower && upper) << "both are listed";
    // Which one the folder lists first keeps the store link; the other says why it has none.
    const bool lowerKept = !lower->storeLinkPath.empty();
    const Entry& kept = lowerKept ? *lower : *upper;
    const Entry& refused = lowerKept ? *upper : *lower;
    EXPECT_EQ(kept.problem, L"");
    EXPECT_EQ(refused.storeLinkPath, L"");
    EXPECT_THAT(refused.problem, ::testing::HasSubstr(L"same name in other letter case"));
    EXPECT_THROW(DisableEntry(refused), EEntryRefused);

    // An edit of the one store link reaches its own shortcut only.
    WriteShortcut(kept.storeLinkPath, L"c:\\kept.exe", L"edited");
    const std::wstring keptShortcut = StartupPath(kept.name + L".lnk");
    const std::wstring refusedShortcut = StartupPath(refused.name + L".lnk");
    Refresh();
    EXPECT_EQ(ReadShortcut(keptShortcut).description, L"edited");
    EXPECT_EQ(ReadFileBytes(refusedShortcut), lowerKept ? other : foo) << "the other shortcut is as it was";
}

} // namespace
} // namespace bw::test
