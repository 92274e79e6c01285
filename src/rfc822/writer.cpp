#include "rfc822/writer.h"

#include <cstdio>

#include "driver/helpers.h"
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

void write_date_line(platform::File& out, const MessageDate& date, std::string_view zone) {
    int mon = date.month < 12 ? date.month : 0;
    int wday = day_of_week(date.year, mon + 1, date.day);
    if (wday < 0 || wday > 6) wday = 0;
    out.printf("Date: %s, %02d %-3s %04d %02d:%02d:%02d", kDayNames[wday], int(date.day), kMonthNames[mon],
               int(date.year), int(date.hour), int(date.minute), int(date.second));
    if (!zone.empty()) out.printf(" %.*s", int(zone.size()), zone.data());
    out.write("\n");
}

}  // namespace tw
