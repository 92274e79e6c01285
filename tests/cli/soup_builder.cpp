#include "cli/soup_builder.h"

#include <regex>

namespace twtest {

void SoupBuilder::area(const std::string& prefix, const std::string& name, const std::string& type,
                       const std::string& bytes) {
    dir_.write(soup_ + "/" + prefix + ".msg", bytes);
    dir_.append(soup_ + "/AREAS", prefix + "\t" + name + "\t" + type + "\n");
}

std::string mbox(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) out += "From sender@example Mon Dec  7 10:00:00 2026\n" + m;
    return out;
}

std::string mmdf(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) out += "\x01\x01\x01\x01\n" + m + "\x01\x01\x01\x01\n";
    return out;
}

std::string rnews(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) out += "#! rnews " + std::to_string(m.size()) + "\n" + m;
    return out;
}

std::string binary(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) {
        std::uint32_t n = std::uint32_t(m.size());
        out += char(n >> 24);
        out += char(n >> 16);
        out += char(n >> 8);
        out += char(n);
        out += m;
    }
    return out;
}

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

std::string normalize_packet(std::string bytes) {
    if (bytes.size() >= 16) bytes.replace(4, 12, std::string(12, '\0'));
    bytes = std::regex_replace(bytes, std::regex("@[0-9]{8}\\.[0-9]{6} "), "@YYYYMMDD.HHMMSS ");
    bytes = std::regex_replace(bytes, std::regex("\x01SPLIT: [0-9]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8}"),
                               "\x01SPLIT: DD Mon YY HH:MM:SS");
    return bytes;
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

std::vector<PacketMessage> packet_messages(const std::string& b) {
    std::vector<PacketMessage> out;
    std::size_t p = 58;
    auto u16 = [&](std::size_t at) { return unsigned((unsigned char)b[at] | ((unsigned char)b[at + 1] << 8)); };
    while (p + 14 <= b.size() && u16(p) == 2) {
        PacketMessage m{u16(p + 2), u16(p + 4), u16(p + 6), u16(p + 8), u16(p + 10), "", "", "", "", ""};
        p += 14;
        std::string* fields[] = {&m.date, &m.to, &m.from, &m.subject, &m.text};
        for (std::string* f : fields) {
            std::size_t z = b.find('\0', p);
            if (z == std::string::npos) return out;
            *f = b.substr(p, z - p);
            p = z + 1;
        }
        out.push_back(m);
    }
    return out;
}

std::vector<PacketMessage> packet_messages_in(const Scratch& dir, const std::string& rel) {
    std::vector<PacketMessage> out;
    for (const auto& n : dir.list(rel)) {
        if (n.size() < 4 || n.substr(n.size() - 4) != ".pkt") continue;
        for (auto& m : packet_messages(dir.read(rel + "/" + n))) out.push_back(m);
    }
    return out;
}

}  // namespace twtest
