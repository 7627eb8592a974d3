#include "store/Entry.h"

#include "resources/Texts.h"
#include "store/Locations.h"

namespace bw {

const wchar_t* ProblemText(EntryProblem problem) {
    switch (problem) {
    case EntryProblem::None:
        break;
    case EntryProblem::NameNotStorable:
        return text::kNameNotStorable;
    case EntryProblem::StorePathTooLong:
        return text::kStorePathTooLong;
    case EntryProblem::NameTakenInOtherCase:
        return text::kNameTakenInOtherCase;
    case EntryProblem::ShortcutIsDevice:
        return text::kShortcutIsDevice;
    case EntryProblem::ShortcutIsLink:
        return text::kShortcutIsLink;
    case EntryProblem::ShortcutUnreadable:
        return text::kShortcutUnreadable;
    case EntryProblem::StoreLinkUnknown:
        return text::kLinkUnknown;
    case EntryProblem::StoreLinkRenamed:
        return text::kLinkRenamed;
    case EntryProblem::StoreLinkOnlineOnly:
        return text::kLinkOnlineOnly;
    case EntryProblem::OwnersPlaceNotReached:
        return text::kOwnersPlaceNotReached;
    case EntryProblem::PolicySetsIt:
        return text::kPolicySetsIt;
    case EntryProblem::RunsOnce:
        return text::kRunsOnce;
    case EntryProblem::RunsOnceUntilDone:
        return text::kRunsOnceUntilDone;
    case EntryProblem::RunsOnceInSafeMode:
        return text::kRunsOnceInSafeMode;
    case EntryProblem::RunsOnceUntilDoneInSafeMode:
        return text::kRunsOnceUntilDoneInSafeMode;
    }
    return L"";
}

EntryProblem ReadOnlyProblemOf(int code, const std::wstring& name) {
    switch (ReadOnlyCauseOf(code)) {
    case ReadOnlyCause::None:
        break;
    case ReadOnlyCause::Policy:
        return EntryProblem::PolicySetsIt;
    case ReadOnlyCause::RunOnce: {
        // Windows reads the marks at the start of the name, in either order.
        bool untilDone = false;
        bool safeMode = false;
        for (size_t at = 0; at < name.size() && (name[at] == L'!' || name[at] == L'*'); ++at) {
            (name[at] == L'!' ? untilDone : safeMode) = true;
        }
        return untilDone && safeMode ? EntryProblem::RunsOnceUntilDoneInSafeMode
               : untilDone           ? EntryProblem::RunsOnceUntilDone
               : safeMode            ? EntryProblem::RunsOnceInSafeMode
                                     : EntryProblem::RunsOnce;
    }
    }
    return EntryProblem::None;
}

std::wstring VisibleName(const std::wstring& name) {
    std::wstring shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (c < 0x20) {
            shown += static_cast<wchar_t>(0x2400 + c);
        } else if (c == 0x7F) {
            shown += L'\u2421';
        } else if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            shown += c;
            shown += name[++i];
        } else if (high || low) {
            shown += L'\uFFFD';
        } else {
            shown += c;
        }
    }
    return shown;
}

bool Entry::operator==(const Entry& other) const {
    return name == other.name && code == other.code && storeLinkPath == other.storeLinkPath &&
           description == other.description && record == other.record && readWhole == other.readWhole &&
           switchedOffInWindows == other.switchedOffInWindows && target == other.target &&
           iconSource == other.iconSource && iconIndex == other.iconIndex && problem == other.problem &&
           arguments == other.arguments && publisher == other.publisher && fileDescription == other.fileDescription &&
           signature == other.signature && factsKnown == other.factsKnown;
}

} // namespace bw
