#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "platform/UniqueHandle.h"
#include "resources/Texts.h"
#include "store/EntryOperations.h"
#include "store/StoreSession.h"

#include <functional>
#include <utility>
#include <vector>

namespace bw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class EntryOperationsTest : public StoreTest {
protected:
    // Imports, and returns the entry as the list would show it.
    Entry Row(int code, const std::wstring& name) {
        m_session.Refresh(false, nullptr);
        for (const Entry& entry : m_session.Entries()) {
            if (entry.code == code && entry.name == name) {
                return entry;
            }
        }
        ADD_FAILURE() << "no entry " << code;
        return {};
    }

    // A store link as a Run value's link was written before types were recorded: its description alone.
    // A link as a release that kept no records wrote it, with what the first open of its store takes for it.
    void WriteOldRegistryLink(int code, const std::wstring& name, const std::wstring& commandLine) {
        WriteShortcut(StorePath(code, name), commandLine, commandLine);
        StoreRecords().Set(StorePath(code, name), {StoredRecord::Unrecorded, {}});
    }

    TStoreSession m_session;
};

TEST_F(EntryOperationsTest, DisableAndEnableCarryEachLocationBetweenSystemAndStore) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"\"c:\\agent.exe\" /quiet");
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe", L"notes");
    const std::string notes = ReadFileBytes(StartupPath(L"Notes.lnk"));

    for (const auto& [code, name] : {std::pair{kLocal, L"Agent"}, {kUser, L"Tool"}, {kStartUp, L"Notes"}}) {
        DisableEntry(Row(code, name));
        EXPECT_TRUE(PathExists(StorePath(DisabledCodeOf(code), name))) << code;
    }
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));
    EXPECT_THAT(m_registry.RunValueNames(Location::User), ElementsAre(L"Other"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_EQ(ReadShortcut(StorePath(kLocalOff, L"Agent")).description, L"\"c:\\agent.exe\" /quiet");
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Notes")), notes);
    Row(kUser, L"Other");
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Other.lnk"));

    // A toggle that does not fit the code changes nothing.
    DisableEntry(Row(kUserOff, L"Tool"));
    EnableEntry(Row(kUser, L"Other"), nullptr);
    EXPECT_TRUE(PathExists(StorePath(kUserOff, L"Tool")));

    RecordingProgress progress;
    for (const auto& [code, name] : {std::pair{kLocalOff, L"Agent"}, {kUserOff, L"Tool"}, {kStartUpOff, L"Notes"}}) {
        EnableEntry(Row(code, name), &progress);
        EXPECT_FALSE(PathExists(StorePath(code, name))) << code;
    }
    const auto agent = m_registry.RunValue(Location::Local, L"Agent");
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(agent->text, L"\"c:\\agent.exe\" /quiet");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), notes);
    EXPECT_EQ(progress.max, static_cast<int>(notes.size())); // the copy reported on the window's control
    Row(kUser, L"Tool");
    EXPECT_THAT(StoreNames(kUser), UnorderedElementsAre(L"Tool.lnk", L"Other.lnk"));
    for (int code = kLocalOff; code <= kStartUpOff; ++code) {
        EXPECT_THAT(StoreNames(code), IsEmpty()) << code;
    }
}

// An updater that writes the entry while it is being switched off (after it was read, before it goes from its
// place) is not undone: the entry stays as that program left it, and no switched-off copy of the older one stays.
TEST_F(EntryOperationsTest, AnEntryChangedWhileItIsSwitchedOffStaysAsTheOtherProgramLeftIt) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\old\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\old\\notes.exe");
    const Entry tool = Row(kUser, L"Tool");
    const Entry notes = Row(kStartUp, L"Notes");
    std::function<void()> updater;
    const auto meanwhile = seam::RenameFile.Replace([&](const std::wstring& from, const std::wstring& to, DWORD flags) {
        const DWORD result = seam::RenameFile.Real(from, to, flags);
        if (updater) {
            std::exchange(updater, nullptr)();
        }
        return result;
    });

    updater = [&] { m_registry.SetRunValue(Location::User, L"Tool", L"c:\\new\\tool.exe --new"); };
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(tool); }), HasSubstr(L"\"Tool\""));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool").value_or(ScratchRegistry::Value{}).text,
              L"c:\\new\\tool.exe --new");
    EXPECT_FALSE(PathExists(StorePath(kUserOff, L"Tool")));

    updater = [&] { WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\new\\notes.exe"); };
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(notes); }), HasSubstr(L"\"Notes\""));
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).path, L"c:\\new\\notes.exe");
    EXPECT_FALSE(PathExists(StorePath(kStartUpOff, L"Notes")));

    // Unchanged meanwhile, both go as before.
    DisableEntry(Row(kUser, L"Tool"));
    DisableEntry(Row(kStartUp, L"Notes"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
}

TEST_F(EntryOperationsTest, ARunKeyThatDoesNotOpenChangesNothing) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent.exe");
    WriteOldRegistryLink(kLocalOff, L"Old", L"c:\\old.exe");
    const Entry agent = Row(kLocal, L"Agent");
    const Entry old = Row(kLocalOff, L"Old");
    m_registry.DeleteRunKey(Location::Local);

    DisableEntry(agent);
    EnableEntry(old, nullptr);
    DeleteEntry(agent);
    EXPECT_THAT(StoreNames(kLocal), ElementsAre(L"Agent.lnk"));
    EXPECT_THAT(StoreNames(kLocalOff), ElementsAre(L"Old.lnk"));
    UniqueHkey key;
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, key.Put()), ERROR_SUCCESS);
}

// Switching off and on again restores a value exactly: its type as it was, its command line whole.
TEST_F(EntryOperationsTest, TypesAndLongLinesComeBackExactly) {
    const std::wstring atLimit = L"c:\\tool.exe " + std::wstring(1023 - 12, L'c');
    m_registry.SetRunValue(Location::User, L"PlainPercent", L"c:\\tool.exe %TEMP%");
    m_registry.SetRunValue(Location::User, L"ExpandNoPercent", L"c:\\tool.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"AtLimit", atLimit);
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Binary", REG_BINARY, nullptr, 0);
    const std::vector<std::wstring> names = {L"PlainPercent", L"ExpandNoPercent", L"Expand", L"AtLimit", L"Binary"};
    std::vector<std::optional<ScratchRegistry::Value>> before;
    for (const auto& name : names) {
        before.push_back(m_registry.RunValue(Location::User, name));
        DisableEntry(Row(kUser, name));
        EXPECT_FALSE(m_registry.RunValue(Location::User, name)) << "not switched off";
    }
    for (size_t i = 0; i < names.size(); ++i) {
        EnableEntry(Row(kUserOff, names[i]), nullptr);
        const auto after = m_registry.RunValue(Location::User, names[i]);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->type, before[i]->type) << names[i].c_str();
        EXPECT_EQ(after->text, before[i]->text);
    }

    // Links written before types were recorded are read as they always were.
    WriteOldRegistryLink(kUserOff, L"OldExpand", L"%SystemRoot%\\old.exe");
    EnableEntry(Row(kUserOff, L"OldExpand"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"OldExpand")->type, DWORD{REG_EXPAND_SZ});
    WriteOldRegistryLink(kUserOff, L"OldCut", atLimit);
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(Row(kUserOff, L"OldCut"), nullptr); }),
                HasSubstr(L"\"OldCut\""));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"OldCut"));
}

TEST_F(EntryOperationsTest, ACommandLineALinkCannotKeepIsNeverSwitchedOff) {
    const std::wstring longLine = L"c:\\tool.exe " + std::wstring(1100, L'x');
    m_registry.SetRunValue(Location::User, L"Long", longLine);
    EXPECT_EQ(MessageOf<EEntryRefused>([&] { DisableEntry(Row(kUser, L"Long")); }),
              L"The command line of \"Long\" is longer than a shortcut can keep whole, so it cannot be switched "
              L"off without losing it.");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Long")->text, longLine);
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
}

// Data after the zero that ends a REG_SZ's command line would be lost by a store link: such a value stays on.
TEST_F(EntryOperationsTest, DataAfterAnEmbeddedZeroIsNeverLost) {
    const wchar_t tailed[] = L"c:\\tailed.exe\0tail";
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Tailed", REG_SZ, tailed, sizeof tailed);
    const wchar_t zeros[] = L"c:\\zeros.exe\0\0";
    m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Zeros", REG_SZ, zeros, sizeof zeros);
    EXPECT_EQ(MessageOf<EEntryRefused>([&] { DisableEntry(Row(kUser, L"Tailed")); }),
              FormatMessageText(text::kCannotDisableHidden, L"Tailed"));
    ASSERT_TRUE(m_registry.RunValue(Location::User, L"Tailed"));
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
    DisableEntry(Row(kUser, L"Zeros")); // only zeros after the end: nothing to lose
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Zeros.lnk"));
}

// A switched-off link is compared with what starts now as it reads (its record, the fields the user changed): the
// same entry re-added by its program is no other entry, and an edited one is.
TEST_F(EntryOperationsTest, TheEntryThatStartsAlreadyIsComparedAsTheLinkReads) {
    m_registry.SetRunValue(Location::User, L"Same", L"c:\\same.exe -a", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Edited", L"c:\\edited.exe -a");
    DisableEntry(Row(kUser, L"Same"));
    DisableEntry(Row(kUser, L"Edited"));
    m_registry.SetRunValue(Location::User, L"Same", L"c:\\same.exe -a", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Edited", L"c:\\edited.exe -a");
    EditShortcut(StorePath(kUserOff, L"Edited"), [](TShellLink& link) { link.SetArguments(L"-b"); });
    EXPECT_FALSE(StartingTwinOf(Row(kUserOff, L"Same")));
    const auto edited = StartingTwinOf(Row(kUserOff, L"Edited"));
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->switchedOff, L"c:\\edited.exe -b");
}

// A switched-off value of another type than text (Windows starts none of them, but they are kept) is switched on
// with the data it had, of its type, even when the fields of its link were edited: a command line made of them
// is no data of a REG_DWORD. (The record travels in the link's block here, as a link object that keeps it does.)
TEST_F(EntryOperationsTest, AValueOfAnotherTypeComesBackWithTheDataItHad) {
    for (const DWORD type : {DWORD{REG_DWORD}, DWORD{REG_BINARY}, DWORD{REG_MULTI_SZ}, DWORD{REG_QWORD}, DWORD{77}}) {
        m_registry.SetValue(ScratchRegistry::Root(Location::User), kRunKeyPath, L"Odd", type, nullptr, 0);
        DisableEntry(Row(kUser, L"Odd"));
        EditShortcut(StorePath(kUserOff, L"Odd"), [](TShellLink& link) {
            link.SetPath(L"c:\\windows\\notepad.exe");
            link.SetArguments(L"-x");
        });
        EnableEntry(Row(kUserOff, L"Odd"), nullptr);
        TRegistry registry;
        registry.SelectRoot(HKEY_CURRENT_USER);
        ASSERT_TRUE(registry.OpenExistingKey(kRunKeyPath));
        const auto value = registry.Value(L"Odd");
        ASSERT_TRUE(value) << type;
        EXPECT_EQ(value->type, type);
        EXPECT_EQ(value->data, "") << type;
        EXPECT_THAT(StoreNames(kUserOff), IsEmpty()) << type;
        m_registry.RemoveRunValue(Location::User, L"Odd");
    }
}

// A record is obeyed only when the program could have written it; a name is decoded only when a record says so.
TEST_F(EntryOperationsTest, RecordsAreReadNeverObeyedBlindly) {
    const auto writeOld = [&](const std::wstring& fileName, const std::wstring& description,
                              const std::wstring& arguments) {
        TShellLink link;
        link.SetDescription(description);
        link.SetArguments(arguments);
        ASSERT_TRUE(link.Save(StoreFolderPath(kUserOff) + fileName));
    };
    writeOld(L"Big.lnk", L"c:\\big.exe", L"[Bootwarden value: 4294967296, whole]");
    writeOld(L"Linky.lnk", L"c:\\linky.exe", L"[Bootwarden value: REG_LINK, whole]");
    writeOld(L"Dword.lnk", L"c:\\dword.exe", L"[Bootwarden value: REG_DWORD, whole]");
    writeOld(L"=CON.lnk", L"c:\\literal.exe", L"");
    writeOld(L"=AUX.lnk", L"%SystemRoot%\\encoded.exe", L"[Bootwarden value: REG_SZ, whole]");
    EXPECT_NO_THROW(m_session.Refresh(false, nullptr));
    for (const wchar_t* name : {L"Big", L"Linky", L"Dword"}) {
        EnableEntry(Row(kUserOff, name), nullptr);
        const auto value = m_registry.RunValue(Location::User, name);
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(value->type, DWORD{REG_SZ}) << name;
    }
    // Written before names were encoded, from a value named "=CON": it keeps that name.
    EnableEntry(Row(kUserOff, L"=CON"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"=CON")->text, L"c:\\literal.exe");
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"CON"));
    // Its record in the arguments came with the encoding: that name is decoded, and its type obeyed.
    EnableEntry(Row(kUserOff, L"AUX"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"AUX")->type, DWORD{REG_SZ});
    // The program's own links say when a name is encoded.
    m_registry.SetRunValue(Location::User, L"NUL", L"c:\\nul.exe");
    DisableEntry(Row(kUser, L"NUL"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"=NUL.lnk"));
    EnableEntry(Row(kUserOff, L"NUL"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"NUL")->text, L"c:\\nul.exe");
}

// A switched-off entry edited through its store link's target or arguments is switched on as edited.
TEST_F(EntryOperationsTest, ASwitchedOffEntryIsSwitchedOnAsItsFieldsSay) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe -a");
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\both.exe -a");
    DisableEntry(Row(kUser, L"Tool"));
    DisableEntry(Row(kUser, L"Both"));
    EditShortcut(StorePath(kUserOff, L"Tool"), [](TShellLink& link) { link.SetArguments(L"-b"); });
    EditShortcut(StorePath(kUserOff, L"Both"), [](TShellLink& link) {
        link.SetArguments(L"-b");
        link.SetDescription(L"c:\\else.exe");
    });
    EXPECT_EQ(Row(kUserOff, L"Tool").description, L"c:\\tool.exe -b");
    EnableEntry(Row(kUserOff, L"Tool"), nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe -b");
    EXPECT_EQ(MessageOf<EEntryRefused>([&] { EnableEntry(Row(kUserOff, L"Both"), nullptr); }),
              FormatMessageText(text::kCannotEnableDisagreeing, L"Both"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Both"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Both.lnk"));
}

// Each toggle either finishes or leaves the system and the store as they were, and says what holds.
TEST_F(EntryOperationsTest, ToggleFailuresUndoWhatTheyDid) {
    // A folder where the Startup shortcut belongs: an error, never a copy into it.
    WriteShortcut(StorePath(kStartUpOff, L"Boxed"), L"c:\\boxed.exe", L"boxed");
    ::CreateDirectoryW(StartupPath(L"Boxed.lnk").c_str(), nullptr);
    EXPECT_EQ(MessageOf<EFCreateError>([&] { EnableEntry(Row(kStartUpOff, L"Boxed"), nullptr); }),
              L"Cannot create file " + StartupPath(L"Boxed.lnk"));
    EXPECT_THAT(FolderNames(StartupPath(L"Boxed.lnk")), IsEmpty());
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Boxed.lnk"));

    // A shortcut that cannot be deleted: the entry stays switched on, and is not also kept switched off.
    WriteShortcut(StartupPath(L"Held.lnk"), L"c:\\held.exe", L"held");
    const Entry held = Row(kStartUp, L"Held");
    {
        const UniqueFile holder = HoldFile(StartupPath(L"Held.lnk"));
        EXPECT_EQ(MessageOf<EEntryRefused>([&] { DisableEntry(held); }),
                  L"The shortcut " + StartupPath(L"Held.lnk") +
                      L" could not be deleted, so the entry stays switched on. Nothing was changed.");
    }
    EXPECT_TRUE(PathExists(StartupPath(L"Held.lnk")));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Boxed.lnk"));

    // A disabled link that cannot leave its folder once the value is written: the value goes back as it was (also
    // when it replaced one that started, as asked).
    WriteOldRegistryLink(kUserOff, L"Back", L"c:\\back.exe");
    m_registry.SetRunValue(Location::User, L"Meanwhile", L"c:\\someone-else.exe");
    WriteOldRegistryLink(kUserOff, L"Meanwhile", L"c:\\meanwhile.exe");
    const Entry back = Row(kUserOff, L"Back");
    const Entry meanwhile = Row(kUserOff, L"Meanwhile");
    {
        const UniqueFile holdBack = HoldFile(StorePath(kUserOff, L"Back"));
        const UniqueFile holdMeanwhile = HoldFile(StorePath(kUserOff, L"Meanwhile"));
        EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(back, nullptr); }),
                    HasSubstr(L"so \"Back\" stays switched off"));
        EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(meanwhile, nullptr, true); }),
                    HasSubstr(L"so \"Meanwhile\" stays switched off"));
    }
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Back"));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Meanwhile")->text, L"c:\\someone-else.exe");
    EXPECT_THAT(StoreNames(kUserOff), UnorderedElementsAre(L"Back.lnk", L"Meanwhile.lnk"));

    // The same for a Startup entry: the shortcut that stood there before is put back.
    WriteShortcut(StorePath(kStartUpOff, L"Swap"), L"c:\\swap.exe", L"ours");
    WriteShortcut(StartupPath(L"Swap.lnk"), L"c:\\theirs.exe", L"theirs");
    const std::string theirs = ReadFileBytes(StartupPath(L"Swap.lnk"));
    const Entry swap = Row(kStartUpOff, L"Swap");
    {
        const UniqueFile holder = HoldFile(StorePath(kStartUpOff, L"Swap"));
        EXPECT_THROW(EnableEntry(swap, nullptr, true), EEntryRefused);
    }
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Swap.lnk")), theirs);
    EXPECT_TRUE(PathExists(StorePath(kStartUpOff, L"Swap")));
}

TEST_F(EntryOperationsTest, ADifferentSwitchedOffEntryOfTheSameNameIsNeverLost) {
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\agent-new.exe");
    WriteOldRegistryLink(kLocalOff, L"Agent", L"c:\\agent-old.exe");
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(Row(kLocal, L"Agent")); }), HasSubstr(L"\"Agent\""));
    EXPECT_EQ(ReadShortcut(StorePath(kLocalOff, L"Agent")).description, L"c:\\agent-old.exe");
    EXPECT_EQ(m_registry.RunValue(Location::Local, L"Agent")->text, L"c:\\agent-new.exe");

    // One that says the same is the same entry: switching off goes ahead.
    WriteOldRegistryLink(kLocalOff, L"Agent", L"c:\\agent-new.exe");
    DisableEntry(Row(kLocal, L"Agent"));
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Agent"));

    // A value of that name that came back meanwhile is replaced only when asked, and no switched-off copy of the
    // entry stays behind.
    m_registry.SetRunValue(Location::Local, L"Agent", L"c:\\someone-else.exe", REG_EXPAND_SZ);
    EXPECT_THROW(EnableEntry(Row(kLocalOff, L"Agent"), nullptr), EEntryRefused);
    EnableEntry(Row(kLocalOff, L"Agent"), nullptr, true);
    EXPECT_EQ(ReadShortcut(StorePath(kLocalOff, L"Agent")).description, L"c:\\someone-else.exe");
    ASSERT_NO_THROW(DeleteEntry(Row(kLocalOff, L"Agent")));
    const auto agent = m_registry.RunValue(Location::Local, L"Agent");
    EXPECT_EQ(agent->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(agent->text, L"c:\\agent-new.exe");
    EXPECT_THAT(StoreNames(kLocalOff), IsEmpty());
}

TEST_F(EntryOperationsTest, NothingGoesIntoAStartupFolderThatIsNotKnown) {
    // A name of its own, so that what would land at the root of the drive is this test's alone.
    const std::wstring name = FileNamePart(m_root.Path());
    WriteShortcut(StorePath(kStartUpOff, name), L"c:\\notes.exe", L"notes");
    m_registry.DeleteKey(HKEY_CURRENT_USER, kShellFoldersKeyPath);
    m_registry.CreateKey(HKEY_CURRENT_USER, kShellFoldersKeyPath); // no "Startup" value: StartupDir is ""
    const Entry notes = Row(kStartUpOff, name);
    const std::wstring atRoot = L"\\" + name + L".lnk";

    EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(notes, nullptr); }),
                HasSubstr(L"The Startup folder is not known"));
    EXPECT_THROW(AddStartupShortcut(L"c:\\tools\\" + name + L".exe"), EEntryRefused);
    EXPECT_FALSE(PathExists(atRoot)) << "written at the root of the drive";
    (void)RemoveName(atRoot);
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(name + L".lnk"));
}

TEST(HasEnvironmentReferenceTest, NeedsANameBetweenTwoPercentSigns) {
    for (const wchar_t* yes : {L"%SystemRoot%\\x.exe", L"%ProgramFiles(x86)%", L"a %%b% c", L"x 5% %TEMP%\\y"}) {
        EXPECT_TRUE(HasEnvironmentReference(yes)) << yes;
    }
    for (const wchar_t* no : {L"", L"%", L"%%", L"100%", L"50% off 60%", L"%a b%", L"c:\\x.exe"}) {
        EXPECT_FALSE(HasEnvironmentReference(no)) << no;
    }
}

TEST(EntryNameForProgramTest, CutsTheFileNameAtItsFirstDot) {
    EXPECT_EQ(EntryNameForProgram(L"c:\\windows\\notepad.exe"), L"notepad");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools\\a.b.exe"), L"a");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools.d\\noext"), L"noext");
    EXPECT_EQ(EntryNameForProgram(L"c:\\tools\\.hidden.exe"), L".hidden.exe");
    EXPECT_EQ(EntryNameForProgram(L"d:tool.exe"), L"tool");
}

TEST_F(EntryOperationsTest, AddSavesUnderTheFirstFreeNameInTheStartupFolder) {
    RecomputeStartupDir();
    const std::wstring notepad = L"c:\\windows\\notepad.exe";
    WriteShortcut(StorePath(kStartUpOff, L"notepad"), notepad); // the store plays no part in the choice
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad.lnk"));
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad(1).lnk"));
    EXPECT_EQ(AddStartupShortcut(notepad), StartupPath(L"notepad(2).lnk"));
    const auto link = ReadShortcut(StartupPath(L"notepad(2).lnk"));
    EXPECT_EQ(link.path, notepad);
    EXPECT_EQ(link.description, notepad);

    ::CreateDirectoryW(StartupPath(L"calc.lnk").c_str(), nullptr);
    EXPECT_EQ(AddStartupShortcut(L"c:\\windows\\calc.exe"), StartupPath(L"calc(1).lnk"));

    // A name that would reach outside the Startup folder is refused before anything is saved.
    EXPECT_THROW(AddStartupShortcut(L"c:\\tools\\sub/evil.exe"), EEntryRefused);
    ::RemoveDirectoryW(StartupPath(L"calc.lnk").c_str());
    Row(kStartUp, L"notepad");
    EXPECT_THAT(StoreNames(kStartUp),
                UnorderedElementsAre(L"notepad.lnk", L"notepad(1).lnk", L"notepad(2).lnk", L"calc(1).lnk"));

    // A Startup folder that cannot take the shortcut is no error.
    m_registry.SetStartupFolder(m_root / L"Missing");
    RecomputeStartupDir();
    EXPECT_EQ(AddStartupShortcut(notepad), m_root / L"Missing\\notepad.lnk");
    EXPECT_FALSE(PathExists(m_root / L"Missing"));
}

TEST_F(EntryOperationsTest, DeleteRemovesOnlyTheEntrysOwnPlaceOrSaysWhyNot) {
    m_registry.SetRunValue(Location::Local, L"Both", L"c:\\local.exe");
    m_registry.SetRunValue(Location::User, L"Both", L"c:\\user.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\notes.exe");
    WriteOldRegistryLink(kUserOff, L"Both", L"c:\\off.exe");
    const Entry local = Row(kLocal, L"Both");
    const Entry notes = Row(kStartUp, L"Notes");
    const Entry off = Row(kUserOff, L"Both");

    DeleteEntry(local);
    DeleteEntry(notes);
    DeleteEntry(off);
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Both"));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Both"));
    EXPECT_FALSE(PathExists(StartupPath(L"Notes.lnk")));
    EXPECT_TRUE(PathExists(StorePath(kStartUp, L"Notes"))); // until the next import
    EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
    EXPECT_THAT(StoreNames(kUser), ElementsAre(L"Both.lnk"));

    // What has gone already is no error.
    EXPECT_NO_THROW(DeleteEntry(local));
    EXPECT_NO_THROW(DeleteEntry(notes));
    EXPECT_NO_THROW(DeleteEntry(off));

    // What cannot be removed is said.
    WriteOldRegistryLink(kUserOff, L"Held", L"c:\\held.exe");
    WriteShortcut(StartupPath(L"Held.lnk"), L"c:\\held.exe");
    const Entry heldOff = Row(kUserOff, L"Held");
    const Entry heldOn = Row(kStartUp, L"Held");
    const UniqueFile holdOff = HoldFile(StorePath(kUserOff, L"Held"));
    const UniqueFile holdOn = HoldFile(StartupPath(L"Held.lnk"));
    EXPECT_EQ(MessageOf<EEntryRefused>([&] { DeleteEntry(heldOff); }),
              L"Cannot delete file " + StorePath(kUserOff, L"Held"));
    EXPECT_EQ(MessageOf<EEntryRefused>([&] { DeleteEntry(heldOn); }),
              L"Cannot delete file " + StartupPath(L"Held.lnk"));
}

// A program that added itself again after the user switched it off: switching the old one on never overwrites the
// one that starts now unasked; asked, the two change places and both are kept; the same entry only loses its copy.
TEST_F(EntryOperationsTest, SwitchingOnNeverOverwritesWhatStartsNow) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\old\\tool.exe --old-config");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\old\\notes.exe", L"old notes");
    DisableEntry(Row(kUser, L"Tool"));
    DisableEntry(Row(kStartUp, L"Notes"));
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\new\\tool.exe --new", REG_EXPAND_SZ);
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\new\\notes.exe", L"new notes");
    const std::string newNotes = ReadFileBytes(StartupPath(L"Notes.lnk"));
    const std::string oldTool = ReadFileBytes(StorePath(kUserOff, L"Tool"));
    const std::string oldNotes = ReadFileBytes(StorePath(kStartUpOff, L"Notes"));

    const Entry tool = Row(kUserOff, L"Tool");
    const Entry notes = Row(kStartUpOff, L"Notes");
    const auto toolTwin = StartingTwinOf(tool);
    ASSERT_TRUE(toolTwin);
    EXPECT_EQ(toolTwin->startsNow, L"c:\\new\\tool.exe --new");
    EXPECT_EQ(toolTwin->switchedOff, L"c:\\old\\tool.exe --old-config");
    const auto notesTwin = StartingTwinOf(notes);
    ASSERT_TRUE(notesTwin);
    EXPECT_EQ(notesTwin->startsNow, L"c:\\new\\notes.exe");
    EXPECT_EQ(notesTwin->switchedOff, L"c:\\old\\notes.exe");

    // Unasked: refused, and nothing changes on either side.
    for (const Entry& entry : {tool, notes}) {
        EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(entry, nullptr); }), HasSubstr(L"starts already"));
    }
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\new\\tool.exe --new");
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), newNotes);
    EXPECT_EQ(ReadFileBytes(StorePath(kUserOff, L"Tool")), oldTool);
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Notes")), oldNotes);

    // Asked: they change places, the one that started so far (type included) kept switched off.
    EnableEntry(tool, nullptr, true);
    EnableEntry(notes, nullptr, true);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\old\\tool.exe --old-config");
    EXPECT_EQ(ReadShortcut(StartupPath(L"Notes.lnk")).description, L"old notes");
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Tool.lnk"));
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Notes.lnk"));
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Notes")), newNotes);
    EnableEntry(Row(kUserOff, L"Tool"), nullptr, true);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\new\\tool.exe --new");

    // The same entry starting already: only the switched-off copy goes.
    m_registry.SetRunValue(Location::User, L"Same", L"%TEMP%\\same.exe", REG_EXPAND_SZ);
    DisableEntry(Row(kUser, L"Same"));
    m_registry.SetRunValue(Location::User, L"Same", L"%TEMP%\\same.exe", REG_EXPAND_SZ);
    const Entry same = Row(kUserOff, L"Same");
    EXPECT_FALSE(StartingTwinOf(same));
    EnableEntry(same, nullptr);
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Tool.lnk"));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Same")->text, L"%TEMP%\\same.exe");
}

// An exchange that fails halfway keeps both entries: the one that starts stays, and its copy goes again.
TEST_F(EntryOperationsTest, AnExchangeThatFailsKeepsBothEntries) {
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\old\\notes.exe", L"old notes");
    DisableEntry(Row(kStartUp, L"Notes"));
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\new\\notes.exe", L"new notes");
    const std::string newNotes = ReadFileBytes(StartupPath(L"Notes.lnk"));
    const std::string oldNotes = ReadFileBytes(StorePath(kStartUpOff, L"Notes"));
    const Entry notes = Row(kStartUpOff, L"Notes");
    {
        const UniqueFile held = HoldFile(StartupPath(L"Notes.lnk"), 0); // the shortcut cannot be replaced
        EXPECT_NE(MessageOf<EBootwarden>([&] { EnableEntry(notes, nullptr, true); }), L"(no error)");
    }
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Notes.lnk")), newNotes);
    EXPECT_EQ(ReadFileBytes(StorePath(kStartUpOff, L"Notes")), oldNotes);
    EXPECT_THAT(StoreNames(kStartUpOff), ElementsAre(L"Notes.lnk")) << "no copy left beside it";
}

} // namespace
} // namespace bw::test
