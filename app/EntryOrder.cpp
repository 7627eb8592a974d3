#include "app/EntryOrder.h"

#include "platform/FileSystem.h"
#include "resources/Texts.h"
#include "store/Locations.h"

namespace bw {

std::wstring ColumnText(const Entry& entry, int column) {
    switch (column) {
    case NameColumn:
        return entry.name;
    case TargetColumn:
        return entry.target.size() >= 2 ? entry.target : std::wstring(text::kNotFound);
    case LocationColumn:
        return LocationText(entry.code);
    case PublisherColumn:
        return entry.publisher;
    case DescriptionColumn:
        return entry.fileDescription;
    case SignerColumn:
        return SignerText(entry);
    }
    return {};
}

std::wstring SignerText(const Entry& entry) {
    if (!entry.factsKnown) {
        return {};
    }
    switch (entry.signature.kind) {
    case SignatureKind::Verified:
        return entry.signature.signer;
    case SignatureKind::NotSigned:
        return text::kNotSigned;
    case SignatureKind::NotValid:
        return text::kNotValid;
    case SignatureKind::Missing:
        break;
    }
    return {};
}

std::wstring SortKeyOf(const Entry& entry, int column) {
    if (column == LocationColumn) {
        return std::wstring(1, static_cast<wchar_t>(L'0' + ListRankOf(entry.code)));
    }
    return FoldedName(ColumnText(entry, column));
}

int CompareEntries(const std::wstring& firstKey, const Entry& first, const std::wstring& secondKey, const Entry& second,
                   bool descending) {
    int order = firstKey.compare(secondKey);
    if (order == 0 && first.code != second.code) {
        order = ListRankOf(first.code) < ListRankOf(second.code) ? -1 : 1;
    }
    if (order == 0) {
        order = FoldedName(first.name).compare(FoldedName(second.name));
    }
    if (order == 0) {
        order = first.name.compare(second.name);
    }
    order = order < 0 ? -1 : order > 0 ? 1 : 0;
    return descending ? -order : order;
}

std::wstring CommandLineOf(const Entry& entry) {
    if (IsRegistryCode(entry.code)) {
        return entry.description;
    }
    std::wstring commandLine =
        entry.target.find(L' ') != std::wstring::npos ? L"\"" + entry.target + L"\"" : entry.target;
    if (!entry.arguments.empty()) {
        commandLine += L" " + entry.arguments;
    }
    return commandLine;
}

std::wstring FilterKeyOf(const std::wstring& text) {
    return FoldedName(text);
}

bool MatchesFilter(const Entry& entry, const std::wstring& filterKey) {
    if (filterKey.empty()) {
        return true;
    }
    for (const std::wstring& field :
         {entry.name, CommandLineOf(entry), entry.publisher, SignerText(entry), entry.fileDescription}) {
        if (FoldedName(field).find(filterKey) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

} // namespace bw
