#include "ftn/reader.h"

#include <cstdio>

#include "config/config.h"
#include "config/lookup.h"
#include "driver/message.h"
#include "driver/output.h"
#include "ftn/format.h"

namespace tw {

namespace {

std::uint16_t first_map_zone() {
    const auto& t = config().AddrMap;
    return t.count > 0 ? t.items[0]->ftn.zone : 0;
}

// Offset just past the last NUL byte of the file from `from` on; `from`
// when there is none. A message whose text starts at or beyond it has no
// ending NUL: the end of the file cuts it.
long long end_of_last_nul(platform::File& file, long long from) {
    long long size = file.size();
    char block[4096];
    for (long long end = size; end > from;) {
        long long start = end - (long long)sizeof block < from ? from : end - (long long)sizeof block;
        std::size_t n = std::size_t(end - start);
        if (!file.seek(start) || file.read(block, n) != n) return from;
        for (std::size_t i = n; i-- > 0;)
            if (block[i] == 0) return start + (long long)i + 1;
        end = start;
    }
    return from;
}

PacketMessage g_last;

void load_route(CurrentMessage& m, const RouteEntry& route) {
    m.recipient_address.assign(route.inet.view());
    m.password.assign(route.password.view());
    m.export_subject.assign(route.subject.view());
}

}  // namespace

PacketRead read_packet(platform::File& file, bool use_attach_list, const MessageConverter& convert) {
    CurrentMessage& m = message();
    const GatewayConfig& c = config();
    PacketRead result{PacketOutcome::Refused, 0, 0, 0};

    file.seek(0);
    std::uint8_t raw[PacketHeader::size];
    if (file.read(raw, sizeof raw) != sizeof raw) return result;
    PacketHeader h = PacketHeader::decode(raw);
    if (h.packet_type < 2) return result;

    bool plus = h.is_type2plus();
    FtnAddress from{0, h.orig_net, h.orig_node, 0};
    FtnAddress to{0, h.dest_net, h.dest_node, 0};
    if (plus) {
        from.zone = h.orig_zone;
        from.point = h.orig_point;
        to.zone = h.dest_zone;
        to.point = h.dest_point;
    } else {
        // Plain Type 2 carries no zones or points: the FTN side is the
        // first AddrMap entry's zone, the gateway's own when it is the target.
        from.zone = first_map_zone();
        if (m.export_target == ExportTarget::Gateway) {
            to.zone = c.FidoAddr.zone;
            to.point = c.FidoAddr.point;
        } else {
            to.zone = first_map_zone();
        }
    }

    if (m.export_target == ExportTarget::Undetermined) {
        if (to == c.FidoAddr) {
            m.export_target = ExportTarget::Gateway;
        } else {
            int r = route_for_ftn(c, to);
            if (r < 0) return result;
            m.export_target = ExportTarget::Route;
            m.route_index = r;
            load_route(m, *c.Route.items[r]);
        }
    }

    char from_point[8] = "", to_point[8] = "";
    if (from.point != 0) std::snprintf(from_point, sizeof from_point, ".%u", unsigned(from.point));
    if (to.point != 0) std::snprintf(to_point, sizeof to_point, ".%u", unsigned(to.point));
    log_printf("Exporting Type 2%s packet from %u:%u/%u%s to %u:%u/%u%s\n", plus ? "+" : "", unsigned(from.zone),
               unsigned(from.net), unsigned(from.node), from_point, unsigned(to.zone), unsigned(to.net),
               unsigned(to.node), to_point);

    result.outcome = PacketOutcome::Exported;
    long long nul_end = end_of_last_nul(file, (long long)PacketHeader::size);
    file.seek((long long)PacketHeader::size);
    std::uint8_t fixed[PackedMessageHeader::size];
    char field[128];
    for (;;) {
        long long at = file.tell();
        std::size_t got = file.read(fixed, sizeof fixed);
        bool all_zero = true;
        for (std::size_t i = 0; i < got; ++i) all_zero = all_zero && fixed[i] == 0;
        // The end of the file, or a (perhaps cut) terminator, ends the packet;
        // bytes after a terminator (padding from a transfer, say) are no message.
        if (got == 0 || (got < 2 && all_zero) || (got >= 2 && fixed[0] == 0 && fixed[1] == 0)) break;
        PackedMessageHeader mh{};
        if (got == sizeof fixed) mh = PackedMessageHeader::decode(fixed);
        // Every message is of type 2; another type word means the reader is
        // out of step with the messages, a cut fixed part that the file ends.
        if (got < sizeof fixed || mh.message_type != 2) {
            result.outcome = PacketOutcome::Damaged;
            result.damage_at = at;
            break;
        }
        m.attach = (mh.attribute & kAttrFileAttached) != 0;
        m.origin.node = mh.orig_node;
        m.origin.net = mh.orig_net;
        m.origin.zone = from.zone;
        m.origin.point = from.point;
        read_field(file, field, 20);
        m.ftn_date.assign(field);
        read_field(file, field, 127);
        m.recipient_name.assign(field);
        read_field(file, field, 127);
        m.sender_name.assign(field);
        read_field(file, field, 127);
        m.subject.assign(field);
        if (file.tell() >= nul_end) {
            result.outcome = PacketOutcome::Damaged;
            result.damage_at = at;
            break;
        }
        // The converter may have changed the route's fields for the message
        // before (an alias, a mailing list): each message starts from the entry.
        if (m.export_target == ExportTarget::Route && m.route_index >= 0 && m.route_index < c.Route.count)
            load_route(m, *c.Route.items[m.route_index]);
        ++result.messages;
        g_last = PacketMessage{at, result.messages};
        ConvertOutcome done = convert ? convert(file, use_attach_list) : ConvertOutcome::NotExported;
        if (done == ConvertOutcome::Failed) {
            result.outcome = PacketOutcome::Failed;
            result.resume_at = at;
            break;
        }
    }
    g_last = PacketMessage{};  // a message converted elsewhere comes from no packet
    return result;
}

PacketMessage last_packet_message() { return g_last; }

}  // namespace tw
