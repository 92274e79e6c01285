// Building SOUP packets and looking into FTN packets, for the CLI tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/packet_builder.h"
#include "support/scratch.h"

namespace twtest {

// Writes message files and their AREAS lines into a SOUP directory.
class SoupBuilder {
public:
    SoupBuilder(const Scratch& dir, std::string soup) : dir_(dir), soup_(std::move(soup)) {}
    void area(const std::string& prefix, const std::string& name, const std::string& type,
              const std::string& bytes);

private:
    const Scratch& dir_;
    std::string soup_;
};

// The framings of a message file.
std::string mbox(const std::vector<std::string>& messages);
std::string mmdf(const std::vector<std::string>& messages);
std::string rnews(const std::vector<std::string>& messages);
std::string binary(const std::vector<std::string>& messages);

// The messages of a SOUP reply packet (REPLIES and its length-framed
// reply files under `soup`), in REPLIES order.
std::vector<std::string> reply_messages(const Scratch& dir, const std::string& soup);

// Packet bytes with the times of the run taken out: the header date
// fields become 0, Via and SPLIT times placeholders.
std::string normalize_packet(std::string bytes);

// One message of a packet: the fixed fields, the four strings and the text.
struct PacketMessage {
    unsigned orig_node, dest_node, orig_net, dest_net, attr;
    std::string date, to, from, subject, text;
};
std::vector<PacketMessage> packet_messages(const std::string& bytes);
// The messages of every packet in a directory, in packet-name order.
std::vector<PacketMessage> packet_messages_in(const Scratch& dir, const std::string& rel);

}  // namespace twtest
