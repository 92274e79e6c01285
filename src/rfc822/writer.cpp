#include "rfc822/writer.h"

#include <cstdio>

#include "config/config.h"

namespace tw {

namespace {

std::string_view zone_domain(std::uint16_t zone) {
    for (const FidoDomainEntry* e : config().FidoDomain)
        if (e->domain && zone >= e->zone_low && zone <= e->zone_high) return e->domain;
    return kDefaultFidoDomain;
}

}  // namespace

std::string message_id_text(std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string out;
    if (!id.empty()) {
        if (id.front() != '<') out += '<';
        out += id;
        if (id.back() != '>') out += '>';
        return out;
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "<%lu@", serial);
    out += buf;
    std::string_view domain = zone_domain(address.zone);
    if (!domain.empty() && domain.front() == '#') {
        if (address.point != 0) {
            std::snprintf(buf, sizeof buf, "p%hu.", address.point);
            out += buf;
        }
        std::snprintf(buf, sizeof buf, "f%hu.n%hu.z%hu.", address.node, address.net, address.zone);
        out += buf;
        domain.remove_prefix(1);
    }
    out += domain;
    out += '>';
    return out;
}

void write_message_id(platform::File& out, std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string text = message_id_text(id, serial, address);
    text += '\n';
    out.write(text);
}

}  // namespace tw
