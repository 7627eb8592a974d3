#include "TestEnvironment.h"

#include "platform/ShellLink.h"
#include "store/CommandLine.h"
#include "store/Import.h"
#include "store/StoreReader.h"

#include <shellapi.h>

namespace bw::test {
namespace {

// A folder with a program whose path holds a blank, reachable through an environment variable of the test's own.
class CommandLineTest : public ::testing::Test {
protected:
    CommandLineTest() {
        ::CreateDirectoryW((m_folder / L"Tool Box").c_str(), nullptr);
        WriteFileBytes(m_folder / L"Tool Box\\tool.exe", "MZ");
        WriteFileBytes(m_folder / L"plain.exe", "MZ");
        ::SetEnvironmentVariableW(L"BW_TEST_TOOLS", m_folder.Path().c_str());
    }
    ~CommandLineTest() override { ::SetEnvironmentVariableW(L"BW_TEST_TOOLS", nullptr); }

    std::wstring Tool() const { return m_folder / L"Tool Box\\tool.exe"; }

    TempFolder m_folder;
};

TEST_F(CommandLineTest, SplitAndJoinGiveBackTheVeryLine) {
    struct Case {
        std::wstring line;
        CommandParts parts;
    };
    const std::vector<Case> cases = {
        {L"\"" + Tool() + L"\" /a \"b c\"", {Tool(), L"/a \"b c\"", true}},
        {L"\"" + Tool() + L"\"", {Tool(), L"", true}},
        {L"\"c:\\quoted.exe\" -x", {L"c:\\quoted.exe", L"-x", true}},
        {Tool() + L" -x --y=\"q\"", {Tool(), L"-x --y=\"q\"", false}}, // an unquoted path with a blank
        {Tool(), {Tool(), L"", false}},
        {L"c:\\x.exe  -two-blanks ", {L"c:\\x.exe", L" -two-blanks ", false}},
        {L"%BW_TEST_TOOLS%\\Tool Box\\tool.exe /min", {L"%BW_TEST_TOOLS%\\Tool Box\\tool.exe", L"/min", false}},
        {L"notepad.exe", {L"notepad.exe", L"", false}},
        {L"rundll32.exe shell32.dll,Control_RunDLL", {L"rundll32.exe", L"shell32.dll,Control_RunDLL", false}},
    };
    for (const Case& c : cases) {
        const auto parts = SplitCommandLine(c.line);
        ASSERT_TRUE(parts.has_value()) << c.line;
        EXPECT_EQ(parts->program, c.parts.program) << c.line;
        EXPECT_EQ(parts->arguments, c.parts.arguments) << c.line;
        EXPECT_EQ(parts->quoted, c.parts.quoted) << c.line;
        EXPECT_EQ(JoinCommandLine(*parts), c.line);
    }
    // Lines with no program, or that joining would not give back, are not taken apart.
    for (const std::wstring line : {L"", L"   ", L" c:\\x.exe", L"\"c:\\open.exe -x", L"\"c:\\x.exe\"-x", L"\"\" -x",
                                    L"c:\\x.exe ", L"\"c:\\x.exe\" "}) {
        EXPECT_FALSE(SplitCommandLine(line).has_value()) << line;
    }
    // Parts made anew are quoted when the program holds a blank.
    EXPECT_EQ(JoinCommandLine({Tool(), L"-n", NeedsQuotes(Tool())}), L"\"" + Tool() + L"\" -n");
    EXPECT_EQ(JoinCommandLine({L"c:\\x.exe", L"", NeedsQuotes(L"c:\\x.exe")}), L"c:\\x.exe");
}

TEST_F(CommandLineTest, TheTargetIsTheProgramWithItsReferencesKeptInAnExpandableValue) {
    const CommandParts viaVariable{L"%BW_TEST_TOOLS%\\plain", L"-a", false};
    EXPECT_EQ(LinkTargetOf(viaVariable, REG_EXPAND_SZ), L"%BW_TEST_TOOLS%\\plain.exe") << "with the added .exe";
    EXPECT_EQ(LinkTargetOf(viaVariable, REG_SZ), L"%BW_TEST_TOOLS%\\plain") << "Windows expands no REG_SZ";
    EXPECT_EQ(LinkTargetOf({Tool(), L"", false}, REG_SZ), Tool());
    // A bare name is found where Windows finds programs.
    const std::wstring notepad = LinkTargetOf({L"notepad.exe", L"", false}, REG_SZ);
    EXPECT_TRUE(SameFileName(FileNamePart(notepad), L"notepad.exe"));
    EXPECT_NE(notepad.find(L'\\'), std::wstring::npos) << notepad;
}

TEST(LinkRecordTest, IsReadOnlyWhenWellFormedAndMadeByTheProgram) {
    LinkRecord record;
    record.value = {REG_EXPAND_SZ, true};
    record.nameEncoded = true;
    record.description = 0x0123456789abcdefULL;
    record.target = ~0ULL;
    record.arguments = 1;
    const auto back = RecordOfBlock(RecordBlockData(record));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->value, record.value);
    EXPECT_TRUE(back->nameEncoded);
    EXPECT_EQ(back->description, record.description);
    EXPECT_EQ(back->target, record.target);
    EXPECT_EQ(back->arguments, record.arguments);

    const auto blockOf = [](const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    };
    const std::wstring good = L"Bootwarden record 1|REG_SZ|whole|literal|0000000000000001|0000000000000002|"
                              L"0000000000000003";
    EXPECT_TRUE(RecordOfBlock(blockOf(good)).has_value());
    for (const std::wstring bad : {
             L"Bootwarden record 1|4294967296|whole|literal|0000000000000001|0000000000000002|0000000000000003",
             L"Bootwarden record 1|REG_SZ|half|literal|0000000000000001|0000000000000002|0000000000000003",
             L"Bootwarden record 1|REG_SZ|whole|literal|0000000000000001|0000000000000002",
             L"Bootwarden record 1|REG_SZ|whole|literal|000000000000000G|0000000000000002|0000000000000003",
             L"Bootwarden record 2|REG_SZ|whole|literal|0000000000000001|0000000000000002|0000000000000003",
         }) {
        EXPECT_FALSE(RecordOfBlock(blockOf(bad)).has_value()) << bad;
    }
    EXPECT_FALSE(RecordOfBlock(blockOf(good) + "x").has_value()) << "an odd byte";

    // The record in the arguments, as links were written before: a number above 32 bits is no record (and
    // throws nothing), nor is REG_LINK, nor another type with a command line.
    EXPECT_EQ(RecordOfLink(L"c:\\x.exe", L"[Bootwarden value: 4294967296, whole]"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordOfLink(L"c:\\x.exe", L"[Bootwarden value: 4294967295, whole]"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordOfLink(L"", L"[Bootwarden value: 4294967295, whole]"), (ValueRecord{MAXDWORD, false}));
    EXPECT_EQ(RecordOfLink(L"c:\\x.exe", L"[Bootwarden value: REG_LINK, whole]"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordOfLink(L"", L"[Bootwarden value: REG_LINK, whole]"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordOfLink(L"c:\\x.exe", L"[Bootwarden value: REG_DWORD, whole]"), (ValueRecord{REG_SZ, false}));
    EXPECT_EQ(RecordOfLink(L"", L"[Bootwarden value: REG_DWORD, whole]"), (ValueRecord{REG_DWORD, false}));
    EXPECT_EQ(RecordOfLink(L"%A%\\x.exe", L"[Bootwarden value: REG_SZ, whole]"), (ValueRecord{REG_SZ, false}));
}

TEST(DataBlockTest, IsFoundReplacedAndNeverReadPastTheBytes) {
    TShellLink link;
    link.SetDescription(L"c:\\x.exe -a");
    link.SetArguments(L"-a");
    const std::string plain = link.SaveBytes();
    EXPECT_FALSE(DataBlockOf(plain, kRecordBlockSignature).has_value());

    link.SetDataBlock(kRecordBlockSignature, "first");
    const std::string first = link.SaveBytes();
    EXPECT_EQ(DataBlockOf(first, kRecordBlockSignature), std::optional<std::string>("first"));
    const auto second = WithDataBlock(first, kRecordBlockSignature, "second block");
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(DataBlockOf(*second, kRecordBlockSignature), std::optional<std::string>("second block"));
    EXPECT_EQ(second->size(), first.size() + 7) << "replaced, not added";
    EXPECT_EQ(WithDataBlock(*second, kRecordBlockSignature, ""), std::optional<std::string>(plain));

    // The link object takes the bytes with the block, and every field stays.
    TShellLink again;
    ASSERT_TRUE(again.LoadBytes(*second));
    EXPECT_EQ(again.Description(), L"c:\\x.exe -a");
    EXPECT_EQ(again.Arguments(), L"-a");

    // Cut anywhere, the bytes give no block; what is no link gives none either.
    for (size_t size = 0; size + 1 < second->size(); size += 7) {
        const auto cut = DataBlockOf(second->substr(0, size), kRecordBlockSignature);
        EXPECT_FALSE(cut.has_value() && *cut != "second block") << size;
    }
    EXPECT_FALSE(DataBlockOf(std::string(200, '\xff'), kRecordBlockSignature).has_value());
    EXPECT_FALSE(WithDataBlock("not a link", kRecordBlockSignature, "x").has_value());
}

class RegistryStoreLinkTest : public StoreTest {
protected:
    StoreLink Written(const RegistryValue& value) {
        TShellLink maker;
        StoreLink link;
        link.code = kUser;
        link.bytes = RegistryStoreLinkBytes(maker, value);
        TShellLink loader;
        EXPECT_TRUE(ParseStoreLink(loader, link));
        // The record the store keeps of a link it wrote is the one it wrote into the link.
        const auto written = RecordOfWrittenLink(link.code, link.bytes);
        EXPECT_TRUE(written.has_value());
        if (written) {
            link.record = written->record;
        }
        return link;
    }
    static RegistryValue Value(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
        return {name, type, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2)};
    }
    // A link edited as the property sheet saves it; the store's record of it stays as it was.
    StoreLink Edited(const StoreLink& link, const std::function<void(TShellLink&)>& edit) {
        const std::wstring path = m_root / L"edited.lnk";
        WriteFileBytes(path, link.bytes);
        EditShortcut(path, edit);
        StoreLink edited = link;
        edited.bytes = ReadFileBytes(path);
        TShellLink loader;
        EXPECT_TRUE(ParseStoreLink(loader, edited));
        return edited;
    }
};

TEST_F(RegistryStoreLinkTest, IsAShortcutToTheProgramThatReadsBackAsItsCommandLine) {
    WriteFileBytes(m_root / L"tool.exe", "MZ");
    const std::wstring tool = m_root / L"tool.exe";
    const StoreLink link = Written(Value(L"Tool", L"\"" + tool + L"\" /tray \"a b\""));
    EXPECT_TRUE(SameFileName(link.linkTarget, tool)) << link.linkTarget;
    EXPECT_EQ(link.arguments, L"/tray \"a b\"");
    EXPECT_EQ(link.description, L"\"" + tool + L"\" /tray \"a b\"");
    const RegistryLinkReading reading = ReadRegistryLink(link);
    EXPECT_TRUE(reading.recorded);
    EXPECT_EQ(reading.edit, LinkEdit::None);
    EXPECT_EQ(reading.commandLine, link.description);
    EXPECT_TRUE(StoreLinkMirrors(link, Value(L"Tool", link.description)));

    // A line that cannot be taken apart, and a cut one, keep a link without a target, as before.
    const StoreLink unsplit = Written(Value(L"Odd", L"\"c:\\open.exe -x"));
    EXPECT_EQ(unsplit.linkTarget, L"");
    EXPECT_EQ(unsplit.arguments, L"");
    EXPECT_EQ(ReadRegistryLink(unsplit).commandLine, L"\"c:\\open.exe -x");
    const StoreLink cut = Written(Value(L"Long", L"c:\\x.exe " + std::wstring(3000, L'x')));
    EXPECT_EQ(cut.linkTarget, L"");
    EXPECT_TRUE(ReadRegistryLink(cut).record.cut);
    const StoreLink empty = Written(Value(L"Empty", L""));
    EXPECT_EQ(empty.linkTarget, L"");
    EXPECT_EQ(ReadRegistryLink(empty).commandLine, L"");
}

TEST_F(RegistryStoreLinkTest, AnEditIsReadFromTheFieldThatChanged) {
    WriteFileBytes(m_root / L"tool.exe", "MZ");
    ::CreateDirectoryW((m_root / L"New Tool").c_str(), nullptr);
    WriteFileBytes(m_root / L"New Tool\\tool.exe", "MZ");
    const std::wstring tool = m_root / L"tool.exe";
    const std::wstring moved = m_root / L"New Tool\\tool.exe";
    const StoreLink link = Written(Value(L"Tool", tool + L" -a"));

    const auto arguments = ReadRegistryLink(Edited(link, [](TShellLink& l) { l.SetArguments(L"-b \"c d\""); }));
    EXPECT_EQ(arguments.edit, LinkEdit::Fields);
    EXPECT_EQ(arguments.commandLine, tool + L" -b \"c d\"");

    const auto target = ReadRegistryLink(Edited(link, [&](TShellLink& l) { l.SetPath(moved); }));
    EXPECT_EQ(target.edit, LinkEdit::Fields);
    EXPECT_EQ(target.commandLine, L"\"" + moved + L"\" -a") << "quoted: the path holds a blank";

    const auto description =
        ReadRegistryLink(Edited(link, [](TShellLink& l) { l.SetDescription(L"c:\\other.exe /x"); }));
    EXPECT_EQ(description.edit, LinkEdit::Description);
    EXPECT_EQ(description.commandLine, L"c:\\other.exe /x");

    const auto both = ReadRegistryLink(Edited(link, [](TShellLink& l) {
        l.SetArguments(L"-b");
        l.SetDescription(L"c:\\other.exe /x");
    }));
    EXPECT_EQ(both.edit, LinkEdit::Disagreeing);
    EXPECT_FALSE(
        StoreLinkSays(Edited(link, [](TShellLink& l) { l.SetArguments(L"-b"); }), Value(L"Tool", tool + L" -a")));

    const auto alike = ReadRegistryLink(Edited(link, [&](TShellLink& l) {
        l.SetArguments(L"-b");
        l.SetDescription(tool + L" -b");
    }));
    EXPECT_EQ(alike.edit, LinkEdit::Fields);
    EXPECT_EQ(alike.commandLine, tool + L" -b");

    // An expandable value's program keeps its references, and the record its type, through an edit.
    ::SetEnvironmentVariableW(L"BW_LINK_TEST", m_root.Path().c_str());
    const StoreLink expand = Written(Value(L"Exp", L"%BW_LINK_TEST%\\tool.exe -a", REG_EXPAND_SZ));
    ::SetEnvironmentVariableW(L"BW_LINK_TEST", nullptr);
    // (Windows keeps the reference in the target; Wine's link object cannot, so it keeps the expansion.)
    EXPECT_TRUE(expand.rawTarget == L"%BW_LINK_TEST%\\tool.exe" || SameFileName(expand.rawTarget, tool))
        << expand.rawTarget;
    const auto expandEdited = ReadRegistryLink(Edited(expand, [](TShellLink& l) { l.SetArguments(L"-b"); }));
    EXPECT_EQ(expandEdited.commandLine, L"%BW_LINK_TEST%\\tool.exe -b");
    EXPECT_EQ(expandEdited.record.type, static_cast<DWORD>(REG_EXPAND_SZ));

    // Arguments given to a link without a target name no program: nothing is made of them.
    const StoreLink unsplit = Written(Value(L"Odd", L"\"c:\\open.exe -x"));
    EXPECT_EQ(ReadRegistryLink(Edited(unsplit, [](TShellLink& l) { l.SetArguments(L"-y"); })).edit,
              LinkEdit::NoProgram);
}

// Opened from the shell (a double click in Explorer), a store link starts its entry's program with its arguments.
TEST_F(RegistryStoreLinkTest, OpeningItStartsTheEntry) {
    const std::wstring out = m_root / L"started.txt";
    const std::wstring line = L"C:\\windows\\system32\\cmd.exe /c echo started>\"" + out + L"\"";
    TShellLink maker;
    WriteFileBytes(m_root / L"Open.lnk", RegistryStoreLinkBytes(maker, Value(L"Open", line)));
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, nullptr, (m_root / L"Open.lnk").c_str(), nullptr, nullptr, SW_HIDE));
    EXPECT_GT(result, 32);
    for (int i = 0; i < 100 && !FileExists(out); ++i) {
        ::Sleep(50);
    }
    EXPECT_TRUE(FileExists(out));
    for (int i = 0; i < 40 && !RemoveName(out); ++i) {
        ::Sleep(50); // the program may still hold it
    }
}

} // namespace
} // namespace bw::test
