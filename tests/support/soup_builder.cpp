#include "support/soup_builder.h"

namespace twtest {

void SoupBuilder::area(const std::string& prefix, const std::string& name, const std::string& type,
                       const std::string& bytes) {
    dir_.write(soup_ + "/" + prefix + ".msg", bytes);
    dir_.append(soup_ + "/AREAS", prefix + "\t" + name + "\t" + type + "\n");
}

std::vector<std::string> unframe(const std::string& bytes, bool* whole) {
    std::vector<std::string> out;
    std::size_t p = 0;
    while (p + 4 <= bytes.size()) {
        std::size_t n = (std::size_t((unsigned char)bytes[p]) << 24) | (std::size_t((unsigned char)bytes[p + 1]) << 16) |
                        (std::size_t((unsigned char)bytes[p + 2]) << 8) | (unsigned char)bytes[p + 3];
        if (n > bytes.size() - p - 4) break;
        out.push_back(bytes.substr(p + 4, n));
        p += 4 + n;
    }
    if (whole) *whole = p == bytes.size();
    return out;
}

std::vector<std::string> reply_messages(const Scratch& dir, const std::string& soup) {
    std::vector<std::string> out;
    std::string index = dir.read(soup + "/REPLIES");
    for (std::size_t at = 0; at < index.size();) {
        std::size_t nl = index.find('\n', at);
        for (std::string& m : unframe(dir.read(soup + "/" + index.substr(at, index.find('\t', at) - at) + ".MSG")))
            out.push_back(std::move(m));
        at = nl == std::string::npos ? index.size() : nl + 1;
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
        std::size_t n = m.size();
        out += {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        out += m;
    }
    return out;
}

}  // namespace twtest
