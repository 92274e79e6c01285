// convert_ftn_message: one FTN message becomes one Internet message in the
// SOUP reply packet. Called by the packet reader and the stored-netmail
// export with the message's header fields in the current message and the
// file at the message text.
#pragma once

#include <cstdint>

#include "ftn/reader.h"
#include "platform/platform.h"

namespace tw {

// ConvertOutcome lives with the packet reader, which acts on it.

// Reads the text up to and including its ending NUL whatever the outcome,
// so that the next message of a packet follows. use_attach_list: the caller
// filled attach_list() for this message.
[[nodiscard]] ConvertOutcome convert_ftn_message(platform::File& file, bool use_attach_list);

// The export run's counters, zeroed by the run and raised per message written.
struct ExportCounters {
    long messages;
    long mail;
    long news;
    long lists;
};
ExportCounters& export_counters();

}  // namespace tw
