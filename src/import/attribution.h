// The QuoteTo attribution scan: finds the author named in the attribution
// line before quoted text, so that news can be addressed to that person.
#pragma once

#include <string_view>

namespace tw {

// Starts the scan of a message (scan pass start).
void start_attribution_scan();

// One non-empty body line of the scan pass, while QuoteTo is on. Fills the
// quoted name and address of the current message.
void scan_attribution(std::string_view line);

// End of the scan pass: an attribution not followed soon by quoted text is
// thrown away.
void end_attribution_scan();

}  // namespace tw
