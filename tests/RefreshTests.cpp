#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/StoreSession.h"

#include <map>

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
    // (The first edit was written back, and the import then wrote the link anew: the second is an edit of that.)
    {
        // Saved by a link object that keeps the blocks it loaded (Windows' does), so that the size stays too.
        const std::string bytes = ReadFileBytes(StorePath(kUser, L"Tool"));
        TShellLink link;
        ASSERT_TRUE(link.LoadBytes(bytes));
        link.SetDescription(L"c:\\tool-4.exe");
        link.SetDataBlock(kRecordBlockSignature, *DataBlockOf(bytes, kRecordBlockSignature));
        WriteFileBytes(StorePath(kUser, L"Tool"), link.SaveBytes());
    }
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
    EditShortcut(StorePath(kUser, L"Expand"),
                 [](TShellLink& link) { link.SetDescription(L"%SystemRoot%\\edited.exe"); });
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

// An edit through the store link's property sheet reaches the value from the field the user changed; edits that
// cannot be carried are told once, and nothing of them is written.
TEST_F(RefreshCycleTest, EditsReachTheValueFromTheFieldChanged) {
    ::CreateDirectoryW((m_root / L"Tool Box").c_str(), nullptr);
    const std::wstring tool = m_root / L"Tool Box\\tool.exe";
    WriteFileBytes(tool, "MZ");
    const std::wstring longLine = L"c:\\e.exe " + std::wstring(2000, L'e');
    m_registry.SetRunValue(Location::User, L"Args", L"\"" + tool + L"\" -a");
    m_registry.SetRunValue(Location::User, L"Target", L"c:\\b.exe -b");
    m_registry.SetRunValue(Location::User, L"Comment", L"c:\\c.exe");
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\d.exe -d");
    m_registry.SetRunValue(Location::User, L"Long", longLine);
    ASSERT_TRUE(Refresh());
    Settle();

    EditShortcut(StorePath(kUser, L"Args"), [](TShellLink& link) { link.SetArguments(L"-x \"y z\""); });
    EditShortcut(StorePath(kUser, L"Target"), [&](TShellLink& link) { link.SetPath(tool); });
    EditShortcut(StorePath(kUser, L"Comment"), [](TShellLink& link) { link.SetDescription(L"c:\\c2.exe /n"); });
    EditShortcut(StorePath(kUser, L"Both"), [](TShellLink& link) {
        link.SetArguments(L"-e");
        link.SetDescription(L"c:\\other.exe");
    });
    EditShortcut(StorePath(kUser, L"Long"), [](TShellLink& link) { link.SetDescription(L"c:\\short.exe"); });
    EXPECT_TRUE(Refresh());

    EXPECT_EQ(m_registry.RunValue(Location::User, L"Args")->text, L"\"" + tool + L"\" -x \"y z\"");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Target")->text, L"\"" + tool + L"\" -b");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Comment")->text, L"c:\\c2.exe /n");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Both")->text, L"c:\\d.exe -d");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, longLine);
    // The links written back are mirrors of what now starts; the others keep the edit.
    TShellLink link;
    ASSERT_TRUE(link.Load(StorePath(kUser, L"Target")));
    EXPECT_EQ(link.Description(), L"\"" + tool + L"\" -b");
    EXPECT_EQ(link.Arguments(), L"-b");
    ASSERT_TRUE(link.Load(StorePath(kUser, L"Both")));
    EXPECT_EQ(link.Arguments(), L"-e");

    const std::vector<EditNotCarried> told = m_session.TakeEditsNotCarried();
    ASSERT_THAT(told, SizeIs(2));
    std::vector<std::pair<std::wstring, std::wstring>> reasons;
    for (const EditNotCarried& edit : told) {
        reasons.emplace_back(edit.name, edit.reason);
    }
    EXPECT_THAT(reasons, ::testing::UnorderedElementsAre(std::make_pair(L"Both", std::wstring(text::kEditsDisagree)),
                                                         std::make_pair(L"Long", std::wstring(text::kEditOfCutLine))));
    Settle();
    EXPECT_THAT(m_session.TakeEditsNotCarried(), IsEmpty()) << "told once";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Both")->text, L"c:\\d.exe -d");
}

// What the last import mirrored outlives the program: an edit made while it was closed is written back at the
// next start; a store without that record keeps the old rule, the system wins.
TEST_F(RefreshCycleTest, AnEditMadeWhileClosedIsWrittenBackAtTheNextStart) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other-1.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"first");
    {
        TStoreSession first;
        ASSERT_TRUE(first.Refresh(true, nullptr));
    }
    ASSERT_TRUE(FileExists(StoreBaseFile()));
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool-2.exe"); });
    EditShortcut(StorePath(kStartUp, L"Notes"), [](TShellLink& link) { link.SetDescription(L"edited"); });
    {
        TStoreSession next;
        ASSERT_TRUE(next.Refresh(true, nullptr));
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-2.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"edited");

    // A base file that is not ours, or gone, gives no base: the system wins, as before bases were kept.
    for (const std::string& content : {std::string("garbage"), std::string()}) {
        if (content.empty()) {
            ASSERT_TRUE(RemoveName(StoreBaseFile()));
        } else {
            WriteFileBytes(StoreBaseFile(), content);
        }
        EditShortcut(StorePath(kUser, L"Other"), [](TShellLink& link) { link.SetDescription(L"c:\\mine.exe"); });
        TStoreSession next;
        ASSERT_TRUE(next.Refresh(true, nullptr));
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Other")->text, L"c:\\other-1.exe");
        EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Other")).description, L"c:\\other-1.exe");
    }
}

// A run that ended after the import wrote its links but before it kept their bases leaves bases older than the
// links; a link that says what the system says is then no edit, and nothing is asked or written.
TEST_F(RefreshCycleTest, AStaleBaseMakesNoEditOfAMirror) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"first");
    {
        TStoreSession first;
        ASSERT_TRUE(first.Refresh(true, nullptr));
        const std::string stale = ReadFileBytes(StoreBaseFile());
        m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-2.exe");
        WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"second");
        ASSERT_TRUE(first.Refresh(true, nullptr));
        WriteFileBytes(StoreBaseFile(), stale);
    }
    TStoreSession next;
    ASSERT_TRUE(next.Refresh(true, nullptr));
    EXPECT_THAT(next.TakeBothChanged(), IsEmpty());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-2.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"second");
}

// When the store link and the system both changed since the last import, neither is written over the other
// until the user chooses; each such entry is told once.
TEST_F(RefreshCycleTest, BothSidesChangedLeavesBothUntilTheUserChooses) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    m_registry.SetRunValue(Location::User, L"Keep", L"c:\\keep-1.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"first");
    ASSERT_TRUE(Refresh());
    Settle();

    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\mine.exe"); });
    EditShortcut(StorePath(kUser, L"Keep"), [](TShellLink& link) { link.SetDescription(L"c:\\mine-too.exe"); });
    EditShortcut(StorePath(kStartUp, L"Notes"), [](TShellLink& link) { link.SetPath(L"c:\\mine.exe"); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\theirs.exe");
    m_registry.SetRunValue(Location::User, L"Keep", L"c:\\theirs-too.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\theirs.exe", L"theirs");
    EXPECT_TRUE(Refresh());
    Refresh(); // and again: still nothing is written either way

    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\theirs.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\mine.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).path, L"c:\\theirs.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kStartUp, L"Notes")).path, L"c:\\mine.exe");
    const std::vector<BothChanged> told = m_session.TakeBothChanged();
    ASSERT_THAT(told, SizeIs(3));
    std::map<std::wstring, BothChanged> byName;
    for (const BothChanged& entry : told) {
        byName[entry.name] = entry;
    }
    EXPECT_EQ(byName[L"Tool"].systemSide, L"c:\\theirs.exe");
    EXPECT_EQ(byName[L"Tool"].storeSide, L"c:\\mine.exe");
    EXPECT_EQ(byName[L"Notes"].systemSide, L"c:\\theirs.exe");
    EXPECT_EQ(byName[L"Notes"].storeSide, L"c:\\mine.exe");
    Settle();
    EXPECT_THAT(m_session.TakeBothChanged(), IsEmpty()) << "told once";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Keep")->text, L"c:\\theirs-too.exe");

    m_session.Settle(byName[L"Tool"], true);
    m_session.Settle(byName[L"Keep"], false);
    m_session.Settle(byName[L"Notes"], true);
    EXPECT_TRUE(Refresh());
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\mine.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\mine.exe");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Keep")->text, L"c:\\theirs-too.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Keep")).description, L"c:\\theirs-too.exe");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).path, L"c:\\mine.exe");
    EXPECT_THAT(m_session.TakeBothChanged(), IsEmpty());
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
    EXPECT_EQ(kept.problem, EntryProblem::None);
    EXPECT_EQ(refused.storeLinkPath, L"");
    EXPECT_THAT(ProblemText(refused.problem), ::testing::HasSubstr(L"same name in other letter case"));
    EXPECT_THROW(DisableEntry(refused), EEntryRefused);

    // An edit of the one store link reaches its own shortcut only.
    WriteShortcut(kept.storeLinkPath, L"c:\\kept.exe", L"edited");
    const std::wstring keptShortcut = StartupPath(kept.name + L".lnk");
    const std::wstring refusedShortcut = StartupPath(refused.name + L".lnk");
    Refresh();
    EXPECT_EQ(ReadShortcut(keptShortcut).description, L"edited");
    EXPECT_EQ(ReadFileBytes(refusedShortcut), lowerKept ? other : foo) << "the other shortcut is as it was";
}

// The temporary files of a run that was ended halfway through a write go at the next start once the process that wrote
// them has ended, however young, even where that start's import is stopped after its first link; those of a process
// that still runs stay until they are old, and files that are not the program's own are never touched.
TEST_F(RefreshCycleTest, TemporaryFilesOfAnEndedWriterGoAtTheNextStart) {
    // A process that ran and has ended (its handle held, so that its id is not given to another meanwhile), and
    // one that runs (suspended).
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const auto start = [&](DWORD flags) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags | CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup, &process));
        ::CloseHandle(process.hThread);
        return std::pair{UniqueKernelHandle(process.hProcess), process.dwProcessId};
    };
    auto [ended, endedId] = start(0);
    ASSERT_EQ(::WaitForSingleObject(ended.Get(), 30000), WAIT_OBJECT_0);
    auto [running, runningId] = start(CREATE_SUSPENDED);
    const auto hex = [](DWORD id) {
        wchar_t text[16];
        swprintf(text, 16, L"%lx", static_cast<unsigned long>(id));
        return std::wstring(text);
    };
    const std::wstring ofEnded = L"~bw" + hex(endedId) + L"-1-1.tmp";
    const std::wstring ofRunning = L"~bw" + hex(runningId) + L"-1-1.tmp";
    // (An enabled store folder keeps nothing but its mirrors anyway; a disabled one keeps what is not ours. The
    // program's folder gets the temporary files of the file of bases and of the settings.)
    std::wstring programDir = ProgramDir();
    programDir.pop_back();
    for (const std::wstring& folder : {m_startup, StoreFolderPath(kUserOff), programDir}) {
        for (const std::wstring& name : {ofEnded, ofRunning, std::wstring(L"~bwnotours.tmp"), std::wstring(L"x.tmp")}) {
            WriteFileBytes(folder + L"\\" + name, "half written");
        }
        // A name of the program's form without its writer's id is someone else's, however old it is.
        const UniqueFile old(::CreateFileW((folder + L"\\~bwnotours.tmp").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ULARGE_INTEGER time{};
        time.QuadPart = 130000000000000000ULL; // in 2012
        const FILETIME written{time.LowPart, time.HighPart};
        EXPECT_TRUE(::SetFileTime(old.Get(), nullptr, nullptr, &written));
    }
    // The window may be closed while its first import is on its way: what stopped runs left goes all the same.
    for (int i = 0; i < 4; ++i) {
        m_registry.SetRunValue(Location::User, L"Tool " + std::to_wstring(i), L"c:\\tool.exe -" + std::to_wstring(i));
    }
    ASSERT_TRUE(m_session.BeginRefresh(true, nullptr));
    EXPECT_FALSE(m_session.ContinueRefresh(1)) << "stopped after its first link";
    m_session.AbandonRefresh();
    ::TerminateProcess(running.Get(), 0);
    EXPECT_THAT(FolderNames(m_startup), ::testing::UnorderedElementsAre(ofRunning, L"~bwnotours.tmp", L"x.tmp"));
    EXPECT_THAT(FolderNames(StoreFolderPath(kUserOff)),
                ::testing::UnorderedElementsAre(ofRunning, L"~bwnotours.tmp", L"x.tmp"));
    EXPECT_FALSE(FileExists(JoinPath(programDir, ofEnded)));
    for (const std::wstring& name : {ofRunning, std::wstring(L"~bwnotours.tmp"), std::wstring(L"x.tmp")}) {
        EXPECT_TRUE(FileExists(JoinPath(programDir, name))) << "kept in the program's folder: " << name;
    }
}

} // namespace
} // namespace bw::test
