#pragma once

#include "platform/Errors.h"

#include <string>

namespace bw {

// The sentence the user reads for a failure: the words of a failure raised with its own, or, for one of the
// platform layer, the text of resources/Texts.h for what failed, with its path or name (and the system's own
// message where the program has no words of its own for the cause). The window and bwcli show this.
std::wstring ErrorText(const EBootwarden& error);

} // namespace bw
