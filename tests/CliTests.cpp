#include "TestEnvironment.h"

#include "store/StoreOwner.h"

#include "cli/EntryFormats.h"
#include "cli/Output.h"
#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "platform/ShellLink.h"
#include "resources/Texts.h"
#include "store/History.h"
#include "store/Mirror.h"
#include "store/StoreData.h"
#include "store/StoreDoor.h"
#include "store/StoreLock.h"
#include "store/StoreOwner.h"
#include "store/StoreSession.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <sstream>
#include <thread>

namespace bw::test {

namespace {

using Json = nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

struct CliResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out; // bytes as written
    std::string err;

    std::vector<std::string> ErrLines() const {
        std::vector<std::string> lines;
        std::istringstream stream(err);
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

std::string Utf8(const std::wstring& text) {
    return cli::Utf8Of(text);
}

// A pipe whose read end the test keeps and whose write end the child inherits.
struct Pipe {
    UniqueFile read;
    UniqueFile write;
    Pipe() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
            throw std::runtime_error("cannot create a pipe");
        }
        read.Reset(readEnd);
        write.Reset(writeEnd);
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    }
};

std::string ReadAll(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

// A bwcli process under way, its outputs read as it writes them.
class TCliProcess {
public:
    TCliProcess(const std::wstring& exe, const std::wstring& arguments) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = m_out.write.Get();
        startup.hStdError = m_err.write.Get();
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                              nullptr, &startup, &process)) {
            throw std::runtime_error("cannot start bwcli: error " + std::to_string(::GetLastError()));
        }
        m_process.Reset(process.hProcess);
        UniqueFile thread(process.hThread);
        m_out.write.Reset();
        m_err.write.Reset();
        m_outReader = std::thread([this] { m_result.out = ReadAll(m_out.read.Get()); });
        m_errReader = std::thread([this] { m_result.err = ReadAll(m_err.read.Get()); });
    }
    ~TCliProcess() {
        if (m_outReader.joinable()) {
            (void)Finish();
        }
    }

    CliResult Finish() {
        if (::WaitForSingleObject(m_process.Get(), 60000) != WAIT_OBJECT_0) {
            ::TerminateProcess(m_process.Get(), 99);
            ::WaitForSingleObject(m_process.Get(), 5000);
        }
        m_outReader.join();
        m_errReader.join();
        ::GetExitCodeProcess(m_process.Get(), &m_result.exitCode);
        return m_result;
    }

private:
    Pipe m_out;
    Pipe m_err;
    UniqueFile m_process;
    std::thread m_outReader;
    std::thread m_errReader;
    CliResult m_result;
};

// A scratch store with bwcli beside it, as it ships: the test build of bwcli, copied into the store's program
// folder and pointed at this test's scratch registry.
class CliTest : public StoreTest {
protected:
    CliTest() {
        const std::wstring built = FolderPart(ModulePath()) + L"BwcliUnderTest.exe";
        m_exe = m_programDir + L"bwcli.exe";
        if (!::CopyFileW(built.c_str(), m_exe.c_str(), FALSE)) {
            throw std::runtime_error("cannot copy BwcliUnderTest.exe beside the scratch store");
        }
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", m_registry.ScratchPath().c_str());
        // The child takes the same folder for the user's temporary one as this process does.
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", (m_root / L"Temp").c_str());
    }
    ~CliTest() override {
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", nullptr);
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_TEMP", nullptr);
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_UNWRITABLE", nullptr);
    }

    CliResult Run(const std::wstring& arguments) { return TCliProcess(m_exe, arguments).Finish(); }

    // The entries as the store's own session lists them, in this process.
    std::vector<Entry> SessionEntries() {
        TStoreSession session;
        (void)session.Refresh(false, nullptr);
        return session.Entries();
    }

    void SeedThree() {
        m_registry.SetRunValue(Location::Local, L"Backup Agent", L"\"c:\\Program Files\\Backup\\agent.exe\" --quiet");
        m_registry.SetRunValue(Location::User, L"Monitor", L"%SystemRoot%\\system32\\taskmgr.exe", REG_EXPAND_SZ);
        WriteShortcut(StartupPath(L"Clock.lnk"), L"c:\\windows\\system32\\notepad.exe", L"Clock");
    }

    std::wstring m_exe;
};

const Json* Find(const Json& entries, const std::string& name, const std::string& location) {
    for (const Json& entry : entries) {
        if (entry.at("name") == name && entry.at("location") == location) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

// --- list, in its three formats -------------------------------------------------------------------------

TEST_F(CliTest, ListAsJsonHoldsEveryEntryOfTheStoreWithItsFields) {
    SeedThree();
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);

    const CliResult result = Run(L"list --json");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    const Json document = Json::parse(result.out);
    EXPECT_EQ(document.at("format"), 1);
    const Json& entries = document.at("entries");

    // The same entries, in the same order, as the store's session in this process lists them.
    const std::vector<Entry> expected = SessionEntries();
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(entries[i].at("name"), Utf8(expected[i].name));
        EXPECT_EQ(entries[i].at("code"), expected[i].code);
        EXPECT_EQ(entries[i].at("storeLink"), Utf8(expected[i].storeLinkPath));
    }

    const Json* backup = Find(entries, "Backup Agent", "hklm");
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(backup->at("label"), "Registry (HKLM)");
    EXPECT_EQ(backup->at("enabled"), true);
    EXPECT_EQ(backup->at("starts"), true);
    EXPECT_EQ(backup->at("switchedOffInWindows"), false);
    EXPECT_EQ(backup->at("commandLine"), "\"c:\\Program Files\\Backup\\agent.exe\" --quiet");
    EXPECT_TRUE(backup->at("target").is_null()); // not installed here
    EXPECT_TRUE(backup->at("problem").is_null());
    EXPECT_EQ(backup->at("publisher"), "Program not found") << "its program is not installed";
    EXPECT_TRUE(backup->at("description").is_null());
    EXPECT_TRUE(backup->at("signer").is_null());
    EXPECT_EQ(backup->at("signature"), "missing");

    const Json* monitor = Find(entries, "Monitor", "hkcu");
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->at("code"), kUserOff);
    EXPECT_EQ(monitor->at("enabled"), false);
    EXPECT_EQ(monitor->at("starts"), false);
    EXPECT_EQ(monitor->at("commandLine"), "%SystemRoot%\\system32\\taskmgr.exe");

    const Json* clock = Find(entries, "Clock", "startup");
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->at("label"), "Startup Folder");
    EXPECT_EQ(clock->at("commandLine"), "c:\\windows\\system32\\notepad.exe");
}

// --- history ----------------------------------------------------------------------------------------------

// bwcli history --json prints the store's history newest first, exactly as the store keeps it: bwcli's own switch as
// bwcli's, and a value another program added as "outside", seen by the import that history runs first.
TEST_F(CliTest, HistoryAsJsonIsTheStoresHistoryNewestFirst) {
    SeedThree();
    ASSERT_EQ(Run(L"list").exitCode, 0u);
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);
    const std::wstring odd = L"Came\tback \u0416";
    m_registry.SetRunValue(Location::User, odd, L"c:\\came.exe /x");

    const CliResult result = Run(L"history --json");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    const Json document = Json::parse(result.out);
    EXPECT_EQ(document.at("format"), 1);
    const Json& history = document.at("history");
    const std::vector<HistoryLine> kept = ReadHistory();
    ASSERT_EQ(history.size(), 2u);
    ASSERT_EQ(kept.size(), 2u);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(history[i].at("time"), Utf8(HistoryTimeText(kept[i].time)));
        EXPECT_EQ(history[i].at("name"), Utf8(kept[i].name));
        EXPECT_EQ(history[i].at("code"), kept[i].code);
    }
    EXPECT_EQ(history[0].at("change"), "added");
    EXPECT_EQ(history[0].at("by"), "outside");
    EXPECT_EQ(history[0].at("name"), Utf8(odd));
    EXPECT_EQ(history[0].at("location"), "hkcu");
    EXPECT_EQ(history[0].at("id"), Utf8(L"hkcu:=Came%0009back \u0416")) << "as --id takes a name with a tab";
    EXPECT_EQ(history[0].at("commandLine"), "c:\\came.exe /x");
    EXPECT_EQ(history[1].at("change"), "switched-off");
    EXPECT_EQ(history[1].at("by"), "bwcli");
    EXPECT_EQ(history[1].at("name"), "Monitor");
    EXPECT_EQ(history[1].at("code"), kUserOff);
    EXPECT_EQ(history[1].at("label"), "Registry (HKCU)");
    EXPECT_EQ(history[1].at("commandLine"), "%SystemRoot%\\system32\\taskmgr.exe");
    const std::string time = history[1].at("time");
    EXPECT_EQ(time.size(), 20u);
    EXPECT_EQ(time.back(), 'Z');

    const CliResult csv = Run(L"history --csv");
    ASSERT_EQ(csv.exitCode, 0u) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n') + 1), "time,change,by,location,code,label,name,id,commandLine\r\n");
    EXPECT_THAT(csv.out, HasSubstr(",added,outside,hkcu,2,Registry (HKCU),Came\xe2\x90\x89" "back \xd0\x96,"));
    EXPECT_EQ(Run(L"history --hide-windows").exitCode, 2u);
}

TEST_F(CliTest, ListAsTableAndCsv) {
    SeedThree();
    m_registry.SetRunValue(Location::User, L"Quoted, \"odd\"", L"c:\\a.exe --x=\"1,2\"");

    const CliResult table = Run(L"list");
    ASSERT_EQ(table.exitCode, 0u) << table.err;
    std::vector<std::string> lines;
    std::istringstream stream(table.out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 5u) << table.out;
    // Every column starts at the same place on every line.
    const size_t stateColumn = lines[0].find("State");
    const size_t locationColumn = lines[0].find("Found in...");
    ASSERT_NE(stateColumn, std::string::npos);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].compare(stateColumn, 2, "on") == 0) << lines[i];
        EXPECT_TRUE(lines[i][locationColumn] >= '1' && lines[i][locationColumn] <= '3') << lines[i];
    }
    EXPECT_NE(table.out.find("1 - Registry (HKLM)  \"c:\\Program Files\\Backup\\agent.exe\" --quiet\n"),
              std::string::npos)
        << table.out;

    const CliResult csv = Run(L"list --csv");
    ASSERT_EQ(csv.exitCode, 0u) << csv.err;
    EXPECT_EQ(csv.out.rfind("name,location,code,label,enabled,switchedOffInWindows,starts,commandLine,target,"
                            "problem,storeLink,publisher,description,id,signer,signature\r\n",
                            0),
              0u)
        << csv.out;
    // A field with a comma or a quote is quoted, its quotes doubled.
    EXPECT_NE(csv.out.find("\"Quoted, \"\"odd\"\"\",hkcu,2,Registry (HKCU),true,false,true,"
                           "\"c:\\a.exe --x=\"\"1,2\"\"\",,,"),
              std::string::npos)
        << csv.out;
    size_t records = 0;
    for (size_t at = 0; (at = csv.out.find("\r\n", at)) != std::string::npos; at += 2) {
        ++records;
    }
    EXPECT_EQ(records, 5u);
}

// --- operations and their exit codes --------------------------------------------------------------------

TEST_F(CliTest, DisableAndEnableRoundTripKeepsTheValueAndItsType) {
    SeedThree();
    CliResult result = Run(L"disable Monitor");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Switched off \"Monitor\" (hkcu).\n");
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Monitor"));
    EXPECT_THAT(StoreNames(kUserOff), ::testing::ElementsAre(L"Monitor.lnk"));

    result = Run(L"disable monitor"); // the name as the registry compares it
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "\"Monitor\" (hkcu) is switched off already.\n");

    result = Run(L"enable Monitor");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Switched on \"Monitor\" (hkcu).\n");
    const auto value = m_registry.RunValue(Location::User, L"Monitor");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(value->text, L"%SystemRoot%\\system32\\taskmgr.exe");
    EXPECT_TRUE(StoreNames(kUserOff).empty());

    // A Startup shortcut goes into the store and comes back byte for byte.
    const std::string shortcut = ReadFileBytes(StartupPath(L"Clock.lnk"));
    EXPECT_EQ(Run(L"disable Clock").exitCode, 0u);
    EXPECT_FALSE(PathExists(StartupPath(L"Clock.lnk")));
    EXPECT_EQ(Run(L"enable Clock").exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Clock.lnk")), shortcut);
}

TEST_F(CliTest, DryRunSaysWhatItWouldDoAndChangesNothing) {
    SeedThree();
    CliResult result = Run(L"disable --dry-run \"Backup Agent\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Would switch off \"Backup Agent\" (hklm).\n");
    EXPECT_TRUE(m_registry.RunValue(Location::Local, L"Backup Agent"));
    EXPECT_TRUE(StoreNames(kLocalOff).empty());

    result = Run(L"delete Clock --dry-run");
    EXPECT_EQ(result.out, "Would delete \"Clock\" (startup).\n");
    EXPECT_TRUE(PathExists(StartupPath(L"Clock.lnk")));

    const std::wstring program = m_root / L"tool.exe";
    WriteFileBytes(program, "MZ");
    result = Run(L"add --dry-run \"" + program + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(PathExists(StartupPath(L"tool.lnk")));
}

TEST_F(CliTest, DeleteAndAddAsTheButtonsDo) {
    SeedThree();
    CliResult result = Run(L"delete \"Backup Agent\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(m_registry.RunValue(Location::Local, L"Backup Agent"));
    result = Run(L"delete \"Backup Agent\"");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.err, "bwcli: no entry named \"Backup Agent\"\n");

    // A switched-off entry is deleted from the store.
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);
    EXPECT_EQ(Run(L"delete Monitor").exitCode, 0u);
    EXPECT_TRUE(StoreNames(kUserOff).empty());

    const std::wstring program = m_root / L"tool.v2.exe";
    WriteFileBytes(program, "MZ");
    result = Run(L"add \"" + program + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(ReadShortcut(StartupPath(L"tool.lnk")).path, program);
    EXPECT_THAT(StoreNames(kStartUp), ::testing::Contains(L"tool.lnk")); // listed at once
    result = Run(L"add \"" + program + L"\" --name \"My tool\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Added \"My tool\" (startup): " + Utf8(program) + "\n");
    EXPECT_EQ(ReadShortcut(StartupPath(L"My tool.lnk")).path, program);

    result = Run(L"add \"" + (m_root / L"missing.exe") + L"\"");
    EXPECT_EQ(result.exitCode, 1u);
    result = Run(L"add \"" + program + L"\" --name ..\\evil");
    EXPECT_EQ(result.exitCode, 2u) << result.out;
    EXPECT_EQ(result.ErrLines().size(), 1u);
}

// The all-users Startup folder and the places listed read-only, through bwcli: each listed under its word and code.
// The folder of all users is switched off and on byte for byte and takes new shortcuts; an entry of a policy or
// RunOnce key has no store link, says why, and every change of it is refused with 2 and that reason.
TEST_F(CliTest, EveryPlaceIsListedAndThoseListedReadOnlyRefuseChanges) {
    WriteShortcut(CommonPath(L"Shared.lnk"), L"c:\\windows\\system32\\notepad.exe", L"Shared");
    m_registry.SetText(HKEY_LOCAL_MACHINE, kPolicyRunKeyPath, L"Agent", L"c:\\corp\\agent.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kRunOnceKeyPath, L"!Setup", L"c:\\setup.exe");
    CliResult result = Run(L"list --json");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    const Json entries = Json::parse(result.out).at("entries");
    const Json* shared = Find(entries, "Shared", "common");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->at("code"), kCommon);
    EXPECT_EQ(shared->at("label"), "Startup Folder (all users)");
    EXPECT_EQ(shared->at("storeLink"), Utf8(StorePath(kCommon, L"Shared")));
    EXPECT_EQ(shared->at("id"), "common:Shared");
    const Json* agent = Find(entries, "Agent", "policy-hklm");
    ASSERT_NE(agent, nullptr);
    EXPECT_EQ(agent->at("code"), kPolicyLocalCode);
    EXPECT_EQ(agent->at("label"), "Policy (HKLM)");
    EXPECT_EQ(agent->at("commandLine"), "c:\\corp\\agent.exe");
    EXPECT_EQ(agent->at("starts"), true);
    EXPECT_TRUE(agent->at("storeLink").is_null());
    EXPECT_THAT(agent->at("problem").get<std::string>(), HasSubstr("A policy sets this entry"));
    const Json* setup = Find(entries, "!Setup", "runonce-hkcu");
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->at("label"), "Runs once (HKCU)");
    EXPECT_TRUE(setup->at("storeLink").is_null());
    EXPECT_THAT(setup->at("problem").get<std::string>(), HasSubstr("begins with \"!\""));

    for (const wchar_t* command : {L"disable Agent", L"enable Agent", L"delete Agent", L"delete Agent --dry-run",
                                   L"disable --id runonce-hkcu:!Setup", L"enable !Setup --location runonce-hkcu"}) {
        result = Run(command);
        EXPECT_EQ(result.exitCode, 2u) << Utf8(command) << result.out;
        EXPECT_THAT(result.err, HasSubstr("is not changed here")) << Utf8(command);
        EXPECT_EQ(result.ErrLines().size(), 1u) << Utf8(command);
    }
    result = Run(L"list --json");
    EXPECT_NE(Find(Json::parse(result.out).at("entries"), "Agent", "policy-hklm"), nullptr) << "the value stays";
    EXPECT_NE(Find(Json::parse(result.out).at("entries"), "!Setup", "runonce-hkcu"), nullptr);

    const std::string bytes = ReadFileBytes(CommonPath(L"Shared.lnk"));
    result = Run(L"disable Shared --location common");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(PathExists(CommonPath(L"Shared.lnk")));
    EXPECT_EQ(ReadFileBytes(StorePath(kCommonOff, L"Shared")), bytes);
    result = Run(L"enable --id common:Shared");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(ReadFileBytes(CommonPath(L"Shared.lnk")), bytes);

    const std::wstring program = m_root / L"tool.exe";
    WriteFileBytes(program, "MZ");
    result = Run(L"add \"" + program + L"\" --location common");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Added \"tool\" (common): " + Utf8(program) + "\n");
    EXPECT_EQ(ReadShortcut(CommonPath(L"tool.lnk")).path, program);
    EXPECT_FALSE(PathExists(StartupPath(L"tool.lnk")));
    result = Run(L"add \"" + program + L"\" --location hkcu");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.err, "bwcli: add puts a shortcut into a Startup folder: use startup or common\n");
}

TEST_F(CliTest, RefusalsAndMistakesHaveTheirExitCodesAndOneLineEach) {
    SeedThree();
    // A switched-off twin of other contents would be lost: the store's own rule refuses.
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);
    m_registry.SetRunValue(Location::User, L"Monitor", L"c:\\other\\monitor.exe");
    CliResult result = Run(L"disable Monitor --location hkcu");
    EXPECT_EQ(result.exitCode, 2u) << result.out;
    ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
    EXPECT_NE(result.err.find("already kept"), std::string::npos) << result.err;
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Monitor"));

    for (const wchar_t* wrong :
         {L"", L"frobnicate", L"list --location hkcu", L"disable", L"disable a b", L"list --json --csv",
          L"enable x --location hkxx", L"list --bogus", L"disable x --state off", L"delete x --state maybe"}) {
        result = Run(wrong);
        EXPECT_EQ(result.exitCode, 2u) << Utf8(wrong);
        EXPECT_EQ(result.ErrLines().size(), 1u) << Utf8(wrong) << result.err;
        EXPECT_EQ(result.out, "") << Utf8(wrong);
    }
    result = Run(L"--help");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out.rfind("Usage: bwcli", 0), 0u);
    result = Run(L"--version");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out.rfind("bwcli 1.", 0), 0u) << result.out;
}

// A program that added itself again after it was switched off: switching the old one on would overwrite it.
TEST_F(CliTest, EnableNeverOverwritesWhatStartsNow) {
    SeedThree();
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);
    m_registry.SetRunValue(Location::User, L"Monitor", L"c:\\monitor\\v2.exe");
    CliResult result = Run(L"enable Monitor");
    EXPECT_EQ(result.exitCode, 2u);
    ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
    EXPECT_NE(result.err.find("c:\\monitor\\v2.exe"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("%SystemRoot%\\system32\\taskmgr.exe"), std::string::npos) << result.err;
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Monitor")->text, L"c:\\monitor\\v2.exe");
    EXPECT_THAT(StoreNames(kUserOff), ::testing::ElementsAre(L"Monitor.lnk"));

    // Both are there now; delete tells them apart by their state.
    result = Run(L"delete Monitor");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_NE(result.err.find("hkcu (on), hkcu (off); choose one with --state on or --state off"), std::string::npos)
        << result.err;
    EXPECT_EQ(Run(L"delete Monitor --state off --dry-run").out, "Would delete \"Monitor\" (hkcu).\n");
    EXPECT_THAT(StoreNames(kUserOff), ::testing::ElementsAre(L"Monitor.lnk"));
    ASSERT_EQ(Run(L"disable Monitor").exitCode, 2u); // the switched-off twin differs: refused, as in the window
    ASSERT_EQ(Run(L"enable Monitor").exitCode, 2u);

    // Asked for, the two change places: the one that started so far is kept switched off instead.
    EXPECT_EQ(Run(L"enable Monitor --replace --dry-run").out,
              "Would switch on \"Monitor\" (hkcu), keeping the one that starts now switched off in its place.\n");
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Monitor")->text, L"c:\\monitor\\v2.exe");
    result = Run(L"enable Monitor --replace");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    const auto value = m_registry.RunValue(Location::User, L"Monitor");
    EXPECT_EQ(value->text, L"%SystemRoot%\\system32\\taskmgr.exe");
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(ReadShortcut(StorePath(kUserOff, L"Monitor")).description, L"c:\\monitor\\v2.exe");

    // The very same entry starting again: the switched-off copy only goes.
    m_registry.SetRunValue(Location::User, L"Monitor", L"c:\\monitor\\v2.exe");
    result = Run(L"enable Monitor");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_TRUE(StoreNames(kUserOff).empty());

    // The same for a Startup shortcut.
    ASSERT_EQ(Run(L"disable Clock").exitCode, 0u);
    WriteShortcut(StartupPath(L"Clock.lnk"), L"c:\\clock\\v2.exe", L"Clock 2");
    const std::string theirs = ReadFileBytes(StartupPath(L"Clock.lnk"));
    result = Run(L"enable Clock");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(ReadFileBytes(StartupPath(L"Clock.lnk")), theirs);
    EXPECT_THAT(StoreNames(kStartUpOff), ::testing::ElementsAre(L"Clock.lnk"));
}

TEST_F(CliTest, AmbiguousNameIsRefusedListingItsPlaces) {
    SeedThree();
    m_registry.SetRunValue(Location::User, L"clock", L"c:\\tools\\clock.exe");
    CliResult result = Run(L"disable Clock");
    EXPECT_EQ(result.exitCode, 2u);
    ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
    EXPECT_NE(result.err.find("hkcu (on)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("startup (on)"), std::string::npos) << result.err;
    EXPECT_TRUE(PathExists(StartupPath(L"Clock.lnk")));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"clock"));

    result = Run(L"disable Clock --location startup");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(PathExists(StartupPath(L"Clock.lnk")));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"clock"));

    result = Run(L"enable Clock --location hkcu");
    EXPECT_EQ(result.out, "\"clock\" (hkcu) is switched on already.\n");
    result = Run(L"enable Nothing --location hklm");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.err, "bwcli: no entry named \"Nothing\" in hklm\n");
}

TEST_F(CliTest, UnicodeNamesArriveWholeThroughAPipe) {
    const std::wstring name = L"Календарь \u65e5\u5386 \U0001F4C5";
    const std::wstring command = L"c:\\Programme\\K\u00e4lender\\\u65e5\u5386.exe /tray";
    m_registry.SetRunValue(Location::User, name, command);

    CliResult result = Run(L"list --json");
    ASSERT_EQ(result.exitCode, 0u) << result.err;
    const Json document = Json::parse(result.out);
    const Json* entry = Find(document.at("entries"), Utf8(name), "hkcu");
    ASSERT_NE(entry, nullptr) << result.out;
    EXPECT_EQ(entry->at("commandLine"), Utf8(command));
    result = Run(L"list");
    EXPECT_NE(result.out.find(Utf8(name)), std::string::npos);
    EXPECT_NE(result.out.find(Utf8(command)), std::string::npos);

    result = Run(L"disable \"" + name + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Switched off \"" + Utf8(name) + "\" (hkcu).\n");
    EXPECT_FALSE(m_registry.RunValue(Location::User, name));
    result = Run(L"enable \"" + name + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    const auto value = m_registry.RunValue(Location::User, name);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->text, command);
}

TEST_F(CliTest, RefreshSaysWhatItChanged) {
    SeedThree();
    ASSERT_EQ(Run(L"list").exitCode, 0u);
    m_registry.SetRunValue(Location::User, L"Updater", L"c:\\updater.exe");
    m_registry.SetRunValue(Location::User, L"Monitor", L"c:\\monitor2.exe");
    m_registry.RemoveRunValue(Location::Local, L"Backup Agent");

    CliResult result = Run(L"refresh");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_NE(result.out.find("Stored \"Updater\" (hkcu): new in Windows.\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Stored \"Monitor\" (hkcu) again: changed in Windows.\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Dropped \"Backup Agent\" (hklm) from the store: gone from Windows.\n"),
              std::string::npos)
        << result.out;
    result = Run(L"refresh");
    EXPECT_EQ(result.out, "Nothing changed.\n");
}

// --- the test build never reaches the real entries ------------------------------------------------------

TEST_F(CliTest, TestBuildRefusesToRunWithoutAScratchRegistry) {
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_REGISTRY", nullptr);
    const CliResult result = Run(L"list");
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_NE(result.err.find("test build"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(FolderNames(StoreFolderPath(kStartUp)).empty());
}

// --- one program at a time on a store -------------------------------------------------------------------

TEST_F(CliTest, AStoreHeldByAnotherProcessIsBusyAfterAWait) {
    SeedThree();
    const TStoreLock held; // the window, working
    const auto start = std::chrono::steady_clock::now();
    const CliResult result = Run(L"disable Monitor");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_EQ(result.err, "bwcli: " + Utf8(text::kStoreBusy) + "\n");
    EXPECT_GE(waited, std::chrono::milliseconds(kStoreLockWait - 500));
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Monitor"));
}

TEST_F(CliTest, AStoreReleasedWithinTheWaitIsWorkedOn) {
    SeedThree();
    auto held = std::make_unique<TStoreLock>();
    TCliProcess waiting(m_exe, L"disable Monitor");
    ::Sleep(1000);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Monitor")) << "worked on a store held by another process";
    held.reset();
    const CliResult result = waiting.Finish();
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Monitor"));
}

// A store whose lock another copy made with security that leaves bwcli out (Windows' access denied, through the test
// build's seam), or whose lock's name is held by an object that is not the program's: list works, without writing
// anything into the store; every change is refused in one line with the reason, exit 2.
TEST_F(CliTest, AStoreWhoseObjectsCannotBeSharedIsOnlyListed) {
    SeedThree();
    const auto refusedAndListed = [&](const std::string& reason) {
        const CliResult listed = Run(L"list");
        EXPECT_EQ(listed.exitCode, 0u) << listed.err;
        EXPECT_THAT(listed.out, HasSubstr("Monitor"));
        EXPECT_THAT(listed.out, HasSubstr("Backup Agent"));
        EXPECT_THAT(StoreNames(kUser), IsEmpty()) << "nothing written without the lock";
        for (const wchar_t* change : {L"disable Monitor", L"refresh", L"add c:\\windows\\notepad.exe"}) {
            const CliResult result = Run(change);
            EXPECT_EQ(result.exitCode, 2u) << Utf8(change) << result.err;
            ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
            EXPECT_THAT(result.err, HasSubstr(reason));
        }
        EXPECT_TRUE(m_registry.RunValue(Location::User, L"Monitor"));
        EXPECT_THAT(StoreNames(kUserOff), IsEmpty());
    };
    {
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_OBJECTS_DENIED", L"1");
        refusedAndListed("another copy of Bootwarden works on the store");
        ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_OBJECTS_DENIED", nullptr);
    }
    {
        UniqueObject squatter(::CreateEventW(nullptr, TRUE, FALSE, StoreLockName(m_programDir).c_str()));
        ASSERT_TRUE(squatter);
        refusedAndListed("is taken by a program that is not Bootwarden");
    }
    EXPECT_EQ(Run(L"disable Monitor").exitCode, 0u) << "the store's own lock again";
}

TEST_F(CliTest, TwoProcessesAtOnceBothFinishAndLoseNothing) {
    SeedThree();
    for (int i = 0; i < 6; ++i) {
        m_registry.SetRunValue(Location::User, L"Extra " + std::to_wstring(i), L"c:\\extra.exe " + std::to_wstring(i));
    }
    TCliProcess first(m_exe, L"disable \"Extra 1\"");
    TCliProcess second(m_exe, L"disable \"Extra 4\"");
    TCliProcess third(m_exe, L"list --json");
    EXPECT_EQ(first.Finish().exitCode, 0u);
    EXPECT_EQ(second.Finish().exitCode, 0u);
    const CliResult listed = third.Finish();
    EXPECT_EQ(listed.exitCode, 0u) << listed.err;
    EXPECT_TRUE(Json::accept(listed.out)) << listed.out;

    EXPECT_THAT(StoreNames(kUserOff), ::testing::UnorderedElementsAre(L"Extra 1.lnk", L"Extra 4.lnk"));
    EXPECT_EQ(m_registry.RunValueNames(Location::User).size(), 5u); // Monitor and four extras
    EXPECT_EQ(SessionEntries().size(), 3u + 6u);
}

TEST_F(CliTest, EveryCommandTellsAWindowOnTheStoreThatItWorkedThere) {
    SeedThree();
    TStoreWatch window;
    EXPECT_FALSE(window.OthersWorked());
    EXPECT_EQ(Run(L"list").exitCode, 0u);
    EXPECT_TRUE(window.OthersWorked());
    window.Seen();
    EXPECT_EQ(Run(L"disable Nothing").exitCode, 1u); // its import ran all the same
    EXPECT_TRUE(window.OthersWorked());
    window.Seen();
    EXPECT_EQ(Run(L"--version").exitCode, 0u); // reads nothing, changes nothing
    EXPECT_FALSE(window.OthersWorked());
}

// --- the store's door: bwcli makes the window's start checks ----------------------------------------------

// Opened inside its zip, bwcli runs from below the user's temporary folder, which Windows' clean-up empties:
// every command is refused with one line, no store is made and nothing changes.
TEST_F(CliTest, AStoreBelowTheTemporaryFolderIsRefusedWithOneLine) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    const std::wstring folder = m_root / L"Temp\\Temp1_Bootwarden.zip\\Bootwarden\\";
    ::CreateDirectoryW((m_root / L"Temp").c_str(), nullptr);
    ::CreateDirectoryW((m_root / L"Temp\\Temp1_Bootwarden.zip").c_str(), nullptr);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileW(m_exe.c_str(), (folder + L"bwcli.exe").c_str(), FALSE));
    for (const wchar_t* command : {L"disable Tool", L"list", L"refresh"}) {
        const CliResult result = TCliProcess(folder + L"bwcli.exe", command).Finish();
        EXPECT_EQ(result.exitCode, 2u) << Utf8(command);
        ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
        EXPECT_THAT(result.ErrLines()[0], HasSubstr("temporary folder"));
        EXPECT_EQ(result.out, "");
    }
    EXPECT_THAT(FolderNames(folder), ElementsAre(L"bwcli.exe")) << "no store made";
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
}

// In a program folder that cannot be written (Program Files, for a standard user) the entries are listed, and
// every change is refused before anything is written: switching a kept entry on must not write its value when
// its store link cannot then leave (it would be listed twice).
TEST_F(CliTest, AReadOnlyStoreIsListedAndEveryChangeRefused) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe --quiet");
    ASSERT_EQ(Run(L"disable Kept").exitCode, 0u);
    ::SetEnvironmentVariableW(L"BOOTWARDEN_TEST_UNWRITABLE", m_programDir.c_str());

    const CliResult list = Run(L"list --json");
    EXPECT_EQ(list.exitCode, 0u) << list.err;
    const Json entries = Json::parse(list.out).at("entries");
    EXPECT_NE(Find(entries, "Tool", "hkcu"), nullptr);
    EXPECT_NE(Find(entries, "Kept", "hkcu"), nullptr);

    for (const std::wstring& command :
         {std::wstring(L"enable Kept"), std::wstring(L"disable Tool"), std::wstring(L"delete Tool"),
          std::wstring(L"refresh"), std::wstring(L"disable Tool --dry-run"), L"add \"" + m_exe + L"\""}) {
        const CliResult result = Run(command);
        EXPECT_EQ(result.exitCode, 2u) << Utf8(command);
        ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
        EXPECT_THAT(result.ErrLines()[0], HasSubstr("cannot write in its folder"));
    }
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Kept")) << "not written while its link cannot leave";
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Kept.lnk"));
    EXPECT_THAT(FolderNames(m_startup), IsEmpty());
}

// A store kept by another account or on another computer is listed with one warning that says whose it is; every
// change is refused with exit 2 until "adopt", which deletes nothing.
TEST_F(CliTest, AStoreOfAnotherAccountIsListedUntilAdopted) {
    m_registry.SetRunValue(Location::User, L"Kept", L"c:\\kept.exe --quiet");
    ASSERT_EQ(Run(L"disable Kept").exitCode, 0u);
    RecordStoreOwner({L"S-1-5-21-9-9-9-1234", L"OTHERPC\\zoe", L"guid-of-otherpc", L"OTHERPC"});

    const CliResult list = Run(L"list --json");
    EXPECT_EQ(list.exitCode, 0u) << list.err;
    ASSERT_EQ(list.ErrLines().size(), 1u) << list.err;
    EXPECT_THAT(list.ErrLines()[0], HasSubstr("OTHERPC\\zoe"));
    EXPECT_NE(Find(Json::parse(list.out).at("entries"), "Kept", "hkcu"), nullptr);
    for (const std::wstring& command : {std::wstring(L"enable Kept"), std::wstring(L"delete Kept"),
                                        std::wstring(L"refresh"), L"add \"" + m_exe + L"\""}) {
        const CliResult result = Run(command);
        EXPECT_EQ(result.exitCode, 2u) << Utf8(command);
        ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
        EXPECT_THAT(result.ErrLines()[0], HasSubstr("adopt"));
    }
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Kept"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Kept.lnk"));
    EXPECT_THAT(FolderNames(m_startup), IsEmpty());

    const CliResult adopt = Run(L"adopt");
    EXPECT_EQ(adopt.exitCode, 0u) << adopt.err;
    EXPECT_THAT(adopt.out, HasSubstr("nothing was deleted"));
    EXPECT_THAT(StoreNames(kUserOff), ElementsAre(L"Kept.lnk"));
    EXPECT_EQ(Run(L"enable Kept").exitCode, 0u);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Kept"));
    EXPECT_THAT(Run(L"adopt").out, HasSubstr("already"));
}

// A link in a store folder that the store's records do not name, or one the program wrote under another name, is
// listed with its reason and never switched on, deleted or written over by bwcli: the refusal names the link.
TEST_F(CliTest, AStoreLinkTheRecordsDoNotKnowIsListedAndLeftAsItIs) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe -a");
    ASSERT_EQ(Run(L"disable Tool").exitCode, 0u);
    ASSERT_TRUE(::MoveFileW(StorePath(kUserOff, L"Tool").c_str(), StorePath(kUserOff, L"Renamed").c_str()));
    WriteShortcut(StorePath(kUserOff, L"Stranger"), L"c:\\stranger.exe", L"c:\\stranger.exe");
    m_registry.SetRunValue(Location::User, L"Taken", L"c:\\taken.exe");
    WriteShortcut(StorePath(kUser, L"Taken"), L"c:\\other.exe", L"c:\\other.exe");
    const std::string taken = ReadFileBytes(StorePath(kUser, L"Taken"));

    const CliResult list = Run(L"list --json");
    ASSERT_EQ(list.exitCode, 0u) << list.err;
    const Json entries = Json::parse(list.out).at("entries");
    for (const char* name : {"Stranger", "Renamed"}) {
        const Json* entry = Find(entries, name, "hkcu");
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_FALSE(entry->at("problem").is_null()) << name;
    }
    for (const auto& [command, link] :
         {std::pair<std::wstring, std::wstring>{L"enable Stranger", L"Stranger.lnk"},
          {L"delete --state off Stranger", L"Stranger.lnk"},
          {L"enable Renamed", L"Tool.lnk"}}) {
        const CliResult result = Run(command);
        EXPECT_EQ(result.exitCode, 2u) << Utf8(command) << result.err;
        ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
        EXPECT_THAT(result.ErrLines()[0], HasSubstr(Utf8(link))) << "the refusal names the link it is about";
    }
    const CliResult refresh = Run(L"refresh");
    EXPECT_LE(refresh.exitCode, 4u) << refresh.err;
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Stranger"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Renamed"));
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_THAT(StoreNames(kUserOff), UnorderedElementsAre(L"Renamed.lnk", L"Stranger.lnk"));
    EXPECT_EQ(ReadFileBytes(StorePath(kUser, L"Taken")), taken) << "never written over";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Taken")->text, L"c:\\taken.exe");
}

// A store folder linked to a folder that holds files of others (an installer's junction to a folder already in
// use): the store works there, and nothing that the store's records do not name is removed or written over, by a
// refresh or by switching an entry off and on.
TEST_F(CliTest, AStoreFolderLinkedToAFolderOfOtherFilesLeavesThemAsTheyAre) {
    const std::wstring other = m_root / L"Other";
    ::CreateDirectoryW(other.c_str(), nullptr);
    WriteFileBytes(other + L"\\precious.txt", "precious");
    WriteShortcut(other + L"\\Looks.lnk", L"c:\\looks.exe", L"c:\\looks.exe");
    WriteShortcut(other + L"\\Stray.lnk", L"c:\\stray.exe", L"c:\\stray.exe"); // no Run value of that name
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    ASSERT_EQ(Run(L"refresh").exitCode, 0u) << "a store that keeps its records";
    const std::wstring folder = m_programDir + L"Run\\User";
    ASSERT_TRUE(::DeleteFileW((folder + L"\\Tool.lnk").c_str()));
    ASSERT_TRUE(::RemoveDirectoryW(folder.c_str()));
    if (!MakeFolderLink(folder, other)) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    m_registry.SetRunValue(Location::User, L"Looks", L"c:\\other.exe");

    for (const wchar_t* command : {L"refresh", L"disable Tool", L"enable Tool", L"refresh"}) {
        const CliResult result = Run(command);
        EXPECT_EQ(result.exitCode, 0u) << Utf8(command) << ": " << result.err;
    }
    const Json entries = Json::parse(Run(L"list --json").out).at("entries");
    ASSERT_NE(Find(entries, "Tool", "hkcu"), nullptr);
    EXPECT_EQ(Find(entries, "Tool", "hkcu")->at("storeLink"), Utf8(other + L"\\Tool.lnk")) << "where the link leads";
    ASSERT_NE(Find(entries, "Looks", "hkcu"), nullptr);
    EXPECT_FALSE(Find(entries, "Looks", "hkcu")->at("problem").is_null()) << "a link the records do not name";
    EXPECT_THAT(FolderNames(other), UnorderedElementsAre(L"precious.txt", L"Looks.lnk", L"Stray.lnk", L"Tool.lnk"));
    EXPECT_EQ(ReadFileBytes(other + L"\\precious.txt"), "precious");
    EXPECT_EQ(ReadShortcut(other + L"\\Looks.lnk").path, L"c:\\looks.exe") << "not written over";
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
}

// Scoop's layout: each version of the program in a folder of its own (apps\bootwarden\1.0, 1.1), "current" a
// junction to the version in use, from which the program is started, and each persisted folder (Run, NoRun, Data)
// a junction to the one folder that outlives every version (persist\bootwarden). Here host symbolic links stand
// for the junctions. An entry switched off with version 1.0 is switched on again with 1.1 after the update, exactly
// as it was; every file the store keeps lies in the persisted folders; and both versions work under one lock.
TEST_F(CliTest, AStoreThatScoopPersistsOutlivesAnUpdate) {
    const std::wstring apps = m_root / L"scoop\\apps\\bootwarden";
    const std::wstring persist = m_root / L"scoop\\persist\\bootwarden";
    for (const std::wstring& folder : {m_root / L"scoop", m_root / L"scoop\\apps", apps, m_root / L"scoop\\persist",
                                       persist, persist + L"\\Run", persist + L"\\NoRun", persist + L"\\Data"}) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring built = FolderPart(ModulePath()) + L"BwcliUnderTest.exe";
    for (const wchar_t* version : {L"1.0", L"1.1"}) {
        const std::wstring folder = apps + L"\\" + version;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(built.c_str(), (folder + L"\\bwcli.exe").c_str(), FALSE));
        for (const wchar_t* kept : {L"Run", L"NoRun", L"Data"}) {
            if (!MakeFolderLink(folder + L"\\" + kept, persist + L"\\" + kept)) {
                GTEST_SKIP() << "this system lets the test make no symbolic link";
            }
        }
    }
    const std::wstring current = apps + L"\\current";
    ASSERT_TRUE(MakeFolderLink(current, apps + L"\\1.0"));
    m_registry.SetRunValue(Location::User, L"Monitor", L"%SystemRoot%\\system32\\taskmgr.exe", REG_EXPAND_SZ);
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");

    const CliResult off = TCliProcess(current + L"\\bwcli.exe", L"disable Monitor").Finish();
    ASSERT_EQ(off.exitCode, 0u) << off.err;
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Monitor"));
    EXPECT_TRUE(FileExists(persist + L"\\NoRun\\User\\Monitor.lnk"));
    EXPECT_TRUE(FileExists(persist + L"\\Run\\User\\Tool.lnk"));
    for (const wchar_t* file : {L"StoreBase.dat", L"StoreRecords.dat", L"StoreOwner.dat"}) {
        EXPECT_TRUE(FileExists(persist + L"\\Data\\" + file)) << Utf8(file) << " is kept where an update keeps it";
    }
    EXPECT_THAT(FolderNames(apps + L"\\1.0"), UnorderedElementsAre(L"bwcli.exe", L"Run", L"NoRun", L"Data"))
        << "nothing that must outlive the update lies in the version's own folder";

    // Both versions are one store: the lock that 1.0's folder names is the one 1.1's program waits for.
    EXPECT_EQ(StoreLockName(apps + L"\\1.0\\"), StoreLockName(apps + L"\\1.1\\"));
    {
        TNamedMutex held(StoreLockName(current + L"\\"));
        ASSERT_TRUE(held.Acquire(0));
        const CliResult busy = TCliProcess(apps + L"\\1.1\\bwcli.exe", L"enable Monitor").Finish();
        EXPECT_EQ(busy.exitCode, 3u) << "1.1 works on the store 1.0's lock guards: " << busy.err;
        EXPECT_FALSE(m_registry.RunValue(Location::User, L"Monitor"));
    }

    // The update: "current" leads to 1.1 now; 1.0's folder stays until Scoop cleans it up.
    ASSERT_TRUE(MakeFolderLink(current, apps + L"\\1.1", true));
    const CliResult on = TCliProcess(current + L"\\bwcli.exe", L"enable Monitor").Finish();
    ASSERT_EQ(on.exitCode, 0u) << on.err;
    const auto monitor = m_registry.RunValue(Location::User, L"Monitor");
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->text, L"%SystemRoot%\\system32\\taskmgr.exe");
    EXPECT_EQ(monitor->type, static_cast<DWORD>(REG_EXPAND_SZ)) << "switched on exactly as it was switched off";
    EXPECT_FALSE(FileExists(persist + L"\\NoRun\\User\\Monitor.lnk"));
    EXPECT_TRUE(FileExists(persist + L"\\Run\\User\\Monitor.lnk"));
    EXPECT_THAT(FolderNames(apps + L"\\1.1"), UnorderedElementsAre(L"bwcli.exe", L"Run", L"NoRun", L"Data"));
}

// A window (this process, through its own door) holds an edit of a store link not yet written back while a
// bwcli command works on the store: the window takes in what bwcli saved and still carries its edit.
TEST_F(CliTest, AnEditNotYetWrittenBackOutlivesAnotherProcesssWork) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe --old");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    TStoreDoor window;
    window.Open();
    window.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    // Edited through its property sheet, and saved as Windows' link object saves it (nothing put back).
    TShellLink link;
    ASSERT_TRUE(link.LoadBytes(ReadFileBytes(StorePath(kUser, L"Tool"))));
    link.SetDescription(L"c:\\tool.exe --new");
    WriteFileBytes(StorePath(kUser, L"Tool"), link.SaveBytes());

    for (const wchar_t* command : {L"list", L"disable Other"}) {
        const CliResult result = Run(command);
        ASSERT_EQ(result.exitCode, 0u) << result.err;
        EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --old")
            << "bwcli wrote nothing back";
    }
    window.Work([](TStoreDoor::TWork& work) { return work.Refresh(true); });
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe --new");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool.exe --new");
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Other")) << "bwcli's own work stands";
}

// --- names that cannot be typed, text that cannot run, what a refresh leaves for a person ------------------

namespace {

const std::wstring kHidden(L"x\0hidden", 8);

class CliNameTest : public CliTest {
protected:
    ~CliNameTest() override { m_registry.RemoveCountedRunValue(Location::User, kHidden); }
};

} // namespace

// A value made beside "x" with a counted name is listed so that it can be seen and told apart, and named by its id
// or its store link; no command on it touches "x".
TEST_F(CliNameTest, ANameThatCannotBeTypedIsListedAndNamedByIdOrStoreLink) {
    using Values = std::map<std::wstring, std::wstring>;
    m_registry.SetRunValue(Location::User, L"x", L"c:\\x.exe");
    m_registry.SetCountedRunValue(Location::User, kHidden, L"c:\\hidden.exe");

    const CliResult json = Run(L"list --json");
    ASSERT_EQ(json.exitCode, 0u) << json.err;
    EXPECT_NE(json.out.find("\"name\": \"x\\u0000hidden\""), std::string::npos) << json.out;
    const Json entries = Json::parse(json.out).at("entries");
    const Json* hidden = Find(entries, std::string("x\0hidden", 8), "hkcu");
    const Json* plain = Find(entries, "x", "hkcu");
    ASSERT_NE(hidden, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(hidden->at("commandLine"), "c:\\hidden.exe");
    EXPECT_EQ(plain->at("id"), "hkcu:x");
    const std::string id = hidden->at("id");
    EXPECT_EQ(id, "hkcu:=x%0000hidden");

    const CliResult table = Run(L"list");
    EXPECT_NE(table.out.find(Utf8(L"x\u2400hidden  on")), std::string::npos) << table.out;

    CliResult result = Run(L"disable --id " + cli::WideOf(id));
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, Utf8(L"Switched off \"x\u2400hidden\" (hkcu).\n"));
    EXPECT_EQ(m_registry.CountedRunValues(Location::User), (Values{{L"x", L"c:\\x.exe"}}));

    result = Run(L"enable --link \"" + StorePath(kUserOff, kHidden) + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(m_registry.CountedRunValues(Location::User),
              (Values{{L"x", L"c:\\x.exe"}, {kHidden, L"c:\\hidden.exe"}}));

    // The plain name, typed or by its id, names "x" alone.
    result = Run(L"disable --id hkcu:x");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(m_registry.CountedRunValues(Location::User), (Values{{kHidden, L"c:\\hidden.exe"}}));
    EXPECT_EQ(Run(L"enable x").exitCode, 0u);

    EXPECT_EQ(Run(L"disable --id nowhere").exitCode, 2u);
    EXPECT_EQ(Run(L"disable --id hkcu:=x%00").exitCode, 2u) << "a cut escape is no id";
    EXPECT_EQ(Run(L"disable --id hkcu:x --location hkcu").exitCode, 2u);
    EXPECT_EQ(Run(L"disable --link \"" + m_root / L"nothing.lnk" + L"\"").exitCode, 1u);
    EXPECT_EQ(m_registry.CountedRunValues(Location::User),
              (Values{{L"x", L"c:\\x.exe"}, {kHidden, L"c:\\hidden.exe"}}));
}

// CSV goes to spreadsheets: no cell is taken for a formula and none hides a character. JSON goes to scripts: every
// text exactly as it is, a lone half of a surrogate pair as its own escape.
TEST(EntryFormats, CsvCellsCannotRunAndJsonStaysExact) {
    cli::ListedEntry entry;
    entry.name = L"=HYPERLINK(\"http://x\")";
    entry.location = L"hkcu";
    entry.code = kUser;
    entry.label = L"Registry (HKCU)";
    entry.commandLine = L"+cmd|' /C calc'!A0";
    entry.target = L"-2+3";
    entry.problem = L"@SUM(1)";
    entry.storeLink = L"\tTab";
    entry.publisher = L"\rCR";
    entry.description = L"line\nbreak\x01 end";
    entry.id = L"c:\\plain";
    const std::wstring csv = cli::CsvOf({entry});
    EXPECT_EQ(csv.substr(0, csv.find(L"\r\n")),
              L"name,location,code,label,enabled,switchedOffInWindows,starts,commandLine,target,problem,storeLink,"
              L"publisher,description,id,signer,signature");
    EXPECT_EQ(csv.substr(csv.find(L"\r\n") + 2),
              L"\"'=HYPERLINK(\"\"http://x\"\")\",hkcu,2,Registry (HKCU),false,false,false,'+cmd|' /C calc'!A0,'-2+3,"
              L"'@SUM(1),'\u2409Tab,'\u240DCR,line\u240Abreak\u2401 end,c:\\plain,,\r\n");

    cli::ListedEntry odd;
    odd.name = kHidden;
    odd.commandLine = L"a\xD800"
                      L"b \xDC01";
    odd.description = L"\uE000d800 \xD83D\xDE00"; // the private-use character that marks a lone half stays itself
    const std::string json = cli::JsonOf({odd});
    EXPECT_NE(json.find("\"name\": \"x\\u0000hidden\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"commandLine\": \"a\\ud800b \\udc01\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"description\": \"" + cli::Utf8Of(L"\uE000d800 \xD83D\xDE00") + "\""), std::string::npos)
        << json;
}

// A refresh that leaves something for a person says so, one line each, and ends with 4; settle chooses as the
// window's question does.
TEST_F(CliTest, RefreshSaysWhatNeedsYouAndSettleChooses) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-1.exe");
    m_registry.SetRunValue(Location::User, L"Other", L"c:\\other.exe");
    ASSERT_EQ(Run(L"list").exitCode, 0u);
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool-edit.exe"); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-2.exe");
    EditShortcut(StorePath(kUser, L"Other"), [](TShellLink& link) {
        link.SetDescription(L"c:\\one.exe");
        link.SetPath(L"c:\\another.exe");
    });

    CliResult result = Run(L"refresh");
    EXPECT_EQ(result.exitCode, 4u) << result.out << result.err;
    const std::vector<std::string> lines = result.ErrLines();
    ASSERT_EQ(lines.size(), 2u) << result.err;
    const auto lineOf = [&](const std::string& name) {
        for (const std::string& line : lines) {
            if (line.find("\"" + name + "\" (hkcu)") != std::string::npos) {
                return line;
            }
        }
        return std::string("(none)");
    };
    EXPECT_NE(lineOf("Tool").find("bwcli settle --id \"hkcu:Tool\""), std::string::npos) << result.err;
    EXPECT_NE(lineOf("Other").find("could not be carried"), std::string::npos) << result.err;
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-2.exe");
    EXPECT_EQ(Run(L"refresh").exitCode, 4u) << "still there, still told";

    EXPECT_EQ(Run(L"settle Tool").exitCode, 2u);
    EXPECT_EQ(Run(L"settle Tool --keep both").exitCode, 2u);
    result = Run(L"settle Tool --keep store");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-edit.exe");
    result = Run(L"settle Tool --keep store");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_NE(result.out.find("nothing to settle"), std::string::npos) << result.out;

    // Again, and this time what starts now stays and the store mirrors it.
    EditShortcut(StorePath(kUser, L"Tool"), [](TShellLink& link) { link.SetDescription(L"c:\\tool-edit-2.exe"); });
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool-3.exe");
    result = Run(L"settle --id hkcu:Tool --keep system");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool-3.exe");
    EXPECT_EQ(ReadShortcut(StorePath(kUser, L"Tool")).description, L"c:\\tool-3.exe");
}

TEST(StoreLock, GoesWhenItsHolderEndsWithoutReleasingIt) {
    const std::wstring name = L"Local\\Bootwarden-Test-" + std::to_wstring(::GetCurrentProcessId());
    std::thread holder([&] {
        // Never destroyed, so never released: the thread ends owning it, and Windows abandons it, as it does
        // when a process dies holding it.
        auto* mutex = new TNamedMutex(name);
        EXPECT_TRUE(mutex->Acquire(0));
    });
    holder.join();
    TNamedMutex mutex(name);
    EXPECT_TRUE(mutex.Acquire(1000));
}

TEST(StoreLock, IsOneForEveryPathOfTheStoreFolder) {
    TempFolder folder;
    EXPECT_EQ(StoreLockName(folder.Path()), StoreLockName(folder.Path() + L"\\"));
    EXPECT_EQ(StoreLockName(folder.Path()), StoreLockName(FoldedName(folder.Path())));
    TempFolder other;
    EXPECT_NE(StoreLockName(folder.Path()), StoreLockName(other.Path()));
    // The same folder reached through a link (where this system lets the test make one that opens as a folder).
    const std::wstring link = other / L"link";
    if (MakeFileSymlink(link, folder.Path()) && DirectoryExists(link)) {
        EXPECT_EQ(StoreLockName(link), StoreLockName(folder.Path()));
    }
    EXPECT_NE(StoreLockName(folder.Path()), StoreWindowName(folder.Path()));
}

// --- keep-off ---------------------------------------------------------------------------------------------

// keep-off marks a switched-off entry and --no takes the mark away; an entry that starts, an unknown name and an
// option of another command are refused with their exit codes, and nothing is marked then.
TEST_F(CliTest, KeepOffMarksOnlySwitchedOffEntriesAndNoTakesTheMarkAway) {
    SeedThree();
    CliResult result = Run(L"keep-off Monitor");
    EXPECT_EQ(result.exitCode, 2u) << "it starts: nothing to keep off";
    EXPECT_THAT(result.err, HasSubstr("is not switched off"));
    EXPECT_EQ(Run(L"keep-off Nobody").exitCode, 1u);
    EXPECT_EQ(Run(L"keep-off Monitor --replace").exitCode, 2u);
    EXPECT_EQ(Run(L"disable Monitor --no").exitCode, 2u);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"Monitor"));
    EXPECT_FALSE(PathExists(StoreDataFile(kKeptOffFile)));

    ASSERT_EQ(Run(L"disable Monitor").exitCode, 0u);
    result = Run(L"keep-off Monitor --location hkcu");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "Keeping \"Monitor\" (hkcu) switched off.\n");
    EXPECT_TRUE(IsKeptOff(kUserOff, L"Monitor"));

    result = Run(L"keep-off --no Monitor");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "No longer keeping \"Monitor\" (hkcu) switched off.\n");
    EXPECT_FALSE(IsKeptOff(kUserOff, L"Monitor"));
}

} // namespace bw::test
