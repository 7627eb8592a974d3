#include "WindowTestSupport.h"

#include "SigningSupport.h"
#include "app/Controls.h"
#include "platform/FileIcon.h"
#include "platform/FileSystem.h"
#include "platform/Signature.h"
#include "store/StoreDoor.h"

#include <algorithm>
#include <atomic>
#include <set>

namespace bw::test {
namespace {

constexpr LONG kNoSignature = static_cast<LONG>(0x800B0100); // TRUST_E_NOSIGNATURE

// The window while its readers read the programs' facts and the entries' icons off its thread.
class ReaderWindowTest : public WindowTest {
protected:
    ~ReaderWindowTest() override {
        // The readers' threads call the seams this test replaced; they stop before the replacements go.
        m_form.reset();
    }
    std::wstring Cell(int row, int column) const { return LvGetItemText(m_form->List(), row, column); }
    int Image(const std::wstring& name) const { return LvGetItemImage(m_form->List(), RowOf(name, kUser)); }
    // True when the window handles a message sent to it within 100 ms.
    bool Answers() const {
        DWORD_PTR answer = 0;
        return ::SendMessageTimeoutW(m_form->Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &answer) != 0;
    }
    // Runs the message loop until `done` holds, at most `bound` milliseconds (well within the 10 s a slow share
    // below holds its reader).
    template <typename Done> bool PumpUntil(Done done, ULONGLONG bound = 3000) {
        return HandleMessagesUntil(done, bound);
    }
    std::wstring CopyOf(const std::wstring& from, const std::wstring& fileName) {
        const std::wstring path = m_root / fileName;
        EXPECT_TRUE(::CopyFileW(from.c_str(), path.c_str(), FALSE)) << ::GetLastError();
        return path;
    }
};

// A program on a share that answers slowly (or has gone, and the network's timeout runs) delays its own cells and its
// own icon, nothing else: the programs on local disks are read and shown meanwhile, and the window answers within
// 100 ms throughout. The share is a drive that Windows reports as a network drive (GetDriveType: DRIVE_REMOTE); its
// program's signature and icon are read only once the test lets the share answer.
TEST_F(ReaderWindowTest, AProgramOnASlowShareDelaysOnlyItsOwnCells) {
    const std::wstring onShare = TestModule(L"FixtureOneLanguage.dll");
    const std::wstring local = CopyOf(L"C:\\windows\\notepad.exe", L"Local.exe");
    const std::wstring shareDrive = FoldedName(onShare.substr(0, 2));
    if (onShare.size() < 3 || onShare[1] != L':' || shareDrive == FoldedName(local.substr(0, 2))) {
        GTEST_SKIP() << "the test programs and the temporary folder lie on one drive: no drive can stand for a share";
    }
    auto remote = seam::DriveType.Replace([&](const std::wstring& root) {
        return FoldedName(root.substr(0, 2)) == shareDrive ? static_cast<UINT>(DRIVE_REMOTE)
                                                           : seam::DriveType.Real(root);
    });
    UniqueKernelHandle shareAnswers(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const auto waitForShare = [&](const std::wstring& path) {
        if (SameFileName(path, onShare)) {
            ::WaitForSingleObject(shareAnswers.Get(), 10000);
        }
    };
    auto slowTrust = seam::FileTrust.Replace([&](const std::wstring& path) {
        waitForShare(path);
        return TrustAnswer{kNoSignature, L"", false};
    });
    auto slowIcon = seam::FileIcon.Replace([&](HINSTANCE instance, const std::wstring& path, int index) {
        waitForShare(path);
        return seam::FileIcon.Real(instance, path, index);
    });
    // The share's program comes first in every order the list or its readers take.
    m_registry.SetRunValue(Location::User, L"A share", L"\"" + onShare + L"\"");
    m_registry.SetRunValue(Location::User, L"B local", L"\"" + local + L"\"");
    m_registry.SetRunValue(Location::User, L"C local", L"\"" + local + L"\" /b");
    m_waitForFacts = false;
    Open();
    ASSERT_TRUE(Answers());
    const int localRow = RowOf(L"B local", kUser);
    EXPECT_TRUE(PumpUntil([&] { return Cell(localRow, SignerColumn) == L"Not signed"; }))
        << "the local program waited for the share";
    EXPECT_TRUE(PumpUntil([&] { return Image(L"B local") != Image(L"A share"); }))
        << "the local program's icon waited for the share";
    EXPECT_EQ(Cell(RowOf(L"C local", kUser), SignerColumn), L"Not signed");
    EXPECT_TRUE(Answers());
    EXPECT_EQ(Cell(RowOf(L"A share", kUser), SignerColumn), L"");
    EXPECT_EQ(Cell(RowOf(L"A share", kUser), PublisherColumn), L"");
    EXPECT_TRUE(m_form->EntryList().FactsPending());
    EXPECT_TRUE(m_form->EntryList().IconsPending());

    ::SetEvent(shareAnswers.Get());
    m_waitForFacts = true;
    Pump();
    EXPECT_EQ(Cell(RowOf(L"A share", kUser), SignerColumn), L"Not signed");
    EXPECT_EQ(Cell(RowOf(L"A share", kUser), PublisherColumn), L"Fabrikam One");
    EXPECT_FALSE(m_form->EntryList().IconsPending());
}

// A refresh in which nothing changed verifies nothing: the reader looks at each program's stamp and finds it as it
// was. A program updated in place (an update replaced its file, no start-up entry changed) is read and verified
// again at the next refresh, and its row shows the new verdict.
TEST_F(ReaderWindowTest, ARefreshVerifiesOnlyAProgramWhoseFileChanged) {
    const std::wstring program = CopyOf(TestModule(L"FixtureOneLanguage.dll"), L"Updated.exe");
    std::atomic<int> verified{0};
    std::atomic<bool> signedNow{false};
    auto trust = seam::FileTrust.Replace([&](const std::wstring&) {
        ++verified;
        return signedNow ? TrustAnswer{0, L"Fabrikam One Ltd", false} : TrustAnswer{kNoSignature, L"", false};
    });
    m_registry.SetRunValue(Location::User, L"Updated", L"\"" + program + L"\"");
    Open();
    const int row = RowOf(L"Updated", kUser);
    EXPECT_EQ(Cell(row, SignerColumn), L"Not signed");
    EXPECT_EQ(verified, 1);

    KeyUp(VK_F5);
    Click(TMainForm::RefreshButton);
    ::SendMessageW(m_form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    Pump();
    EXPECT_EQ(verified, 1) << "a refresh in which nothing changed verified a program again";

    // The update: a new file of another size at the same path, now signed.
    ASSERT_TRUE(::CopyFileW(TestModule(L"FixtureTwoLanguages.dll").c_str(), program.c_str(), FALSE));
    signedNow = true;
    KeyUp(VK_F5);
    EXPECT_EQ(verified, 2);
    EXPECT_EQ(Cell(RowOf(L"Updated", kUser), SignerColumn), L"Fabrikam One Ltd");
}

// Reading an icon opens its file, and the window never waits for it: while an icon is read (slowly, as from a disk
// that spins up or a program a scanner holds), the row shows the default icon and the window answers; the icon
// comes when it has been read.
TEST_F(ReaderWindowTest, TheWindowAnswersWhileAnIconIsRead) {
    const std::wstring slow = CopyOf(L"C:\\windows\\notepad.exe", L"Slow.exe");
    UniqueKernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto slowIcon = seam::FileIcon.Replace([&](HINSTANCE instance, const std::wstring& path, int index) {
        if (SameFileName(path, slow)) {
            ::WaitForSingleObject(release.Get(), 5000);
        }
        return seam::FileIcon.Real(instance, path, index);
    });
    m_registry.SetRunValue(Location::User, L"Slow", L"\"" + slow + L"\"");
    WriteShortcut(StorePath(kStartUpOff, L"Blank"), L"", L"");
    m_waitForFacts = false;
    const ULONGLONG start = ::GetTickCount64();
    Open();
    EXPECT_LT(::GetTickCount64() - start, 2500u) << "the window waited for the icon";
    EXPECT_TRUE(Answers());
    const int blank = LvGetItemImage(m_form->List(), RowOf(L"Blank", kStartUpOff));
    EXPECT_EQ(Image(L"Slow"), blank) << "the default icon stands in while the icon is read";
    EXPECT_TRUE(m_form->EntryList().IconsPending());

    ::SetEvent(release.Get());
    m_waitForFacts = true;
    Pump();
    EXPECT_FALSE(m_form->EntryList().IconsPending());
    EXPECT_NE(Image(L"Slow"), blank);
    EXPECT_LT(Image(L"Slow"), ::ImageList_GetImageCount(m_form->EntryList().Images()));
}

// Icons already read go into the image list in the reader's slices, never all at once while rows are put in: rows
// that bring many programs whose icons are known (the first start's batches, a filter taken away) add no image while
// they are inserted, and every row shows its own icon once the slices have run.
TEST_F(ReaderWindowTest, RowsPutInAddTheirIconsOnlyInTheReadersSlices) {
    constexpr int kPrograms = 40;
    UniqueKernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> read{0};
    auto heldIcons = seam::FileIcon.Replace([&](HINSTANCE instance, const std::wstring& path, int index) {
        ::WaitForSingleObject(release.Get(), 5000);
        HICON icon = seam::FileIcon.Real(instance, path, index);
        ++read;
        return icon;
    });
    for (int i = 0; i < kPrograms; ++i) {
        const std::wstring program = CopyOf(L"C:\\windows\\notepad.exe", L"Program" + std::to_wstring(i) + L".exe");
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"\"" + program + L"\"");
    }
    m_waitForFacts = false;
    Open();
    ASSERT_EQ(Rows().size(), static_cast<size_t>(kPrograms));
    const TEntryList& list = m_form->EntryList();
    // The rows go out of view; their icons are read and taken meanwhile, and wait for rows that show them.
    HwndSetText(m_form->FilterBox(), L"no entry is called so");
    ::SetEvent(release.Get());
    ASSERT_TRUE(PumpUntil([&] { return read == kPrograms && !list.IconsPending(); }));
    const int images = ::ImageList_GetImageCount(list.Images());

    HwndSetText(m_form->FilterBox(), L"");
    EXPECT_EQ(::ImageList_GetImageCount(list.Images()), images) << "rows put in added their icons' images at once";
    ASSERT_TRUE(PumpUntil([&] { return !list.IconsPending(); }));
    std::set<int> shown;
    for (int row = 0; row < kPrograms; ++row) {
        shown.insert(LvGetItemImage(m_form->List(), row));
    }
    EXPECT_EQ(shown.size(), static_cast<size_t>(kPrograms)) << "a row kept the default icon";
    EXPECT_EQ(::ImageList_GetImageCount(list.Images()), images + kPrograms);
}

// The first start lists its rows and writes their store links before it reads their programs: on a machine of a few
// cores the reader would take the writes' time. No program is verified while the links are written (the first write
// waits a while for a reader that would run), and every row has its facts once they are.
TEST_F(ReaderWindowTest, TheFirstStartWritesItsLinksBeforeItsProgramsAreRead) {
    constexpr int kPrograms = 10;
    std::atomic<int> verified{0};
    UniqueKernelHandle firstVerified(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto trust = seam::FileTrust.Replace([&](const std::wstring&) {
        ++verified;
        ::SetEvent(firstVerified.Get());
        return TrustAnswer{kNoSignature, L"", false};
    });
    std::atomic<int> verifiedWhileWriting{0};
    std::atomic<bool> waited{false};
    auto writes = seam::ImportPoint.Replace([&](const wchar_t* at) {
        if (std::wstring(at) != kLinkWritten) {
            return;
        }
        if (!waited.exchange(true)) {
            // The rows are listed by now or soon, and the window is free: a reader let go would verify meanwhile.
            ::WaitForSingleObject(firstVerified.Get(), 1000);
        }
        verifiedWhileWriting = std::max(verifiedWhileWriting.load(), verified.load());
    });
    for (int i = 0; i < kPrograms; ++i) {
        const std::wstring program = CopyOf(L"C:\\windows\\notepad.exe", L"Program" + std::to_wstring(i) + L".exe");
        m_registry.SetRunValue(Location::User, L"Entry" + std::to_wstring(i), L"\"" + program + L"\"");
    }
    Open();
    EXPECT_TRUE(waited);
    EXPECT_EQ(verifiedWhileWriting, 0) << "programs were verified while the first start wrote its links";
    EXPECT_EQ(verified, kPrograms);
    for (int i = 0; i < kPrograms; ++i) {
        EXPECT_EQ(Cell(RowOf(L"Entry" + std::to_wstring(i), kUser), SignerColumn), L"Not signed") << i;
    }
}

} // namespace
} // namespace bw::test
