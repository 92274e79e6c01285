// The FTN message writer: turns the current message into packet bytes.
// Import frames packets with begin_packet/end_packet and each message (or
// part of a split message) with write_message_header/end_message, writing
// the text lines between them itself. Export wraps flow-file entries into
// file-attach packets with write_attach_packet.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "config/config.h"
#include "driver/types.h"
#include "platform/platform.h"

namespace tw {

enum class AttachDisposition : std::uint8_t { Ignored = 0, Decoded = 1, Killed = 2 };

// Messages written into the current packet: begin_packet sets it to 0,
// the import run counts up.
long& packet_message_count();
// Attachment files announced so far; the import run reads and resets it
// for its per-area statistics.
long& announced_attachment_count();

// Writes the packet header from the gateway (FidoAddr) to the first AddrMap
// entry, with PacketPwd; sets the packet's message count to 0.
void begin_packet(platform::File& file);

// Writes the packed message header, its four strings and the kludge lines
// of one message or message part, from the current message.
// attached_names: subject of a file-attach message (blank-separated names).
void write_message_header(MessageKind kind, platform::File& file, std::string_view attached_names, JunkKind junk,
                          bool own_org);

// Writes tear and origin lines (as KillOrigin says), SEEN-BY and PATH for
// echomail or the Via line for netmail, and the NUL that ends the message.
void end_message(MessageKind kind, platform::File& file);

// Reports one attachment of the message being imported on the console and
// in the run log and, unless message_not_written, as a line of its text.
// A decoded attachment of size 0 is deleted instead.
void announce_attachment(std::string_view decoded_path, std::string_view file_name, bool renamed,
                         EncodeKind encoding, AttachDisposition disposition, long size, bool message_not_written,
                         platform::File& file);

// Writes the packet terminator and closes the file: false when the packet
// did not reach the disk whole.
[[nodiscard]] bool end_packet(platform::File& file);

// Creates (or empties) the packet at packet_path holding one file-attach
// netmail from the first AddrMap entry to destination for the flow-file
// line file_line. Returns the file open for reading and writing, positioned
// after the last byte written; a closed file (and none left) when it cannot be written whole.
platform::File write_attach_packet(const FtnAddress& destination, std::string_view to_name,
                                   std::string_view packet_path, std::string_view file_line);

// The clock the writer reads (platform::now by default); tests fix it.
using WriterClock = std::time_t (*)();
void set_writer_clock(WriterClock clock);

}  // namespace tw
