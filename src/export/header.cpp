// The header lines of an exported message, in the order mail and news
// readers have always seen them from this gateway.
#include "export/header.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "rfc822/writer.h"
#include "lists/lists.h"

namespace tw {

namespace {

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return std::string(buf, n < 0 ? 0 : std::size_t(n) < sizeof buf ? std::size_t(n) : sizeof buf - 1);
}

// FTN fields may hold line feeds (only a leading one is dropped); written
// as they are, they would end the header line and start another.
void put(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        out.append(text.data() + from, i - from);
        out += ' ';
        from = i + 1;
    }
    out.append(text.data() + from, text.size() - from);
}

void put_line(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    put(out, value);
    out += '\n';
}

// One To, Cc or Bcc line: a line break before every third entry.
void put_recipients(std::string& out, RecipientKind kind, bool first_written) {
    const RecipientList& rl = recipients();
    int written = 0;
    for (int i = 0; i < rl.count; ++i) {
        const RecipientEntry& e = rl.entries[i];
        if (e.kind != kind) continue;
        if (first_written || written > 0) out.append(written % 3 == 0 ? ",\n    " : ", ");
        put(out, e.address);
        if (!e.name.empty()) {
            out.append(" (");
            put(out, e.name);
            out.push_back(')');
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

void write_recipients(std::string& out, const CurrentMessage& m, const ExportAnalysis& a) {
    if (a.hosted_list >= 0) {
        // written to the file by the list code, before this
    } else if (a.news) {
        out.append("Newsgroups: ");
        put(out, m.newsgroup);
        const CrosspostList& xl = crossposts();
        for (int i = 0; i < xl.count; ++i) {
            out.push_back(',');
            put(out, xl.names[i]);
        }
        out.push_back('\n');
    } else {
        out.append("To: ");
        if (!a.to_uucp) {
            put(out, m.recipient_address);
            if (m.export_target == ExportTarget::Route && !m.recipient_name.empty()) {
                out.append(" (");
                put(out, m.recipient_name);
                out.push_back(')');
            }
        }
        put_recipients(out, RecipientKind::To, !a.to_uucp);
        out.push_back('\n');
        for (auto [kind, name] : {std::pair{RecipientKind::Cc, "Cc: "}, std::pair{RecipientKind::Bcc, "Bcc: "}}) {
            if (!has_kind(kind)) continue;
            out.append(name);
            put_recipients(out, kind, false);
            out.push_back('\n');
        }
    }
}

void write_sender(std::string& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.append("From: ");
    if (a.news) put(out, config().NoSpamText);
    put(out, m.sender_address);
    out.append(" (");
    put(out, m.sender_name);
    out.append(")\n");
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
        out.append("Reply-to: ");
        put(out, m.reply_address);
        out.append(" (");
        put(out, m.reply_name);
        out.append(")\n");
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

void write_date(std::string& out, const CurrentMessage& m) { append_date_line(out, m.date, config().TimeZone); }

void write_identifiers(std::string& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.append("Message-ID: ");
    append_message_id(out, m.message_id.text, m.message_id.serial, m.message_id.ftn);
    out += '\n';
    const MessageIdentifier& ref = m.reference_id;
    if (ref.serial != 0 || !ref.text.empty()) {
        out.append(a.news ? "References: " : "In-Reply-To: ");
        append_message_id(out, ref.text, ref.serial, ref.ftn);
        out += '\n';
    }
}

void write_mime_lines(std::string& out, const CurrentMessage& m, const ExportAnalysis& a) {
    out.append("Mime-version: 1.0\n");
    if (m.attach) out += formatted("Content-Type: multipart/mixed; boundary=\"%s\"\n\n--%s\n", kAttachBoundary, kAttachBoundary);
    put_line(out, "Content-Type: text/plain; charset=", m.inet_charset);
    out.append("Content-Transfer-Encoding: ");
    out.append(!a.needs_encoding ? "7bit\n" : config().UseQP ? "quoted-printable\n" : "8bit\n");
    out.push_back('\n');
}

}  // namespace

bool write_internet_header(platform::File& file, const ExportAnalysis& a) {
    const CurrentMessage& m = message();
    const GatewayConfig& c = config();
    // The lines are put together in memory and written at once; the Bcc
    // line of a hosted list, which may be long, goes first on its own.
    if (a.hosted_list >= 0) write_bcc_list(a.hosted_list, file);
    static std::string out;
    out.clear();
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
    static const std::string server =
        formatted("X-Mail%s: Tarnwick-%s v%d.%02d\n", "Server", kPlatformTag, kVersionMajor, kVersionMinor);
    static const std::string converter =
        formatted("X-Mail%s: Tarnwick-%s v%d.%02d\n", "Converter", kPlatformTag, kVersionMajor, kVersionMinor);
    out += a.hosted_list >= 0 ? server : converter;
    write_mime_lines(out, m, a);
    return file.write(out) && !file.error();
}

}  // namespace tw
