#include "ftn/format.h"

#include <cstdio>
#include <cstring>

#include "driver/types.h"
#include "platform/text.h"

namespace tw {

namespace {

// Little-endian cursor over a fixed record; sizes are checked by the
// callers' record lengths, so no bound is tested per field.
struct Put {
    std::uint8_t* p;
    void u8(std::uint8_t v) { *p++ = v; }
    void u16(std::uint16_t v) {
        *p++ = std::uint8_t(v & 0xFF);
        *p++ = std::uint8_t(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(std::uint16_t(v & 0xFFFF));
        u16(std::uint16_t(v >> 16));
    }
    void bytes(const void* src, std::size_t n) {
        std::memcpy(p, src, n);
        p += n;
    }
};

struct Get {
    const std::uint8_t* p;
    std::uint8_t u8() { return *p++; }
    std::uint16_t u16() {
        std::uint16_t v = std::uint16_t(p[0] | (p[1] << 8));
        p += 2;
        return v;
    }
    std::uint32_t u32() {
        std::uint32_t lo = u16();
        std::uint32_t hi = u16();
        return lo | (hi << 16);
    }
    void bytes(void* dst, std::size_t n) {
        std::memcpy(dst, p, n);
        p += n;
    }
};

}  // namespace

void PacketHeader::encode(std::uint8_t out[size]) const {
    Put w{out};
    w.u16(orig_node);
    w.u16(dest_node);
    w.u16(year);
    w.u16(month);
    w.u16(day);
    w.u16(hour);
    w.u16(minute);
    w.u16(second);
    w.u16(baud);
    w.u16(packet_type);
    w.u16(orig_net);
    w.u16(dest_net);
    w.u8(product_low);
    w.u8(revision_major);
    w.bytes(password, sizeof password);
    w.u16(q_orig_zone);
    w.u16(q_dest_zone);
    w.u16(aux_net);
    w.u16(capability_copy);
    w.u8(product_high);
    w.u8(revision_minor);
    w.u16(capability);
    w.u16(orig_zone);
    w.u16(dest_zone);
    w.u16(orig_point);
    w.u16(dest_point);
    w.u32(product_data);
}

PacketHeader PacketHeader::decode(const std::uint8_t in[size]) {
    PacketHeader h{};
    Get r{in};
    h.orig_node = r.u16();
    h.dest_node = r.u16();
    h.year = r.u16();
    h.month = r.u16();
    h.day = r.u16();
    h.hour = r.u16();
    h.minute = r.u16();
    h.second = r.u16();
    h.baud = r.u16();
    h.packet_type = r.u16();
    h.orig_net = r.u16();
    h.dest_net = r.u16();
    h.product_low = r.u8();
    h.revision_major = r.u8();
    r.bytes(h.password, sizeof h.password);
    h.q_orig_zone = r.u16();
    h.q_dest_zone = r.u16();
    h.aux_net = r.u16();
    h.capability_copy = r.u16();
    h.product_high = r.u8();
    h.revision_minor = r.u8();
    h.capability = r.u16();
    h.orig_zone = r.u16();
    h.dest_zone = r.u16();
    h.orig_point = r.u16();
    h.dest_point = r.u16();
    h.product_data = r.u32();
    return h;
}

void PacketHeader::set_password(std::string_view pwd) {
    std::memset(password, 0, sizeof password);
    std::size_t n = pwd.size() < sizeof password ? pwd.size() : sizeof password;
    if (n) std::memcpy(password, pwd.data(), n);
}

void PackedMessageHeader::encode(std::uint8_t out[size]) const {
    Put w{out};
    w.u16(message_type);
    w.u16(orig_node);
    w.u16(dest_node);
    w.u16(orig_net);
    w.u16(dest_net);
    w.u16(attribute);
    w.u16(cost);
}

PackedMessageHeader PackedMessageHeader::decode(const std::uint8_t in[size]) {
    PackedMessageHeader h{};
    Get r{in};
    h.message_type = r.u16();
    h.orig_node = r.u16();
    h.dest_node = r.u16();
    h.orig_net = r.u16();
    h.dest_net = r.u16();
    h.attribute = r.u16();
    h.cost = r.u16();
    return h;
}

void StoredMessageHeader::encode(std::uint8_t out[size]) const {
    Put w{out};
    w.bytes(from_name, sizeof from_name);
    w.bytes(to_name, sizeof to_name);
    w.bytes(subject, sizeof subject);
    w.bytes(date, sizeof date);
    w.u16(times_read);
    w.u16(dest_node);
    w.u16(orig_node);
    w.u16(cost);
    w.u16(orig_net);
    w.u16(dest_net);
    w.bytes(unused, sizeof unused);
    w.u16(reply_to);
    w.u16(attribute);
    w.u16(next_reply);
}

StoredMessageHeader StoredMessageHeader::decode(const std::uint8_t in[size]) {
    StoredMessageHeader h{};
    Get r{in};
    r.bytes(h.from_name, sizeof h.from_name);
    r.bytes(h.to_name, sizeof h.to_name);
    r.bytes(h.subject, sizeof h.subject);
    r.bytes(h.date, sizeof h.date);
    h.times_read = r.u16();
    h.dest_node = r.u16();
    h.orig_node = r.u16();
    h.cost = r.u16();
    h.orig_net = r.u16();
    h.dest_net = r.u16();
    r.bytes(h.unused, sizeof h.unused);
    h.reply_to = r.u16();
    h.attribute = r.u16();
    h.next_reply = r.u16();
    return h;
}

std::string_view StoredMessageHeader::bounded(const char* p, std::size_t n) {
    return std::string_view(p, ::strnlen(p, n));
}

void StoredMessageHeader::store(char* p, std::size_t n, std::string_view s) {
    std::memset(p, 0, n);
    std::size_t len = s.size() < n - 1 ? s.size() : n - 1;
    if (len) std::memcpy(p, s.data(), len);
}

void format_ftn_date(char out[20], int day, int month, int year, int hour, int minute, int second) {
    const char* name = (month >= 0 && month < 12) ? kMonthNames[month] : kMonthNames[0];
    auto two = [](int v) { return ((v % 100) + 100) % 100; };
    if (std::strlen(name) != 3) {
        std::snprintf(out, 20, "%02d %-3s %02d  %02d:%02d:%02d", two(day), name, two(year), two(hour), two(minute),
                      two(second));
        return;
    }
    // "%02d %-3s %02d  %02d:%02d:%02d", once a message: without printf.
    auto put = [](char* p, int v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    std::memcpy(out, "00 Mmm 00  00:00:00", 20);
    put(out, two(day));
    std::memcpy(out + 3, name, 3);
    put(out + 7, two(year));
    put(out + 11, two(hour));
    put(out + 14, two(minute));
    put(out + 17, two(second));
}

namespace {

// scanf-like scanning of one pattern over a bounded text.
struct Scan {
    std::string_view s;
    std::size_t i = 0;
    static bool white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    void skip_white() {
        while (i < s.size() && white(s[i])) ++i;
    }
    // "%hu": optional sign, at least one digit; wraps like an unsigned short.
    bool number(std::uint16_t& out) {
        skip_white();
        std::size_t j = i;
        bool neg = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) neg = s[j++] == '-';
        if (j >= s.size() || s[j] < '0' || s[j] > '9') return false;
        unsigned v = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') v = (v * 10 + unsigned(s[j++] - '0')) & 0xFFFF;
        out = std::uint16_t(neg ? (0x10000 - v) & 0xFFFF : v);
        i = j;
        return true;
    }
    bool word(std::string_view& out) {
        skip_white();
        std::size_t j = i;
        while (j < s.size() && !white(s[j])) ++j;
        if (j == i) return false;
        out = s.substr(i, j - i);
        i = j;
        return true;
    }
    bool literal(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
};

}  // namespace

int parse_ftn_date(std::string_view text, MessageDate& date) {
    // The field ends at its first NUL, as the C string it is.
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    Scan sc{text};
    std::uint16_t v;
    if (!sc.number(v)) return 0;
    date.day = v;
    std::string_view word;
    if (!sc.word(word)) return 1;
    date.month = 0;
    for (int m = 0; m < 12; ++m)
        if (word.size() >= 3 && iequals(word.substr(0, 3), kMonthNames[m])) {
            date.month = std::uint16_t(m);
            break;
        }
    if (!sc.number(v)) return 2;
    date.year = std::uint16_t(v < 80 ? v + 2000 : v + 1900);
    if (!sc.number(v)) return 3;
    date.hour = v;
    if (!sc.literal(':') || !sc.number(v)) return 4;
    date.minute = v;
    if (!sc.literal(':') || !sc.number(v)) return 5;
    date.second = v;
    return 6;
}

std::size_t read_field(platform::File& file, char* buffer, std::size_t max) {
    std::size_t n = 0;
    while (n < max) {
        int c = file.getc();
        if (c == EOF || c == 0) break;
        buffer[n++] = char(c);
    }
    buffer[n] = 0;
    return n;
}

}  // namespace tw
