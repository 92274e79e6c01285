// Message identifiers of the Internet messages the gateway writes: an
// identifier the message already had, or one built from an FTN serial and
// address in the domain of the address's zone.
#pragma once

#include <string>
#include <string_view>

#include "driver/types.h"
#include "platform/platform.h"

namespace tw {

// The identifier in angle brackets, without a line end.
std::string message_id_text(std::string_view id, unsigned long serial, const FtnAddress& address);

// Writes message_id_text and "\n".
void write_message_id(platform::File& out, std::string_view id, unsigned long serial, const FtnAddress& address);

}  // namespace tw
