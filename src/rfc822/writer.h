// Header lines of the Internet messages the gateway writes.
#pragma once

#include <string>
#include <string_view>

#include "driver/types.h"
#include "platform/platform.h"

namespace tw {

// Message identifiers: an identifier the message already had, or one built
// from an FTN serial and address in the domain of the address's zone.
// The identifier in angle brackets, without a line end.
std::string message_id_text(std::string_view id, unsigned long serial, const FtnAddress& address);

void append_message_id(std::string& out, std::string_view id, unsigned long serial, const FtnAddress& address);

// Writes message_id_text and "\n".
void write_message_id(platform::File& out, std::string_view id, unsigned long serial, const FtnAddress& address);

// "Date: Wdy, DD Mon YYYY HH:MM:SS" with " zone" when one is given, and "\n".
void write_date_line(platform::File& out, const MessageDate& date, std::string_view zone);
void append_date_line(std::string& out, const MessageDate& date, std::string_view zone);

}  // namespace tw
