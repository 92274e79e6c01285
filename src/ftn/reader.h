// The packet reader: decides whether a packet is for the gateway or a
// route and hands every message in it to the FTN-to-Internet converter.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace tw {

// What became of one message handed to the converter.
enum class ConvertOutcome : std::uint8_t {
    NotExported,  // not for export (import-only area, no text, ...): nothing written
    Exported,     // the whole message reached the reply packet
    Failed,       // meant for export, but the reply packet could not take it whole;
                  // reported with "! ", nothing of it left in the reply file
};

// Converts one message. Called with the file positioned at the message text
// and the header fields already in the current message; it must read the
// text up to and including its ending NUL, so the next message follows.
using MessageConverter = std::function<ConvertOutcome(platform::File& file, bool use_attach_list)>;

enum class PacketOutcome : std::uint8_t {
    Refused,   // not a packet, or for neither the gateway nor a Route entry: nothing read
    Exported,  // accepted, and every message meant for export reached the reply packet
    Failed,    // a message could not be written; reading stopped there
    Damaged,   // cut inside a message or out of step; the whole messages before were converted
};

struct [[nodiscard]] PacketRead {
    PacketOutcome outcome;
    long messages;        // messages handed to the converter
    long long resume_at;  // Failed: offset of the message that failed (the packet's rest)
    long long damage_at;  // Damaged: offset of the first byte that is no whole message
};

// Reads the packet from its start. The ExportTarget stays Undetermined
// when the packet is refused. use_attach_list is passed on unchanged. A
// message is handed over only when its text has its ending NUL in the file,
// so a packet cut inside a message converts the whole ones and reports the
// damage rather than passing on a piece.
PacketRead read_packet(platform::File& file, bool use_attach_list, const MessageConverter& convert);

// The message read_packet last handed to the converter: its offset in the
// packet and its number (from 1). A packet resumes there when the message
// is lost after the converter took it (its reply could not be committed).
struct PacketMessage {
    long long offset = -1;
    long number = 0;
};
PacketMessage last_packet_message();

}  // namespace tw
