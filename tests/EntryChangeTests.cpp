#include "TestEnvironment.h"

#include "platform/ShellLink.h"
#include "store/EntryChange.h"
#include "store/StoreLinkCodec.h"

#include <functional>

namespace bw::test {

namespace {

RegistryValue Value(const std::wstring& commandLine) {
    const std::string bytes(reinterpret_cast<const char*>(commandLine.c_str()),
                            (commandLine.size() + 1) * sizeof(wchar_t));
    return RegistryValue{L"Tool", REG_SZ, bytes};
}

// A store link of `bytes`, with the record the store keeps of the link as the program wrote it (`written`, where
// that is not `bytes` itself): a save by the shell drops the block, never the store's record.
StoreLink LinkOf(int code, const std::string& bytes, const std::string& written = {}) {
    StoreLink link;
    link.code = code;
    link.bytes = bytes;
    TShellLink loader;
    (void)ParseStoreLink(loader, link);
    if (IsRegistryCode(code)) {
        const auto record = RecordOfWrittenLink(code, written.empty() ? bytes : written);
        EXPECT_TRUE(record.has_value());
        if (record) {
            link.record = record->record;
        }
    }
    return link;
}

// A link as the program writes it for `value`, and the same after an edit through the shell's link object, saved as
// it saves (the record block is not put back where the save dropped it).
std::string Written(const RegistryValue& value) {
    TShellLink maker;
    return RegistryStoreLinkBytes(maker, value);
}

std::string SavedByTheShell(const std::string& bytes, const std::function<void(TShellLink&)>& edit) {
    TShellLink link;
    EXPECT_TRUE(link.LoadBytes(bytes));
    edit(link);
    return link.SaveBytes();
}

std::string Shortcut(const std::wstring& target, const std::wstring& arguments) {
    TShellLink link;
    (void)link.SetPath(target);
    (void)link.SetArguments(arguments);
    return link.SaveBytes();
}

const char* NameOf(EntryChange change) {
    switch (change) {
    case EntryChange::Unchanged:
        return "unchanged";
    case EntryChange::EditedInStore:
        return "edited in the store";
    case EntryChange::ChangedInSystem:
        return "changed in the system";
    case EntryChange::ChangedOnBoth:
        return "changed on both sides";
    case EntryChange::SystemUnreadable:
        return "system side unreadable";
    }
    return "?";
}

} // namespace

// The one decision for a registry entry, case by case: which side changed since the base.
TEST(EntryChangeTest, RunValuesByTheirLinkTheirBaseAndTheSystem) {
    const RegistryValue v1 = Value(L"c:\\tool.exe /v1");
    const RegistryValue v2 = Value(L"c:\\tool.exe /v2");
    const RegistryValue edited = Value(L"c:\\tool.exe /edited");
    const StoreLink mirror = LinkOf(kUser, Written(v1));
    const StoreLink edit = LinkOf(
        kUser, SavedByTheShell(Written(v1), [](TShellLink& link) { link.SetDescription(L"c:\\tool.exe /edited"); }),
        Written(v1));
    MirrorBase base;
    base.value = v1;
    // What an import that ended before it saved had meant to write (v2) over the link it found (v1's).
    MirrorBase intent;
    intent.value = v2;
    intent.overwriting = BytesDigest(mirror.bytes);

    struct Case {
        const char* what;
        const StoreLink* link;
        const MirrorBase* base;
        std::optional<RegistryValue> value;
        EntryChange expected;
    };
    const Case cases[] = {
        {"link mirrors the value", &mirror, &base, v1, EntryChange::Unchanged},
        {"link mirrors it, no base", &mirror, nullptr, v1, EntryChange::Unchanged},
        {"no link", nullptr, &base, v1, EntryChange::ChangedInSystem},
        {"value changed, link as imported", &mirror, &base, v2, EntryChange::ChangedInSystem},
        {"value changed, no base", &mirror, nullptr, v2, EntryChange::ChangedInSystem},
        {"value gone", &edit, &base, std::nullopt, EntryChange::ChangedInSystem},
        {"link edited, value as imported", &edit, &base, v1, EntryChange::EditedInStore},
        {"link edited, value changed", &edit, &base, v2, EntryChange::ChangedOnBoth},
        {"link edited, no base to tell", &edit, nullptr, v1, EntryChange::ChangedInSystem},
        {"both changed to the same line", &edit, &base, edited, EntryChange::ChangedInSystem},
        {"import ended before its write", &mirror, &intent, v2, EntryChange::ChangedInSystem},
        {"import ended before its write, value changed again", &mirror, &intent, Value(L"c:\\tool.exe /v3"),
         EntryChange::ChangedInSystem},
        {"import ended after its write, value changed again", nullptr, &intent, Value(L"c:\\tool.exe /v3"),
         EntryChange::ChangedInSystem},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(NameOf(ClassifyRunValue(c.link, c.base, c.value)), NameOf(c.expected)) << c.what;
    }
    // The link that an import meant to write (v2's) after that import ended, and the value changed again since.
    const StoreLink written = LinkOf(kUser, Written(v2));
    EXPECT_EQ(ClassifyRunValue(&written, &intent, Value(L"c:\\tool.exe /v3")), EntryChange::ChangedInSystem);
}

// The same for a Startup entry, whose system side is the shortcut's bytes (or its stamp, while that tells).
TEST(EntryChangeTest, ShortcutsByTheirLinkTheirBaseAndTheShortcut) {
    const std::string s1 = Shortcut(L"c:\\notes.exe", L"/a");
    const std::string s2 = Shortcut(L"c:\\notes.exe", L"/b");
    const StoreLink mirror = LinkOf(kStartUp, s1);
    const StoreLink edit =
        LinkOf(kStartUp, SavedByTheShell(s1, [](TShellLink& link) { link.SetArguments(L"/edited"); }));
    MirrorBase base;
    base.linkDigest = BytesDigest(s1);

    struct Case {
        const char* what;
        const StoreLink* link;
        const MirrorBase* base;
        std::optional<std::string> shortcut;
        bool stampAsBase;
        EntryChange expected;
    };
    const Case cases[] = {
        {"neither changed, told by the stamp", &mirror, &base, std::nullopt, true, EntryChange::Unchanged},
        {"link edited, shortcut's stamp as before", &edit, &base, std::nullopt, true, EntryChange::EditedInStore},
        {"link edited, shortcut touched but the same", &edit, &base, s1, false, EntryChange::EditedInStore},
        {"shortcut replaced, link as imported", &mirror, &base, s2, false, EntryChange::ChangedInSystem},
        {"shortcut replaced, link edited", &edit, &base, s2, false, EntryChange::ChangedOnBoth},
        {"both the same now", &edit, &base, edit.bytes, false, EntryChange::ChangedInSystem},
        {"shortcut cannot be read", &edit, &base, std::nullopt, false, EntryChange::SystemUnreadable},
        {"no base", &edit, nullptr, s2, false, EntryChange::ChangedInSystem},
        {"no link", nullptr, &base, s2, false, EntryChange::ChangedInSystem},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(NameOf(ClassifyShortcut(c.link, c.base, c.shortcut, c.stampAsBase)), NameOf(c.expected)) << c.what;
    }
}

} // namespace bw::test
