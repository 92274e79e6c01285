// The converter, step by step: analysis, header, body and attached files
// written straight into the reply packet as one message, which is either
// finished whole or taken out again.
#include "export/convert.h"

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

void count(const ExportAnalysis& a) {
    ExportCounters& c = export_counters();
    ++c.messages;
    ++(a.news ? c.news : c.mail);
    if (a.hosted_list >= 0) ++c.lists;
}

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

void report_failure() {
    const CurrentMessage& m = message();
    log_printf("! Can't write msg from %hu:%hu/%hu.%hu (%s) to the reply packet; it stays in the FTN mail\n",
               m.origin.zone, m.origin.net, m.origin.node, m.origin.point, m.sender_name.c_str());
}

}  // namespace

ExportCounters& export_counters() {
    static ExportCounters counters;
    return counters;
}

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
                   (!message().attach || write_attached_files(out, a, use_attach_list, sent)) && out.finish();
    if (!written) {
        out.abandon();
        text.seek(a.text_start);
        text.skip_to_end();
        report_failure();
        return ConvertOutcome::Failed;
    }
    dispose_sent_files(sent);
    count(a);
    report_verbose(a);
    return ConvertOutcome::Exported;
}

}  // namespace tw
