#include "rfc822/writer.h"

#include <cstdio>

#include "rfc822/ftn_domain.h"

namespace tw {

std::string message_id_text(std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string out;
    if (!id.empty()) {
        if (id.front() != '<') out += '<';
        out += id;
        if (id.back() != '>') out += '>';
        return out;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "<%lu@", serial);
    out += buf;
    out += ftn_address_domain(address);
    out += '>';
    return out;
}

void write_message_id(platform::File& out, std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string text = message_id_text(id, serial, address);
    text += '\n';
    out.write(text);
}

}  // namespace tw
