#include "TestEnvironment.h"

#include "platform/FileSystem.h"
#include "platform/VersionInfo.h"
#include "store/ProgramInfo.h"

namespace bw::test {
namespace {

// The fixture modules built beside the test program (tests/fixtures).
std::wstring Fixture(const wchar_t* name) {
    return FolderPart(ModulePath()) + L"Fixture" + name + L".dll";
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Changes `from` into `to` (of the same length) inside the file, and puts the file's stamp back as it was: the
// content differs, the stamp does not.
void PatchKeepingStamp(const std::wstring& path, const std::wstring& from, const std::wstring& to) {
    std::string bytes = ReadFileBytes(path);
    const size_t at = bytes.find(Utf16Bytes(from));
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size() * sizeof(wchar_t), Utf16Bytes(to));
    const std::optional<FileStamp> before = StampAt(path);
    ASSERT_TRUE(before);
    {
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_TRUE(::SetFileTime(file.Get(), &before->created, nullptr, &before->written));
    }
    ASSERT_EQ(*StampAt(path), *before);
}

void MoveWrittenTime(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME later = SystemTimeNow();
    later.dwHighDateTime += 1;
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &later));
}

TEST(VersionStringsTest, TheLanguageListedFirstGivesPublisherAndDescription) {
    const auto one = ReadVersionStrings(Fixture(L"OneLanguage"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->companyName, L"Fabrikam One");
    EXPECT_EQ(one->fileDescription, L"Fabrikam Updater");

    // German is listed first in the translation table, though the English strings come first in the file.
    const auto two = ReadVersionStrings(Fixture(L"TwoLanguages"));
    ASSERT_TRUE(two);
    EXPECT_EQ(two->companyName, L"Contoso Deutsch");
    EXPECT_EQ(two->fileDescription, L"Contoso Abgleich");
}

TEST(VersionStringsTest, NoStringsNoResourceAndNoFile) {
    const auto numbers = ReadVersionStrings(Fixture(L"NumbersOnly"));
    ASSERT_TRUE(numbers); // a resource, but it names nobody
    EXPECT_EQ(numbers->companyName, L"");
    EXPECT_EQ(numbers->fileDescription, L"");
    EXPECT_FALSE(ReadVersionStrings(Fixture(L"NoResource")));
    EXPECT_FALSE(ReadVersionStrings(Fixture(L"NoSuchModule")));
    TempFolder folder;
    WriteFileBytes(folder / L"notes.txt", "not a module");
    EXPECT_FALSE(ReadVersionStrings(folder / L"notes.txt"));
}

class ProgramInfoCacheTest : public ::testing::Test {
protected:
    ProgramInfoCacheTest() : m_program(m_folder / L"Updater.exe") {
        ::CopyFileW(Fixture(L"OneLanguage").c_str(), m_program.c_str(), FALSE);
    }
    TempFolder m_folder;
    std::wstring m_program;
    TProgramInfoCache m_cache;
};

TEST_F(ProgramInfoCacheTest, AnUnchangedProgramIsNotReadAgainAChangedOneIs) {
    EXPECT_EQ(m_cache.Of(m_program).publisher, L"Fabrikam One");

    // The bytes changed but the stamp did not: the program is taken as it was read, not opened again.
    PatchKeepingStamp(m_program, L"Fabrikam One", L"Fabrikam Two");
    EXPECT_EQ(m_cache.Of(m_program).publisher, L"Fabrikam One");
    ASSERT_EQ(ReadVersionStrings(m_program)->companyName, L"Fabrikam Two"); // what it now says

    // Its stamp moves (an update replaced it): it is read again.
    MoveWrittenTime(m_program);
    EXPECT_EQ(m_cache.Of(m_program).publisher, L"Fabrikam Two");
    EXPECT_EQ(m_cache.Of(m_program).description, L"Fabrikam Updater");

    // Uninstalled: not found, nothing said of it.
    ASSERT_TRUE(::DeleteFileW(m_program.c_str()));
    const ProgramInfo gone = m_cache.Of(m_program);
    EXPECT_FALSE(gone.found);
    EXPECT_EQ(gone.publisher, L"");
}

TEST_F(ProgramInfoCacheTest, EntriesGetTheirProgramsStringsOrProgramNotFound) {
    std::vector<Entry> entries(4);
    entries[0].target = m_program;
    entries[1].target = L"";                           // the program a command line names does not exist
    entries[2].target = m_folder / L"Uninstalled.exe"; // a shortcut to a program since removed
    entries[3].target = m_folder.Path();               // a shortcut to a folder
    m_cache.Fill(entries);
    EXPECT_EQ(entries[0].publisher, L"Fabrikam One");
    EXPECT_EQ(entries[0].fileDescription, L"Fabrikam Updater");
    EXPECT_EQ(entries[1].publisher, L"Program not found");
    EXPECT_EQ(entries[1].fileDescription, L"");
    EXPECT_EQ(entries[2].publisher, L"Program not found");
    EXPECT_EQ(entries[3].publisher, L""); // there, but no program

    // Once no entry names it, the program is forgotten: a later Fill reads it afresh even with its stamp kept.
    std::vector<Entry> none;
    m_cache.Fill(none);
    PatchKeepingStamp(m_program, L"Fabrikam One", L"Fabrikam Two");
    m_cache.Fill(entries);
    EXPECT_EQ(entries[0].publisher, L"Fabrikam Two");
}

// With a budget, Fill reads what fits and says so; called again, it reads the rest, and the entries end as a Fill
// without a budget leaves them.
TEST_F(ProgramInfoCacheTest, ABudgetedFillReadsTheRestWhenCalledAgain) {
    std::vector<Entry> entries(30);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].target = m_folder / (L"Program" + std::to_wstring(i) + L".exe");
        ASSERT_TRUE(::CopyFileW(m_program.c_str(), entries[i].target.c_str(), FALSE));
    }
    int calls = 1;
    while (!m_cache.Fill(entries, 1) && calls < 100) {
        ++calls;
    }
    EXPECT_LT(calls, 100);
    for (const Entry& entry : entries) {
        EXPECT_EQ(entry.publisher, L"Fabrikam One");
        EXPECT_EQ(entry.fileDescription, L"Fabrikam Updater");
    }
    EXPECT_TRUE(m_cache.Fill(entries, 1)); // everything known: nothing left to read
}

} // namespace
} // namespace bw::test
