#include "store/Entry.h"

#include "resources/Texts.h"

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
    }
    return L"";
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
