// Building FTN packets as a peer's tosser writes them, for unit and CLI tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/scratch.h"

namespace twtest {

struct Addr {
    std::uint16_t zone, net, node, point;
};

// A 16-bit word as a packet holds it, low byte first.
std::string le16(unsigned v);

// The 58-byte Type 2+ packet header, with its date fields 0 (and another
// packet type where a test asks for one).
std::string packet_header(Addr orig, Addr dest, const std::string& password = "", unsigned type = 2);

// Messages in a packet (-1 when it is not well formed).
int count_messages(const std::string& bytes);

// FTN text lines, each ended by CR.
std::string ftn_text(std::initializer_list<std::string_view> lines);

// One packed message.
struct FtnMessage {
    Addr orig{}, dest{};  // net and node go into the fixed part
    std::uint16_t attribute = 0x0001;
    std::string date = "07 Dec 26  11:22:33";
    std::string to, from, subject;
    std::string text;  // the message text without its ending NUL
    std::string bytes() const;
};

// The messages of a well-formed packet, as far as they go.
std::vector<FtnMessage> parse_packet(const std::string& bytes);
// Reads the messages of a packet into `out` as far as they go; returns the
// offset just past the terminator, or npos when the packet is not well formed.
std::size_t walk_packet(const std::string& bytes, std::vector<FtnMessage>& out);
// The messages of every *.pkt in the scratch directory `rel`, in name order.
std::vector<FtnMessage> parse_packets_in(const Scratch& dir, const std::string& rel);

// Packet bytes with the times of the run taken out: the header date
// fields become 0, Via and SPLIT times placeholders.
std::string normalize_packet(std::string bytes);

// A packet: header, messages, terminator.
class PacketBuilder {
public:
    PacketBuilder(Addr orig, Addr dest, std::string password = "")
        : bytes_(packet_header(orig, dest, password)), orig_(orig), dest_(dest) {}
    // A netmail between the packet's nodes, INTL kludge included.
    PacketBuilder& netmail(const std::string& from, const std::string& to, const std::string& subject,
                           const std::string& text);
    // An echomail of the area from the packet's origin.
    PacketBuilder& echomail(const std::string& area, const std::string& from, const std::string& subject,
                            const std::string& text, const std::string& to = "All");
    PacketBuilder& add(const FtnMessage& m);
    PacketBuilder& raw(std::string_view bytes);
    std::string bytes(bool terminator = true) const { return terminator ? bytes_ + std::string(2, '\0') : bytes_; }

private:
    std::string bytes_;
    Addr orig_, dest_;
};

}  // namespace twtest
