// The first half of the converter: what an FTN message is, who gets it and
// who sent it, in Internet terms.
#pragma once

#include "export/analysis.h"
#include "platform/platform.h"

namespace tw {

// Reads the date, the kludges and the address lines at the top of the text
// into the current message, classifies it and checks its text. True when
// the message is to be exported; the file is then at the text start.
// False when it is not; the file is then somewhere inside the text.
[[nodiscard]] bool analyse_ftn_message(platform::File& file, bool use_attach_list, ExportAnalysis& analysis);

// The "! " warnings of an exported message: dropped address or crosspost
// lines, a UUCP message without any To: line.
void report_address_warnings(const ExportAnalysis& analysis);

// Reads from the text start up to and including the NUL that ends the text
// (or to the end of the file).
void skip_message_text(platform::File& file, long long text_start);

}  // namespace tw
