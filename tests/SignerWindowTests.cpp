#include "WindowTestSupport.h"

#include "SigningSupport.h"
#include "app/Controls.h"
#include "app/Settings.h"
#include "platform/Signature.h"

#include <map>

namespace bw::test {
namespace {

using ::testing::HasSubstr;

// The window on programs whose signatures come from the system's catalogs. Under a scratch registry Wine builds no
// certificate chain at all, so the catalogs' answers stand in for what Windows says of each program: verified by
// "Microsoft Windows" with a Microsoft root, by another maker, or not listed (not signed).
class SignerWindowTest : public WindowTest {
protected:
    // A program file in the scratch world: a copy of a fixture module, with or without a claimed publisher.
    std::wstring Program(const std::wstring& fileName, bool claimsFabrikam) {
        const std::wstring path = m_root / fileName;
        EXPECT_TRUE(
            ::CopyFileW(TestModule(claimsFabrikam ? L"FixtureOneLanguage.dll" : L"FixtureNoResource.dll").c_str(),
                        path.c_str(), FALSE));
        return path;
    }
    void SignInCatalog(const std::wstring& path, const std::wstring& signer, bool microsoftRoot) {
        m_catalog[FoldedName(path)] = TrustAnswer{0, signer, microsoftRoot};
    }
    int Row(const std::wstring& name) const { return RowOf(name, kUser); }
    std::wstring Cell(int row, int column) const { return LvGetItemText(m_form->List(), row, column); }
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (int row = 0; row < LvGetItemCount(m_form->List()); ++row) {
            names.push_back(Cell(row, NameColumn));
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // What the list's custom draw answers for a row's Publisher cell: its text colour, or CLR_NONE when the row is
    // drawn without looking at its cells.
    COLORREF PublisherColour(int row) {
        const HWND list = m_form->List();
        HDC dc = ::GetDC(list);
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr.hwndFrom = list;
        draw.nmcd.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list));
        draw.nmcd.hdr.code = NM_CUSTOMDRAW;
        draw.nmcd.hdc = dc;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        const LRESULT item = ::SendMessageW(m_form->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
        COLORREF colour = CLR_NONE;
        if ((item & CDRF_NOTIFYSUBITEMDRAW) != 0) {
            draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
            draw.iSubItem = PublisherColumn;
            draw.clrText = CLR_NONE;
            ::SendMessageW(m_form->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
            colour = draw.clrText;
        }
        ::ReleaseDC(list, dc);
        return colour;
    }
    void HideWindows() {
        ::SendMessageW(m_form->Handle(), WM_COMMAND, TToolBar::HideWindowsCommand, 0);
        Pump();
    }

    std::map<std::wstring, TrustAnswer> m_catalog;
    TSeam<std::optional<TrustAnswer>(const std::wstring&)>::TScope m_catalogScope{
        seam::CatalogTrust.Replace([this](const std::wstring& path) -> std::optional<TrustAnswer> {
            const auto found = m_catalog.find(FoldedName(path));
            return found == m_catalog.end() ? std::nullopt : std::optional<TrustAnswer>(found->second);
        })};
};

TEST_F(SignerWindowTest, TheSignerIsShownAndAnUnconfirmedClaimIsMarkedWithItsReason) {
    const std::wstring claims = Program(L"Claims.exe", true);
    const std::wstring plain = Program(L"Plain.exe", false);
    const std::wstring other = Program(L"Other.exe", true);
    const std::wstring confirmed = Program(L"Confirmed.exe", true);
    const std::wstring system = Program(L"System.exe", false);
    SignInCatalog(other, L"Northwind Traders", false);
    SignInCatalog(confirmed, L"Fabrikam One Ltd", false);
    SignInCatalog(system, L"Microsoft Windows", true);
    for (const std::wstring& path : {claims, plain, other, confirmed, system}) {
        const std::wstring name = FolderPart(path).empty() ? path : path.substr(FolderPart(path).size());
        m_registry.SetRunValue(Location::User, name.substr(0, name.size() - 4), L"\"" + path + L"\"");
    }
    m_registry.SetRunValue(Location::User, L"Gone", L"c:\\no such folder\\gone.exe");
    Open();

    EXPECT_EQ(Cell(Row(L"Claims"), SignerColumn), L"Not signed");
    EXPECT_EQ(Cell(Row(L"Plain"), SignerColumn), L"Not signed");
    EXPECT_EQ(Cell(Row(L"Other"), SignerColumn), L"Northwind Traders");
    EXPECT_EQ(Cell(Row(L"Confirmed"), SignerColumn), L"Fabrikam One Ltd");
    EXPECT_EQ(Cell(Row(L"System"), SignerColumn), L"Microsoft Windows");
    EXPECT_EQ(Cell(Row(L"Gone"), SignerColumn), L"");
    EXPECT_EQ(Cell(Row(L"Gone"), PublisherColumn), L"Program not found");

    // A claim that no signature confirms stands out in its Publisher cell; the rest are drawn as they always were.
    EXPECT_EQ(PublisherColour(Row(L"Claims")), RGB(160, 0, 0));
    EXPECT_EQ(PublisherColour(Row(L"Other")), RGB(160, 0, 0));
    for (const wchar_t* name : {L"Plain", L"Confirmed", L"System", L"Gone"}) {
        EXPECT_EQ(PublisherColour(Row(name)), CLR_NONE) << name;
    }

    // The status bar says why.
    Select(Row(L"Claims"));
    EXPECT_EQ(StatusPart(0), L"Claims to be from Fabrikam One, but the program is not signed");
    Select(Row(L"Other"));
    EXPECT_EQ(StatusPart(0), L"Claims to be from Fabrikam One, but was signed by Northwind Traders");
    Select(Row(L"Confirmed"));
    EXPECT_TRUE(SameFileName(StatusPart(0), confirmed));
}

TEST_F(SignerWindowTest, HidingWindowsOwnEntriesLeavesHostsAndIsRemembered) {
    const std::wstring system = Program(L"System.exe", false);
    const std::wstring host = Program(L"rundll32.exe", false);
    const std::wstring other = Program(L"Other.exe", true);
    for (const std::wstring& path : {system, host}) {
        SignInCatalog(path, L"Microsoft Windows", true);
    }
    SignInCatalog(other, L"Northwind Traders", false);
    m_registry.SetRunValue(Location::User, L"Tray", L"\"" + system + L"\" /background");
    m_registry.SetRunValue(Location::User, L"Payload", L"\"" + system + L"\" C:\\Users\\Public\\run.js");
    m_registry.SetRunValue(Location::User, L"Library", L"\"" + host + L"\" shell32.dll,Control_RunDLL");
    m_registry.SetRunValue(Location::User, L"Updater", L"\"" + other + L"\"");
    Open();
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_EQ(StatusPart(2), L"4 entries");

    // The View button's menu offers the option, unchecked.
    m_desktop.menuAnswer = TToolBar::HideWindowsCommand;
    ::SendMessageW(m_form->Handle(), WM_COMMAND, TMainForm::ViewButton, 0);
    Pump();
    ASSERT_EQ(m_desktop.menus.size(), 1u);
    ASSERT_EQ(m_desktop.menus[0].size(), 3u); // the option, the history and watching while closed
    EXPECT_EQ(m_desktop.menus[0][0].caption, L"&Hide Windows' own entries");
    EXPECT_FALSE(m_desktop.menus[0][0].checked);
    EXPECT_THAT(Names(), ::testing::ElementsAre(L"Library", L"Payload", L"Updater"));
    EXPECT_EQ(StatusPart(2), L"3 of 4 entries shown; 1 of Windows hidden");
    EXPECT_THAT(ReadFileBytes(SettingsPath()), HasSubstr("hideWindows=1"));

    // Remembered at the next start.
    ::SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    Pump();
    m_form.reset();
    Open();
    EXPECT_THAT(Names(), ::testing::ElementsAre(L"Library", L"Payload", L"Updater"));

    // And shown again.
    HideWindows();
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_EQ(StatusPart(2), L"4 entries");
    EXPECT_THAT(ReadFileBytes(SettingsPath()), HasSubstr("hideWindows=0"));
}

// The window answers while a program's signature is being checked: a check that takes seconds delays only that
// program's cells.
TEST_F(SignerWindowTest, TheWindowAnswersWhileASignatureIsChecked) {
    const std::wstring slow = Program(L"Slow.exe", false);
    UniqueKernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto scope = seam::CatalogTrust.Replace([&](const std::wstring& path) -> std::optional<TrustAnswer> {
        if (FoldedName(path) == FoldedName(slow)) {
            ::WaitForSingleObject(release.Get(), 5000);
        }
        return std::nullopt;
    });
    m_registry.SetRunValue(Location::User, L"Slow", L"\"" + slow + L"\"");
    m_waitForFacts = false;
    const ULONGLONG start = ::GetTickCount64();
    Open();
    const ULONGLONG opened = ::GetTickCount64() - start;
    EXPECT_LT(opened, 2500u) << "the window waited for the signature";
    EXPECT_EQ(Cell(Row(L"Slow"), SignerColumn), L"");
    DWORD_PTR answer = 0;
    EXPECT_NE(::SendMessageTimeoutW(m_form->Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &answer), 0);

    ::SetEvent(release.Get());
    m_waitForFacts = true;
    Pump();
    EXPECT_EQ(Cell(Row(L"Slow"), SignerColumn), L"Not signed");
}

} // namespace
} // namespace bw::test
