#include "ftn/writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "ftn/format.h"

namespace tw {

namespace {

WriterClock g_clock = platform::now;
long g_packet_messages = 0;
long g_announced_files = 0;

std::tm local_now() {
    std::tm tm{};
    platform::local_time(g_clock ? g_clock() : platform::now(), tm);
    return tm;
}

// The first AddrMap entry stands for the FTN side as a whole (the packets'
// far end); the driver guarantees one, but an empty table must not crash.
const AddrMapEntry* first_addr_map() {
    const auto& t = config().AddrMap;
    return t.count > 0 ? t.items[0] : nullptr;
}

FtnAddress first_map_address() {
    const AddrMapEntry* e = first_addr_map();
    return e ? e->ftn : FtnAddress{};
}

std::string_view first_map_email() {
    const AddrMapEntry* e = first_addr_map();
    return e ? e->inet.view() : std::string_view();
}

// A value written inside a text line ends at its first CR, so a header
// value carrying one cannot start a line (a forged kludge) of its own.
Field in_line(std::string_view s) {
    Field f;
    f.assign(s.substr(0, s.find('\r')));
    return f;
}

// A line formatted once and written many times.
struct PrintedLine {
    PrintedLine() = default;
    __attribute__((format(printf, 2, 3))) explicit PrintedLine(const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        vformat(fmt, ap);
        va_end(ap);
    }
    __attribute__((format(printf, 2, 3))) void format(const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        vformat(fmt, ap);
        va_end(ap);
    }
    void vformat(const char* fmt, va_list ap) {
        int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
        text = std::string_view(buf, n < 0 ? 0 : std::size_t(n) < sizeof buf ? std::size_t(n) : sizeof buf - 1);
    }
    char buf[80];
    std::string_view text;
};

// The lines made of the gateway's own address, formatted again only when
// the address changes (as between the configurations of tests).
struct OwnAddressLines {
    FtnAddress of{};
    bool made = false;
    PrintedLine replyto, seen_by, path, address;
};

const OwnAddressLines& own_address_lines() {
    static OwnAddressLines l;
    const FtnAddress& g = config().FidoAddr;
    if (l.made && l.of.zone == g.zone && l.of.net == g.net && l.of.node == g.node && l.of.point == g.point) return l;
    l.of = g;
    l.made = true;
    l.replyto.format("\x01" "REPLYTO %hu:%hu/%hu.%hu %s\r", g.zone, g.net, g.node, g.point, "UUCP");
    l.seen_by.format("SEEN-BY: %hu/%hu\r", g.net, g.node);
    l.path.format("\x01" "PATH: %hu/%hu\r", g.net, g.node);
    if (g.point != 0)
        l.address.format("%hu:%hu/%hu.%hu", g.zone, g.net, g.node, g.point);
    else
        l.address.format("%hu:%hu/%hu", g.zone, g.net, g.node);
    return l;
}

int clamp_len(std::string_view s, int limit) { return s.size() < std::size_t(limit) ? int(s.size()) : limit; }

void write_packet_header(platform::File& file, const FtnAddress& from, const FtnAddress& to, std::uint8_t revision) {
    const MessageDate now = MessageDate::from_tm(local_now());
    PacketHeader h{};
    h.orig_node = from.node;
    h.dest_node = to.node;
    h.year = now.year;
    h.month = now.month;
    h.day = now.day;
    h.hour = now.hour;
    h.minute = now.minute;
    h.second = now.second;
    h.baud = 0;
    h.packet_type = 2;
    h.orig_net = from.net;
    h.dest_net = to.net;
    h.product_low = 0x00;
    h.revision_major = revision;
    h.set_password(config().PacketPwd.view());
    h.q_orig_zone = from.zone;
    h.q_dest_zone = to.zone;
    h.aux_net = 0;
    h.capability_copy = kCapabilityCopy;
    h.product_high = 0x01;
    h.revision_minor = 0;
    h.capability = kCapabilityWord;
    h.orig_zone = from.zone;
    h.dest_zone = to.zone;
    h.orig_point = from.point;
    h.dest_point = to.point;
    h.product_data = 0;
    std::uint8_t bytes[PacketHeader::size];
    h.encode(bytes);
    file.write(bytes, sizeof bytes);
}

void write_fixed_part(platform::File& file, const FtnAddress& from, const FtnAddress& to, std::uint16_t attribute) {
    PackedMessageHeader h{};
    h.message_type = 2;
    h.orig_node = from.node;
    h.dest_node = to.node;
    h.orig_net = from.net;
    h.dest_net = to.net;
    h.attribute = attribute;
    h.cost = 0;
    std::uint8_t bytes[PackedMessageHeader::size];
    h.encode(bytes);
    file.write(bytes, sizeof bytes);
}

// Date field with its NUL.
void write_date_field(platform::File& file, const MessageDate& d) {
    char date[20];
    format_ftn_date(date, d.day, d.month, d.year, d.hour, d.minute, d.second);
    file.write(date, std::strlen(date));
    file.put('\0');
}

// What "%.*s" writes of a text: up to the precision or its first NUL.
std::string_view printed(std::string_view s, std::size_t precision) {
    s = s.substr(0, precision);
    return s.substr(0, s.find('\0'));
}

// Text lines are written piece by piece rather than through printf: they
// come once or twice a message.
void write_line(platform::File& file, std::string_view head, std::string_view value, std::string_view tail = "\r") {
    file.write(head);
    file.write(value);
    file.write(tail);
}

void write_name_field(platform::File& file, std::string_view name) {
    file.write(printed(name, 35));
    file.put('\0');
}

// Decimal digits of v at p, as "%u" writes them; returns the end.
char* put_number(char* p, unsigned v) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) *p++ = digits[--n];
    return p;
}

// "\x01INTL %hu:%hu/%hu %hu:%hu/%hu\r", and FMPT and TOPT for points:
// written with every message, so put together without printf.
void write_addressing_kludges(platform::File& file, const FtnAddress& from, const FtnAddress& to) {
    char line[96];
    char* p = line;
    auto text = [&p](std::string_view s) {
        std::memcpy(p, s.data(), s.size());
        p += s.size();
    };
    auto address = [&](const FtnAddress& a) {
        p = put_number(p, a.zone);
        *p++ = ':';
        p = put_number(p, a.net);
        *p++ = '/';
        p = put_number(p, a.node);
    };
    text("\x01" "INTL ");
    address(to);
    *p++ = ' ';
    address(from);
    *p++ = '\r';
    if (from.point != 0) {
        text("\x01" "FMPT ");
        p = put_number(p, from.point);
        *p++ = '\r';
    }
    if (to.point != 0) {
        text("\x01" "TOPT ");
        p = put_number(p, to.point);
        *p++ = '\r';
    }
    file.write(line, std::size_t(p - line));
}

// MSGID or REPLY, as the identifier's form and StrictFidoMsgID say; the
// serial computed from an Internet identifier is stored back.
void write_identifier(platform::File& file, const char* keyword, MessageIdentifier& id) {
    if (id.ftn_id) {
        file.printf("\x01" "%s: %hu:%hu/%hu.%hu %08lx\r", keyword, id.ftn.zone, id.ftn.net, id.ftn.node,
                    id.ftn.point, (unsigned long)id.serial);
        return;
    }
    id.serial = crc32_text(id.text.view());
    if (config().StrictFidoMsgID) {
        const FtnAddress& g = config().FidoAddr;
        file.printf("\x01" "%s: %hu:%hu/%hu.%hu %08lx\r", keyword, g.zone, g.net, g.node, g.point,
                    (unsigned long)id.serial);
    } else {
        // "\x01%s: <%s> %08lx\r" with the 32-bit serial of the text.
        char hex[8];
        std::uint32_t v = std::uint32_t(id.serial);
        for (int i = 7; i >= 0; --i, v >>= 4) hex[i] = "0123456789abcdef"[v & 15];
        write_line(file, "\x01", keyword, ": <");
        write_line(file, in_line(id.text).view(), "> ", std::string_view(hex, 8));
        file.put('\r');
    }
}

const char* junk_word(JunkKind junk) {
    switch (junk) {
    case JunkKind::From: return "from";
    case JunkKind::Subject: return "subject";
    case JunkKind::Body: return "body";
    case JunkKind::Group: return "group";
    case JunkKind::FromTo: return "from=to";
    case JunkKind::ImpExp: return "imp/exp";
    case JunkKind::None: break;
    }
    return nullptr;
}

}  // namespace

long& packet_message_count() { return g_packet_messages; }
long& announced_attachment_count() { return g_announced_files; }

void set_writer_clock(WriterClock clock) { g_clock = clock ? clock : platform::now; }

void begin_packet(platform::File& file) {
    write_packet_header(file, config().FidoAddr, first_map_address(), 0);
    g_packet_messages = 0;
}

void write_message_header(MessageKind kind, platform::File& file, std::string_view attached_names, JunkKind junk,
                          bool own_org) {
    CurrentMessage& m = message();
    const GatewayConfig& c = config();
    std::tm tm = local_now();

    std::uint16_t attribute = kind == MessageKind::Mail ? kAttrPrivate : 0;
    bool attach_subject = kind != MessageKind::News && m.attach;
    if (attach_subject) attribute |= kAttrFileAttached;
    write_fixed_part(file, m.origin, m.destination, attribute);

    write_date_field(file, m.date);

    if (c.HeaderInfo == HeaderChoice::Addresses) {
        write_name_field(file, m.recipient_address.view());
        write_name_field(file, m.sender_address.view());
    } else {
        write_name_field(file, m.recipient_name.view());
        write_name_field(file, m.sender_name.view());
    }

    // The part suffix goes after the subject cut to 71 characters, and the
    // whole is cut to 71 again: a long subject keeps its text, not the suffix.
    char subject[72 + 32];
    if (attach_subject) {
        std::snprintf(subject, sizeof subject, "%.*s", clamp_len(attached_names, 71), attached_names.data());
    } else {
        // "%.71s" of the subject.
        int n = int(::strnlen(m.subject.c_str(), 71));
        std::memcpy(subject, m.subject.c_str(), std::size_t(n));
        subject[n] = 0;
        if (m.parts > 1 && n >= 0 && std::size_t(n) < sizeof subject)
            std::snprintf(subject + n, sizeof subject - std::size_t(n), " (%ld/%ld)", (long)m.current_part,
                          (long)m.parts);
    }
    file.write(printed(subject, 71));
    file.put('\0');

    if (m.area_name.view() != "NETMAIL") write_line(file, "AREA:", in_line(m.area_name).view());
    write_addressing_kludges(file, m.origin, m.destination);

    if (!m.routed) {
        write_line(file, "\x01" "REPLYADDR ", in_line(m.reply_address).view());
        file.write(own_address_lines().replyto.text);
    }

    // Identity and reply link belong to the first part only, so a split
    // message is not taken for duplicates of itself.
    bool first_part = m.current_part <= 1;
    if (first_part && !m.message_id.text.empty()) write_identifier(file, "MSGID", m.message_id);
    if (first_part && !m.reference_id.text.empty()) write_identifier(file, "REPLY", m.reference_id);

    static const PrintedLine pid("\x01" "PID: Tarnwick-%s v%d.%02d\r", kPlatformTag, kVersionMajor, kVersionMinor);
    file.write(pid.text);

    if (m.parts > 1) {
        char stamp[64];
        int mon = tm.tm_mon >= 0 && tm.tm_mon < 12 ? tm.tm_mon : 0;
        std::snprintf(stamp, sizeof stamp, "%02d %-3s %02d %02d:%02d:%02d @%u/%u", tm.tm_mday, kMonthNames[mon],
                      tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec, unsigned(m.origin.net),
                      unsigned(m.origin.node));
        file.printf("\x01" "SPLIT: %-32s00000 %02ld/%02ld +++++++++++\r", stamp, (long)m.current_part,
                    (long)m.parts);
    }

    if (!m.ftn_charset.empty()) file.printf("\x01" "CHRS: %s\r", in_line(m.ftn_charset).c_str());

    if (const char* word = junk_word(junk)) {
        file.printf("\x01" "JUNKMAIL: %s\r", word);
        if (c.JunkAction == FilterAction::Junk)
            file.printf("\x01" "JUNKMAIL-TO: %s\r", in_line(m.saved_recipient_name).c_str());
    }
    if (own_org) {
        file.printf("\x01" "JUNKMAIL: OwnOrg\r");
        if (c.OwnOrgAction == FilterAction::Junk)
            file.printf("\x01" "JUNKMAIL-TO: %s\r", in_line(m.saved_recipient_name).c_str());
    }
}

void end_message(MessageKind kind, platform::File& file) {
    const CurrentMessage& m = message();
    const GatewayConfig& c = config();
    const FtnAddress& g = c.FidoAddr;

    bool origin = c.KillOrigin == KillOriginMode::No || (c.KillOrigin == KillOriginMode::Email && kind != MessageKind::Mail);
    if (origin) {
        static const PrintedLine tear("\r--- Tarnwick-%s v%d.%02d\r", kPlatformTag, kVersionMajor, kVersionMinor);
        file.write(tear.text);
        std::string_view address = own_address_lines().address.text;
        Field text = in_line(!c.Origin.empty()         ? c.Origin.view()
                             : !m.organization.empty() ? m.organization.view()
                                                       : m.sender_address.view());
        // The line stays within 79 characters whatever the address length.
        std::size_t precision = 65 - address.size();
        write_line(file, " * Origin: ", printed(text.view(), precision), " (");
        write_line(file, "", address, ")\r");
    }

    if (kind == MessageKind::Mail) {
        std::tm tm = local_now();
        // The same line for every mail of a second: formatted once.
        static struct {
            char buf[160];
            std::string_view text;
            __attribute__((format(printf, 2, 3))) void format(const char* fmt, ...) {
                va_list ap;
                va_start(ap, fmt);
                int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
                va_end(ap);
                text = std::string_view(buf, n < 0 ? 0 : std::size_t(n) < sizeof buf ? std::size_t(n) : sizeof buf - 1);
            }
        } via;
        static int via_time[6];
        static FtnAddress via_of{};
        int now[6] = {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        if (via.text.empty() || std::memcmp(now, via_time, sizeof now) != 0 || via_of.zone != g.zone ||
            via_of.net != g.net || via_of.node != g.node) {
            std::memcpy(via_time, now, sizeof now);
            via_of = g;
            via.format("\x01" "Via %hu:%hu/%hu @%04d%02d%02d.%02d%02d%02d Tarnwick-%s v%d.%02d\r", g.zone, g.net,
                       g.node, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                       kPlatformTag, kVersionMajor, kVersionMinor);
        }
        file.write(via.text);
    } else {
        file.write(own_address_lines().seen_by.text);
        file.write(own_address_lines().path.text);
    }
    file.put('\0');
}

void announce_attachment(std::string_view decoded_path, std::string_view file_name, bool renamed,
                         EncodeKind encoding, AttachDisposition disposition, long size, bool message_not_written,
                         platform::File& file) {
    int kind = message().area_kind == AreaKind::News ? 1 : 0;
    if (config().Attach[kind] == AttachAction::Ignore) return;
    if (disposition == AttachDisposition::Decoded && size == 0) {
        platform::remove_file(decoded_path);
        return;
    }
    const char* action = disposition == AttachDisposition::Decoded  ? "decoded"
                         : disposition == AttachDisposition::Killed ? "killed"
                                                                    : "ignored";
    const char* coding = encoding == EncodeKind::UU ? "UU" : "MIME";
    const char* auto_renamed = renamed ? " (auto-renamed)" : "";
    std::string name(file_name);
    progress_printf("\r");
    log_printf("* %s %s-encoded file %s (%ld bytes)%s\n", action, coding, name.c_str(), size, auto_renamed);
    if (disposition != AttachDisposition::Ignored && !message_not_written)
        file.printf("[Tarnwick %s %s-encoded file %s (%ld bytes)%s]\r\n", action, coding, name.c_str(), size,
                    auto_renamed);
    ++g_announced_files;
}

bool end_packet(platform::File& file) {
    static const std::uint8_t terminator[2] = {0, 0};
    file.write(terminator, sizeof terminator);
    return file.close();
}

platform::File write_attach_packet(const FtnAddress& destination, std::string_view to_name,
                                   std::string_view packet_path, std::string_view file_line) {
    platform::File file;
    {
        // Created or emptied first, then opened for both reading and
        // writing, since the caller reads the packet back.
        platform::File create;
        if (!create.open(packet_path, platform::OpenMode::Write)) return file;
    }
    if (!file.open(packet_path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return file;

    FtnAddress from = first_map_address();
    write_packet_header(file, from, destination, 1);
    write_fixed_part(file, from, destination, kAttrPrivate | kAttrFileAttached);
    std::tm tm = local_now();
    write_date_field(file, MessageDate::from_tm(tm));
    write_name_field(file, to_name);
    write_name_field(file, first_map_email());
    file.printf("%.*s%c", clamp_len(file_line, 71), file_line.data(), 0);
    write_addressing_kludges(file, from, destination);

    std::string_view shown = file_line;
    std::size_t pos = platform::file_name_pos(file_line);
    if (pos > 0)
        shown = file_line.substr(pos);
    else if (!shown.empty() && (shown[0] == '^' || shown[0] == '#'))
        shown.remove_prefix(1);
    file.printf("[Tarnwick-%s v%d.%02d attached file %.*s]\r", kPlatformTag, kVersionMajor, kVersionMinor,
                int(shown.size()), shown.data());
    static const std::uint8_t tail[3] = {0, 0, 0};  // end of message, packet terminator
    file.write(tail, sizeof tail);
    // A packet cut short would send the message without its file.
    if (!file.flush() || file.error()) {
        file.release();
        platform::remove_file(packet_path);
    }
    return file;
}

}  // namespace tw
