// The first half of the converter: what an FTN message is, who gets it and
// who sent it, in Internet terms.
#pragma once

#include "export/analysis.h"
#include "export/message_text.h"

namespace tw {

// Reads the date, the kludges and the address lines at the top of the text
// into the current message, classifies it and checks its text. True when
// the message is to be exported; the text is then at its start. False
// when it is not; the text is then somewhere before its end.
[[nodiscard]] bool analyse_ftn_message(MessageText& text, bool use_attach_list, ExportAnalysis& analysis);

// The "! " warnings of an exported message: dropped address or crosspost
// lines, a UUCP message without any To: line.
void report_address_warnings(const ExportAnalysis& analysis);

}  // namespace tw
