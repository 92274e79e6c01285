#include "support/packet_builder.h"

#include <cstdio>
#include <regex>

namespace twtest {

namespace {
void put16(std::string& s, unsigned v) { s += le16(v); }
}  // namespace

std::string le16(unsigned v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }

std::string packet_header(Addr orig, Addr dest, const std::string& password, unsigned type) {
    std::string h;
    put16(h, orig.node);
    put16(h, dest.node);
    for (int i = 0; i < 6; ++i) put16(h, 0);  // date and time
    put16(h, 0);                              // baud
    put16(h, type);
    put16(h, orig.net);
    put16(h, dest.net);
    h += '\0';  // product code low
    h += '\0';  // revision major
    std::string pw = password.substr(0, 8);
    pw.resize(8, '\0');
    h += pw;
    put16(h, orig.zone);
    put16(h, dest.zone);
    put16(h, 0);  // aux net
    h += '\0';    // capability word copy, byte-swapped 0100h
    h += '\x01';
    h += '\x01';  // product code high
    h += '\0';    // revision minor
    put16(h, 1);  // capability word
    put16(h, orig.zone);
    put16(h, dest.zone);
    put16(h, orig.point);
    put16(h, dest.point);
    h += std::string(4, '\0');
    return h;
}

std::size_t walk_packet(const std::string& b, std::vector<FtnMessage>& out) {
    auto word = [&](std::size_t at) { return unsigned((unsigned char)b[at] | ((unsigned char)b[at + 1] << 8)); };
    for (std::size_t p = 58; p + 2 <= b.size();) {
        if (word(p) == 0) return p + 2;
        if (word(p) != 2 || p + 14 > b.size()) return std::string::npos;
        FtnMessage m;
        m.orig.node = std::uint16_t(word(p + 2));
        m.dest.node = std::uint16_t(word(p + 4));
        m.orig.net = std::uint16_t(word(p + 6));
        m.dest.net = std::uint16_t(word(p + 8));
        m.attribute = std::uint16_t(word(p + 10));
        p += 14;
        for (std::string* s : {&m.date, &m.to, &m.from, &m.subject, &m.text}) {
            std::size_t z = b.find('\0', p);
            if (z == std::string::npos) return std::string::npos;
            *s = b.substr(p, z - p);
            p = z + 1;
        }
        out.push_back(m);
    }
    return std::string::npos;
}

int count_messages(const std::string& b) {
    std::vector<FtnMessage> m;
    return walk_packet(b, m) == std::string::npos ? -1 : int(m.size());
}

std::vector<FtnMessage> parse_packet(const std::string& b) {
    std::vector<FtnMessage> out;
    walk_packet(b, out);
    return out;
}

std::vector<FtnMessage> parse_packets_in(const Scratch& dir, const std::string& rel) {
    std::vector<FtnMessage> out;
    for (const auto& n : dir.list(rel))
        if (n.size() >= 4 && n.substr(n.size() - 4) == ".pkt") walk_packet(dir.read(rel + "/" + n), out);
    return out;
}

std::string normalize_packet(std::string bytes) {
    if (bytes.size() >= 16) bytes.replace(4, 12, std::string(12, '\0'));
    bytes = std::regex_replace(bytes, std::regex("@[0-9]{8}\\.[0-9]{6} "), "@YYYYMMDD.HHMMSS ");
    bytes = std::regex_replace(bytes, std::regex("\x01SPLIT: [0-9]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8}"),
                               "\x01SPLIT: DD Mon YY HH:MM:SS");
    return bytes;
}

std::string ftn_text(std::initializer_list<std::string_view> lines) {
    std::string t;
    for (std::string_view l : lines) {
        t += l;
        t += '\r';
    }
    return t;
}

std::string FtnMessage::bytes() const {
    std::string b;
    put16(b, 2);
    put16(b, orig.node);
    put16(b, dest.node);
    put16(b, orig.net);
    put16(b, dest.net);
    put16(b, attribute);
    put16(b, 0);
    for (const std::string* s : {&date, &to, &from, &subject, &text}) {
        b += *s;
        b += '\0';
    }
    return b;
}

PacketBuilder& PacketBuilder::netmail(const std::string& from, const std::string& to, const std::string& subject,
                                      const std::string& text) {
    char intl[96];
    std::snprintf(intl, sizeof intl, "\x01INTL %u:%u/%u %u:%u/%u\r", dest_.zone, dest_.net, dest_.node, orig_.zone,
                  orig_.net, orig_.node);
    std::string kludges = intl;
    if (orig_.point) kludges += "\x01" "FMPT " + std::to_string(orig_.point) + "\r";
    if (dest_.point) kludges += "\x01" "TOPT " + std::to_string(dest_.point) + "\r";
    FtnMessage m;
    m.orig = orig_;
    m.dest = dest_;
    m.from = from;
    m.to = to;
    m.subject = subject;
    m.text = kludges + text;
    return add(m);
}

PacketBuilder& PacketBuilder::echomail(const std::string& area, const std::string& from, const std::string& subject,
                                       const std::string& text, const std::string& to) {
    FtnMessage m;
    m.orig = orig_;
    m.dest = dest_;
    m.attribute = 0;
    m.from = from;
    m.to = to;
    m.subject = subject;
    m.text = "AREA:" + area + "\r" + text;
    return add(m);
}

PacketBuilder& PacketBuilder::add(const FtnMessage& m) {
    bytes_ += m.bytes();
    return *this;
}

PacketBuilder& PacketBuilder::raw(std::string_view bytes) {
    bytes_ += bytes;
    return *this;
}

}  // namespace twtest
