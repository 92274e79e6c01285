// The converter, step by step: analysis, header, body and attached files
// written straight into the reply packet as one message, which is either
// finished whole or taken out again.
#include "export/convert.h"

#include <string>
#include <vector>

#include "driver/options.h"
#include "driver/message.h"
#include "driver/output.h"
#include "export/attachments.h"
#include "export/body.h"
#include "export/classify.h"
#include "export/header.h"
#include "soup/soup.h"
#include "lists/lists.h"

namespace tw {

namespace {

// A route's address is loaded once per packet; a message that changes it
// (an alias, a mailing list) must not send the next one elsewhere.
class KeepRecipient {
public:
    KeepRecipient() : saved_(message().recipient_address) {}
    ~KeepRecipient() { message().recipient_address = saved_; }

private:
    Field saved_;
};

ReplyKind reply_kind(const ExportAnalysis& a) { return a.news ? ReplyKind::News : ReplyKind::Mail; }

void count(bool news, bool list, int by) {
    ExportCounters& c = export_counters();
    c.messages += by;
    (news ? c.news : c.mail) += by;
    if (list) c.lists += by;
}

// A message in the reply packet that is not yet committed: enough to take
// it back out of the counters and to name it.
struct Held {
    long packet;
    PacketMessage source;
    FtnAddress origin;
    std::string sender;
    bool news;
    bool list;
};
std::vector<Held> g_held;
constexpr std::size_t kMostHeld = 4096;
long g_packet = 0;  // numbers the packets of a batch
// The first message lost by a failed commit, of each packet it touched.
struct Lost {
    long packet;
    PacketMessage first;
};
std::vector<Lost> g_lost;

void report_verbose(const ExportAnalysis& a) {
    if (!options().verbose) return;
    const CurrentMessage& m = message();
    progress_printf("\r");
    log_printf("- from %hu:%hu/%hu.%hu (%s) to ", m.origin.zone, m.origin.net, m.origin.node, m.origin.point,
               m.sender_name.c_str());
    if (a.hosted_list >= 0)
        log_printf("%s", list_record(a.hosted_list).ListName ? list_record(a.hosted_list).ListName : "");
    else if (!a.news)
        log_printf("%s%s", m.recipient_address.c_str(), recipients().count > (a.to_uucp ? 1 : 0) ? " et al." : "");
    else
        log_printf("%s newsgroup%s", m.newsgroup.c_str(), crossposts().count > 0 ? " et al." : "");
    log_printf("\n");
}

void report_failure(const FtnAddress& origin, const char* sender) {
    log_printf("! Can't write msg from %hu:%hu/%hu.%hu (%s) to the reply packet; it stays in the FTN mail\n",
               origin.zone, origin.net, origin.node, origin.point, sender);
}

}  // namespace

ExportCounters& export_counters() {
    static ExportCounters counters;
    return counters;
}

bool commit_export() {
    int taken_out = 0;
    if (commit_replies(&taken_out)) {
        g_held.clear();
        return true;
    }
    for (const Held& h : g_held) {
        count(h.news, h.list, -1);
        report_failure(h.origin, h.sender.c_str());
        if (h.source.offset < 0) continue;
        bool known = false;
        for (const Lost& l : g_lost) known = known || l.packet == h.packet;
        if (!known) g_lost.push_back(Lost{h.packet, h.source});
    }
    g_held.clear();
    return false;
}

PacketMessage take_lost_message() {
    PacketMessage lost = g_lost.empty() ? PacketMessage{} : g_lost.front().first;
    g_lost.clear();
    return lost;
}

PacketMessage take_lost_message(long packet) {
    for (std::size_t i = 0; i < g_lost.size(); ++i) {
        if (g_lost[i].packet != packet) continue;
        PacketMessage lost = g_lost[i].first;
        g_lost.erase(g_lost.begin() + long(i));
        return lost;
    }
    return PacketMessage{};
}

long next_export_packet() { return ++g_packet; }

ConvertOutcome convert_ftn_message(platform::File& file, bool use_attach_list) {
    KeepRecipient keep;
    MessageText text(file);
    ExportAnalysis a;
    if (!analyse_ftn_message(text, use_attach_list, a)) {
        text.skip_to_end();
        return ConvertOutcome::NotExported;
    }
    report_address_warnings(a);

    ReplyMessage out;
    SentFiles sent;
    bool written = out.begin(reply_kind(a)) && write_internet_header(out.file(), a) &&
                   write_body(text, out.file(), a) &&
                   (!message().attach || write_attached_files(out, a, use_attach_list, sent)) &&
                   out.finish(ReplyCommit::Later);
    if (!written) {
        out.abandon();
        text.seek(a.text_start);
        text.skip_to_end();
        report_failure(message().origin, message().sender_name.c_str());
        return ConvertOutcome::Failed;
    }
    count(a.news, a.hosted_list >= 0, 1);
    report_verbose(a);
    g_held.push_back(Held{g_packet, last_packet_message(), message().origin, std::string(message().sender_name.view()), a.news,
                          a.hosted_list >= 0});
    // The files it sent may go, and the list entries naming them be
    // dropped, only once the message is on the disk. A packet of many
    // messages is committed every so often, to keep the list flat.
    if ((message().attach || out.commit_soon() || g_held.size() >= kMostHeld) && !commit_export())
        return ConvertOutcome::Failed;
    dispose_sent_files(sent);
    return ConvertOutcome::Exported;
}

}  // namespace tw
