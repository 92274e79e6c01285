// The packet reader: decides whether a packet is for the gateway or a
// route and hands every message in it to the FTN-to-Internet converter.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace tw {

// Converts one message. Called with the file positioned at the message text
// and the header fields already in the current message; it must read the
// text up to and including its ending NUL, so the next message follows.
using MessageConverter = std::function<void(platform::File& file, bool use_attach_list)>;

// Reads the packet from its start. Returns false when the file is not a
// packet or is addressed neither to the gateway nor to a Route entry (the
// ExportTarget then stays Undetermined); true when it was accepted and each
// of its messages went to convert. use_attach_list is passed on unchanged.
bool read_packet(platform::File& file, bool use_attach_list, const MessageConverter& convert);

}  // namespace tw
