#include "export/export.h"

#include "config/config.h"
#include "driver/message.h"
#include "driver/options.h"
#include "driver/output.h"
#include "export/convert.h"
#include "export/netmail.h"
#include "export/outbound.h"
#include "lists/lists.h"
#include "soup/soup.h"

namespace tw {

namespace {

void scan_binkley_outbound() {
    const GatewayConfig& c = config();
    CurrentMessage& m = message();
    m.export_target = ExportTarget::Gateway;
    m.route_index = -1;
    scan_outbound(c.FidoAddr, "");
    for (int i = 0; i < c.Route.count; ++i) {
        const RouteEntry& route = *c.Route.items[i];
        m.export_target = ExportTarget::Route;
        m.route_index = i;
        m.recipient_address.assign(route.inet.view());
        m.password.assign(route.password.view());
        m.export_subject.assign(route.subject.view());
        scan_outbound(route.ftn, route.inet.view());
    }
}

void report_statistics(const ExportCounters& n) {
    if (n.messages < 1) {
        log_printf("No outbound messages found. Nothing to do.\n");
        return;
    }
    log_printf("-> %ld messages exported\nmail: %-5ld     news: %-5ld", n.messages, n.mail, n.news);
    if (list_count() > 0) log_printf("     lists: %-5ld", n.lists);
    log_printf("\n");
}

}  // namespace

void run_export() {
    const GatewayConfig& c = config();
    const bool packet_dir = !options().PacketDirectory.empty();
    log_printf("Exporting from %s to Soup\n",
               packet_dir ? "PKT" : c.MailerType == MailerKind::ArcMail ? "MSG" : "?UT/?LO");
    rotate_reply_file(ReplyKind::Mail);
    rotate_reply_file(ReplyKind::News);
    export_counters() = ExportCounters{};

    if (packet_dir)
        scan_packet_directory();
    else if (c.MailerType == MailerKind::ArcMail)
        export_netmail();
    else
        scan_binkley_outbound();

    // Every input was committed before it went; this is for what remains.
    if (!commit_export()) (void)take_lost_message();
    // With SeparateMSG every message was registered as it was written.
    if (!c.SeparateMSG) {
        rotate_reply_file(ReplyKind::Mail);
        rotate_reply_file(ReplyKind::News);
    }
    report_statistics(export_counters());
}

}  // namespace tw
