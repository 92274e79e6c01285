// The junk and own-organization filters of the import classification.
#pragma once

#include "driver/types.h"
#include "platform/text.h"

namespace tw {

struct Classification;

// Judges the classified current message: may set the own-organization
// flag, set or clear the junk kind, clear the list-area flag, change the
// area and the recipient name. Returns true when the message is killed.
bool apply_filters(Classification& c);

}  // namespace tw
