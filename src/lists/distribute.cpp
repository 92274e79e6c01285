// Postings to a hosted list: one copy into the mail reply packet, addressed
// by Bcc to every receiving subscriber, with the list as its sender.
#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "rfc822/writer.h"
#include "soup/soup.h"
#include "lists/lists.h"

namespace tw {

namespace {

bool copy_body(platform::File& out, platform::File& in, long long from, long long to) {
    if (to <= from) return true;
    if (!in.seek(from)) return false;
    char piece[255];
    while (from < to) {
        std::size_t want = to - from < (long long)sizeof piece ? std::size_t(to - from) : sizeof piece;
        std::size_t got = in.read(piece, want);
        if (got == 0) break;  // the message file is shorter than its frame said
        if (!out.write(piece, got)) return false;
        from += (long long)got;
    }
    return true;
}

Posting lost_copy() {
    log_printf("! unable to write the list copy of a posting; it stays for the next run\n");
    return Posting::Kept;
}

}  // namespace

Posting distribute_posting(int list, platform::File& message_file, long long body_start, long long extent_end) {
    const ListRecord& l = list_record(list);
    CurrentMessage& m = message();
    const GatewayConfig& c = config();

    // Handled by a run that was stopped before it could take the posting
    // from the input: only its echo-area copy is still to be written.
    char done = list_input_done();
    SubscriberRecord r{};
    if (done) {
        if (done == 'T')
            for (char* p = m.message_id.text.data(); *p; ++p)
                if (*p == '@') *p = '#';
        return done == 'T' ? Posting::ToArea : Posting::Answered;
    }
    if (!find_subscriber(list, m.sender_address, r)) {
        new_subscriber(list, r);
        return send_admin_reply(list, r, l.SubscribeInfo) ? Posting::Answered : Posting::Kept;
    }
    if (r.status == SubscriberStatus::BlackListed) return send_admin_reply(list, r, l.BlackList) ? Posting::Answered : Posting::Kept;
    if (r.status == SubscriberStatus::ReadOnly) return send_admin_reply(list, r, l.ReadOnly) ? Posting::Answered : Posting::Kept;

    // The changed identifier also goes with the echo-area copy written next,
    // so the two copies are not taken for each other.
    for (char* p = m.message_id.text.data(); *p; ++p)
        if (*p == '@') *p = '#';

    if (l.subscriber_count == 0) return Posting::ToArea;
    // A copy that cannot be written keeps the posting for the next run (the
    // echo-area copy then waits with it), rather than losing it for the
    // subscribers.
    ReplyMessage copy;
    if (!copy.begin(ReplyKind::Mail)) return lost_copy();
    if (!journal_intent(list, 'T', kNoListChange, &copy)) {
        copy.abandon();
        return lost_copy();
    }
    platform::File& f = copy.file();
    write_bcc_list(list, f);
    f.printf("From: %s", m.sender_address.c_str());
    if (!m.sender_name.empty()) f.printf(" (%s)", m.sender_name.c_str());
    f.write("\n");
    f.printf("Reply-to: %s\n", l.ListAddress);
    f.printf("Sender: %s\n", l.ListAddress);
    if (l.KeeperAddress) f.printf("Errors-To: %s\n", l.KeeperAddress);
    f.printf("Subject: %s\n", m.subject.c_str());
    // The posting's own date, not the time it was sent on.
    write_date_line(f, m.date, m.zone_text);
    f.printf("Message-ID: <%s-%s>\n", m.message_id.text.c_str(), l.ListAddress);
    if (!m.reference_id.text.empty()) {
        f.write("In-Reply-To: ");
        write_message_id(f, m.reference_id.text, m.reference_id.serial, m.reference_id.ftn);
    }
    if (!c.Organization.empty()) f.printf("Organization: %s\n", c.Organization.c_str());
    f.printf("X-MailServer: Tarnwick-%s v%d.%02d\n", kPlatformTag, kVersionMajor, kVersionMinor);
    f.write("Mime-version: 1.0\n");
    if (!m.content_type.empty())
        f.printf("Content-Type: %s\n", m.content_type.c_str());
    else
        f.printf("Content-Type: text/plain; charset=%s\n", m.inet_charset.empty() ? "us-ascii" : m.inet_charset.c_str());
    f.printf("Content-Transfer-Encoding: %s\n", m.transfer_encoding.empty() ? "7bit" : m.transfer_encoding.c_str());
    f.write("\n");
    if (!copy_body(f, message_file, body_start, extent_end) || f.error() || !copy.finish()) {
        copy.abandon();
        journal_take_back();
        return lost_copy();
    }
    journal_done();
    return Posting::ToArea;
}

}  // namespace tw
