#pragma once

#include "bridge/config.h"

namespace twsoup {

// Hands every message of the SOUP reply packet on: mail to the sendmail
// command, news to the news server (NNTP POST) or a news command. A reply
// file and its REPLIES line go only when all its messages are accepted (or
// refused and kept aside); what is accepted is written down at once, so a
// run cut short never sends it twice. Returns the number of messages
// handed on.
long deliver_run(const BridgeConfig& cfg);

}  // namespace twsoup
