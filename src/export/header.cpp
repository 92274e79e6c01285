// The header lines of an exported message, in the order mail and news
// readers have always seen them from this gateway.
#include "export/header.h"

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "rfc822/writer.h"
#include "lists/lists.h"

namespace tw {

namespace {

// FTN fields may hold line feeds (only a leading one is dropped); written
// as they are, they would end the header line and start another.
void put(platform::File& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        out.write(text.substr(from, i - from));
        out.put(' ');
        from = i + 1;
    }
    out.write(text.substr(from));
}

void put_line(platform::File& out, std::string_view name, std::string_view value) {
    out.write(name);
    put(out, value);
    out.put('\n');
}

// One To, Cc or Bcc line: a line break before every third entry.
void put_recipients(platform::File& out, RecipientKind kind, bool first_written) {
    const RecipientList& rl = recipients();
    int written = 0;
    for (int i = 0; i < rl.count; ++i) {
        const RecipientEntry& e = rl.entries[i];
        if (e.kind != kind) continue;
        if (first_written || written > 0) out.write(written % 3 == 0 ? ",\n    " : ", ");
        put(out, e.address);
        if (!e.name.empty()) {
            out.write(" (");
            put(out, e.name);
            out.put(')');
        }
        ++written;
    }
}

bool has_kind(RecipientKind kind) {
    const RecipientList& rl = recipients();
    for (int i = 0; i < rl.count; ++i)
        if (rl.entries[i].kind == kind) return true;
    return false;
}

void write_recipients(platform::File& out, const CurrentMessage& m, const ExportAnalysis& a) {
    if (a.hosted_list >= 0) {
        write_bcc_list(a.hosted_list, out);
    } else if (a.news) {
        out.write("Newsgroups: ");
        put(out, m.newsgroup);
        const CrosspostList& xl = crossposts();
        for (int i = 0; i < xl.count; ++i) {
            out.put(',');
            put(out, xl.names[i]);
        }
        out.put('\n');
    } else {
        out.write("To: ");
        if (!a.to_uucp) {
            put(out, m.recipient_address);
            if (m.export_target == ExportTarget::Route && !m.recipient_name.empty()) {
                out.write(" (");
                put(out, m.recipient_name);
                out.put(')');
            }
        }
        put_recipients(out, RecipientKind::To, !a.to_uucp);
        out.put('\n');
        for (auto [kind, name] : {std::pair{RecipientKind::Cc, "Cc: "}, std::pair{RecipientKind::Bcc, "Bcc: "}}) {
            if (!has_kind(kind)) continue;
            out.write(name);
            put_recipients(out, kind, false);
            out.put('\n');
        }
    }
}

void write_sender(platform::File& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.write("From: ");
    if (a.news) put(out, config().NoSpamText);
    put(out, m.sender_address);
    out.write(" (");
    put(out, m.sender_name);
    out.write(")\n");
    if (a.hosted_list >= 0) {
        const ListRecord& l = list_record(a.hosted_list);
        std::string_view list_address = l.ListAddress ? l.ListAddress : "";
        put_line(out, "Reply-to: ", list_address);
        put_line(out, "Sender: ", list_address);
        if (l.KeeperAddress) {
            put_line(out, "Errors-To: ", l.KeeperAddress);
            put_line(out, "Return-Path: ", l.KeeperAddress);
        }
    } else if (!iequals(m.reply_address, m.sender_address)) {
        out.write("Reply-to: ");
        put(out, m.reply_address);
        out.write(" (");
        put(out, m.reply_name);
        out.write(")\n");
    }
}

// A route's file-attach mail that carries a packet goes out under the
// route's own subject.
bool route_subject(const CurrentMessage& m) {
    if (!m.attach || m.export_target != ExportTarget::Route || m.export_subject.empty()) return false;
    std::string_view words = m.subject.view();
    while (!words.empty()) {
        std::size_t start = words.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        words.remove_prefix(start);
        std::size_t end = words.find(' ');
        if (is_ftn_mail_name(words.substr(0, end))) return true;
        if (end == std::string_view::npos) break;
        words.remove_prefix(end);
    }
    return false;
}

void write_date(platform::File& out, const CurrentMessage& m) { write_date_line(out, m.date, config().TimeZone); }

void write_identifiers(platform::File& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.write("Message-ID: ");
    write_message_id(out, m.message_id.text, m.message_id.serial, m.message_id.ftn);
    const MessageIdentifier& ref = m.reference_id;
    if (ref.serial != 0 || !ref.text.empty()) {
        out.write(a.news ? "References: " : "In-Reply-To: ");
        write_message_id(out, ref.text, ref.serial, ref.ftn);
    }
}

void write_mime_lines(platform::File& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.write("Mime-version: 1.0\n");
    if (m.attach) out.printf("Content-Type: multipart/mixed; boundary=\"%s\"\n\n--%s\n", kAttachBoundary, kAttachBoundary);
    put_line(out, "Content-Type: text/plain; charset=", m.inet_charset);
    out.write("Content-Transfer-Encoding: ");
    out.write(!a.needs_encoding ? "7bit\n" : config().UseQP ? "quoted-printable\n" : "8bit\n");
    out.put('\n');
}

}  // namespace

bool write_internet_header(platform::File& out, const ExportAnalysis& a) {
    const CurrentMessage& m = message();
    const GatewayConfig& c = config();
    write_recipients(out, m, a);
    write_sender(out, m, a);
    put_line(out, "Subject: ", route_subject(m) ? m.export_subject : m.subject);
    write_date(out, m);
    write_identifiers(out, m, a);
    if (!c.Organization.empty()) put_line(out, "Organization: ", c.Organization);
    bool comment_to = a.news || a.hosted_list >= 0 || a.received_list >= 0;
    if (comment_to && !m.recipient_name.empty()) put_line(out, "X-Comment-To: ", m.recipient_name);
    if (!a.news && m.export_target == ExportTarget::Route && !m.password.empty())
        put_line(out, "X-MailPassword: ", m.password);
    out.printf("X-Mail%s: Tarnwick-%s v%d.%02d\n", a.hosted_list >= 0 ? "Server" : "Converter", kPlatformTag,
               kVersionMajor, kVersionMinor);
    write_mime_lines(out, m, a);
    return !out.error();
}

}  // namespace tw
