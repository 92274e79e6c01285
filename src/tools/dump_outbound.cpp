// The Binkley-style outbound as the export scans it: for the gateway's
// address and each Route entry, the mail packet and flow file of every
// flavour, the files a flow file lists, and the busy flag; then any mail in
// the outbound that belongs to neither, which export never takes.
#include <cctype>
#include <cstdio>
#include <set>

#include "config/config.h"
#include "export/attach_list.h"
#include "export/outbound.h"
#include "tools/dump.h"

namespace tw::dump {

namespace {

struct Flavour {
    const char* name;
    const char* mail;  // suffix of the mail packet
    const char* flow;  // suffix of the flow file
    bool hold;
};
constexpr Flavour kFlavours[] = {
    {"normal", ".out", ".flo", false},
    {"crash", ".cut", ".clo", false},
    {"direct", ".dut", ".dlo", false},
    {"hold", ".hut", ".hlo", true},
};

constexpr int kOtherShown = 50;  // files of other nodes listed by name

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower((unsigned char)c));
    return s;
}

std::string age_text(const std::string& path) {
    std::time_t t;
    if (!platform::modification_time(path, t)) return "";
    long long s = (long long)(platform::now() - t);
    char buf[48];
    if (s < 0) std::snprintf(buf, sizeof buf, ", dated in the future");
    else if (s < 3600) std::snprintf(buf, sizeof buf, ", %lld min old", s / 60);
    else if (s < 86400 * 2) std::snprintf(buf, sizeof buf, ", %lld h old", s / 3600);
    else std::snprintf(buf, sizeof buf, ", %lld days old", s / 86400);
    return buf;
}

void show_flow_file(const std::string& path) {
    AttachList list;
    long long rest = -1;
    if (!read_flow_file(path, list, rest)) {
        out("            ! cannot be opened\n");
        return;
    }
    if (rest >= 0)
        out("            ! more than %zu lines: export takes the lines from offset %lld in a later run\n",
            AttachList::capacity, rest);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const AttachEntry& e = list[i];
        std::string name(e.name());
        long long size = platform::file_size(name);
        std::string state = size < 0 ? "missing" : std::to_string(size) + " bytes";
        const char* mark = e.line.view().empty() ? "" : e.line.view()[0] == '^' ? ", deleted after sending"
                                                       : e.line.view()[0] == '#' ? ", truncated after sending"
                                                                                 : "";
        out("            %-6s %s (%s%s)\n", e.state == AttachState::Packet ? "packet" : "file",
            visible(e.line.view()).c_str(), state.c_str(), mark);
    }
    if (list.empty()) out("            (empty)\n");
}

// One address's files; the bases scanned are remembered for the census.
void show_address(const GatewayConfig& c, const char* who, const FtnAddress& a, std::set<std::string>& bases,
                  std::string_view inet = {}) {
    std::string base = outbound_base(a);
    bases.insert(lower(platform::native_path(base)));
    out("%s %s%s%s%s: %s.*\n", who, address_text(a.zone, a.net, a.node, a.point).c_str(), inet.empty() ? "" : " (",
        visible(inet).c_str(), inet.empty() ? "" : ")", visible(platform::native_path(base)).c_str());
    int found = 0;
    for (const Flavour& fl : kFlavours) {
        for (const char* suffix : {fl.mail, fl.flow}) {
            std::string path = platform::resolve_case(base + suffix);
            if (!platform::exists(path)) continue;
            ++found;
            bool flow = suffix == fl.flow;
            out("  %-7s %-20s %lld bytes%s%s\n", fl.name, visible(path.substr(platform::file_name_pos(path))).c_str(),
                platform::file_size(path), age_text(path).c_str(),
                fl.hold && !c.ExportAllMail ? "; on hold: export skips it (ExportAllMail No)" : "");
            if (flow) show_flow_file(path);
        }
    }
    std::string bsy = platform::resolve_case(base + ".bsy");
    if (platform::exists(bsy)) out("  busy    %s: a mailer is working on this node%s\n",
                                   visible(bsy.substr(platform::file_name_pos(bsy))).c_str(), age_text(bsy).c_str());
    if (!found) out("  no mail\n");
}

bool is_hex(std::string_view s) {
    for (char ch : s)
        if (!std::isxdigit((unsigned char)ch)) return false;
    return !s.empty();
}

bool is_mail_suffix(std::string_view ext) {
    for (const Flavour& fl : kFlavours)
        if (iequals(ext, fl.mail) || iequals(ext, fl.flow)) return true;
    return false;
}

struct Census {
    const std::set<std::string>& bases;
    int others = 0;

    // Mail and flow files of a directory (8 hex digits, a flavour suffix)
    // whose base export does not scan. zone 0: not known (BaseZone 0).
    void directory(const std::string& dir, unsigned zone, int net = -1, int node = -1) {
        platform::list_directory(dir, "*", [&](const std::string& name) {
            std::string_view n = name;
            if (n.size() != 12 || !is_hex(n.substr(0, 8))) return true;
            unsigned number = unsigned(std::stoul(name.substr(0, 8), nullptr, 16));
            if (is_mail_suffix(n.substr(8))) {
                std::string base = dir + name.substr(0, 8);
                if (bases.count(lower(platform::native_path(base)))) return true;
                std::string who = net < 0 ? address_text(zone, number >> 16, number & 0xffff, 0)
                                          : address_text(zone, unsigned(net), unsigned(node), number);
                if (zone == 0) who[0] = '?';  // "0:..." with the zone unknown
                note(dir + name, who);
            } else if (net < 0 && iequals(n.substr(8), ".pnt") && platform::is_directory(dir + name)) {
                directory(dir + name + "/", zone, int(number >> 16), int(number & 0xffff));
            }
            return true;
        });
    }
    void note(const std::string& path, const std::string& who) {
        if (++others == 1) out("mail in the outbound that export does not take (not for the gateway or a route):\n");
        if (others <= kOtherShown)
            out("  %-8s %s: %lld bytes%s\n", who.c_str(), visible(platform::native_path(path)).c_str(),
                platform::file_size(path), age_text(path).c_str());
    }
};

}  // namespace

Outcome dump_outbound(const Options&) {
    Outcome o;
    const GatewayConfig& c = config();
    out("== outbound %s: as export scans it (BaseZone %u, ExportAllMail %s)\n",
        visible(platform::native_path(c.OutboundDir.view())).c_str(), unsigned(c.BaseZone),
        c.ExportAllMail ? "Yes" : "No");
    if (c.MailerType != MailerKind::Binkley)
        out("! MailerType is not Binkley: export reads stored netmail from NetmailDir instead\n");
    if (c.OutboundDir.empty() || !platform::is_directory(c.OutboundDir.view())) {
        out("! OutboundDir is not set or not a directory\n\n");
        o.damaged = 1;
        return o;
    }
    std::set<std::string> bases;
    show_address(c, "gateway", c.FidoAddr, bases);
    for (int i = 0; i < c.Route.count; ++i) {
        const RouteEntry& r = *c.Route.items[i];
        show_address(c, "route", r.ftn, bases, r.inet.view());
    }

    Census census{bases};
    std::string main_dir = platform::native_path(c.OutboundDir.view());
    census.directory(main_dir, c.BaseZone);
    if (c.BaseZone != 0) {
        // Zone directories beside the main one: "outbound.001/" and so on.
        std::string bare = main_dir.substr(0, main_dir.size() - 1);
        std::size_t cut = platform::file_name_pos(bare);
        std::string parent = bare.substr(0, cut), leaf = bare.substr(cut);
        platform::list_directory(parent, leaf + ".*", [&](const std::string& name) {
            if (name.size() == leaf.size() + 4 && is_hex(std::string_view(name).substr(leaf.size() + 1)) &&
                platform::is_directory(parent + name)) {
                unsigned zone = unsigned(std::stoul(name.substr(leaf.size() + 1), nullptr, 16));
                census.directory(parent + name + "/", zone);
            }
            return true;
        });
    }
    if (census.others > kOtherShown) out("  ... and %d more\n", census.others - kOtherShown);
    out("\n");
    return o;
}

}  // namespace tw::dump
