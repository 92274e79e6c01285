// Building FTN packets as a peer's tosser writes them, for unit and CLI tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace twtest {

struct Addr {
    std::uint16_t zone, net, node, point;
};

// The 58-byte Type 2+ packet header, with its date fields 0.
std::string packet_header(Addr orig, Addr dest, const std::string& password = "");

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
