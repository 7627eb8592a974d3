#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <atomic>

namespace bw::test {
namespace {

// Every way a store or a destination may hold a link leaves the file at its other end as it was.
TEST(LinksTest, AreToldFromFilesAndNeverReachedThrough) {
    const TempFolder store;
    const TempFolder outside;
    WriteFileBytes(outside / L"precious.txt", "precious");
    WriteFileBytes(store / L"plain.lnk", "plain");
    ASSERT_TRUE(::CreateHardLinkW((store / L"hard.lnk").c_str(), (outside / L"precious.txt").c_str(), nullptr));
    EXPECT_FALSE(IsLink(store / L"plain.lnk"));
    EXPECT_FALSE(IsLink(store / L"hard.lnk")) << "a second name is a file of its own";
    EXPECT_FALSE(IsLink(store / L"missing.lnk"));
    EXPECT_EQ(ReadWholeFile(store / L"plain.lnk", 100), std::optional<std::string>("plain"));
    EXPECT_EQ(ReadWholeFile(store / L"plain.lnk", 4), std::nullopt) << "more than the limit";

    if (!MakeFileSymlink(store / L"soft.lnk", outside / L"precious.txt")) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    EXPECT_TRUE(IsLink(store / L"soft.lnk"));
    EXPECT_EQ(ReadWholeFile(store / L"soft.lnk", 100), std::nullopt);
    EXPECT_TRUE(RemoveName(store / L"soft.lnk"));
    EXPECT_FALSE(PathExists(store / L"soft.lnk"));
    EXPECT_EQ(ReadFileBytes(outside / L"precious.txt"), "precious");

    ASSERT_TRUE(MakeFileSymlink(store / L"soft.lnk", outside / L"precious.txt"));
    WriteFileReplacing(store / L"soft.lnk", "ours");
    EXPECT_EQ(ReadFileBytes(store / L"soft.lnk"), "ours");
    EXPECT_EQ(ReadFileBytes(outside / L"precious.txt"), "precious");
}

TEST(RemoveNameTest, RemovesFilesButNotWhatIsHeldOrAFolder) {
    const TempFolder folder;
    WriteFileBytes(folder / L"ro.lnk", "x");
    ::SetFileAttributesW((folder / L"ro.lnk").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(RemoveName(folder / L"ro.lnk"));
    EXPECT_FALSE(PathExists(folder / L"ro.lnk"));
    EXPECT_TRUE(RemoveName(folder / L"never-there.lnk"));

    WriteFileBytes(folder / L"held.lnk", "x");
    ::SetFileAttributesW((folder / L"held.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        const UniqueFile held = HoldFile(folder / L"held.lnk");
        EXPECT_FALSE(RemoveName(folder / L"held.lnk"));
    }
    EXPECT_TRUE(PathExists(folder / L"held.lnk"));
    EXPECT_TRUE(HasAttribute(folder / L"held.lnk", FILE_ATTRIBUTE_READONLY)) << "left as it was found";

    ::CreateDirectoryW((folder / L"dir.lnk").c_str(), nullptr);
    EXPECT_FALSE(RemoveName(folder / L"dir.lnk"));
    EXPECT_TRUE(DirectoryExists(folder / L"dir.lnk"));
}

TEST(WriteFileReplacingTest, ReplacesInOneStepOrNotAtAll) {
    const TempFolder folder;
    WriteFileReplacing(folder / L"new.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"new.lnk"), "new");
    WriteFileReplacing(folder / L"new.lnk", std::string(50000, 'n'));
    EXPECT_EQ(ReadFileBytes(folder / L"new.lnk"), std::string(50000, 'n'));

    {
        const UniqueFile held = HoldFile(folder / L"new.lnk");
        try {
            WriteFileReplacing(folder / L"new.lnk", "other");
            FAIL() << "a held file was replaced";
        } catch (const EFCreateError& error) {
            EXPECT_EQ(ErrorText(error), L"Cannot create file " + folder / L"new.lnk");
        }
        // Reading goes on meanwhile; nothing was cut.
        EXPECT_EQ(ReadWholeFile(folder / L"new.lnk", 100000), std::optional<std::string>(std::string(50000, 'n')));
    }
    EXPECT_THROW(WriteFileReplacing(folder / L"missing\\x.lnk", "x"), EFCreateError);
    ::CreateDirectoryW((folder / L"dir.lnk").c_str(), nullptr);
    EXPECT_THROW(WriteFileReplacing(folder / L"dir.lnk", "x"), EFCreateError);

    // Nothing but the file itself and the folder stands there: no temporary file is left behind.
    const std::vector<std::wstring> names = NamesIn(folder.Path());
    for (const std::wstring& name : names) {
        EXPECT_FALSE(IsTemporaryFileName(name)) << "left behind";
    }
    EXPECT_EQ(names.size(), 2u);
}

// A new file is made only where nothing stands: a file, a folder or a link at the name is neither opened nor
// changed, and what a link points at is not reached.
TEST(WriteNewFileTest, MakesANameThatWasFreeAndNothingElse) {
    const TempFolder folder;
    const TempFolder outside;
    WriteNewFile(folder / L"new.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"new.lnk"), "new");
    EXPECT_FALSE(HasAttribute(folder / L"new.lnk", FILE_ATTRIBUTE_HIDDEN));

    WriteFileBytes(folder / L"old.lnk", "old");
    EXPECT_THROW(WriteNewFile(folder / L"old.lnk", "other"), EFCreateError);
    EXPECT_EQ(ReadFileBytes(folder / L"old.lnk"), "old");
    ::CreateDirectoryW((folder / L"dir.lnk").c_str(), nullptr);
    EXPECT_THROW(WriteNewFile(folder / L"dir.lnk", "x"), EFCreateError);
    EXPECT_TRUE(DirectoryExists(folder / L"dir.lnk"));

    WriteFileBytes(outside / L"precious.txt", "precious");
    if (!MakeFileSymlink(folder / L"soft.lnk", outside / L"precious.txt")) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    EXPECT_THROW(WriteNewFile(folder / L"soft.lnk", "ours"), EFCreateError);
    EXPECT_EQ(ReadFileBytes(outside / L"precious.txt"), "precious");
    EXPECT_TRUE(IsLink(folder / L"soft.lnk"));
}

// As a OneDrive file reports itself (winnt.h's FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS and IO_REPARSE_TAG_CLOUD_6,
// which mingw-w64's headers may lack).
constexpr DWORD kRecallOnDataAccess = 0x00400000;
constexpr DWORD kCloudTag = 0x9000601A;

// Windows' answers for names that Wine never gives: each test says which kind of name it stands for.
class LinkAnswersTest : public ::testing::Test {
protected:
    LinkAnswersTest() { WriteFileBytes(m_folder / L"entry.lnk", "entry"); }

    // Answers as Windows does for `path`: its attributes with `extra` added and `tag` as its reparse tag; other
    // names as they are.
    void ReparsePoint(const std::wstring& path, DWORD extra, std::optional<DWORD> tag) {
        m_attributes.emplace(seam::LinkAttributes, [=](const std::wstring& name) {
            const DWORD real = seam::LinkAttributes.Real(name);
            return SameFileName(name, path) ? real | FILE_ATTRIBUTE_REPARSE_POINT | extra : real;
        });
        m_tag.emplace(seam::ReparseTag, [=](const std::wstring& name) {
            return SameFileName(name, path) ? tag : seam::ReparseTag.Real(name);
        });
    }
    void FinalPaths(std::function<std::optional<std::wstring>(const std::wstring&, bool, DWORD)> answer) {
        m_final.emplace(seam::FinalPath, std::move(answer));
    }

    TempFolder m_folder;
    std::optional<TSeam<DWORD(const std::wstring&)>::TScope> m_attributes;
    std::optional<TSeam<std::optional<DWORD>(const std::wstring&)>::TScope> m_tag;
    std::optional<TSeam<std::optional<std::wstring>(const std::wstring&, bool, DWORD)>::TScope> m_final;
};

// A file of a OneDrive-synced folder carries a reparse point of the cloud filter: it is a file of its own, read
// like any other.
TEST_F(LinkAnswersTest, ACloudFileIsAFileOfItsOwn) {
    const std::wstring file = m_folder / L"entry.lnk";
    ReparsePoint(file, kRecallOnDataAccess, kCloudTag);
    EXPECT_FALSE(IsLink(file));
    EXPECT_EQ(ReadWholeFile(file, 100), std::optional<std::string>("entry"));
}

// What the file system names a link is one, whatever its final path says: a symbolic link, a junction or mount
// point, and a reparse point whose tag cannot be read (never followed). None is read through.
TEST_F(LinkAnswersTest, NameSurrogatesAndUnreadableTagsAreLinks) {
    const std::wstring file = m_folder / L"entry.lnk";
    for (const std::optional<DWORD> tag : {std::optional<DWORD>(IO_REPARSE_TAG_SYMLINK),
                                           std::optional<DWORD>(IO_REPARSE_TAG_MOUNT_POINT), std::optional<DWORD>()}) {
        ReparsePoint(file, 0, tag);
        EXPECT_TRUE(IsLink(file)) << (tag ? *tag : 0);
        EXPECT_EQ(ReadWholeFile(file, 100), std::nullopt);
    }
}

// Beneath a Startup folder redirected to a server, the final path of a file cannot be asked when a parent folder
// cannot be read: with no reparse point, the file is no link.
TEST_F(LinkAnswersTest, AFileWhoseFinalPathCannotBeAskedIsNoLink) {
    FinalPaths([](const std::wstring&, bool, DWORD) { return std::optional<std::wstring>(); });
    EXPECT_FALSE(IsLink(m_folder / L"entry.lnk"));
    EXPECT_EQ(ReadWholeFile(m_folder / L"entry.lnk", 100), std::optional<std::string>("entry"));
}

// Where the file's final path names another place and its folder's cannot be asked, nothing tells that it is
// not a link: it is handled as one.
TEST_F(LinkAnswersTest, AFinalPathThatCannotBeComparedCountsAsALink) {
    const std::wstring file = m_folder / L"entry.lnk";
    FinalPaths([file](const std::wstring& name, bool, DWORD) {
        return SameFileName(name, file) ? std::optional<std::wstring>(L"D:\\elsewhere\\precious.txt")
                                        : std::optional<std::wstring>();
    });
    EXPECT_TRUE(IsLink(file));
    EXPECT_EQ(ReadWholeFile(file, 100), std::nullopt);
}

// A Startup or store folder that is itself a junction (redirected, or moved with a link left in its place): its
// files resolve to the target folder, and so does the folder; they are files, while the folder is a link.
TEST_F(LinkAnswersTest, TheFilesOfAFolderThatIsAJunctionAreFiles) {
    const std::wstring junction = m_folder.Path();
    const std::wstring file = junction + L"\\entry.lnk";
    ReparsePoint(junction, FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT);
    FinalPaths([=](const std::wstring& name, bool follow, DWORD) -> std::optional<std::wstring> {
        if (SameFileName(name, junction)) {
            return follow ? L"E:\\Redirected\\Startup" : junction;
        }
        if (SameFileName(name, file)) {
            return std::wstring(L"E:\\Redirected\\Startup\\entry.lnk"); // the file itself, reached through it
        }
        return std::nullopt;
    });
    EXPECT_TRUE(IsLink(junction));
    EXPECT_FALSE(IsLink(file));
}

// A reader of many files of one folder (an import reading a Startup folder) asks for the folder's own path once,
// not once per file; a file whose own final path leaves the folder (a host's link under Wine) is still refused, and
// once the reader is done the folder is asked for again.
TEST_F(LinkAnswersTest, AReaderOfAFolderAsksForItOnceAndStillRefusesALink) {
    const std::wstring folder = m_folder.Path();
    const std::wstring moved = m_folder / L"moved.lnk";
    WriteFileBytes(moved, "moved");
    int folderAsked = 0;
    FinalPaths([&](const std::wstring& name, bool follow, DWORD volume) -> std::optional<std::wstring> {
        if (SameFileName(name, folder) && follow) {
            ++folderAsked;
        }
        if (SameFileName(name, moved)) {
            return std::wstring(L"D:\\elsewhere\\moved.lnk");
        }
        return seam::FinalPath.Real(name, follow, volume);
    });
    {
        const TFolderResolutions resolutions;
        for (int i = 0; i < 5; ++i) {
            const std::wstring file = m_folder / (L"file" + std::to_wstring(i) + L".lnk");
            WriteFileBytes(file, "file");
            EXPECT_FALSE(IsLink(file));
            EXPECT_EQ(ReadWholeFile(file, 100), std::optional<std::string>("file"));
        }
        EXPECT_EQ(folderAsked, 1);
        EXPECT_TRUE(IsLink(moved)) << "a folder's kept answer lets no file that leaves it through";
        EXPECT_EQ(ReadWholeFile(moved, 100), std::nullopt);
    }
    EXPECT_FALSE(IsLink(m_folder / L"entry.lnk"));
    EXPECT_EQ(folderAsked, 2) << "the answer is kept only while the reader lives";
}

// A replace takes what the file it replaces was: a hidden or system shortcut stays so; a new file, or one that
// replaces a plain file, ends plain and visible (the temporary file it was made in is hidden).
// GetDriveTypeW of a drive mapped to a server that went away may wait for the network. Here the type of Q: comes only
// after the test lets it (5 s at most): the drive counts as a network drive at once, and its type is asked once for
// the object's life. A path on a share is one without asking; a local drive answers as it is.
TEST(NetworkPathsTest, ADriveWhoseTypeKeepsTheCallerWaitingCountsAsANetworkDrive) {
    UniqueKernelHandle serverAnswers(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> asked{0};
    std::atomic<int> answered{0};
    const auto slow = seam::DriveType.Replace([&](const std::wstring& root) {
        if (FoldedName(root) != L"Q:\\") {
            return seam::DriveType.Real(root);
        }
        ++asked;
        ::WaitForSingleObject(serverAnswers.Get(), 5000);
        ++answered;
        return static_cast<UINT>(DRIVE_REMOTE);
    });
    TNetworkPaths paths;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(paths.Holds(L"q:\\Users\\Startup"));
    EXPECT_TRUE(paths.Holds(L"Q:\\Store\\Run"));
    EXPECT_LT(::GetTickCount64() - start, 1500u) << "the caller waited for the drive's server";
    EXPECT_EQ(asked.load(), 1);
    EXPECT_TRUE(paths.Holds(L"\\\\server\\share\\Startup"));
    EXPECT_TRUE(paths.Holds(L"\\\\?\\UNC\\server\\share\\Startup"));
    const TempFolder local;
    EXPECT_FALSE(paths.Holds(local.Path())) << "the test's own folder";
    ::SetEvent(serverAnswers.Get());
    for (int i = 0; i < 500 && answered < asked; ++i) {
        ::Sleep(10); // the asking thread ends before the seam goes back
    }
}

TEST(ReplaceAttributesTest, AReplacedFileKeepsItsAttributesAndANewOneIsPlain) {
    const TempFolder folder;
    const DWORD notPlain = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
    WriteFileReplacing(folder / L"new.lnk", "new");
    EXPECT_EQ(FileAttributes(folder / L"new.lnk") & notPlain, 0u);
    WriteFileReplacing(folder / L"new.lnk", "again");
    EXPECT_EQ(FileAttributes(folder / L"new.lnk") & notPlain, 0u);

    WriteFileBytes(folder / L"hidden.lnk", "old");
    ::SetFileAttributesW((folder / L"hidden.lnk").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteFileReplacing(folder / L"hidden.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"hidden.lnk"), "new");
    EXPECT_EQ(FileAttributes(folder / L"hidden.lnk") & notPlain, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
}

// Windows answers access denied to a rename over a read-only file, and, for a moment, over one that Explorer or
// a scanner holds. A read-only file is replaced and stays read-only; one held briefly is waited for; one held
// for good is left whole, with its attributes, and no temporary file stays.
TEST(ReplaceAttributesTest, AReadOnlyOrBrieflyHeldDestinationIsReplaced) {
    const TempFolder folder;
    int refusals = 0;
    const auto asWindows = seam::RenameFile.Replace([&](const std::wstring& from, const std::wstring& to, DWORD flags) {
        if (HasAttribute(to, FILE_ATTRIBUTE_READONLY) || refusals > 0) {
            --refusals;
            return static_cast<DWORD>(ERROR_ACCESS_DENIED);
        }
        return seam::RenameFile.Real(from, to, flags);
    });
    WriteFileBytes(folder / L"ro.lnk", "old");
    ::SetFileAttributesW((folder / L"ro.lnk").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileReplacing(folder / L"ro.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"ro.lnk"), "new");
    EXPECT_TRUE(HasAttribute(folder / L"ro.lnk", FILE_ATTRIBUTE_READONLY));

    WriteFileBytes(folder / L"held.lnk", "old");
    refusals = 3;
    WriteFileReplacing(folder / L"held.lnk", "new");
    EXPECT_EQ(ReadFileBytes(folder / L"held.lnk"), "new");

    refusals = 1000;
    EXPECT_THROW(WriteFileReplacing(folder / L"ro.lnk", "newer"), EFCreateError);
    EXPECT_EQ(ReadFileBytes(folder / L"ro.lnk"), "new");
    EXPECT_TRUE(HasAttribute(folder / L"ro.lnk", FILE_ATTRIBUTE_READONLY)) << "made read-only again";
    for (const std::wstring& name : NamesIn(folder.Path())) {
        EXPECT_FALSE(IsTemporaryFileName(name));
    }
}

} // namespace
} // namespace bw::test
