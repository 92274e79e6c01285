#include "support/packet_builder.h"

#include <cstdio>

namespace twtest {

namespace {
void put16(std::string& s, unsigned v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
}  // namespace

std::string packet_header(Addr orig, Addr dest, const std::string& password) {
    std::string h;
    put16(h, orig.node);
    put16(h, dest.node);
    for (int i = 0; i < 6; ++i) put16(h, 0);  // date and time
    put16(h, 0);                              // baud
    put16(h, 2);                              // packet type
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

int count_messages(const std::string& b) {
    std::size_t p = 58;
    int n = 0;
    if (b.size() < p) return -1;
    for (;;) {
        if (p + 2 > b.size()) return -1;
        unsigned type = (unsigned char)b[p] | ((unsigned char)b[p + 1] << 8);
        if (type == 0) return n;
        if (type != 2) return -1;
        p += 14;
        for (int s = 0; s < 5; ++s) {  // date, to, from, subject, text
            std::size_t z = b.find('\0', p);
            if (z == std::string::npos) return -1;
            p = z + 1;
        }
        ++n;
    }
}

std::vector<FtnMessage> parse_packet(const std::string& b) {
    std::vector<FtnMessage> out;
    auto word = [&](std::size_t at) { return unsigned((unsigned char)b[at] | ((unsigned char)b[at + 1] << 8)); };
    for (std::size_t p = 58; p + 14 <= b.size() && word(p) == 2;) {
        FtnMessage m;
        m.orig.node = std::uint16_t(word(p + 2));
        m.dest.node = std::uint16_t(word(p + 4));
        m.orig.net = std::uint16_t(word(p + 6));
        m.dest.net = std::uint16_t(word(p + 8));
        m.attribute = std::uint16_t(word(p + 10));
        p += 14;
        for (std::string* s : {&m.date, &m.to, &m.from, &m.subject, &m.text}) {
            std::size_t z = b.find('\0', p);
            if (z == std::string::npos) return out;
            *s = b.substr(p, z - p);
            p = z + 1;
        }
        out.push_back(m);
    }
    return out;
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
