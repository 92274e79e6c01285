// The FTN byte formats: packet header, packed message header, stored
// message (.MSG) header, the date field, and the two primitives every FTN
// reader uses. Records are encoded and decoded field by field in
// little-endian order, never by laying a struct over the bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <string_view>

#include "driver/types.h"
#include "platform/platform.h"

namespace tw {

// Attribute bits of packed and stored messages.
inline constexpr std::uint16_t kAttrPrivate = 0x0001;
inline constexpr std::uint16_t kAttrSent = 0x0008;
inline constexpr std::uint16_t kAttrFileAttached = 0x0010;
inline constexpr std::uint16_t kAttrKillSent = 0x0080;
inline constexpr std::uint16_t kAttrHold = 0x0200;

// Type 2+ markers: the capability word and its byte-swapped copy.
inline constexpr std::uint16_t kCapabilityWord = 0x0001;
inline constexpr std::uint16_t kCapabilityCopy = 0x0100;

struct PacketHeader {
    static constexpr std::size_t size = 58;

    std::uint16_t orig_node, dest_node;
    std::uint16_t year, month, day, hour, minute, second;  // month 0-11
    std::uint16_t baud;
    std::uint16_t packet_type;
    std::uint16_t orig_net, dest_net;
    std::uint8_t product_low, revision_major;
    char password[8];  // NUL-padded, no NUL when all 8 are used
    std::uint16_t q_orig_zone, q_dest_zone;
    std::uint16_t aux_net;
    std::uint16_t capability_copy;
    std::uint8_t product_high, revision_minor;
    std::uint16_t capability;
    std::uint16_t orig_zone, dest_zone;
    std::uint16_t orig_point, dest_point;
    std::uint32_t product_data;

    void encode(std::uint8_t out[size]) const;
    static PacketHeader decode(const std::uint8_t in[size]);
    bool is_type2plus() const { return capability == kCapabilityWord && capability_copy == kCapabilityCopy; }
    // Cuts at 8 characters, pads the rest with NUL.
    void set_password(std::string_view pwd);
};

struct PackedMessageHeader {
    static constexpr std::size_t size = 14;

    std::uint16_t message_type;
    std::uint16_t orig_node, dest_node;
    std::uint16_t orig_net, dest_net;
    std::uint16_t attribute;
    std::uint16_t cost;

    void encode(std::uint8_t out[size]) const;
    static PackedMessageHeader decode(const std::uint8_t in[size]);
};

struct StoredMessageHeader {
    static constexpr std::size_t size = 190;

    // Raw fields as stored: a field written by another program may lack its
    // NUL, so read them through the views below.
    char from_name[36];
    char to_name[36];
    char subject[72];
    char date[20];
    std::uint16_t times_read;
    std::uint16_t dest_node, orig_node;
    std::uint16_t cost;
    std::uint16_t orig_net, dest_net;
    std::uint8_t unused[8];  // kept as found, so a rewrite changes nothing else
    std::uint16_t reply_to;
    std::uint16_t attribute;
    std::uint16_t next_reply;

    void encode(std::uint8_t out[size]) const;
    static StoredMessageHeader decode(const std::uint8_t in[size]);

    std::string_view from() const { return bounded(from_name, sizeof from_name); }
    std::string_view to() const { return bounded(to_name, sizeof to_name); }
    std::string_view subj() const { return bounded(subject, sizeof subject); }
    std::string_view date_text() const { return bounded(date, sizeof date); }
    // Each cuts to the field size less one and NUL-pads the rest.
    void set_from(std::string_view s) { store(from_name, sizeof from_name, s); }
    void set_to(std::string_view s) { store(to_name, sizeof to_name, s); }
    void set_subject(std::string_view s) { store(subject, sizeof subject, s); }
    void set_date(std::string_view s) { store(date, sizeof date, s); }

private:
    static std::string_view bounded(const char* p, std::size_t n);
    static void store(char* p, std::size_t n, std::string_view s);
};

// "%02d %-3s %02d  %02d:%02d:%02d" with every number modulo 100 (so the
// year comes out as two digits): 19 characters and a NUL in out.
void format_ftn_date(char out[20], int day, int month, int year, int hour, int minute, int second);

// Reads text by the pattern "%hu %s %hu  %hu:%hu:%hu" (as scanf would) into
// date. Fields the text does not reach keep their values. The month word
// is matched case-blind on its first three letters, January when none
// matches; a year below 80 gets 2000 added, else 1900. Returns the number
// of fields converted (0-6).
int parse_ftn_date(std::string_view text, MessageDate& date);

// Reads a NUL-terminated field of at most max characters into buffer
// (max + 1 bytes, always terminated). The end of the file counts as NUL.
// When max characters are stored the read stops there, so the rest of an
// overlong field starts the next one. Returns the number stored.
std::size_t read_field(platform::File& file, char* buffer, std::size_t max);

enum class TextLine : std::uint8_t {
    Complete,   // a CR ended the line (not stored)
    EndOfText,  // a NUL or the end of the file ended the text
    Continues,  // max characters stored, the line goes on
};

// Reads one line of message text into buffer (max + 1 bytes, always
// terminated). A line feed is dropped when it would be the first byte
// stored. With max 0 nothing is read and the result is EndOfText, so a
// caller's loop cannot spin. `source` is anything with getc() giving the
// next byte or EOF: a File, or a reader that buffers a message's text.
// One byte c of message text taken at buffer[n]: how the line ends when
// it ends here, otherwise nothing (and the byte is stored unless it is a
// line feed that would be the first byte).
inline std::optional<TextLine> take_text_byte(int c, char* buffer, std::size_t& n) {
    if (c == EOF || c == 0) {
        buffer[n] = 0;
        return TextLine::EndOfText;
    }
    if (c == '\r') {
        buffer[n] = 0;
        return TextLine::Complete;
    }
    if (c != '\n' || n != 0) buffer[n++] = char(c);
    return std::nullopt;
}

template <class Source>
TextLine read_text_line(Source& source, char* buffer, std::size_t max) {
    std::size_t n = 0;
    buffer[0] = 0;
    if (max == 0) return TextLine::EndOfText;
    while (n < max)
        if (std::optional<TextLine> end = take_text_byte(source.getc(), buffer, n)) return *end;
    buffer[n] = 0;
    return TextLine::Continues;
}

}  // namespace tw
