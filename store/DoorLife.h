#pragma once

#include "platform/Seam.h"

namespace bw::seam {

// Told when a store door is made (true) and when it goes (false), with all that its session read. Nothing by
// default; a test counts them to see that a front end holds no door longer than it works.
extern TSeam<void(bool made)> DoorLife;

} // namespace bw::seam
