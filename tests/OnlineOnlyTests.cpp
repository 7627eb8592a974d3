#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/EntryOperations.h"
#include "store/StoreSession.h"

#include <set>

namespace bw::test {
namespace {

using ::testing::HasSubstr;

constexpr DWORD kRecallOnDataAccess = 0x00400000; // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS

// A store kept in a folder that OneDrive syncs, with "Files On-Demand": a store link whose content stays in the
// cloud is reported by a directory search with FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS (the search does not open it),
// and opening it or reading its bytes has the sync engine download it. Wine never reports the attribute; the
// links named in `m_online` are reported with it. Every time the program asks whether such a link is a link of the
// file system (the first step of every read of its bytes) is counted as a read.
class OnlineOnlyTest : public StoreTest {
protected:
    Entry Row(int code, const std::wstring& name) {
        m_session.Refresh(true, nullptr);
        for (const Entry& entry : m_session.Entries()) {
            if (entry.code == code && entry.name == name) {
                return entry;
            }
        }
        ADD_FAILURE() << "no entry " << code;
        return {};
    }

    std::set<std::wstring> m_online;
    int m_reads = 0;
    TSeam<DWORD(const std::wstring&, DWORD)>::TScope m_attributes{
        seam::FoundAttributes.Replace([this](const std::wstring& path, DWORD reported) {
            return m_online.count(FoldedName(path)) ? reported | kRecallOnDataAccess : reported;
        })};
    TSeam<DWORD(const std::wstring&)>::TScope m_countReads{
        seam::LinkAttributes.Replace([this](const std::wstring& path) {
            m_reads += m_online.count(FoldedName(path)) ? 1 : 0;
            return seam::LinkAttributes.Real(path);
        })};
    TStoreSession m_session;
};

TEST_F(OnlineOnlyTest, ASwitchedOffLinkInTheCloudIsListedWithItsReasonAndNeverRead) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    DisableEntry(Row(kUser, L"Tool"));
    const std::wstring link = StorePath(kUserOff, L"Tool");
    const std::string bytes = ReadFileBytes(link);
    TStoreSession fresh; // as the next start finds the store
    m_online.insert(FoldedName(link));

    ASSERT_TRUE(fresh.Refresh(true, nullptr));
    ASSERT_EQ(fresh.Entries().size(), 1u);
    const Entry entry = fresh.Entries()[0];
    EXPECT_EQ(entry.name, L"Tool");
    EXPECT_EQ(entry.code, kUserOff);
    EXPECT_EQ(entry.problem, EntryProblem::StoreLinkOnlineOnly);
    EXPECT_EQ(m_reads, 0) << "the refresh opened the link, and so downloaded it";

    // Nothing that needs its content is done, and nothing of it is deleted.
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { EnableEntry(entry, nullptr); }), HasSubstr(text::kLinkOnlineOnly));
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DeleteEntry(entry); }), HasSubstr(text::kLinkOnlineOnly));
    EXPECT_EQ(m_reads, 0) << "a refused change read the link";
    EXPECT_FALSE(m_registry.RunValue(Location::User, L"Tool"));
    EXPECT_EQ(ReadFileBytes(link), bytes);

    // Once it is on this PC again (the user chose "Always keep on this device"), it is what it was.
    m_online.clear();
    ASSERT_TRUE(fresh.Refresh(true, nullptr));
    ASSERT_EQ(fresh.Entries().size(), 1u);
    EXPECT_EQ(fresh.Entries()[0].problem, EntryProblem::None);
    EnableEntry(fresh.Entries()[0], nullptr);
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe");
}

TEST_F(OnlineOnlyTest, AnEnabledEntrysLinkInTheCloudIsNeitherReadNorWrittenOver) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe");
    WriteShortcut(StartupPath(L"Notes.lnk"), L"c:\\windows\\notepad.exe");
    ASSERT_EQ(Row(kUser, L"Tool").problem, EntryProblem::None);
    const std::wstring tool = StorePath(kUser, L"Tool");
    const std::wstring notes = StorePath(kStartUp, L"Notes");
    const std::string toolBytes = ReadFileBytes(tool);
    const std::string notesBytes = ReadFileBytes(notes);
    m_online = {FoldedName(tool), FoldedName(notes)};

    // The system's side changes meanwhile: the import would write the link anew, over what the cloud keeps.
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\tool.exe /new");
    const Entry entry = Row(kUser, L"Tool");
    EXPECT_EQ(entry.problem, EntryProblem::StoreLinkOnlineOnly);
    EXPECT_EQ(entry.description, L"c:\\tool.exe /new") << "listed as the system has it";
    EXPECT_EQ(Row(kStartUp, L"Notes").problem, EntryProblem::StoreLinkOnlineOnly);
    EXPECT_EQ(m_reads, 0);
    EXPECT_EQ(ReadFileBytes(tool), toolBytes);
    EXPECT_EQ(ReadFileBytes(notes), notesBytes);
    EXPECT_THAT(MessageOf<EEntryRefused>([&] { DisableEntry(entry); }), HasSubstr(text::kLinkOnlineOnly));
    EXPECT_EQ(m_registry.RunValue(Location::User, L"Tool")->text, L"c:\\tool.exe /new");

    // Gone from the system: its mirror in the cloud stays where it is.
    m_registry.RemoveRunValue(Location::User, L"Tool");
    (void)Row(kStartUp, L"Notes");
    EXPECT_TRUE(PathExists(tool));
}

} // namespace
} // namespace bw::test
