#include "TestEnvironment.h"

#include "platform/Errors.h"
#include "platform/Registry.h"

namespace bw::test {
namespace {

constexpr const wchar_t* kKey = L"Software\\BootwardenRegistryTest";

class TRegistryTest : public ::testing::Test {
protected:
    TRegistryTest() { m_registry.CreateKey(HKEY_CURRENT_USER, kKey); }

    void Set(const std::wstring& name, DWORD type, const void* data, DWORD size) {
        m_registry.SetValue(HKEY_CURRENT_USER, kKey, name, type, data, size);
    }

    TRegistry Opened(KeyAccess access = KeyAccess::Write) {
        TRegistry registry;
        registry.SelectRoot(HKEY_CURRENT_USER);
        EXPECT_TRUE(registry.OpenExistingKey(kKey, 0, access));
        return registry;
    }

    ScratchRegistry m_registry;
};

TEST_F(TRegistryTest, ReadTextByValueType) {
    m_registry.SetText(HKEY_CURRENT_USER, kKey, L"Plain", L"c:\\plain.exe");
    m_registry.SetText(HKEY_CURRENT_USER, kKey, L"Expand", L"%TEMP%\\x.exe", REG_EXPAND_SZ);
    const wchar_t twoStrings[] = L"first\0second\0";
    Set(L"Multi", REG_MULTI_SZ, twoStrings, sizeof twoStrings);
    const DWORD number = 1;
    Set(L"Number", REG_DWORD, &number, sizeof number);
    Set(L"EmptyNumber", REG_BINARY, nullptr, 0);
    const wchar_t embedded[] = L"before\0after";
    Set(L"Embedded", REG_SZ, embedded, sizeof embedded);
    Set(L"NoTerminator", REG_SZ, L"abc", 3 * sizeof(wchar_t));

    TRegistry registry = Opened();
    EXPECT_EQ(registry.ReadText(L"Plain"), L"c:\\plain.exe");
    EXPECT_EQ(registry.ReadText(L"Expand"), L"%TEMP%\\x.exe");
    EXPECT_EQ(registry.ReadText(L"Missing"), L"");
    EXPECT_EQ(registry.ReadText(L"EmptyNumber"), L"");
    EXPECT_EQ(registry.ReadText(L"Embedded"), L"before");
    EXPECT_EQ(registry.ReadText(L"NoTerminator"), L"abc");
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadText(L"Multi"); }), L"Invalid data type for 'Multi'");
    EXPECT_EQ(MessageOf<ERegistryException>([&] { registry.ReadText(L"Number"); }), L"Invalid data type for 'Number'");
}

TEST_F(TRegistryTest, OpensWithoutCreatingAndOpensTwice) {
    TRegistry registry;
    registry.SelectRoot(HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.OpenExistingKey(L"Software\\BootwardenNoSuchKey"));
    TRegistry probe;
    probe.SelectRoot(HKEY_CURRENT_USER);
    EXPECT_FALSE(probe.OpenExistingKey(L"Software\\BootwardenNoSuchKey")) << "the first open created the key";

    EXPECT_TRUE(registry.OpenExistingKey(kKey));
    EXPECT_TRUE(registry.OpenExistingKey(kKey, 0, KeyAccess::Write));
    registry.WriteText(L"Value", L"x");
    EXPECT_TRUE(registry.HasValue(L"Value"));
}

TEST_F(TRegistryTest, WriteRemoveAndHasValue) {
    TRegistry registry = Opened();
    EXPECT_FALSE(registry.HasValue(L"New"));
    registry.WriteText(L"New", L"c:\\new.exe");
    registry.WriteText(L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
    EXPECT_TRUE(registry.HasValue(L"New"));
    EXPECT_EQ(registry.ValueType(L"New"), DWORD{REG_SZ});
    EXPECT_EQ(registry.ValueType(L"Expand"), DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(registry.ReadText(L"Expand"), L"%SystemRoot%\\x.exe");

    EXPECT_TRUE(registry.RemoveValue(L"New"));
    EXPECT_FALSE(registry.RemoveValue(L"New"));
    EXPECT_FALSE(registry.HasValue(L"New"));

    TRegistry unopened;
    try {
        unopened.WriteText(L"Name", L"x");
        FAIL();
    } catch (const ERegistryException& error) {
        EXPECT_EQ(ErrorText(error), L"Failed to set data for 'Name'");
    }
}

TEST_F(TRegistryTest, ListsEveryValueWithItsDataByteForByte) {
    m_registry.SetText(HKEY_CURRENT_USER, kKey, L"", L"default");
    m_registry.SetText(HKEY_CURRENT_USER, kKey, L"One", L"1");
    m_registry.SetText(HKEY_CURRENT_USER, kKey, std::wstring(300, L'n'), L"long name");
    const wchar_t embedded[] = L"c:\\x.exe\0tail";
    Set(L"Embedded", REG_SZ, embedded, sizeof embedded);
    Set(L"Empty", REG_BINARY, nullptr, 0);
    EXPECT_THAT(Opened().ListValueNames(),
                ::testing::UnorderedElementsAre(L"", L"One", std::wstring(300, L'n'), L"Embedded", L"Empty"));

    const std::vector<RegistryValue> values = Opened().ListValues();
    ASSERT_EQ(values.size(), 5u);
    for (const RegistryValue& value : values) {
        if (value.name == L"Embedded") {
            EXPECT_EQ(value.data, std::string(reinterpret_cast<const char*>(embedded), sizeof embedded));
            EXPECT_EQ(value.Text(), L"c:\\x.exe");
        } else if (value.name == L"Empty") {
            EXPECT_EQ(value.type, DWORD{REG_BINARY});
            EXPECT_TRUE(value.data.empty());
            EXPECT_FALSE(value.IsText());
        }
    }
    // Writing a value back exactly keeps what follows its first zero.
    TRegistry registry = Opened();
    const auto before = registry.Value(L"Embedded");
    ASSERT_TRUE(before);
    registry.WriteValue(*before);
    EXPECT_EQ(registry.Value(L"Embedded")->data, before->data);
}

TEST_F(TRegistryTest, AKeysStampMovesWithEveryChangeOfAValue) {
    TRegistry registry = Opened();
    const auto empty = registry.Stamp();
    ASSERT_TRUE(empty);
    ::Sleep(20);
    registry.WriteText(L"A", L"1");
    const auto one = registry.Stamp();
    EXPECT_NE(*one, *empty);
    EXPECT_EQ(one->values, 1u);
    ::Sleep(20);
    registry.WriteText(L"A", L"2");
    EXPECT_NE(*registry.Stamp(), *one) << "same size, other data: only the time tells";
    EXPECT_FALSE(TRegistry().Stamp()) << "no key open";
}

// Windows grants a standard user read access to HKLM's keys and nothing more: every read opens, every change is
// refused, and the refusal is told from a missing key.
TEST_F(TRegistryTest, ReadsOpenForAStandardUserAndChangesAreRefusedAsSuch) {
    m_registry.CreateKey(HKEY_LOCAL_MACHINE, kKey);
    m_registry.SetText(HKEY_LOCAL_MACHINE, kKey, L"Tool", L"c:\\tool.exe");
    const StandardUser standardUser;
    TRegistry registry;
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenExistingKey(kKey)) << "reading asks for no more than a standard user has";
    EXPECT_EQ(registry.ReadText(L"Tool"), L"c:\\tool.exe");
    EXPECT_FALSE(registry.Refused());

    EXPECT_FALSE(registry.OpenExistingKey(kKey, 0, KeyAccess::Write));
    EXPECT_TRUE(registry.Refused());
    EXPECT_EQ(registry.ReadText(L"Tool"), L"c:\\tool.exe") << "the key opened before stays open";
    EXPECT_FALSE(registry.OpenExistingKey(L"Software\\BootwardenNoSuchKey", 0, KeyAccess::Write));
    EXPECT_FALSE(registry.Refused()) << "a missing key is no refusal";

    // HKCU stays the user's own.
    TRegistry user;
    user.SelectRoot(HKEY_CURRENT_USER);
    EXPECT_TRUE(user.OpenExistingKey(kKey, 0, KeyAccess::Write));
}

} // namespace
} // namespace bw::test
