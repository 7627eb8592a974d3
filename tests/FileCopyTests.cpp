#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace bw::test {
namespace {

using ::testing::_;
using ::testing::ElementsAre;

// Bytes that differ from chunk to chunk, so a chunk written twice or out of order shows.
std::string Content(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251 + i / 8192);
    }
    return bytes;
}

// An odd second and a fraction, which a copy that rounded the time would lose.
constexpr ULONGLONG kOldTime = 126'269'595'071'234'567ULL;

ULONGLONG LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

TEST(CopyWithProgressTest, CopiesChunkByChunkAndReportsEachChunk) {
    const TempFolder folder;
    struct Case {
        size_t size;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {0, {"max 0", "min 0", "pos 0", "pos 0", "pos 0"}},
        {8192, {"max 8192", "min 0", "pos 0", "pos 8192", "pos 8192", "pos 0"}},
        {8193, {"max 8193", "min 0", "pos 0", "pos 8192", "pos 8193", "pos 0"}},
        {3 * 8192 + 100, {"max 24676", "min 0", "pos 0", "pos 8192", "pos 16384", "pos 24576", "pos 24676", "pos 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::wstring name = std::to_wstring(c.size);
        const std::wstring source = folder / (name + L".lnk");
        WriteFileBytes(source, Content(c.size));
        SetLastWriteTime(source, kOldTime);

        RecordingProgress progress;
        CopyWithProgress(source, folder / (name + L"-copy.lnk"), &progress);
        EXPECT_EQ(ReadFileBytes(folder / (name + L"-copy.lnk")), Content(c.size));
        EXPECT_EQ(LastWriteTime(folder / (name + L"-copy.lnk")), kOldTime);
        EXPECT_EQ(progress.calls, c.calls);

        CopyWithProgress(source, folder / (name + L"-quiet.lnk"), nullptr);
        EXPECT_EQ(ReadFileBytes(folder / (name + L"-quiet.lnk")), Content(c.size));
        EXPECT_EQ(ReadFileBytes(source), Content(c.size));
    }
}

// The names a folder holds besides ".", "..", and what the test put there itself.
std::vector<std::wstring> Leftovers(const std::wstring& folder, const std::vector<std::wstring>& expected) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : NamesIn(folder)) {
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
            names.push_back(name);
        }
    }
    return names;
}

TEST(CopyWithProgressTest, MakesMissingFoldersAndReplacesAFileWhole) {
    const TempFolder folder;
    const std::wstring source = folder / L"Entry.lnk";
    WriteFileBytes(source, "link");
    SetLastWriteTime(source, kOldTime);

    // Missing folders and their missing parents are made.
    CopyWithProgress(source, folder / L"a\\b\\c\\Copy.lnk", nullptr);
    EXPECT_EQ(ReadFileBytes(folder / L"a\\b\\c\\Copy.lnk"), "link");

    // A longer file already there is replaced whole and takes the source's time.
    WriteFileBytes(folder / L"Old.lnk", std::string(20000, 'x'));
    CopyWithProgress(source, folder / L"Old.lnk", nullptr);
    EXPECT_EQ(ReadFileBytes(folder / L"Old.lnk"), "link");
    EXPECT_EQ(LastWriteTime(folder / L"Old.lnk"), kOldTime);
    EXPECT_THAT(Leftovers(folder.Path(), {L"Entry.lnk", L"Old.lnk", L"a"}), ::testing::IsEmpty());
}

TEST(CopyWithProgressTest, NeverWritesIntoAFolderOrThroughALink) {
    const TempFolder folder;
    const std::wstring source = folder / L"Entry.lnk";
    WriteFileBytes(source, "link");

    // A folder at the destination is an error: a copy "into" it would put the entry where nobody looks.
    ::CreateDirectoryW((folder / L"Box.lnk").c_str(), nullptr);
    EXPECT_EQ(MessageOf<EFCreateError>([&] { CopyWithProgress(source, folder / L"Box.lnk", nullptr); }),
              L"Cannot create file " + folder / L"Box.lnk");
    EXPECT_FALSE(PathExists(folder / L"Box.lnk\\Entry.lnk"));

    // A second name of a file outside (a hard link) is replaced as a name; the file outside keeps its bytes.
    const TempFolder outside;
    WriteFileBytes(outside / L"theirs.txt", "theirs");
    ASSERT_TRUE(::CreateHardLinkW((folder / L"Hard.lnk").c_str(), (outside / L"theirs.txt").c_str(), nullptr));
    CopyWithProgress(source, folder / L"Hard.lnk", nullptr);
    EXPECT_EQ(ReadFileBytes(folder / L"Hard.lnk"), "link");
    EXPECT_EQ(ReadFileBytes(outside / L"theirs.txt"), "theirs");

    // So is a symbolic link.
    WriteFileBytes(outside / L"target.txt", "target");
    if (!MakeFileSymlink(folder / L"Soft.lnk", outside / L"target.txt")) {
        GTEST_SKIP() << "this system lets the test make no symbolic link";
    }
    CopyWithProgress(source, folder / L"Soft.lnk", nullptr);
    EXPECT_EQ(ReadFileBytes(folder / L"Soft.lnk"), "link");
    EXPECT_EQ(ReadFileBytes(outside / L"target.txt"), "target");
    EXPECT_FALSE(IsLink(folder / L"Soft.lnk"));
}

TEST(CopyWithProgressTest, RefusesWithoutLeavingAnything) {
    const TempFolder folder;
    const std::wstring source = folder / L"Entry.lnk";
    WriteFileBytes(source, "link");

    // A destination in use stays as it was; the range was set because the source opened.
    const std::wstring inUse = folder / L"InUse.lnk";
    WriteFileBytes(inUse, "kept");
    RecordingProgress progress;
    {
        const UniqueFile holder(::CreateFileW(inUse.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(MessageOf<EFCreateError>([&] { CopyWithProgress(source, inUse, &progress); }),
                  L"Cannot create file " + inUse);
    }
    EXPECT_EQ(ReadFileBytes(inUse), "kept");
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"max 4", "min 0", "pos 0", "pos 4", "pos 0"}));
    EXPECT_THAT(Leftovers(folder.Path(), {L"Entry.lnk", L"InUse.lnk"}), ::testing::IsEmpty());

    // A missing source: no file, no folder, and the range untouched.
    const std::wstring missing = folder / L"Missing.lnk";
    progress.calls.clear();
    EXPECT_EQ(MessageOf<EFOpenError>([&] { CopyWithProgress(missing, folder / L"New\\Copy.lnk", &progress); }),
              L"Cannot open file " + missing);
    EXPECT_FALSE(PathExists(folder / L"New"));
    EXPECT_EQ(progress.calls, std::vector<std::string>{"pos 0"});

    // A source someone holds open for writing cannot be copied.
    {
        const UniqueFile writer(::CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(MessageOf<EFOpenError>([&] { CopyWithProgress(source, folder / L"Copy.lnk", nullptr); }),
                  L"Cannot open file " + source);
    }
    EXPECT_FALSE(PathExists(folder / L"Copy.lnk"));
}

// Windows refuses to rename over a read-only file (Wine, running as root, does not: the refusal comes through the
// seam). The copy replaces it all the same, and it stays read-only.
TEST(CopyWithProgressTest, ReplacesAReadOnlyDestinationAndKeepsItReadOnly) {
    const TempFolder folder;
    const std::wstring source = folder / L"Entry.lnk";
    WriteFileBytes(source, "link");
    const std::wstring readOnly = folder / L"ReadOnly.lnk";
    WriteFileBytes(readOnly, "kept");
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    const auto asWindows = seam::RenameFile.Replace([](const std::wstring& from, const std::wstring& to, DWORD flags) {
        return HasAttribute(to, FILE_ATTRIBUTE_READONLY) ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                                                         : seam::RenameFile.Real(from, to, flags);
    });

    CopyWithProgress(source, readOnly, nullptr);
    EXPECT_EQ(ReadFileBytes(readOnly), "link");
    EXPECT_TRUE(HasAttribute(readOnly, FILE_ATTRIBUTE_READONLY));
}

// A source that sends one whole chunk and then breaks off, as a share does that drops off the network in the
// middle of a copy: a pipe whose writer leaves. Each of `readers` openings gets its own writer (a rename tried
// on the pipe opens it too).
class BrokenOffSource {
public:
    explicit BrokenOffSource(int readers = 1)
        : m_path(L"\\\\.\\pipe\\bw-test-" + std::to_wstring(::GetCurrentProcessId())) {
        for (int i = 0; i < readers; ++i) {
            UniqueFile pipe(::CreateNamedPipeW(m_path.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                               readers, 65536, 65536, 0, nullptr));
            m_writers.emplace_back([pipe = std::move(pipe)] {
                if (::ConnectNamedPipe(pipe.Get(), nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED) {
                    const std::string chunk = Content(8192);
                    DWORD written = 0;
                    (void)::WriteFile(pipe.Get(), chunk.data(), 8192, &written, nullptr);
                    (void)::FlushFileBuffers(pipe.Get()); // returns once the reader has the chunk, or has left
                }
            });
        }
    }
    ~BrokenOffSource() {
        for (std::thread& writer : m_writers) {
            // A writer whose pipe nobody opened still waits for a reader.
            (void)UniqueFile(::CreateFileW(m_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            writer.join();
        }
    }
    BrokenOffSource(const BrokenOffSource&) = delete;
    BrokenOffSource& operator=(const BrokenOffSource&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    std::vector<std::thread> m_writers;
};

TEST(FileCopyReadFailureTest, LeavesNoCutCopyAndTheOldFileWhole) {
    const TempFolder folder;
    RecordingProgress progress;
    {
        const BrokenOffSource source;
        EXPECT_EQ(MessageOf<EReadError>([&] { CopyWithProgress(source.Path(), folder / L"Copy.lnk", &progress); }),
                  L"Stream read error");
    }
    EXPECT_FALSE(PathExists(folder / L"Copy.lnk"));
    // The size of a pipe is whatever its search says; what counts is that the position went back to 0.
    EXPECT_THAT(progress.calls, ElementsAre(_, "min 0", "pos 0", "pos 8192", "pos 0"));

    // A file already there stays whole, in both copies: it is replaced only once the copy is complete.
    WriteFileBytes(folder / L"Shortcut.lnk", "the user's shortcut");
    {
        const BrokenOffSource source;
        EXPECT_EQ(MessageOf<EReadError>([&] { CopyWithProgress(source.Path(), folder / L"Shortcut.lnk", nullptr); }),
                  L"Stream read error");
    }
    EXPECT_EQ(ReadFileBytes(folder / L"Shortcut.lnk"), "the user's shortcut");
    EXPECT_THAT(Leftovers(folder.Path(), {L"Shortcut.lnk"}), ::testing::IsEmpty());
}

} // namespace
} // namespace bw::test
