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

}  // namespace

bool read_packet(platform::File& file, bool use_attach_list, const MessageConverter& convert) {
    CurrentMessage& m = message();
    const GatewayConfig& c = config();

    file.seek(0);
    std::uint8_t raw[PacketHeader::size];
    if (file.read(raw, sizeof raw) != sizeof raw) return false;
    PacketHeader h = PacketHeader::decode(raw);
    if (h.packet_type < 2) return false;

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
            if (r < 0) return false;
            const RouteEntry& route = *c.Route.items[r];
            m.export_target = ExportTarget::Route;
            m.recipient_address.assign(route.inet.view());
            m.password.assign(route.password.view());
            m.export_subject.assign(route.subject.view());
        }
    }

    char from_point[8] = "", to_point[8] = "";
    if (from.point != 0) std::snprintf(from_point, sizeof from_point, ".%u", unsigned(from.point));
    if (to.point != 0) std::snprintf(to_point, sizeof to_point, ".%u", unsigned(to.point));
    log_printf("Exporting Type 2%s packet from %u:%u/%u%s to %u:%u/%u%s\n", plus ? "+" : "", unsigned(from.zone),
               unsigned(from.net), unsigned(from.node), from_point, unsigned(to.zone), unsigned(to.net),
               unsigned(to.node), to_point);

    std::uint8_t fixed[PackedMessageHeader::size];
    char field[128];
    while (file.read(fixed, sizeof fixed) == sizeof fixed) {
        PackedMessageHeader mh = PackedMessageHeader::decode(fixed);
        // A zero type word is the packet terminator; bytes after it (padding
        // from a transfer, say) are not a message.
        if (mh.message_type == 0) break;
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
        if (convert) convert(file, use_attach_list);
    }
    return true;
}

}  // namespace tw
