// List commands (subscribe, unsubscribe, changepass) and the administrative
// replies that answer them and refused postings.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/config.h"
#include "driver/options.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "rfc822/writer.h"
#include "driver/counters.h"
#include "soup/soup.h"
#include "lists/lists.h"

namespace tw {

namespace {

// Keeps the identifiers of replies written in the same second apart.
std::uint32_t g_admin_counter = 0;


// The n-th white-space separated word of the subject (0: the command word),
// at most 127 characters of it.
Text<128> subject_word(std::string_view subject, int n) {
    Text<128> word;
    word.clear();
    std::size_t i = 0;
    for (int w = 0; i < subject.size(); ++w) {
        while (i < subject.size() && is_space(subject[i])) ++i;
        std::size_t start = i;
        while (i < subject.size() && !is_space(subject[i])) ++i;
        if (start == i) break;
        if (w == n) {
            word.assign(subject.substr(start, i - start));
            break;
        }
    }
    return word;
}

void write_date(platform::File& f) {
    std::tm tm{};
    platform::local_time(platform::now(), tm);
    write_date_line(f, MessageDate::from_tm(tm), config().TimeZone);
}

bool write_body(platform::File& out, platform::File& text, const ListRecord& l, const SubscriberRecord& r) {
    const struct {
        const char* token;
        const char* value;
    } tokens[] = {
        {"@LISTNAME@", l.ListName},           {"@LISTADDRESS@", l.ListAddress},
        {"@LISTAREA@", l.ListArea},           {"@YOURNAME@", r.name.c_str()},
        {"@YOURADDRESS@", r.address.c_str()}, {"@PASSWORD@", r.password.c_str()},
        {"@KEEPERNAME@", l.KeeperName},       {"@KEEPERADDRESS@", l.KeeperAddress},
    };
    char piece[256];
    // Pieces of at most 127 characters, so every replacement has room to grow.
    while (text.read_line(piece, 128) > 0) {
        for (const auto& t : tokens) replace_token(piece, sizeof piece, t.token, t.value);
        if (!out.write(piece, std::strlen(piece))) return false;
    }
    return true;
}

}  // namespace

void reset_admin_counter() { g_admin_counter = 0; }

void replace_token(char* buf, std::size_t cap, std::string_view placeholder, const char* value) {
    if (!buf || cap == 0 || placeholder.empty()) return;
    std::string_view v = value ? std::string_view(value) : std::string_view("[unknown]");
    long long n = (long long)strnlen(buf, cap - 1);
    buf[n] = 0;
    const long long p = (long long)placeholder.size(), vl = (long long)v.size();
    long long from = 0;
    for (;;) {
        if (n + vl - p >= (long long)cap) return;
        std::string_view text(buf, std::size_t(n));
        std::size_t hit = text.find(placeholder, std::size_t(from));
        if (hit == std::string_view::npos) return;
        std::memmove(buf + hit + vl, buf + hit + p, std::size_t(n - (long long)hit - p + 1));
        std::memcpy(buf + hit, v.data(), v.size());
        n += vl - p;
        from = (long long)hit + vl;
    }
}

namespace {

enum class Composed { Nothing, Ready, Failed };

// Writes the whole reply into the reply file's buffer, not yet finished, so
// that a command can make its change between the two and still take the
// reply back. The intent (`marker`, see journal_intent) is journaled as
// soon as the reply's place is known, before any of it reaches the disk.
// Nothing when the text is not configured or not readable.
Composed compose_admin_reply(int list, const SubscriberRecord& r, const char* text_file, ReplyMessage& reply,
                             long long marker) {
    if (!text_file) return Composed::Nothing;
    platform::File text;
    if (!text.open(text_file, platform::OpenMode::Read, platform::Share::All, true)) return Composed::Nothing;
    const ListRecord& l = list_record(list);
    const CurrentMessage& m = message();
    const GatewayConfig& c = config();

    if (!reply.begin(ReplyKind::Mail)) return Composed::Failed;
    if (!journal_intent(list, 'A', marker, &reply)) {
        reply.abandon();
        return Composed::Failed;
    }
    platform::File& f = reply.file();
    f.printf("To: %s", r.address.c_str());
    if (!r.name.empty()) f.printf(" (%s)", r.name.c_str());
    f.write("\n");
    f.printf("From: %s", l.ListAddress);
    if (l.ListName && *l.ListName) f.printf(" (%s)", l.ListName);
    f.write("\n");
    f.printf("Reply-to: %s\n", l.ListAddress);
    f.printf("Subject: Re: %s\n", m.subject.c_str());
    write_date(f);
    g_admin_counter += 0x398A6CDFu;
    std::uint32_t id = std::uint32_t(platform::now()) ^ crc32_text(r.address.view()) ^ crc32_text(m.subject.view()) ^
                       g_admin_counter;
    f.printf("Message-ID: <admin-%lu-%s>\n", (unsigned long)id, l.ListAddress);
    // Without an identifier of its own the command gives nothing to refer to.
    if (!m.message_id.text.empty()) {
        f.write("In-Reply-To: ");
        write_message_id(f, m.message_id.text, m.message_id.serial, m.message_id.ftn);
    }
    if (!m.organization.empty()) {
        f.printf("Organization: %s\n", m.organization.c_str());
        if (!c.Organization.empty()) f.printf("X-MailListOrg: %s\n", c.Organization.c_str());
    } else if (!c.Organization.empty()) {
        f.printf("Organization: %s\n", c.Organization.c_str());
    }
    f.printf("X-MailServer: Tarnwick-%s v%d.%02d\n", kPlatformTag, kVersionMajor, kVersionMinor);
    f.write("\n");
    if (!write_body(f, text, l, r) || f.error()) {
        reply.abandon();
        journal_take_back();
        return Composed::Failed;
    }
    return Composed::Ready;
}

// Finishes a composed reply: fixed up, registered, counted.
bool complete_admin_reply(int list, const SubscriberRecord& r, const char* text_file, ReplyMessage& reply) {
    if (!reply.finish()) return false;
    const ListRecord& l = list_record(list);
    if (options().verbose) {
        progress_printf("\r");
        char line[600];
        int n = std::snprintf(line, sizeof line, "+ reply from %s", l.ListAddress);
        auto add = [&](const char* fmt, const char* v) {
            if (n >= 0 && n < (int)sizeof line) n += std::snprintf(line + n, sizeof line - std::size_t(n), fmt, v);
        };
        if (l.ListName && *l.ListName) add(" (%s)", l.ListName);
        add(" to %s", r.address.c_str());
        if (!r.name.empty()) add(" (%s)", r.name.c_str());
        add(": %s\n", text_file);
        log_printf("%s", line);
    }
    ++area_counters().reply;
    return true;
}

void report_lost_reply(const SubscriberRecord& r) {
    log_printf("! unable to write the reply to %s; the message stays for the next run\n", r.address.c_str());
}

}  // namespace

bool send_admin_reply(int list, const SubscriberRecord& r, const char* text_file) {
    ReplyMessage reply;
    Composed c = compose_admin_reply(list, r, text_file, reply, kNoListChange);
    if (c == Composed::Nothing) return true;
    if (c == Composed::Ready && complete_admin_reply(list, r, text_file, reply)) {
        journal_done();
        return true;
    }
    journal_take_back();
    report_lost_reply(r);
    return false;
}

bool list_command(int list, ListCommand command) {
    // Carried out and answered by a run that was stopped before it could
    // take the message from the input.
    if (list_input_done()) return true;
    ListRecord& l = list_record(list);
    const CurrentMessage& m = message();
    SubscriberRecord r{};
    SubscriberLocation where{};
    bool found = find_subscriber(list, m.sender_address, r, &where) != 0;
    if (!found) new_subscriber(list, r);

    if (!found && command != ListCommand::Subscribe) return send_admin_reply(list, r, l.SubscribeInfo);
    if (r.status == SubscriberStatus::BlackListed) return send_admin_reply(list, r, l.BlackList);

    Text<128> password = subject_word(m.subject, 1);
    Text<128> new_password = subject_word(m.subject, 2);
    if (l.ListPassword) {
        if (password.empty() || (command == ListCommand::ChangePass && new_password.empty()) ||
            password.view() != r.password.view())
            return send_admin_reply(list, r, l.PasswordInfo);
    } else if (command == ListCommand::ChangePass) {
        // No list secret to check: the last word given is the new password.
        if (new_password.empty()) new_password = password;
        if (new_password.empty()) return send_admin_reply(list, r, l.PasswordInfo);
    }
    if (command == ListCommand::Subscribe && found) return send_admin_reply(list, r, l.Welcome);
    if (command != ListCommand::Subscribe && command != ListCommand::Unsubscribe && command != ListCommand::ChangePass) return true;

    // The reply is written first and sent only once the change is on disk;
    // a change whose reply cannot be sent is taken back, so the command
    // waits in the input for the next run, answered exactly once then. The
    // journal does the same for a run killed in between.
    const char* text = command == ListCommand::Subscribe ? l.Welcome : command == ListCommand::Unsubscribe ? l.GoodBye : l.NewPassword;
    if (command == ListCommand::ChangePass) r.password = new_password;
    const long long marker = command == ListCommand::Subscribe ? -1 : where.entry->offset;
    ReplyMessage reply;
    Composed composed = compose_admin_reply(list, r, text, reply, marker);
    if (composed == Composed::Failed) {
        report_lost_reply(r);
        return false;
    }
    if (composed == Composed::Nothing && !journal_intent(list, 'A', marker, nullptr)) return false;
    bool changed = false;
    switch (command) {
    case ListCommand::Subscribe:
        changed = add_subscriber(list, r);
        break;
    case ListCommand::Unsubscribe:
        changed = remove_subscriber(list, r, where);
        break;
    default:
        changed = rewrite_subscriber(list, r, *where.entry);
        break;
    }
    if (changed && (composed == Composed::Nothing || complete_admin_reply(list, r, text, reply))) {
        journal_done();
        return true;
    }
    // Not done (reported): the reply goes, and the change, if it was made.
    reply.abandon();
    if (changed) report_lost_reply(r);
    journal_take_back();
    return false;
}

}  // namespace tw
