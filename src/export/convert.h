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

// Messages wait in the reply packet's buffer; before an input is deleted,
// cut back or marked, they are committed to the disk. When that fails they
// are taken out of the reply packet and of the counters again, each
// reported with "! ", and their input must stay: false.
[[nodiscard]] bool commit_export();

// The first packet message lost by a failed commit since the last call
// (offset -1: none), where its packet must resume; all others are
// forgotten.
PacketMessage take_lost_message();
// The same for one packet of a batch whose disposal waits for a common
// commit: the packets are numbered by next_export_packet().
PacketMessage take_lost_message(long packet);
long next_export_packet();

}  // namespace tw
