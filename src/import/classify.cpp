#include "import/classify.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/config.h"
#include "config/lookup.h"
#include "driver/counters.h"
#include "driver/options.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "import/attachments.h"
#include "import/filters.h"
#include "lists/lists.h"
#include "rfc822/ftn_domain.h"
#include "rfc822/header.h"

namespace tw {

namespace {

bool contains_any(std::string_view pattern, std::initializer_list<const Field*> fields) {
    for (const Field* f : fields)
        if (contains_text(pattern, f->view())) return true;
    return false;
}

bool in_further_recipients(std::string_view pattern, bool whole) {
    const RecipientList& rl = recipients();
    for (int i = 0; i < rl.count; ++i) {
        const RecipientEntry& e = rl.entries[i];
        if (whole ? (iequals(e.address, pattern) || iequals(e.name, pattern))
                  : (contains_text(pattern, e.address) || contains_text(pattern, e.name)))
            return true;
    }
    return false;
}

void charset_for_ftn(CurrentMessage& m, const GatewayConfig& c) {
    m.ftn_charset.clear();
    if (const CharSetEntry* e = charset_for_import(c, m.inet_charset)) m.ftn_charset.assign(ftn_charset_name(*e));
}

void name_defaults(CurrentMessage& m) {
    if (m.sender_address.empty()) m.sender_address = m.sender_name.empty() ? "anonymous" : m.sender_name.view();
    if (m.sender_name.empty() && !m.xfrom_name.empty()) {
        static char copy[256];
        std::snprintf(copy, sizeof copy, "%s", m.xfrom_name.c_str());
        parse_address_list(copy, nullptr, &m.sender_name, AddressKind::From);
    }
    if (m.sender_name.empty()) m.sender_name = m.sender_address;
    if (m.recipient_address.empty())
        m.recipient_address = m.recipient_name.empty() ? "unknown" : m.recipient_name.view();
    if (m.recipient_name.empty()) m.recipient_name = m.recipient_address;
    if (m.reply_address.empty()) m.reply_address = m.sender_address;
    if (m.reply_name.empty()) m.reply_name = m.sender_name;
}

// The AddrMap entry for the recipient (which may name a recipient known
// only by address), and the sender's Route entry.
void decide_mail_route(const CurrentMessage& m, const GatewayConfig& c, ImportDecision& d) {
    int selected = addr_map_for_recipient(c, m.recipient_address, d.recipient_name, recipients());
    d.destination = c.AddrMap.count ? c.AddrMap[selected].ftn : FtnAddress{};
    d.route = route_for_sender(c, m.sender_address);
    if (d.route < 0) return;
    const RouteEntry& r = c.Route[d.route];
    if (r.password.empty() || r.password.view() == m.password.view())
        d.origin = r.ftn;
    else
        d.bad_route_password = true;
}

ListCommand command_of(std::string_view subject) {
    if (istarts_with(subject, "subscribe")) return ListCommand::Subscribe;
    if (istarts_with(subject, "unsubscribe")) return ListCommand::Unsubscribe;
    if (istarts_with(subject, "changepass")) return ListCommand::ChangePass;
    return ListCommand::None;
}

void decide_mailing_list(const CurrentMessage& m, const GatewayConfig& c, ImportDecision& d) {
    for (int i = 0; i < c.MailingList.count; ++i) {
        const MailingListEntry& e = c.MailingList[i];
        std::string_view match = e.match;
        bool in_header = contains_any(match, {&m.sender_name, &m.sender_address, &d.recipient_name,
                                              &m.recipient_address, &m.reply_name, &m.reply_address, &m.subject,
                                              &m.sender_text, &m.xfrom_name});
        if (!in_header && !in_further_recipients(match, false)) continue;
        d.mailing_list = i;
        d.area_name = e.area;
        d.kind = MessageKind::List;
        if (!e.truncate.empty()) d.truncate_start = e.truncate.view();
        if (!e.truncate_end.empty()) d.truncate_end = e.truncate_end.view();
        if (in_header && !e.subject.empty()) {
            std::string subject(m.subject.view());
            std::size_t at = subject.find(e.subject.view());
            if (at != std::string::npos) {
                subject.erase(at, e.subject.size());
                d.subject.assign(subject);
            }
        }
        return;
    }
}

bool ignores_text(const CurrentMessage& m, const GatewayConfig& c, const ImportDecision& d) {
    std::initializer_list<const Field*> fields = {&m.sender_name,       &m.sender_address, &d.recipient_name,
                                                  &m.recipient_address, &m.reply_name,     &m.reply_address,
                                                  &d.subject};
    for (int i = 0; i < c.IgnoreMessageText.count; ++i) {
        std::string_view t = c.IgnoreMessageText[i];
        bool hit;
        if (!t.empty() && t[0] == '*') {
            hit = false;
            for (const Field* f : fields) hit = hit || iequals(f->view(), t.substr(1));
        } else {
            hit = contains_any(t, fields);
        }
        if (hit || in_further_recipients(t, false)) return true;
    }
    return false;
}

void decide_newsgroup_area(const CurrentMessage& m, const GatewayConfig& c, ImportDecision& d) {
    d.area_name = m.newsgroup;
    if (const AreaMapEntry* e = area_map_for_newsgroup(c, m.newsgroup)) {
        d.area_name = e->area;
        if (e->direction == Direction::Export) d.junk = JunkKind::ImpExp;
    }
}

// A posting to many is addressed to the person it quotes, else to all.
void decide_posting_recipient(const CurrentMessage& m, ImportDecision& d) {
    if (!d.recipient_name.empty() && d.recipient_name.view() != m.recipient_address.view()) return;
    if (!m.quoted_name.empty())
        d.recipient_name = m.quoted_name;
    else if (!m.quoted_address.empty())
        d.recipient_name = m.quoted_address;
    else
        d.recipient_name = "All";
}

// An identifier "serial@p.f.n.z.domain" made by an FTN gateway.
template <class Serial>
bool ftn_identifier(MessageIdentifier& id, const char* serial_format) {
    std::string_view text = id.text;
    std::size_t at = text.find('@');
    if (at == std::string_view::npos || !is_ftn_domain(text.substr(at + 1))) return false;
    Serial serial = 0;
    if (std::sscanf(id.text.c_str(), serial_format, &serial) != 1) return false;
    FtnAddress a{};
    if (!ftn_address_from_domain(text.substr(at), a)) return false;
    id.ftn_id = true;
    id.ftn = a;
    id.serial = std::uint32_t(serial);
    return true;
}

// A name built from the local part: every '.' becomes a blank.
std::string name_from_local_part(std::string_view address) {
    std::string name(address.substr(0, address.find('@')));
    for (char& ch : name)
        if (ch == '.') ch = ' ';
    return name;
}

void ftn_domain_reply(CurrentMessage& m, const GatewayConfig& c) {
    std::string_view addr = m.reply_address;
    std::size_t at = addr.find('@');
    if (at == std::string_view::npos || !is_ftn_domain(addr.substr(at + 1))) return;
    if (m.reply_name.empty() || iequals(m.reply_name, m.reply_address)) {
        m.reply_name.assign(name_from_local_part(addr));
        if (m.sender_name.empty() || iequals(m.sender_name, m.sender_address)) m.sender_name = m.reply_name;
    }
    FtnAddress a{};
    if (ftn_address_from_domain(addr.substr(at), a) && c.TransFidoOrg) m.origin = a;
}

void ftn_domain_recipient(CurrentMessage& m, const GatewayConfig& c) {
    std::string_view addr = m.recipient_address;
    std::size_t at = addr.find('@');
    if (at == std::string_view::npos || !is_ftn_domain(addr.substr(at + 1))) return;
    if (m.recipient_name.empty() || iequals(m.recipient_name, m.recipient_address))
        m.recipient_name.assign(name_from_local_part(addr));
    FtnAddress a{};
    if (ftn_address_from_domain(addr.substr(at), a) && c.TransFidoOrg) m.destination = a;
}

}  // namespace

void show_verbose_line() {
    const CurrentMessage& m = message();
    progress_printf("\r");
    log_printf("- from %s", m.sender_address.c_str());
    if (!iequals(m.sender_name, m.sender_address)) log_printf(" (%s)", m.sender_name.c_str());
    log_printf(" to %s", m.recipient_address.c_str());
    if (!iequals(m.recipient_name, m.recipient_address)) log_printf(" (%s)", m.recipient_name.c_str());
    if (recipients().count > 0) log_printf(" et al.");
    log_printf("\n");
}

ImportDecision decide_import(const CurrentMessage& m, const GatewayConfig& c) {
    ImportDecision d;
    bool news = m.area_kind == AreaKind::News;
    d.kind = news ? MessageKind::News : MessageKind::Mail;
    d.origin = c.FidoAddr;
    d.subject = m.subject;
    d.recipient_name = m.recipient_name;
    if (news) {
        d.destination = c.AddrMap.count ? c.AddrMap[0].ftn : FtnAddress{};
    } else {
        decide_mail_route(m, c, d);
        d.hosted_list = find_hosted_list(m.recipient_address);
        if (d.hosted_list >= 0) d.command = command_of(m.subject);
    }
    if (d.hosted_list >= 0) {
        d.kind = MessageKind::List;
        d.area_name.assign(hosted_list_area(d.hosted_list));
    } else if (news) {
        decide_newsgroup_area(m, c, d);
    } else {
        d.area_name = c.EmailArea;
        decide_mailing_list(m, c, d);
        d.ignore_text = ignores_text(m, c, d);
    }
    d.area_name.to_upper();
    if (news || d.mailing_list >= 0 || d.hosted_list >= 0) decide_posting_recipient(m, d);
    return d;
}

namespace {

void report_bad_route_password(const FtnAddress& a) {
    progress_printf("\r");
    log_printf("! Incorrect password for node %u:%u/%u", a.zone, a.net, a.node);
    if (a.point) log_printf(".%u", a.point);
    log_printf("\n");
}

// Carries the decision into the current message and the classification.
void apply_decision(const ImportDecision& d, CurrentMessage& m, Classification& k) {
    m.destination = d.destination;
    m.origin = d.origin;
    m.routed = d.route >= 0;
    m.route_index = d.route;
    m.bad_route_password = d.bad_route_password;
    if (d.bad_route_password) report_bad_route_password(config().Route[d.route].ftn);
    m.subject = d.subject;
    m.area_name = d.area_name;
    m.recipient_name = d.recipient_name;
    k.kind = d.kind;
    k.hosted_list = d.hosted_list;
    k.command = d.command;
    k.list_area = d.mailing_list >= 0;
    k.ignore_text = d.ignore_text;
    if (d.junk != JunkKind::None) k.junk = d.junk;
    k.truncate_start = d.truncate_start;
    k.truncate_end = d.truncate_end;
}

// FTN gateways' identifiers and addresses as Internet domains: a reply to
// a personal FTN message, the FTN sender and recipient.
void read_ftn_references(CurrentMessage& m, const GatewayConfig& c, const Classification& k) {
    ftn_identifier<unsigned long>(m.message_id, "%lu");
    if (ftn_identifier<long>(m.reference_id, "%ld") && k.kind == MessageKind::News) {
        if (const AddrMapEntry* e = addr_map_for_ftn(c, m.reference_id.ftn, true)) {
            m.recipient_name = e->name;
            ++area_counters().personal;
        }
    }
    ftn_domain_reply(m, c);
    ftn_domain_recipient(m, c);
}

ConvertRequest scan_request(platform::File& message_file, const char* extent_bytes, platform::File& packet,
                            long long extent_start, long long extent_end, ImportBuffers& buffers, Classification& k) {
    ConvertRequest scan{};
    scan.pass = Pass::Scan;
    scan.kind = message().area_kind == AreaKind::News ? MessageKind::News : MessageKind::Mail;
    scan.junk = &k.junk;
    scan.message_file = &message_file;
    scan.extent_bytes = extent_bytes;
    scan.extent_nul_free =
        extent_end > extent_start && nul_free(extent_bytes, std::size_t(extent_end - extent_start));
    scan.packet = &packet;
    scan.extent_start = extent_start;
    scan.extent_end = extent_end;
    scan.body_start = &k.body_start;
    scan.buffers = &buffers;
    return scan;
}

// Hands a hosted list what is addressed to it; Packet when the message
// goes into the packet as well.
Delivery deliver_to_hosted_list(const Classification& k, platform::File& message_file, long long extent_end) {
    AreaCounters& counters = area_counters();
    if (k.command != ListCommand::None) {
        ++counters.listcmd;
        return list_command(k.hosted_list, k.command) ? Delivery::Done : Delivery::Kept;
    }
    ++counters.listmsg;
    Posting sent = distribute_posting(k.hosted_list, message_file, k.body_start, extent_end);
    if (sent == Posting::Kept) return Delivery::Kept;
    return sent == Posting::ToArea && !message().area_name.empty() ? Delivery::Packet : Delivery::Done;
}

void count_written(const Classification& k) {
    AreaCounters& counters = area_counters();
    if (k.list_area) ++counters.lists;
    if (k.own_org) ++counters.own_org;
    if (k.ignore_text) ++counters.ign_txt;
    if (k.list_area || k.own_org || k.ignore_text || k.junk != JunkKind::None || k.hosted_list >= 0) return;
    if (k.kind == MessageKind::News) {
        ++counters.news;
    } else {
        ++counters.mail;
        if (options().verbose) show_verbose_line();
    }
}

// The scan pass counted parts with the header lines its kind keeps; a kind
// that keeps others counts them again.
void recount_parts(const ConvertRequest& scan, const Classification& k) {
    const GatewayConfig& c = config();
    auto strip = [&](MessageKind kind) { return c.StripKludges[std::size_t(kind)]; };
    if (part_text_limit(c) == 0 || strip(k.kind) == strip(scan.kind)) return;
    CurrentMessage& m = message();
    Text<72> names = m.attach_list;
    bool attach = m.attach;
    ConvertRequest count = scan;
    count.pass = Pass::Count;
    count.kind = k.kind;
    long long body = k.body_start;
    count.body_start = &body;
    JunkKind junk = k.junk;
    count.junk = &junk;
    convert_soup_message(count);
    m.attach_list = names;
    m.attach = attach;
}

void write_message(const ConvertRequest& scan, Classification& k) {
    claim_attachments(k.junk);
    ConvertRequest w = scan;
    w.pass = Pass::Write;
    w.ignore_text = k.ignore_text;
    w.kind = k.kind;
    w.own_org = k.own_org;
    w.truncate_start = k.truncate_start;
    w.truncate_end = k.truncate_end;
    convert_soup_message(w);
}

}  // namespace

Delivery classify_message(platform::File& message_file, const char* extent_bytes, platform::File& packet,
                          long long extent_start, long long extent_end, ImportBuffers& buffers) {
    CurrentMessage& m = message();
    const GatewayConfig& c = config();
    Classification k{};
    k.hosted_list = -1;
    ConvertRequest scan = scan_request(message_file, extent_bytes, packet, extent_start, extent_end, buffers, k);
    convert_soup_message(scan);
    charset_for_ftn(m, c);
    name_defaults(m);
    apply_decision(decide_import(m, c), m, k);
    read_ftn_references(m, c, k);

    bool killed = apply_filters(k);
    if (k.junk != JunkKind::None) ++area_counters().junk;
    if (killed) return Delivery::Done;
    if (k.junk == JunkKind::None && k.hosted_list >= 0) {
        Delivery d = deliver_to_hosted_list(k, message_file, extent_end);
        if (d != Delivery::Packet) return d;
    }
    count_written(k);
    recount_parts(scan, k);
    write_message(scan, k);
    return Delivery::Packet;
}

}  // namespace tw
