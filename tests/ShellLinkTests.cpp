#include "TestEnvironment.h"

#include "platform/ShellLink.h"
#include "store/CommandLine.h"
#include "store/StoreLinkCodec.h"

#include <shlwapi.h>

#include <vector>

namespace bw::test {
namespace {

TEST(TShellLinkTest, KeepsTextsAndTellsAFailedLoad) {
    TempFolder folder;
    TShellLink link;
    EXPECT_FALSE(link.Load(folder / L"missing.lnk"));

    const std::wstring description = L"\u6e2c\u8a66 " + std::wstring(kLinkDescriptionLimit - 4, L'x');
    // Wine keeps a link's target only in the ANSI code page, so the target here is plain ASCII; the
    // description, which carries command lines, is kept in Unicode everywhere.
    const std::wstring target = folder / L"app.exe";
    WriteFileBytes(target, "MZ");
    link.SetPath(target);
    link.SetDescription(description);
    ASSERT_TRUE(link.Save(folder / L"t.lnk"));

    TShellLink again;
    ASSERT_TRUE(again.Load(folder / L"t.lnk"));
    EXPECT_EQ(again.Path(), target);
    EXPECT_EQ(again.Description(), description);

    // Saving does not make the file the object's own: a second save elsewhere leaves the first alone.
    again.SetDescription(L"changed");
    ASSERT_TRUE(again.Save(folder / L"u.lnk"));
    EXPECT_EQ(ReadShortcut(folder / L"t.lnk").description, description);
}

// The data of a Run value of `type` holding `commandLine`, with its terminating zero.
std::string Utf16Value(const std::wstring& commandLine) {
    return std::string(reinterpret_cast<const char*>(commandLine.c_str()), (commandLine.size() + 1) * sizeof(wchar_t));
}

// Everything a saved link says, read through the shell's own link object.
struct SavedLink {
    std::wstring rawPath, path, arguments, description, workingFolder, iconFile;
    int iconIndex = 0;
    int showCommand = 0;
    WORD hotkey = 0;
    std::optional<std::string> record;
    bool operator==(const SavedLink& o) const {
        return rawPath == o.rawPath && path == o.path && arguments == o.arguments && description == o.description &&
               workingFolder == o.workingFolder && iconFile == o.iconFile && iconIndex == o.iconIndex &&
               showCommand == o.showCommand && hotkey == o.hotkey && record == o.record;
    }
};

SavedLink ReadSaved(const std::string& bytes) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistStream> stream;
    EXPECT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
    EXPECT_HRESULT_SUCCEEDED(link.As(&stream));
    ComPtr<IStream> memory;
    *memory.ReleaseAndGetAddressOf() =
        ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    EXPECT_HRESULT_SUCCEEDED(stream->Load(memory.Get()));
    SavedLink saved;
    std::vector<wchar_t> text(4096);
    const auto take = [&](HRESULT hr) { return SUCCEEDED(hr) ? std::wstring(text.data()) : L"<failed>"; };
    saved.rawPath = take(link->GetPath(text.data(), 4096, nullptr, SLGP_RAWPATH));
    saved.path = take(link->GetPath(text.data(), 4096, nullptr, 0));
    saved.arguments = take(link->GetArguments(text.data(), 4096));
    saved.description = take(link->GetDescription(text.data(), 4096));
    saved.workingFolder = take(link->GetWorkingDirectory(text.data(), 4096));
    saved.iconFile = take(link->GetIconLocation(text.data(), 4096, &saved.iconIndex));
    link->GetShowCmd(&saved.showCommand);
    link->GetHotkey(&saved.hotkey);
    saved.record = DataBlockOf(bytes, kRecordBlockSignature);
    return saved;
}

// A store link whose target is set through its folder (as the import sets thousands) says exactly what one set by
// SetPath says: target, arguments, working folder, icon, description and record, for programs that exist, one that
// does not, one spelt in another case than on disk, and names with characters that paths rarely hold.
TEST(TShellLinkTest, ATargetSetThroughItsFolderReadsBackAsSetPathsDoes) {
    TempFolder folder;
    const std::wstring odd = folder / L"Odd & (x86) [1] #%2 \u00e9t\u00e9 \u6e2c;,=+'.exe";
    for (const wchar_t* name : {L"app.exe", L"Second Program.exe", L"Mixed.EXE"}) {
        WriteFileBytes(folder / name, "MZ");
    }
    WriteFileBytes(odd, "MZ");
    const std::vector<RegistryValue> values = {
        {L"App", REG_SZ, Utf16Value(L"\"" + (folder / L"app.exe") + L"\" /background")},
        {L"Second", REG_SZ, Utf16Value(L"\"" + (folder / L"Second Program.exe") + L"\" -a -b")},
        {L"Gone", REG_SZ, Utf16Value(L"\"" + (folder / L"gone.exe") + L"\" /x")},
        {L"Case", REG_SZ, Utf16Value(L"\"" + (folder / L"MIXED.exe") + L"\"")},
        {L"Odd", REG_SZ, Utf16Value(L"\"" + odd + L"\" \"quoted arg\"")},
        {L"Expand", REG_EXPAND_SZ, Utf16Value(L"%SystemRoot%\\notepad.exe /p")},
        {L"Windows", REG_SZ, Utf16Value(L"C:\\windows\\regedit.exe")},
    };
    TShellLink plain;
    TShellLink through;
    TShellLink checker;
    TLinkTargets targets;
    for (int round = 0; round < 2; ++round) { // the second round finds every folder parsed already
        for (const RegistryValue& value : values) {
            SCOPED_TRACE(value.name);
            const SavedLink expected = ReadSaved(RegistryStoreLinkBytes(plain, value));
            TLinkTargets fresh; // no link kept for the target: the target is set again, through its folder
            TLinkTargets& used = round == 0 ? fresh : targets;
            const SavedLink saved = ReadSaved(RegistryStoreLinkBytes(through, value, &checker, &used));
            EXPECT_TRUE(saved == expected) << saved.rawPath << L" / " << expected.rawPath << L"; " << saved.arguments
                                           << L" / " << expected.arguments;
        }
    }
}

TEST(TShellLinkTest, TakesBytesOnlyWhenTheyAreALink) {
    TShellLink link;
    link.SetDescription(L"c:\\tool.exe /x");
    link.SetArguments(L"[args]");
    const std::string bytes = link.SaveBytes();
    TShellLink again;
    ASSERT_TRUE(again.LoadBytes(bytes));
    EXPECT_EQ(again.Description(), L"c:\\tool.exe /x");
    EXPECT_EQ(again.Arguments(), L"[args]");

    // Nothing of a link read before stays behind a failed load.
    EXPECT_FALSE(again.LoadBytes(""));
    EXPECT_EQ(again.Description(), L"");
    EXPECT_FALSE(again.LoadBytes("not a shortcut at all"));
    EXPECT_FALSE(again.LoadBytes(bytes.substr(0, bytes.size() / 2)));
    EXPECT_EQ(again.Arguments(), L"");
}

} // namespace
} // namespace bw::test
