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

std::string normalize_packet(std::string bytes) {
    if (bytes.size() >= 16) bytes.replace(4, 12, std::string(12, '\0'));
    bytes = std::regex_replace(bytes, std::regex("@[0-9]{8}\\.[0-9]{6} "), "@YYYYMMDD.HHMMSS ");
    bytes = std::regex_replace(bytes, std::regex("\x01SPLIT: [0-9]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8}"),
                               "\x01SPLIT: DD Mon YY HH:MM:SS");
    return bytes;
}

}  // namespace twtest
