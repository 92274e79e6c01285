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

void mail_destination(CurrentMessage& m, const GatewayConfig& c) {
    int selected = addr_map_for_recipient(c, m.recipient_address, m.recipient_name, recipients());
    m.destination = c.AddrMap.count ? c.AddrMap[selected].ftn : FtnAddress{};
}

void check_route(CurrentMessage& m, const GatewayConfig& c) {
    int i = route_for_sender(c, m.sender_address);
    if (i < 0) return;
    const RouteEntry& r = c.Route[i];
    m.routed = true;
    m.route_index = i;
    if (r.password.empty() || r.password.view() == m.password.view()) {
        m.origin = r.ftn;
    } else {
        m.bad_route_password = true;
        progress_printf("\r");
        log_printf("! Incorrect password for node %u:%u/%u", r.ftn.zone, r.ftn.net, r.ftn.node);
        if (r.ftn.point) log_printf(".%u", r.ftn.point);
        log_printf("\n");
    }
}

ListCommand command_of(std::string_view subject) {
    if (istarts_with(subject, "subscribe")) return ListCommand::Subscribe;
    if (istarts_with(subject, "unsubscribe")) return ListCommand::Unsubscribe;
    if (istarts_with(subject, "changepass")) return ListCommand::ChangePass;
    return ListCommand::None;
}

void mailing_list_area(CurrentMessage& m, const GatewayConfig& c, Classification& k) {
    for (const MailingListEntry* e : c.MailingList) {
        std::string_view match = e->match;
        bool in_header = contains_any(match, {&m.sender_name, &m.sender_address, &m.recipient_name,
                                              &m.recipient_address, &m.reply_name, &m.reply_address, &m.subject,
                                              &m.sender_text, &m.xfrom_name});
        if (!in_header && !in_further_recipients(match, false)) continue;
        m.area_name = e->area;
        k.list_area = true;
        k.kind = MessageKind::List;
        if (!e->truncate.empty()) k.truncate_start = e->truncate.view();
        if (!e->truncate_end.empty()) k.truncate_end = e->truncate_end.view();
        if (in_header && !e->subject.empty()) {
            std::string subject(m.subject.view());
            std::size_t at = subject.find(e->subject.view());
            if (at != std::string::npos) {
                subject.erase(at, e->subject.size());
                m.subject.assign(subject);
            }
        }
        return;
    }
}

void ignore_text(const CurrentMessage& m, const GatewayConfig& c, Classification& k) {
    for (int i = 0; i < c.IgnoreMessageText.count; ++i) {
        std::string_view t = c.IgnoreMessageText[i];
        bool hit;
        std::initializer_list<const Field*> fields = {&m.sender_name,  &m.sender_address, &m.recipient_name,
                                                      &m.recipient_address, &m.reply_name, &m.reply_address,
                                                      &m.subject};
        if (!t.empty() && t[0] == '*') {
            hit = false;
            for (const Field* f : fields) hit = hit || iequals(f->view(), t.substr(1));
        } else {
            hit = contains_any(t, fields);
        }
        if (!hit) hit = in_further_recipients(t, false);
        if (hit) {
            k.ignore_text = true;
            return;
        }
    }
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

Delivery classify_message(platform::File& message_file, platform::File& packet, long long extent_start,
                          long long extent_end, ImportBuffers& buffers) {
    CurrentMessage& m = message();
    const GatewayConfig& c = config();
    AreaCounters& counters = area_counters();

    Classification k{};
    k.hosted_list = -1;
    m.routed = false;
    m.bad_route_password = false;
    m.route_index = -1;
    bool news = m.area_kind == 1;

    ConvertRequest scan{};
    scan.pass = Pass::Scan;
    scan.kind = news ? MessageKind::News : MessageKind::Mail;
    scan.junk = &k.junk;
    scan.message_file = &message_file;
    scan.packet = &packet;
    scan.extent_start = extent_start;
    scan.extent_end = extent_end;
    scan.body_start = &k.body_start;
    scan.buffers = &buffers;
    convert_soup_message(scan);

    k.kind = news ? MessageKind::News : MessageKind::Mail;
    charset_for_ftn(m, c);
    name_defaults(m);

    m.destination = news ? (c.AddrMap.count ? c.AddrMap[0].ftn : FtnAddress{}) : FtnAddress{};
    if (!news) mail_destination(m, c);
    m.origin = c.FidoAddr;
    if (!news) check_route(m, c);

    if (!news) {
        k.hosted_list = find_hosted_list(m.recipient_address);
        if (k.hosted_list >= 0) k.command = command_of(m.subject);
    }

    if (k.hosted_list < 0 && !news) {
        m.area_name = c.EmailArea;
        mailing_list_area(m, c, k);
        ignore_text(m, c, k);
    } else if (k.hosted_list < 0) {
        m.area_name = m.newsgroup;
        if (const AreaMapEntry* e = area_map_for_newsgroup(c, m.newsgroup)) {
            m.area_name = e->area;
            if (e->direction == Direction::Export) k.junk = JunkKind::ImpExp;
        }
    } else {
        k.kind = MessageKind::List;
        m.area_name.assign(hosted_list_area(k.hosted_list));
    }
    m.area_name.to_upper();

    if (news || k.list_area || k.hosted_list >= 0) {
        if (m.recipient_name.empty() || m.recipient_name.view() == m.recipient_address.view()) {
            if (!m.quoted_name.empty())
                m.recipient_name = m.quoted_name;
            else if (!m.quoted_address.empty())
                m.recipient_name = m.quoted_address;
            else
                m.recipient_name = "All";
        }
    }

    ftn_identifier<unsigned long>(m.message_id, "%lu");
    if (ftn_identifier<long>(m.reference_id, "%ld") && news && !k.list_area) {
        if (const AddrMapEntry* e = addr_map_for_ftn(c, m.reference_id.ftn, true)) {
            m.recipient_name = e->name;
            ++counters.personal;
        }
    }
    ftn_domain_reply(m, c);
    ftn_domain_recipient(m, c);

    bool killed = apply_filters(k);
    if (k.junk != JunkKind::None) ++counters.junk;
    if (killed) return Delivery::Done;

    bool write = false;
    if (k.junk != JunkKind::None) {
        write = true;
    } else if (k.hosted_list >= 0 && k.command == ListCommand::None) {
        ++counters.listmsg;
        int sent = distribute_posting(k.hosted_list, message_file, k.body_start, extent_end);
        if (sent < 0) return Delivery::Kept;
        write = sent > 0 && !m.area_name.empty();
    } else if (k.hosted_list >= 0) {
        ++counters.listcmd;
        return list_command(k.hosted_list, int(k.command)) ? Delivery::Done : Delivery::Kept;
    } else {
        write = true;
    }
    if (!write) return Delivery::Done;

    if (k.list_area) ++counters.lists;
    if (k.own_org) ++counters.own_org;
    if (k.ignore_text) ++counters.ign_txt;
    if (!k.list_area && !k.own_org && !k.ignore_text && k.junk == JunkKind::None && k.hosted_list < 0) {
        if (news) {
            ++counters.news;
        } else {
            ++counters.mail;
            if (options().verbose) show_verbose_line();
        }
    }

    // The scan pass counted parts with the header lines its kind keeps.
    auto strip = [&](MessageKind kind) { return c.StripKludges[std::size_t(kind)]; };
    if (c.ImportLimit != 0 && strip(k.kind) != strip(scan.kind)) {
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

    claim_attachments(k.junk);
    ConvertRequest w = scan;
    w.pass = Pass::Write;
    w.ignore_text = k.ignore_text;
    w.kind = k.kind;
    w.own_org = k.own_org;
    w.truncate_start = k.truncate_start;
    w.truncate_end = k.truncate_end;
    convert_soup_message(w);
    return Delivery::Packet;
}

}  // namespace tw
