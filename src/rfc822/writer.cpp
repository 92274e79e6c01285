#include "rfc822/writer.h"

#include "driver/helpers.h"
#include "rfc822/ftn_domain.h"

namespace tw {

void append_message_id(std::string& out, std::string_view id, unsigned long serial, const FtnAddress& address) {
    if (!id.empty()) {
        if (id.front() != '<') out += '<';
        out += id;
        if (id.back() != '>') out += '>';
        return;
    }
    out += '<';
    append_decimal(out, serial);
    out += '@';
    append_ftn_address_domain(out, address);
    out += '>';
}

std::string message_id_text(std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string out;
    append_message_id(out, id, serial, address);
    return out;
}

void write_message_id(platform::File& out, std::string_view id, unsigned long serial, const FtnAddress& address) {
    std::string text = message_id_text(id, serial, address);
    text += '\n';
    out.write(text);
}

void append_date_line(std::string& out, const MessageDate& date, std::string_view zone) {
    int mon = date.month < 12 ? date.month : 0;
    int wday = day_of_week(date.year, mon + 1, date.day);
    if (wday < 0 || wday > 6) wday = 0;
    // "Date: %s, %02d %-3s %04d %02d:%02d:%02d", the names being three letters
    out += "Date: ";
    out += kDayNames[wday];
    out += ", ";
    append_decimal(out, date.day, 2);
    out += ' ';
    out += kMonthNames[mon];
    out += ' ';
    append_decimal(out, date.year, 4);
    out += ' ';
    append_decimal(out, date.hour, 2);
    out += ':';
    append_decimal(out, date.minute, 2);
    out += ':';
    append_decimal(out, date.second, 2);
    if (!zone.empty()) {
        out += ' ';
        out += zone;
    }
    out += '\n';
}

void write_date_line(platform::File& out, const MessageDate& date, std::string_view zone) {
    std::string line;
    append_date_line(line, date, zone);
    out.write(line);
}

}  // namespace tw
