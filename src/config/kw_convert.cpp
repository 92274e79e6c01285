// Keywords for message conversion and formatting: header information,
// character sets, quoting, line width, encodings, origin and tear lines,
// MSGID form, attachments and the export limits.
#include <cstdlib>

#include "config/keywords.h"
#include "driver/helpers.h"

namespace tw {

namespace {

// Reads a number the way "%d" does: leading white space, an optional sign,
// then digits. Values far outside any range are clamped, never overflowed.
bool scan_int(std::string_view& s, long& out) {
    std::size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::size_t digits = i;
    long v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (v < 1000000) v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (i == digits) return false;
    out = negative ? -v : v;
    s.remove_prefix(i);
    return true;
}

// "%d-%d" with both numbers from 0 to 255 and the first not above the second.
bool scan_range(std::string_view s, std::uint8_t& low, std::uint8_t& high) {
    long a = 0, b = 0;
    if (!scan_int(s, a)) return false;
    if (s.empty() || s.front() != '-') return false;
    s.remove_prefix(1);
    if (!scan_int(s, b)) return false;
    if (a < 0 || b > 255 || a > b) return false;
    low = std::uint8_t(a);
    high = std::uint8_t(b);
    return true;
}

void set_attach(const ConfigLine& at, AttachAction& out, AttachAction fallback) {
    if (iequals(at.param, "ignore")) {
        out = AttachAction::Ignore;
    } else if (iequals(at.param, "decode")) {
        out = AttachAction::Decode;
    } else if (iequals(at.param, "kill")) {
        out = AttachAction::Kill;
    } else {
        at.warn("invalid action");
        out = fallback;
    }
}

}  // namespace

void kw_HeaderInfo(const ConfigLine& at) {
    if (!has_blank(at.param)) return at.warn("HeaderInfo misses parameter");
    GatewayConfig& c = mutable_config();
    std::string_view rest = at.param;
    std::string_view choice = split_param(rest);
    if (iequals(choice, "Name")) {
        c.HeaderInfo = HeaderChoice::Names;
    } else if (iequals(choice, "Email")) {
        c.HeaderInfo = HeaderChoice::Addresses;
    } else {
        return at.warn("HeaderInfo has invalid parameter");
    }
    bool body = false;
    parse_yes_no(rest, at, body);
    if (!body)
        c.HeaderInfoBody = BodyLines::None;
    else
        c.HeaderInfoBody = c.HeaderInfo == HeaderChoice::Names ? BodyLines::Addresses : BodyLines::Names;
}

void kw_NoSpamText(const ConfigLine& at) { copy_text_value(at.param, mutable_config().NoSpamText); }
void kw_DefCharSet(const ConfigLine& at) { copy_text_value(at.param, mutable_config().DefCharSet); }

void kw_CharSetMap(const ConfigLine& at) {
    auto& table = mutable_config().CharSetMap;
    if (table.full()) return at.warn("too many CharSetMap keywords");
    if (!has_blank(at.param)) return at.warn("CharSetMap misses parameter");
    std::string_view rest = at.param;
    std::string_view ftn = split_param(rest);
    std::string_view inet = rest;
    Direction direction = Direction::Both;
    std::optional<std::size_t> word = find_word("Export", rest);
    if (word) {
        direction = Direction::Export;
    } else if ((word = find_word("Import", rest))) {
        direction = Direction::Import;
    }
    if (word) {
        std::size_t end = *word;
        while (end > 0 && rest[end - 1] == ' ') --end;
        inet = rest.substr(0, end);
    }
    char* ftn_name = dup_text(ftn);
    char* inet_name = dup_text(inet);
    CharSetEntry* e = ftn_name && inet_name ? table.add() : nullptr;
    if (!e) {
        std::free(ftn_name);
        std::free(inet_name);
        return at.warn("out of memory");
    }
    e->ftn = ftn_name;
    e->inet = inet_name;
    e->direction = direction;
}

void kw_QuoteTo(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().QuoteTo); }

void kw_QuoteChar(const ConfigLine& at) {
    auto& table = mutable_config().QuoteChar;
    if (table.full()) return at.warn("too many QuoteChar keywords");
    if (!has_blank(at.param)) return at.warn("QuoteChar misses parameter");
    std::string_view rest = at.param;
    std::string_view quote = split_param(rest);
    // The letters range is optional; a blank after the column range makes
    // it present (possibly empty, and then invalid).
    std::size_t blank = rest.find(' ');
    std::string_view columns = rest.substr(0, blank);
    QuoteCharEntry q{};
    q.ch = std::uint8_t(quote.empty() ? ' ' : quote.front());
    if (!scan_range(columns, q.col_low, q.col_high)) return at.warn("QuoteChar has invalid parameter");
    if (blank != std::string_view::npos) {
        std::string_view letters = rest.substr(blank);
        while (!letters.empty() && letters.front() == ' ') letters.remove_prefix(1);
        if (!scan_range(letters, q.letters_low, q.letters_high)) return at.warn("QuoteChar has invalid parameter");
    }
    QuoteCharEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    *e = q;
}

void kw_QuoteMask(const ConfigLine& at) {
    auto& table = mutable_config().QuoteMask;
    if (table.full()) return at.warn("too many QuoteMask keywords");
    if (!table.add(at.param)) at.warn("out of memory");
}

void kw_SeparateMSG(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().SeparateMSG); }

void kw_LineWidth(const ConfigLine& at) {
    auto& width = mutable_config().LineWidth;
    parse_short_number(at.param, at, width);
    if (width < 20) {
        at.warn("line width too small");
        width = 20;
    } else if (width > 199) {
        at.warn("line width too large");
        width = 199;
    }
}

void kw_UseQP(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().UseQP); }
void kw_Origin(const ConfigLine& at) { copy_text_value(at.param, mutable_config().Origin); }
void kw_Organization(const ConfigLine& at) { copy_text_value(at.param, mutable_config().Organization); }

void kw_StripKludges(const ConfigLine& at) {
    std::string_view rest = at.param;
    bool has_category = has_blank(rest);
    std::string_view setting = split_param(rest);
    StripMode mode = StripMode::No;
    if (iequals(setting, "Yes")) {
        mode = StripMode::Yes;
    } else if (iequals(setting, "No")) {
        mode = StripMode::No;
    } else if (iequals(setting, "Some")) {
        mode = StripMode::Some;
    } else {
        at.warn("unknown StripKludges setting");
    }
    StripMode* kinds = mutable_config().StripKludges;
    if (!has_category || iequals(rest, "All")) {
        kinds[0] = kinds[1] = kinds[2] = mode;
    } else if (iequals(rest, "Email")) {
        kinds[0] = mode;
    } else if (iequals(rest, "News")) {
        kinds[1] = mode;
    } else if (iequals(rest, "List")) {
        kinds[2] = mode;
    } else {
        at.warn("unknown StripKludges category");
    }
}

void kw_StrictFidoMsgID(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().StrictFidoMsgID); }

void kw_KillOrigin(const ConfigLine& at) {
    auto& k = mutable_config().KillOrigin;
    if (iequals(at.param, "Yes")) {
        k = KillOriginMode::Yes;
    } else if (iequals(at.param, "No")) {
        k = KillOriginMode::No;
    } else if (iequals(at.param, "Email")) {
        k = KillOriginMode::Email;
    } else {
        at.warn("invalid KillOrigin parameter");
    }
}

void kw_TimeZone(const ConfigLine& at) { copy_text_value(at.param, mutable_config().TimeZone); }

void kw_AttachMail(const ConfigLine& at) { set_attach(at, mutable_config().Attach[0], AttachAction::Decode); }
void kw_AttachNews(const ConfigLine& at) { set_attach(at, mutable_config().Attach[1], AttachAction::Ignore); }

void kw_EncodeFormat(const ConfigLine& at) {
    auto& f = mutable_config().EncodeFormat;
    if (iequals(at.param, "MIME")) {
        f = EncodeKind::Mime;
    } else if (iequals(at.param, "UU")) {
        f = EncodeKind::UU;
    } else {
        at.warn("invalid format");
        f = EncodeKind::Mime;
    }
}

void kw_ExportMaxTo(const ConfigLine& at) { parse_short_number(at.param, at, mutable_config().ExportMaxTo); }
void kw_ExportMaxXPost(const ConfigLine& at) { parse_short_number(at.param, at, mutable_config().ExportMaxXPost); }

}  // namespace tw
