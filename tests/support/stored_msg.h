// Stored netmail (*.MSG) files for tests: the 190-byte header, then the
// text. Written for the gateway to export, read back from what a tosser
// stored.
#pragma once

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "support/scratch.h"

namespace twtest {

inline constexpr std::uint16_t kMsgSent = 0x0008, kMsgFileAttached = 0x0010, kMsgKillSent = 0x0080,
                               kMsgHold = 0x0200;

struct StoredMsg {
    std::string from = "Fred Fido";
    std::string to = "UUCP";
    std::string subject = "Hello";
    std::string date = "09 Dec 26  10:00:00";
    std::uint16_t orig_net = 280, orig_node = 100, dest_net = 280, dest_node = 1;
    std::uint16_t attribute = 0;
    std::string text = "To: ann@example.com\r\rHello from FTN.\r";

    std::string bytes() const {
        std::string b(190, '\0');
        auto field = [&b](std::size_t at, std::size_t n, const std::string& s) { b.replace(at, std::min(s.size(), n - 1), s.substr(0, n - 1)); };
        auto word = [&b](std::size_t at, std::uint16_t v) {
            b[at] = char(v & 0xFF);
            b[at + 1] = char(v >> 8);
        };
        field(0, 36, from);
        field(36, 36, to);
        field(72, 72, subject);
        field(144, 20, date);
        word(166, dest_node);
        word(168, orig_node);
        word(172, orig_net);
        word(174, dest_net);
        word(186, attribute);
        return b + text + std::string(1, '\0');
    }

    // The message of stored bytes, the text up to its NUL; nullopt when
    // the bytes are shorter than a header.
    static std::optional<StoredMsg> parse(const std::string& b) {
        if (b.size() < 190) return std::nullopt;
        auto field = [&b](std::size_t at, std::size_t n) {
            std::string s = b.substr(at, n);
            return s.substr(0, s.find('\0'));
        };
        auto word = [&b](std::size_t at) { return std::uint16_t((unsigned char)b[at] | ((unsigned char)b[at + 1] << 8)); };
        StoredMsg m;
        m.from = field(0, 36);
        m.to = field(36, 36);
        m.subject = field(72, 72);
        m.date = field(144, 20);
        m.dest_node = word(166);
        m.orig_node = word(168);
        m.orig_net = word(172);
        m.dest_net = word(174);
        m.attribute = word(186);
        m.text = field(190, b.size());
        return m;
    }
};

// The stored messages (*.msg, any case) of a scratch directory by subject;
// `short_files` counts the files too short to be one.
inline std::map<std::string, StoredMsg> stored_area(const Scratch& dir, const std::string& rel,
                                                    int* short_files = nullptr) {
    std::map<std::string, StoredMsg> out;
    for (const std::string& name : dir.list(rel)) {
        if (name.size() < 4 || ::strcasecmp(name.c_str() + name.size() - 4, ".msg") != 0) continue;
        if (auto m = StoredMsg::parse(dir.read(rel + "/" + name))) out[m->subject] = *m;
        else if (short_files) ++*short_files;
    }
    return out;
}

// The attribute word of a stored message's bytes.
inline std::uint16_t msg_attribute(const std::string& bytes) {
    return bytes.size() < 190 ? 0 : std::uint16_t((unsigned char)bytes[186] | ((unsigned char)bytes[187] << 8));
}

}  // namespace twtest
