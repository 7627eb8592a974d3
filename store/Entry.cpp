#include "store/Entry.h"

namespace bw {

bool Entry::operator==(const Entry& other) const {
    return name == other.name && code == other.code && storeLinkPath == other.storeLinkPath &&
           description == other.description && record == other.record && readWhole == other.readWhole &&
           switchedOffInWindows == other.switchedOffInWindows && target == other.target &&
           iconSource == other.iconSource && iconIndex == other.iconIndex && problem == other.problem &&
           arguments == other.arguments && publisher == other.publisher && fileDescription == other.fileDescription;
}

} // namespace bw
