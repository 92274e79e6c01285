#include "cli/soup_builder.h"

#include <regex>

namespace twtest {

void SoupBuilder::area(const std::string& prefix, const std::string& name, const std::string& type,
                       const std::string& bytes) {
    dir_.write(soup_ + "/" + prefix + ".msg", bytes);
    dir_.append(soup_ + "/AREAS", prefix + "\t" + name + "\t" + type + "\n");
}

std::vector<std::string> reply_messages(const Scratch& dir, const std::string& soup) {
    std::vector<std::string> out;
    std::string index = dir.read(soup + "/REPLIES");
    for (std::size_t at = 0; at < index.size();) {
        std::size_t nl = index.find('\n', at);
        std::string bytes = dir.read(soup + "/" + index.substr(at, index.find('\t', at) - at) + ".MSG");
        at = nl == std::string::npos ? index.size() : nl + 1;
        for (std::size_t p = 0; p + 4 <= bytes.size();) {
            std::size_t n = (std::size_t((unsigned char)bytes[p]) << 24) |
                            (std::size_t((unsigned char)bytes[p + 1]) << 16) |
                            (std::size_t((unsigned char)bytes[p + 2]) << 8) | (unsigned char)bytes[p + 3];
            out.push_back(bytes.substr(p + 4, n));
            p += 4 + n;
        }
    }
    return out;
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

std::string normalize_packet(std::string bytes) {
    if (bytes.size() >= 16) bytes.replace(4, 12, std::string(12, '\0'));
    bytes = std::regex_replace(bytes, std::regex("@[0-9]{8}\\.[0-9]{6} "), "@YYYYMMDD.HHMMSS ");
    bytes = std::regex_replace(bytes, std::regex("\x01SPLIT: [0-9]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8}"),
                               "\x01SPLIT: DD Mon YY HH:MM:SS");
    return bytes;
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
