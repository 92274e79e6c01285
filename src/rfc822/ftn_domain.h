// FTN addresses written as Internet domains, both directions: the labels
// p1.f2.n3.z4 in front of the domain of the address's zone.
#pragma once

#include <string>
#include <string_view>

#include "driver/types.h"

namespace tw {

// Whether the text after an '@' is an FTN domain: labels followed by the
// default FTN domain, or by the domain of a '#' FidoDomain entry.
bool is_ftn_domain(std::string_view domain);

// Reads the p, f, n and z labels that follow the '@' at the start of
// `at_text`. Returns whether the labels were followed by a further domain
// part (a label number that does not fit 16 bits makes it invalid too).
bool ftn_address_from_domain(std::string_view at_text, FtnAddress& out);

// The domain standing for the address: "p.f.n.z." labels (p only for a
// point) and the zone's '#' domain, or the zone's plain domain as it is.
std::string ftn_address_domain(const FtnAddress& address);
void append_ftn_address_domain(std::string& out, const FtnAddress& address);

}  // namespace tw
