// Stored netmail: *.MSG files in NetmailDir addressed to the gateway or a
// route, with the quick-scan state file "tarnwick.dat".
#pragma once

#include <ctime>
#include <string_view>

namespace tw {

// The quick-scan state file: eight zero bytes, then the start time of the
// last complete run as a signed 64-bit little-endian count of seconds. Any
// other content, a short file, or a time later than `now` reads as 0.
std::time_t read_scan_state(std::string_view path, std::time_t now);
void write_scan_state(std::string_view path, std::time_t t);

// Exports every unsent stored message for the gateway or a route; marks it
// Sent (or deletes it with KillSent) once it reached the reply packet.
void export_netmail();

}  // namespace tw
