// The junk and own-organization filters of the import classification, and
// the junk test of body text that the converter's scan pass runs.
#pragma once

#include <string_view>

#include "driver/types.h"

namespace tw {

struct Classification;

// A JunkFrom pattern against an address: local part and domain are compared
// apart, each may begin or end with '*'; a pattern with '@' matches only an
// address with '@', one without only an address without.
bool match_address_pattern(std::string_view pattern, std::string_view address);

// The own-organization test and its action. True when the message is killed.
bool own_org_filter(Classification& c);

// The five header junk tests, in their order; sets the junk kind.
void junk_filter(Classification& c);

// Judges the classified current message: own organization first, then the
// junk tests and the junk action. May set the own-organization flag, set or
// clear the junk kind, clear the list-area flag, change the area and the
// recipient name. Returns true when the message is killed.
bool apply_filters(Classification& c);

// Scan pass, a body line of e-mail: true when it holds a JunkStr text whose
// category applies to e-mail text (Email or All).
bool junk_text_in_body(std::string_view line);

}  // namespace tw
