#include "export/netmail.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/config.h"
#include "driver/options.h"
#include "driver/message.h"
#include "driver/output.h"
#include "export/attach_list.h"
#include "export/attachments.h"
#include "export/convert.h"
#include "ftn/format.h"
#include "ftn/reader.h"
#include "platform/platform.h"

namespace tw {

namespace {

constexpr const char* kStateName = "tarnwick.dat";

std::uint16_t first_map_zone() {
    const auto& t = config().AddrMap;
    return t.count > 0 ? t.items[0]->ftn.zone : 0;
}

// Loads the export target of a candidate into the current message: the
// gateway itself (route -1) or a Route entry with its e-mail address,
// password and subject.
void load_target(int route) {
    CurrentMessage& m = message();
    if (route < 0) {
        m.export_target = ExportTarget::Gateway;
        return;
    }
    const RouteEntry& r = *config().Route.items[route];
    m.export_target = ExportTarget::Route;
    m.route_index = route;
    m.recipient_address.assign(r.inet.view());
    m.password.assign(r.password.view());
    m.export_subject.assign(r.subject.view());
}

// The kludges that complete a stored message's addresses: TOPT, FMPT and
// INTL among the kludge lines at the top of the text.
void read_address_kludges(platform::File& file, FtnAddress& orig, FtnAddress& dest) {
    char line[257];
    for (;;) {
        TextLine r = read_text_line(file, line, 256);
        if (line[0] != '\x01') break;
        const char* k = line + 1;
        if (istarts_with(k, "TOPT ")) {
            std::sscanf(k + 5, "%hu", &dest.point);
        } else if (istarts_with(k, "FMPT ")) {
            std::sscanf(k + 5, "%hu", &orig.point);
        } else if (istarts_with(k, "INTL ")) {
            std::sscanf(k + 5, "%hu:%hu/%hu %hu:%hu/%hu", &dest.zone, &dest.net, &dest.node, &orig.zone, &orig.net,
                        &orig.node);
        }
        if (r == TextLine::EndOfText) break;
        // The rest of an overlong kludge line is no line of its own.
        while (r == TextLine::Continues) r = read_text_line(file, line, 256);
        if (r == TextLine::EndOfText) break;
    }
}

// Reads a packet a file-attach message named. False only when a message
// of it could not be written: the packet then keeps its rest, and the
// stored message stays unsent, so the next run takes both up again. A
// packet refused or damaged is dealt with (and reported) by the one
// disposal rule; running the message again would not change that.
bool export_attached_packet(std::string_view name, int route) {
    std::string path;
    AttachCheck check = check_attach_path(name, path);
    if (check == AttachCheck::Missing) return true;
    if (check == AttachCheck::Outside) {
        log_printf("! %.*s lies outside AttachPath: not read\n", int(name.size()), name.data());
        return true;
    }
    if (!platform::is_regular_file(path)) return true;
    platform::File pkt;
    if (!pkt.open(path, platform::OpenMode::Read)) return true;
    load_target(route);
    PacketRead read = read_packet(pkt, false, convert_ftn_message);
    pkt.release();
    dispose_packet(path, read, PacketPlace::Outbound);
    return read.outcome != PacketOutcome::Failed;
}

enum class Handled : std::uint8_t { Skipped, Done, Failed };

Handled export_message_file(const std::string& path, std::time_t scan_time) {
    const GatewayConfig& c = config();
    std::time_t mtime;
    if (!platform::modification_time(path, mtime) || scan_time > mtime) return Handled::Skipped;
    platform::File file;
    // Locked while it is read and marked. One the mailer holds, or that
    // cannot be opened, waits for the next run, which must look at it
    // again (no newer scan time is stored).
    if (!file.open(path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) {
        if (!platform::is_regular_file(path)) return Handled::Skipped;  // gone, or no message file
        log_printf("! Cannot open %s: it waits for the next run\n", path.c_str());
        return Handled::Failed;
    }

    std::uint8_t raw[StoredMessageHeader::size];
    if (file.read(raw, sizeof raw) != sizeof raw) return Handled::Skipped;
    StoredMessageHeader h = StoredMessageHeader::decode(raw);
    if ((h.attribute & kAttrSent) || ((h.attribute & kAttrHold) && !c.ExportAllMail)) return Handled::Skipped;

    const long long text_start = (long long)StoredMessageHeader::size;
    FtnAddress orig{first_map_zone(), h.orig_net, h.orig_node, 0};
    FtnAddress dest{0, h.dest_net, h.dest_node, 0};
    bool kludges_read = false;
    int target = -2;  // -1 the gateway, else a Route entry
    for (int cand = -1; cand < c.Route.count && target == -2; ++cand) {
        const FtnAddress& a = cand < 0 ? c.FidoAddr : c.Route.items[cand]->ftn;
        if (a.net != dest.net || a.node != dest.node) continue;
        if (!kludges_read) {
            kludges_read = true;
            dest.zone = first_map_zone();
            dest.point = 0;
            read_address_kludges(file, orig, dest);
        }
        if (a.zone == dest.zone && a.point == dest.point) target = cand;
    }
    if (target == -2) return Handled::Skipped;

    CurrentMessage& m = message();
    m.origin = orig;
    m.destination = dest;
    m.attach = (h.attribute & kAttrFileAttached) != 0;
    m.ftn_date.assign(h.date_text());
    m.recipient_name.assign(h.to());
    m.sender_name.assign(h.from());
    m.subject.assign(h.subj());
    load_target(target);

    AttachList& list = attach_list();
    list.clear();
    if (m.attach) {
        list.set_named_by_message();
        std::string_view s = m.subject.view();
        std::size_t pos = 0;
        for (;;) {
            while (pos < s.size() && s[pos] == ' ') ++pos;
            if (pos >= s.size()) break;
            std::size_t end = s.find(' ', pos);
            if (end == std::string_view::npos) end = s.size();
            if (!list.add(s.substr(pos, end - pos))) break;
            pos = end;
        }
    }

    char from_point[8] = "", to_point[8] = "";
    if (orig.point != 0) std::snprintf(from_point, sizeof from_point, ".%u", unsigned(orig.point));
    if (dest.point != 0) std::snprintf(to_point, sizeof to_point, ".%u", unsigned(dest.point));
    log_printf("Exporting netmail message from %u:%u/%u%s to %u:%u/%u%s\n", unsigned(orig.zone), unsigned(orig.net),
               unsigned(orig.node), from_point, unsigned(dest.zone), unsigned(dest.net), unsigned(dest.node), to_point);

    ConvertOutcome outcome = ConvertOutcome::Failed;
    if (file.seek(text_start)) outcome = convert_ftn_message(file, true);
    // A message the reply packet could not take stays unsent, with the
    // packets it carries, so the next run exports it all again. It is on
    // the disk before it is marked, and before a packet it carries goes.
    bool complete = outcome != ConvertOutcome::Failed && commit_export();
    (void)take_lost_message();
    if (complete) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            AttachEntry& e = list[i];
            if (e.state != AttachState::Packet) continue;
            if (!export_attached_packet(e.name(), target)) complete = false;
            e.state = AttachState::Done;
        }
    }
    list.clear();
    if (!complete) {
        file.release();
        return Handled::Failed;
    }

    if (!options().test) {
        h.attribute |= kAttrSent;
        h.encode(raw);
        if (!file.seek(0) || !file.write(raw, sizeof raw) || !file.flush())
            log_printf("! Could not mark %s as sent\n", path.c_str());
    }
    file.release();  // the Sent mark was flushed, or its failure reported
    if ((h.attribute & kAttrKillSent) && !options().test) platform::remove_file(path);
    return Handled::Done;
}

}  // namespace

std::time_t read_scan_state(std::string_view path, std::time_t now) {
    platform::File f;
    if (!f.open(path, platform::OpenMode::Read)) return 0;
    unsigned char b[16];
    if (f.read(b, sizeof b) != sizeof b) return 0;
    for (int i = 0; i < 8; ++i)
        if (b[i] != 0) return 0;
    std::uint64_t v = 0;
    for (int i = 15; i >= 8; --i) v = (v << 8) | b[i];
    std::int64_t t = (std::int64_t)v;
    // A time still to come (a clock set back, a damaged file) would hide
    // every message written before it, for good: look at them all instead.
    if (t < 0 || t > (std::int64_t)now) return 0;
    return (std::time_t)t;
}

void write_scan_state(std::string_view path, std::time_t t) {
    unsigned char b[16] = {};
    std::uint64_t v = (std::uint64_t)(std::int64_t)t;
    for (int i = 8; i < 16; ++i, v >>= 8) b[i] = (unsigned char)(v & 0xFF);
    platform::File f;
    if (f.open(path, platform::OpenMode::Write)) f.write(b, sizeof b);
}

void export_netmail() {
    const GatewayConfig& c = config();
    std::string dir(c.NetmailDir.view());
    std::string state = dir + kStateName;
    const std::time_t start = platform::now();
    std::time_t scan_time = c.QuickScan ? read_scan_state(state, start) : 0;

    // The listing is taken whole before the first message is read, so a
    // message deleted (KillSent) on the way does not disturb it.
    bool failed = false;
    platform::list_directory(dir, "*.msg", [&](const std::string& n) {
        if (export_message_file(dir + n, scan_time) == Handled::Failed) failed = true;
        return true;
    });

    // The new scan time is stored once the messages are through: a run that
    // dies half-way, or leaves a message unsent, must not make the next run
    // pass over what it did not export. It is the start of this run, so a
    // file changed meanwhile is looked at again.
    if (c.QuickScan && !failed) write_scan_state(state, start);
}

}  // namespace tw
