// The export run: FTN mail for the gateway becomes a SOUP reply packet.
#pragma once

namespace tw {

// The export command: from the /pkt= directory, from stored netmail
// (MailerType ArcMail) or from the Binkley-style outbound of the gateway
// and of every Route entry; then REPLIES and the statistics.
void run_export();

}  // namespace tw
