// Stored netmail: *.MSG files in NetmailDir addressed to the gateway or a
// route, with the quick-scan state file "tarnwick.dat".
#pragma once

namespace tw {

// Exports every unsent stored message for the gateway or a route; marks it
// Sent (or deletes it with KillSent) once it reached the reply packet.
void export_netmail();

}  // namespace tw
