// The analysis of an FTN message for export: date, kludges, address lines,
// classification, the sender's Internet address and the text checks.
#include "export/classify.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "config/config.h"
#include "config/lookup.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "export/attach_list.h"
#include "ftn/format.h"
#include "lists/lists.h"
#include "rfc822/ftn_domain.h"

namespace tw {

namespace {

static_assert(sizeof(unsigned short) == sizeof(std::uint16_t), "the kludge patterns read 16-bit fields");

constexpr std::size_t kKludgeLimit = 256;

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool plausible(const MessageDate& d) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.month > 11 || d.year < 1980 || d.year > 2079) return false;
    int last = days[d.month] + (d.month == 1 && leap_year(d.year) ? 1 : 0);
    return d.day >= 1 && d.day <= last && d.hour < 24 && d.minute < 60 && d.second < 60;
}

// A date text that does not give a whole, real date (a damaged or foreign
// field) would make a Date line no mail reader accepts; the message then
// carries the time it passes the gateway, as imported messages without a
// date do.
void read_date(CurrentMessage& m) {
    MessageDate d{};
    if (parse_ftn_date(m.ftn_date.view(), d) != 6 || !plausible(d)) {
        std::tm t{};
        platform::local_time(platform::now(), t);
        d = MessageDate::from_tm(t);
    }
    m.date = d;
}

void reset(CurrentMessage& m, ExportAnalysis& a) {
    a = ExportAnalysis{};
    a.hosted_list = -1;
    a.received_list = -1;
    a.id_seed = std::uint32_t(platform::now());
    m.sender_address.clear();
    m.reply_address.clear();
    m.message_id.text.clear();
    m.message_id.ftn = m.origin;
    m.message_id.serial = 0;
    m.reference_id.text.clear();
    m.reference_id.ftn = FtnAddress{};
    m.reference_id.serial = 0;
    // A CHRS kludge speaks for its own message only.
    m.ftn_charset.clear();
    m.newsgroup.clear();
    m.area_name = "NETMAIL";
    recipients().clear();
    crossposts().clear();
}

std::string_view after_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

// The usual forms of the kludge values read without sscanf, which costs
// more than the rest of a message's analysis; anything else (signs, blanks,
// overlong numbers, "0x") is left to sscanf, so every text reads the same.

// 1 to 5 digits worth at most 65535, not followed by a further digit.
bool plain_u16(const char*& p, const char* end, std::uint16_t& out) {
    unsigned v = 0;
    const char* q = p;
    while (q < end && *q >= '0' && *q <= '9' && q - p < 6) v = v * 10 + unsigned(*q++ - '0');
    if (q == p || q - p > 5 || v > 0xFFFF) return false;
    p = q;
    out = std::uint16_t(v);
    return true;
}

bool literal(const char*& p, const char* end, char c) {
    if (p >= end || *p != c) return false;
    ++p;
    return true;
}

// "%hu:%hu/%hu" and, when a '.' and a digit follow, ".%hu".
bool plain_address(const char*& p, const char* end, FtnAddress& a) {
    FtnAddress r = a;
    if (!plain_u16(p, end, r.zone) || !literal(p, end, ':') || !plain_u16(p, end, r.net) || !literal(p, end, '/') ||
        !plain_u16(p, end, r.node))
        return false;
    if (p < end && *p == '.') {
        const char* q = p + 1;
        if (!plain_u16(q, end, r.point)) return false;
        p = q;
    }
    a = r;
    return true;
}

void scan_address(std::string_view text, FtnAddress& a) {
    const char* p = text.data();
    if (plain_address(p, p + text.size(), a)) return;
    std::string s(text);
    std::sscanf(s.c_str(), "%hu:%hu/%hu.%hu", &a.zone, &a.net, &a.node, &a.point);
}

// "%lX": true when it read a number.
bool scan_serial(std::string_view text, unsigned long& v) {
    std::size_t n = 0;
    unsigned long r = 0;
    for (; n < text.size() && n <= 16; ++n) {
        char c = text[n];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) break;
        r = r << 4 | unsigned(d);
    }
    bool prefix = n == 1 && text[0] == '0' && text.size() > 1 && (text[1] == 'x' || text[1] == 'X');
    if (n >= 1 && n <= 16 && !prefix) {
        v = r;
        return true;
    }
    std::string s(text);
    return std::sscanf(s.c_str(), "%lX", &v) == 1;
}

// "%hu:%hu/%hu %hu:%hu/%hu" into destination and origin.
void scan_intl(const char* text, CurrentMessage& m) {
    const char* end = text + std::strlen(text);
    const char* p = text;
    FtnAddress to{0, 0, 0, 0}, from{0, 0, 0, 0};
    if (plain_u16(p, end, to.zone) && literal(p, end, ':') && plain_u16(p, end, to.net) && literal(p, end, '/') &&
        plain_u16(p, end, to.node) && literal(p, end, ' ') && plain_u16(p, end, from.zone) && literal(p, end, ':') &&
        plain_u16(p, end, from.net) && literal(p, end, '/') && plain_u16(p, end, from.node)) {
        m.destination.zone = to.zone;
        m.destination.net = to.net;
        m.destination.node = to.node;
        m.origin.zone = from.zone;
        m.origin.net = from.net;
        m.origin.node = from.node;
        return;
    }
    std::sscanf(text, "%hu:%hu/%hu %hu:%hu/%hu", &m.destination.zone, &m.destination.net, &m.destination.node,
                &m.origin.zone, &m.origin.net, &m.origin.node);
}

// MSGID and REPLY: an FTN address and serial, or an Internet identifier.
void read_identifier(std::string_view value, MessageIdentifier& id, bool address_after_at) {
    value = after_blanks(value);
    std::size_t blank = value.find(' ');
    std::string_view token = blank == std::string_view::npos ? value : value.substr(0, blank);
    std::string_view serial = blank == std::string_view::npos ? value : value.substr(blank + 1);
    std::size_t at = token.find('@');
    bool ftn = at == std::string_view::npos || token.find(':') != std::string_view::npos ||
               token.find('/') != std::string_view::npos;
    if (ftn)
        scan_address(address_after_at && at != std::string_view::npos ? token.substr(at + 1) : token, id.ftn);
    else
        id.text.assign(token);
    unsigned long v = 0;
    if (scan_serial(serial, v))
        id.serial = std::uint32_t(v);
    else
        id.serial = crc32_text(serial);
}

void read_kludge(std::string_view k, CurrentMessage& m, ExportAnalysis& a) {
    const char* p = k.data();  // NUL-terminated: the line buffer
    if (k.starts_with("INTL ")) {
        scan_intl(p + 5, m);
    } else if (k.starts_with("FMPT ")) {
        std::sscanf(p + 5, "%hu", &m.origin.point);
    } else if (k.starts_with("TOPT ")) {
        std::sscanf(p + 5, "%hu", &m.destination.point);
    } else if (k.starts_with("FLAGS ")) {
        std::string_view rest = k.substr(6);
        while (!rest.empty()) {
            rest = after_blanks(rest);
            std::size_t end = rest.find_first_of(" \t");
            std::string_view word = rest.substr(0, end);
            if (iequals(word, "KFS")) a.kill_files = true;
            if (iequals(word, "TFS")) a.truncate_files = true;
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        }
    } else if (k.starts_with("MSGID:")) {
        read_identifier(k.substr(6), m.message_id, true);
        a.msgid_seen = true;
    } else if (k.starts_with("REPLY:")) {
        read_identifier(k.substr(6), m.reference_id, false);
    } else if (k.starts_with("CHRS:")) {
        m.ftn_charset.assign(after_blanks(k.substr(5)));
        std::string_view cs = m.ftn_charset.view();
        std::size_t blank = cs.rfind(' ');
        if (blank != std::string_view::npos && blank + 1 < cs.size() && cs[blank + 1] >= '0' && cs[blank + 1] <= '9')
            m.ftn_charset.data()[blank] = '#';
    }
}

std::size_t recipient_room(const ExportAnalysis& a) {
    std::size_t max = config().ExportMaxTo ? config().ExportMaxTo : RecipientList::capacity;
    if (!a.to_uucp) max = max > 0 ? max - 1 : 0;
    return max < std::size_t(RecipientList::capacity) ? max : std::size_t(RecipientList::capacity);
}

// To:, Copy:, BCopy:, From: and XPost: at the top of a gateway message.
// False when the line is none of them.
bool read_address_line(std::string_view line, CurrentMessage& m, ExportAnalysis& a) {
    static const struct {
        const char* keyword;
        RecipientKind kind;
    } kinds[] = {{"To:", RecipientKind::To}, {"Copy:", RecipientKind::Cc}, {"BCopy:", RecipientKind::Bcc}};
    for (const auto& k : kinds) {
        if (!istarts_with(line, k.keyword)) continue;
        std::string_view address = after_blanks(line.substr(std::string_view(k.keyword).size()));
        RecipientList& rl = recipients();
        if (address.empty()) return true;  // an empty line of its kind names no one
        if (std::size_t(rl.count) < recipient_room(a)) {
            RecipientEntry& e = rl.entries[rl.count++];
            e.kind = k.kind;
            e.address.assign(address);
            e.name.clear();
        } else {
            a.recipient_limit = true;
        }
        return true;
    }
    if (istarts_with(line, "From:")) {
        m.sender_address.assign(after_blanks(line.substr(5)));
        return true;
    }
    if (istarts_with(line, "XPost:")) {
        std::string_view group = trim_view(line.substr(6));
        CrosspostList& xl = crossposts();
        std::size_t max = config().ExportMaxXPost ? config().ExportMaxXPost : CrosspostList::capacity;
        if (group.empty()) return true;  // a bare "," would spoil the Newsgroups line
        if (std::size_t(xl.count) < max && !xl.full())
            xl.names[xl.count++].assign(group);
        else
            a.crosspost_limit = true;
        return true;
    }
    return false;
}

// Reads the rest of an overlong line, so that its tail is not taken for a
// line of its own. Returns how the line ended.
TextLine skip_rest_of_line(MessageText& file, TextLine r, char* buf, ExportAnalysis& a) {
    while (r == TextLine::Continues) {
        std::size_t len;
        r = read_text_line(file, buf, kKludgeLimit, len);
        a.id_seed ^= crc32_text(buf, len);
    }
    return r;
}

// The lines before the body: kludges, AREA: and the address lines. Leaves
// the text start in the analysis.
void kludge_pass(MessageText& file, CurrentMessage& m, ExportAnalysis& a) {
    bool gateway = m.export_target == ExportTarget::Gateway;
    bool after_address = false;
    char buf[kKludgeLimit + 1];
    for (;;) {
        long long start = file.tell();
        std::size_t len;
        TextLine r = read_text_line(file, buf, kKludgeLimit, len);
        std::string_view line(buf, len);
        a.id_seed ^= crc32_text(line);
        bool taken = true;
        bool address = false;
        if (!line.empty() && line[0] == '\x01') {
            read_kludge(line.substr(1), m, a);
        } else if (line.starts_with("AREA:")) {
            m.area_name.assign(line.substr(5));
        } else if (gateway && read_address_line(line, m, a)) {
            address = true;
        } else if (line.empty() && after_address) {
            // the blank line that separates the address lines from the text
        } else {
            taken = false;
        }
        if (!taken) {
            a.text_start = start;
            file.seek(start);
            return;
        }
        after_address = address;
        if (skip_rest_of_line(file, r, buf, a) == TextLine::EndOfText) {
            // Nothing but header lines: the body starts at the NUL.
            long long end = file.tell();
            a.text_start = file.at_end_of_file() || end <= start ? end : end - 1;
            file.seek(a.text_start);
            return;
        }
    }
}

void origin_and_identifier(CurrentMessage& m, const ExportAnalysis& a) {
    MessageIdentifier& id = m.message_id;
    if (a.msgid_seen && id.ftn.zone != 0) m.origin = id.ftn;
    if (!a.msgid_seen) id.ftn = m.origin;
    if (a.msgid_seen && id.ftn.net == m.origin.net && id.ftn.node == m.origin.node) {
        if (m.origin.point == 0) m.origin.point = id.ftn.point;
        if (m.origin.zone == 0) m.origin.zone = id.ftn.zone;
    }
    if (id.serial == 0) id.serial = a.id_seed;
}

void apply_aliases(CurrentMessage& m, const ExportAnalysis& a) {
    const GatewayConfig& c = config();
    if (c.Alias.count == 0) return;
    if (!a.to_uucp)
        if (const AliasEntry* e = alias_for_name(c, m.recipient_address)) m.recipient_address = e->inet;
    RecipientList& rl = recipients();
    for (int i = 0; i < rl.count; ++i)
        if (const AliasEntry* e = alias_for_name(c, rl.entries[i].address)) rl.entries[i].address = e->inet;
}

void map_charset(CurrentMessage& m) {
    const GatewayConfig& c = config();
    m.inet_charset = c.DefCharSet;
    if (m.ftn_charset.empty()) return;
    if (const CharSetEntry* e = charset_for_export(c, m.ftn_charset)) m.inet_charset.assign(e->inet);
}

// False when the area is not for export.
bool classify(CurrentMessage& m, ExportAnalysis& a) {
    const GatewayConfig& c = config();
    std::string_view area = m.area_name.view();
    if (iequals(area, "NETMAIL") || iequals(area, c.EmailArea)) {
        m.newsgroup = "Email";
        a.news = false;
    } else {
        if (iequals(area, c.OwnOrgArea) || iequals(area, c.JunkArea)) {
            m.newsgroup.clear();
        } else {
            m.newsgroup.assign(area);
            m.newsgroup.to_lower();
        }
        if (const AreaMapEntry* e = area_map_for_area(c, area)) {
            if (e->direction == Direction::Import) return false;
            m.newsgroup = e->newsgroup;
        }
        a.news = true;
    }
    for (int i = 0; i < c.MailingList.count; ++i) {
        const MailingListEntry& e = c.MailingList[i];
        if (!iequals(e.area, area)) continue;
        a.news = false;
        m.recipient_address = e.list_address;
        if (!e.sender_address.empty()) m.sender_address = e.sender_address;
        recipients().clear();
        a.received_list = i;
        break;
    }
    for (int i = 0; i < list_count(); ++i) {
        std::string_view list_area = hosted_list_area(i);
        if (list_area.empty() || !iequals(list_area, area)) continue;
        a.news = false;
        a.hosted_list = i;
        break;
    }
    return !(a.news && m.newsgroup.empty());
}

// The FTN-style Internet address of an FTN user without an AddrMap entry.
void map_fido_sender(CurrentMessage& m) {
    std::string_view domain = fido_domain_for_zone(config(), m.origin.zone);
    if (domain.find('@') != std::string_view::npos) {
        m.sender_address.assign(domain);
        return;
    }
    std::string s(m.sender_name.view());
    for (char& ch : s)
        if (ch == ' ') ch = '.';
    m.sender_address.assign(s + '@' + ftn_address_domain(m.origin));
}

void sender_address(CurrentMessage& m) {
    const GatewayConfig& c = config();
    if (!m.sender_address.empty()) return;
    if (c.AddrMap.count > 0) m.sender_address = c.AddrMap[0].inet;
    const AddrMapEntry* found = addr_map_for_ftn(c, m.origin);
    for (int i = 0; !found && i < c.AddrMap.count; ++i)
        if (!c.AddrMap[i].name.empty() && iequals(c.AddrMap[i].name, m.sender_name)) found = &c.AddrMap[i];
    if (found) {
        if (!found->inet.empty()) m.sender_address = found->inet;
        if (!found->inet2.empty()) m.reply_address = found->inet2;
    } else if (c.MapFidoOrg) {
        map_fido_sender(m);
    }
}

bool needs_8bit(std::string_view piece) {
    for (unsigned char ch : piece)
        if (std::uint8_t(ch - 0x20) >= 0x5F) return true;  // below 20h, or 7Fh and above
    return false;
}

// Whether the text has anything to read, and whether 7-bit transport can
// carry it, judged on the pieces the body writer will see. The last line
// counts too when no line end closes it: it is text that gets written.
void check_text(MessageText& file, ExportAnalysis& a) {
    std::size_t width = config().LineWidth ? config().LineWidth : 72;
    std::string buf(width + 1, '\0');
    bool in_kludge = false;
    for (TextLine r = TextLine::Complete; r != TextLine::EndOfText && !a.needs_encoding;) {
        std::string_view piece;
        r = read_text_piece(file, buf.data(), width, piece);
        bool starts_kludge = !in_kludge && !piece.empty() && piece[0] == '\x01';
        // The tail of an overlong kludge line is dropped with it.
        bool kludge = in_kludge || starts_kludge;
        in_kludge = kludge && r == TextLine::Continues;
        if (kludge || piece.empty()) continue;
        a.has_text = true;
        if (needs_8bit(piece)) a.needs_encoding = true;
    }
    file.seek(a.text_start);
}

bool worth_exporting(const CurrentMessage& m, const ExportAnalysis& a, bool use_attach_list) {
    if (a.has_text) return true;
    const AttachList& files = attach_list();
    return m.attach && use_attach_list && !files.empty() &&
           (m.export_target == ExportTarget::Route || files.any_not_packet());
}

}  // namespace

bool analyse_ftn_message(MessageText& file, bool use_attach_list, ExportAnalysis& a) {
    CurrentMessage& m = message();
    read_date(m);
    reset(m, a);
    if (m.export_target == ExportTarget::Gateway) {
        a.to_uucp = iequals(m.recipient_name, "UUCP");
        m.recipient_address = m.recipient_name;
    }
    kludge_pass(file, m, a);
    origin_and_identifier(m, a);
    apply_aliases(m, a);
    map_charset(m);
    if (!classify(m, a)) return false;
    sender_address(m);
    m.reply_name = m.sender_name;
    if (m.reply_address.empty()) m.reply_address = m.sender_address;
    check_text(file, a);
    // A UUCP message goes to the first address its lines name.
    if (a.to_uucp && recipients().count > 0) m.recipient_address = recipients().entries[0].address;
    return worth_exporting(m, a, use_attach_list);
}

void report_address_warnings(const ExportAnalysis& a) {
    const CurrentMessage& m = message();
    const FtnAddress& o = m.origin;
    if (a.recipient_limit)
        log_printf("! To/Copy-limit exceeded in msg from %hu:%hu/%hu.%hu (%s)\n", o.zone, o.net, o.node, o.point,
                   m.sender_name.c_str());
    if (a.crosspost_limit)
        log_printf("! XPost-limit exceeded in msg from %hu:%hu/%hu.%hu (%s)\n", o.zone, o.net, o.node, o.point,
                   m.sender_name.c_str());
    if (a.to_uucp && recipients().count == 0)
        log_printf("! No To-address specified in msg from %hu:%hu/%hu.%hu (%s)\n", o.zone, o.net, o.node, o.point,
                   m.sender_name.c_str());
}

}  // namespace tw
