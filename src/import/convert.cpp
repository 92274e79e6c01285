#include "import/convert.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "ftn/writer.h"
#include "import/attribution.h"
#include "import/filters.h"
#include "import/pass_state.h"
#include "platform/scan.h"
#include "rfc822/header.h"
#include "rfc822/mime.h"

namespace tw {

long ExtentReader::read_line(char* out, std::size_t cap) {
    long n = BufferedReader::read_line(out, cap);
    if (n <= 0 || nul_free_) return n;
    char* end = out + n;
    for (char* p = out; (p = static_cast<char*>(std::memchr(p, 0, std::size_t(end - p)))) != nullptr; ++p) *p = ' ';
    return n;
}

namespace {

bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Scratch copy of a header value for the parsers that change their text.
char g_value[ImportBuffers::kLineSize];

char* value_copy(std::string_view v) {
    std::size_t n = v.size() < sizeof g_value - 1 ? v.size() : sizeof g_value - 1;
    std::memcpy(g_value, v.data(), n);
    g_value[n] = 0;
    return g_value;
}

class Converter {
public:
    explicit Converter(const ConvertRequest& r)
        : r_(r), msg_(message()), cfg_(config()),
          in_(*r.message_file, r.extent_start, r.extent_end, r.extent_bytes, r.extent_nul_free),
          line_(r.buffers->line) {
        st_ = PassState{};
        st_.request = &r;
    }
    ~Converter() { st_.attachment.file.release(); }

    void run();

private:
    bool writing() const { return writing_; }
    void out(std::string_view s) {
        if (writing()) r_.packet->write(s);
    }
    void outf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    long raw_line(const char*& at);
    void own_line(const char*& at, std::size_t used);
    bool read_header_line(std::size_t& len);
    bool read_body_line(std::size_t& len);
    void header_table(std::string_view line);
    bool kept_header(std::string_view line) const;
    void write_kept_line(std::string_view line, bool header);
    void informative_lines();
    void start_pass();
    bool at_extent_end();
    void informative_lines_once();
    bool next_line(std::string_view& line);
    bool take_line(std::string_view line);
    bool skipped_line(std::string_view line);
    std::string_view decoded(std::string_view line);
    void empty_line();
    void text_line(std::string_view line);
    void note_first_body_line(std::string_view line);
    void flush_pending_empty();
    bool scan_line(std::string_view line);
    void end_of_message();

    const ConvertRequest& r_;
    CurrentMessage& msg_;
    const GatewayConfig& cfg_;
    ExtentReader in_;
    char* line_;
    const char* line_at_ = nullptr;  // the last body line: in line_ or in place
    const bool writing_ = r_.pass == Pass::Write && !r_.ignore_text;
    const std::uint32_t part_limit_ = part_text_limit(cfg_);
    PassState st_;
    bool date_seen_ = false;
};

void Converter::outf(const char* fmt, ...) {
    if (!writing()) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0) r_.packet->write(buf, std::size_t(n) < sizeof buf ? std::size_t(n) : sizeof buf - 1);
}

// The next physical line: where it stands when the message is in memory,
// else copied into line_. -1 at the end.
long Converter::raw_line(const char*& at) {
    if (in_.in_place()) return in_.view_line(ImportBuffers::kLineSize, at);
    at = line_;
    return in_.read_line(line_, ImportBuffers::kLineSize);
}

// Moves a line read in place into line_, where it can grow or change.
void Converter::own_line(const char*& at, std::size_t used) {
    if (at == line_) return;
    std::memmove(line_, at, used);
    at = line_;
}

// A header line with its folded continuations, white space collapsed. A
// header longer than the buffer is cut there; the rest of it is skipped.
bool Converter::read_header_line(std::size_t& len) {
    const std::size_t cap = ImportBuffers::kLineSize;
    auto skip_rest = [&] {
        char sink[512];
        long m;
        do {
            m = in_.read_line(sink, sizeof sink);
        } while (m > 0 && sink[m - 1] != '\n');
    };
    const char* at = nullptr;
    long n = raw_line(at);
    if (n < 0) return false;
    std::size_t used = std::size_t(n);
    bool full = false;
    if (used > 0 && at[used - 1] == '\n') {
        --used;
    } else if (used + 1 >= cap) {
        full = true;
        skip_rest();
    }
    while (used > 0) {
        int next = in_.peek();
        if (next < 0 || next == '\r' || next == '\n' || !is_space(char(next))) break;
        if (full || used + 1 >= cap) {
            full = true;
            skip_rest();
            continue;
        }
        own_line(at, used);
        long m = in_.read_line(line_ + used, cap - used);
        if (m <= 0) break;
        used += std::size_t(m);
        if (line_[used - 1] == '\n') {
            --used;
        } else {
            full = true;
            skip_rest();
        }
    }
    // Collapse every run of white space into one blank and trim.
    std::size_t w = platform::collapse_white_space(at, used, line_);
    line_[w] = 0;
    len = w;
    return true;
}

bool Converter::read_body_line(std::size_t& len) {
    const std::size_t cap = ImportBuffers::kLineSize;
    const char* at = nullptr;
    long n = raw_line(at);
    if (n < 0) return false;
    std::size_t used = std::size_t(n);
    auto trim_end = [&] {
        if (st_.attachment.decoding == DecodeState::UU) {
            if (used > 0 && at[used - 1] == '\n') --used;
            if (used > 0 && at[used - 1] == '\r') --used;
        } else {
            // Line ends of either convention and trailing blanks go.
            while (used > 0 && (at[used - 1] == '\n' || at[used - 1] == '\r' || at[used - 1] == ' ')) --used;
        }
    };
    trim_end();
    while (st_.quoted_printable && used > 0 && at[used - 1] == '=') {
        --used;  // soft line break
        own_line(at, used);
        long m = in_.read_line(line_ + used, cap - used);
        if (m <= 0) break;
        used += std::size_t(m);
        trim_end();
    }
    if (at == line_) line_[used] = 0;
    line_at_ = at;
    len = used;
    return true;
}

void Converter::header_table(std::string_view line) {
    // The first letter is compared first: the chain is asked once a line.
    char first = line.empty() ? '\0' : ascii_lower(line[0]);
    auto is = [&](std::string_view name) { return first == ascii_lower(name[0]) && istarts_with(line, name); };
    auto value = [&](std::size_t n) { return line.substr(n); };
    if (is("From:")) {
        parse_address_list(value_copy(value(5)), &msg_.sender_address, &msg_.sender_name, AddressKind::From);
    } else if (is("Reply-To:")) {
        parse_address_list(value_copy(value(9)), &msg_.reply_address, &msg_.reply_name, AddressKind::ReplyTo);
    } else if (is("To:")) {
        parse_address_list(value_copy(value(3)), &msg_.recipient_address, &msg_.recipient_name, AddressKind::To);
    } else if (is("Cc:")) {
        parse_address_list(value_copy(value(3)), nullptr, nullptr, AddressKind::Cc);
    } else if (is("Bcc:")) {
        parse_address_list(value_copy(value(4)), nullptr, nullptr, AddressKind::Bcc);
    } else if (is("X-Comment-To:")) {
        if (msg_.recipient_name.empty()) trim_field(value(13), msg_.recipient_name);
    } else if (is("X-From:")) {
        trim_field(value(7), msg_.xfrom_name);
    } else if (is("X-eGroups-From:")) {
        trim_field(value(15), msg_.xfrom_name);
    } else if (is("Sender:")) {
        trim_field(value(7), msg_.sender_text);
    } else if (is("Subject:")) {
        trim_field(value(8), msg_.subject);
    } else if (is("Date:")) {
        parse_date(value_copy(value(5)), msg_);
        date_seen_ = true;
    } else if (is("Message-ID:")) {
        extract_message_id(value_copy(value(11)), msg_.message_id.text, false);
    } else if (is("Organization:")) {
        trim_field(value(13), msg_.organization);
    } else if (is("In-Reply-To:")) {
        extract_message_id(value_copy(value(12)), msg_.reference_id.text, true);
    } else if (is("References:")) {
        if (msg_.reference_id.text.empty()) extract_message_id(value_copy(value(11)), msg_.reference_id.text, true);
    } else if (is("Newsgroups:")) {
        split_newsgroups(value_copy(value(11)), msg_.newsgroup.view());
    }
}

bool Converter::kept_header(std::string_view line) const {
    if (line.size() < 3) return false;
    switch (cfg_.StripKludges[std::size_t(r_.kind) < 3 ? std::size_t(r_.kind) : 0]) {
    case StripMode::No:
        return true;
    case StripMode::Yes:
        return false;
    case StripMode::Some:
        return !(istarts_with(line, "Received:") || istarts_with(line, "Path:") || istarts_with(line, "References:"));
    }
    return true;
}

void Converter::write_kept_line(std::string_view line, bool header) {
    std::uint32_t limit = part_limit_;
    if (limit != 0 && msg_.text_size > 0 &&
        std::uint32_t(msg_.text_size) + 256u + std::uint32_t(line.size()) >= limit) {
        if (r_.pass != Pass::Write) {
            ++msg_.parts;
        } else {
            ++msg_.current_part;
            if (!r_.ignore_text) {
                out("\r[continued in next message]\r");
                end_message(r_.kind, *r_.packet);
                write_message_header(r_.kind, *r_.packet, msg_.attach_list.view(), *r_.junk, r_.own_org);
                out("[continued from previous message]\r\r");
            }
        }
        msg_.text_size = 0;
    }
    if (!header && line.size() <= 255) {  // most lines: one piece
        if (writing()) r_.packet->write_line(line, '\r');
        msg_.text_size += std::int32_t(line.size() + 1);
        return;
    }
    std::size_t width = header ? 78 : 255;
    std::size_t pos = 0;
    bool first = true;
    do {
        std::size_t remaining = line.size() - pos;
        std::size_t piece = remaining;
        if (remaining > width) {
            piece = width;
            // Break just after the last non-alphanumeric of columns 33..width.
            for (std::size_t i = width; i >= 33; --i) {
                if (!is_alnum(line[pos + i - 1])) {
                    piece = i;
                    break;
                }
            }
        }
        std::size_t lead = 0;
        if (header) {
            out("\x01");
            lead = 1;
            if (!first) {
                out("  ");
                lead += 2;
            }
        }
        out(line.substr(pos, piece));
        out("\r");
        msg_.text_size += std::int32_t(lead + piece + 1);
        pos += piece;
        if (header && first) width = 76;
        first = false;
    } while (pos < line.size());
}

void Converter::informative_lines() {
    bool any = false;
    CrosspostList& xp = crossposts();
    for (int i = 0; i < xp.count; ++i) {
        if (i % 3 == 0) {
            outf("XPost: %s", xp.names[i].c_str());
        } else {
            outf(", %s", xp.names[i].c_str());
        }
        if (i % 3 == 2 || i + 1 == xp.count) out("\r");
        any = true;
    }
    if (!msg_.body_header) {
        bool mail = r_.kind == MessageKind::Mail;
        if (cfg_.HeaderInfoBody == BodyLines::Names) {
            if (!msg_.sender_name.empty() && !iequals(msg_.sender_name, msg_.sender_address)) {
                outf("From: %s\r", msg_.sender_name.c_str());
                any = true;
            }
            if (mail && !msg_.recipient_name.empty() && !iequals(msg_.recipient_name, msg_.recipient_address)) {
                outf("To: %s\r", msg_.recipient_name.c_str());
                any = true;
            }
        } else if (cfg_.HeaderInfoBody == BodyLines::Addresses) {
            if (!msg_.sender_address.empty() && !iequals(msg_.sender_address, msg_.sender_name)) {
                outf("From: %s\r", msg_.sender_address.c_str());
                any = true;
            }
            if (mail && !msg_.recipient_address.empty() && !iequals(msg_.recipient_address, msg_.recipient_name)) {
                outf("To: %s\r", msg_.recipient_address.c_str());
                any = true;
            }
        }
    }
    RecipientList& rl = recipients();
    static const char* const kWords[] = {"", "To", "Copy", "BCopy"};
    for (int kind = 1; kind <= 3; ++kind) {
        for (int i = 0; i < rl.count; ++i) {
            const RecipientEntry& e = rl.entries[i];
            if (int(e.kind) != kind) continue;
            outf("%s: %s", kWords[kind], e.address.c_str());
            if (!e.name.empty()) outf(" (%s)", e.name.c_str());
            out("\r");
            any = true;
        }
    }
    if (msg_.bad_route_password && msg_.route_index >= 0 && msg_.route_index < cfg_.Route.count) {
        const FtnAddress& a = cfg_.Route[msg_.route_index].ftn;
        outf("*** Incorrect Tarnwick Route-password for node %u:%u/%u", a.zone, a.net, a.node);
        if (a.point) outf(".%u", a.point);
        out(" ***\r");
        any = true;
    }
    if (r_.kind == MessageKind::Mail && msg_.attach && same_base_name(msg_.subject, msg_.attach_list) != 0) {
        outf("Subject: %s\r", msg_.subject.c_str());
        any = true;
    }
    if (any) out("\r");
}

void Converter::start_pass() {
    if (r_.pass == Pass::Scan) {
        msg_.parts = 1;
        for (Field* f : {&msg_.sender_address, &msg_.sender_name, &msg_.reply_address, &msg_.reply_name,
                         &msg_.recipient_address, &msg_.recipient_name, &msg_.xfrom_name, &msg_.sender_text,
                         &msg_.quoted_name, &msg_.quoted_address, &msg_.subject, &msg_.organization,
                         &msg_.export_subject, &msg_.inet_charset, &msg_.content_type, &msg_.transfer_encoding})
            f->clear();
        msg_.message_id = MessageIdentifier{};
        msg_.reference_id = MessageIdentifier{};
        msg_.password.clear();
        msg_.ftn_date.clear();
        recipients().clear();
        crossposts().clear();
        start_attribution_scan();
        forget_attachments();
        *r_.body_start = r_.extent_start;
        msg_.body_header = false;
    } else if (r_.pass == Pass::Count) {
        msg_.parts = 1;
    } else {
        msg_.current_part = 1;
        if (!r_.ignore_text) write_message_header(r_.kind, *r_.packet, msg_.attach_list.view(), *r_.junk, r_.own_org);
    }
    msg_.text_size = 0;
    msg_.attach = false;
    msg_.attach_list.clear();
    msg_.first_line = false;
}

void Converter::end_of_message() {
    if (r_.pass == Pass::Scan && !date_seen_) {
        // A message without a date is dated when it passes the gateway,
        // not with the date of the message before it.
        std::tm now{};
        platform::local_time(platform::now(), now);
        msg_.date = MessageDate::from_tm(now);
        msg_.zone_text.clear();
    }
    end_attribution_scan();
    end_attachments(st_);
    if (writing()) end_message(r_.kind, *r_.packet);
}

// The end of the extent ends the message; a message without a blank line
// has no body.
bool Converter::at_extent_end() {
    if (in_.offset() < r_.extent_end) return false;
    if (*r_.body_start == r_.extent_start) *r_.body_start = r_.extent_end;
    return true;
}

// The informative lines open the text, once the first header block is read.
void Converter::informative_lines_once() {
    if (writing() && st_.header_blocks == 1 && !st_.info_written) {
        st_.info_written = true;
        informative_lines();
    }
}

bool Converter::next_line(std::string_view& line) {
    std::size_t len = 0;
    if (st_.in_body) {
        if (!read_body_line(len)) return false;
        line = std::string_view(line_at_, len);
        return true;
    }
    if (!read_header_line(len)) return false;
    line = std::string_view(line_, len);
    return true;
}

// Lines inside a truncated stretch, and the password header outside the
// scan pass, are not part of the message.
bool Converter::skipped_line(std::string_view line) {
    if (st_.truncating) {
        if (!r_.truncate_end.empty() && contains_text(r_.truncate_end, line)) st_.truncating = false;
        return true;
    }
    return r_.pass != Pass::Scan && !st_.in_body && istarts_with(line, "X-MailPassword:");
}

std::string_view Converter::decoded(std::string_view line) {
    if (!(st_.quoted_printable && st_.in_body)) return line;
    if (line.data() != line_) std::memmove(line_, line.data(), line.size());
    std::size_t len = mime::decode_quoted_printable(line_, line.size());
    line_[len] = 0;
    return std::string_view(line_, len);
}

// An empty line ends a header block, or is held until text follows it.
void Converter::empty_line() {
    if (!st_.in_body || !st_.body_text) {
        if (st_.header_blocks == 0 && *r_.body_start == r_.extent_start) *r_.body_start = in_.offset();
        st_.in_body = true;
        ++st_.header_blocks;
        st_.body_text = false;
    } else {
        ++st_.pending_empty;
    }
    if (st_.base64)
        start_base64_attachment(st_);
    else
        st_.in_content_header = false;
}

// A body that opens with a From: or To: line carries its own header.
void Converter::note_first_body_line(std::string_view line) {
    if (st_.in_body && !msg_.first_line) {
        if (r_.pass == Pass::Scan && (istarts_with(line, "From:") || istarts_with(line, "To:"))) msg_.body_header = true;
        msg_.first_line = true;
    }
}

void Converter::flush_pending_empty() {
    if (st_.pending_empty <= 0) return;
    for (long i = 0; i < st_.pending_empty; ++i) out("\r");
    msg_.text_size += std::int32_t(st_.pending_empty);
    st_.pending_empty = 0;
}

// What the scan pass learns from a line; false when the line is consumed.
bool Converter::scan_line(std::string_view line) {
    if (!st_.in_body) {
        header_table(line);
        if (istarts_with(line, "X-MailPassword:")) {
            trim_field(line.substr(15), msg_.password);
            return false;
        }
    } else if (r_.kind == MessageKind::Mail && msg_.area_kind == AreaKind::Mail) {
        if (*r_.junk == JunkKind::None && junk_text_in_body(line)) *r_.junk = JunkKind::Body;
    }
    return true;
}

void Converter::text_line(std::string_view line) {
    note_first_body_line(line);
    st_.body_text = true;
    if (st_.in_body && !r_.truncate_start.empty() && contains_text(r_.truncate_start, line)) {
        st_.truncating = true;
        return;
    }
    flush_pending_empty();
    bool scan = r_.pass == Pass::Scan;
    if (scan && st_.in_body && cfg_.QuoteTo) scan_attribution(line);
    if (st_.in_body && line.substr(0, 6) == "begin " && start_uu_attachment(st_, line)) return;
    if (st_.in_content_header || (!line.empty() && (line[0] | 0x20) == 'c')) scan_content_header(st_, line);
    if (scan && !scan_line(line)) return;
    if (r_.ignore_text) return;
    if (st_.in_body || kept_header(line)) write_kept_line(line, !st_.in_body);
}

// False when the line closes the message (its final MIME boundary).
bool Converter::take_line(std::string_view line) {
    if (skipped_line(line)) return true;
    st_.line_end = in_.offset();
    // The calls are made only when a multipart or an attachment is in
    // progress: most lines are plain text.
    if (st_.boundary_count > 0) {
        BoundaryLine boundary = take_boundary_line(st_, line);
        if (boundary == BoundaryLine::End) return false;
        if (boundary != BoundaryLine::None) return true;
    }
    line = decoded(line);
    if (st_.attachment.decoding != DecodeState::None && decode_data_line(st_, line)) return true;
    if (line.empty())
        empty_line();
    else
        text_line(line);
    return true;
}

void Converter::run() {
    start_pass();
    std::string_view line;
    while (!at_extent_end()) {
        informative_lines_once();
        if (!next_line(line) || !take_line(line)) break;
    }
    end_of_message();
}

}  // namespace

void convert_soup_message(const ConvertRequest& request) {
    Converter c(request);
    c.run();
}

}  // namespace tw
