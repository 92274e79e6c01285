#include "rfc822/header.h"

#include <cstring>

#include "driver/helpers.h"

namespace tw {

namespace {

constexpr std::size_t kFieldChars = 127;

bool is_address_delimiter(char c) {
    return c == 0 || c == '\t' || c == ' ' || c == '(' || c == ')' || c == '<' || c == '>';
}

bool is_id_start_stop(char c) { return c == ' ' || c == '\t' || c == '<' || c == '(' || c == '"'; }

bool is_id_end_stop(char c) { return c == 0 || c == ' ' || c == '\t' || c == '>' || c == ')' || c == '"'; }

bool is_blank_or_tab(char c) { return c == ' ' || c == '\t'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Copies at most `limit` bytes of [from, to) into a 128-byte field buffer.
void copy_region(char (&dst)[128], const char* from, const char* to) {
    std::size_t n = std::size_t(to - from);
    if (n > kFieldChars) n = kFieldChars;
    std::memcpy(dst, from, n);
    dst[n] = 0;
}

void append_recipient(AddressKind kind, const char* address) {
    RecipientList& list = recipients();
    RecipientEntry& e = list.entries[list.count++];
    e.kind = RecipientKind(std::uint8_t(kind));
    e.address.assign(address);
    e.name.clear();
}

}  // namespace

void unescape_text(char* text) {
    char* r = text;
    char* w = text;
    while (*r) {
        if (*r == '\\') {
            ++r;
            if (!*r) break;  // a final backslash escapes nothing
            *w++ = (*r == ' ') ? kEscapedBlank : *r;
            ++r;
        } else {
            *w++ = *r++;
        }
    }
    *w = 0;
}

void restore_blanks(char* text) {
    for (; *text; ++text)
        if (*text == kEscapedBlank) *text = ' ';
}

void unquote(char* text) {
    std::size_t n = std::strlen(text);
    std::size_t a = 0;
    while (n - a > 1 && (text[a] == '"' || text[a] == '\'') && text[n - 1] == text[a]) {
        ++a;
        --n;
    }
    if (a) {
        std::memmove(text, text + a, n - a);
        text[n - a] = 0;
    }
}

void parse_address_list(char* value, Field* first_address, Field* first_name, AddressKind kind) {
    unescape_text(value);
    const bool listed = kind == AddressKind::To || kind == AddressKind::Cc || kind == AddressKind::Bcc;
    char copy[128];
    char* elem = value;
    bool first = true;
    for (;;) {
        // Element end: the first top-level comma outside quotes.
        bool quoted = false;
        int depth = 0;
        char* p = elem;
        for (; *p; ++p) {
            char c = *p;
            if (c == '"' || c == '\'')
                quoted = !quoted;
            else if (c == '(' || c == '<')
                ++depth;
            else if (c == ')' || c == '>')
                --depth;
            else if (c == ',' && depth == 0 && !quoted)
                break;
        }
        const bool last = (*p == 0);
        *p = 0;
        char* const elem_end = p;

        RecipientEntry* entry = nullptr;
        char* stop = nullptr;  // where the address copy stopped
        if (char* at = std::strchr(elem, '@')) {
            char* s = at;
            while (s > elem && !is_address_delimiter(s[-1])) --s;
            if (s > elem) s[-1] = ' ';
            std::size_t n = 0;
            char* q = s;
            while (!is_address_delimiter(*q) && n < kFieldChars) {
                copy[n++] = *q;
                *q++ = ' ';
            }
            copy[n] = 0;
            unquote(copy);
            restore_blanks(copy);
            if (first && first_address) {
                first_address->assign(copy);
            } else if (listed && !recipients().full()) {
                append_recipient(kind, copy);
                entry = &recipients().entries[recipients().count - 1];
            }
            if (*q) *q = ' ';
            stop = q;
        }

        // Name: after the address when something follows it, else before.
        const char* from = nullptr;
        const char* to = nullptr;
        if (stop) {
            const char* t = stop;
            while (*t && is_space(*t)) ++t;
            if (*t) {
                from = stop;
                to = elem_end;
            }
        }
        if (!from) {
            const char* t = elem;
            while (*t && is_space(*t)) ++t;
            if (*t) {
                from = t;
                to = stop ? stop : elem_end;
            }
        }
        if (from) {
            while (from < to && (is_space(*from) || is_address_delimiter(*from))) ++from;
            while (to > from && (is_space(to[-1]) || is_address_delimiter(to[-1]))) --to;
            if (from < to) {
                copy_region(copy, from, to);
                unquote(copy);
                restore_blanks(copy);
                if (first && first_name) first_name->assign(copy);
                if (entry) entry->name.assign(copy);
            }
        }

        if (last) break;
        elem = elem_end + 1;
        first = false;
    }
}

void extract_message_id(char* value, Field& out, bool last_at) {
    unescape_text(value);
    char* at = last_at ? std::strrchr(value, '@') : std::strchr(value, '@');
    if (!at) return;
    char* s = at;
    while (s > value && !is_id_start_stop(s[-1])) --s;
    char* e = at;
    while (!is_id_end_stop(*e)) ++e;
    char buf[128];
    copy_region(buf, s, e);
    restore_blanks(buf);
    out.assign(buf);
}

void trim_field_into(std::string_view value, char* out, std::size_t cap) {
    std::size_t a = 0, b = value.size();
    while (a < b && is_blank_or_tab(value[a])) ++a;
    while (b > a && is_blank_or_tab(value[b - 1])) --b;
    if (a == b || cap == 0) return;
    std::size_t n = b - a;
    if (n > kFieldChars) n = kFieldChars;
    if (n > cap - 1) n = cap - 1;
    std::memcpy(out, value.data() + a, n);
    out[n] = 0;
    restore_blanks(out);
}

void split_newsgroups(char* value, std::string_view area_newsgroup) {
    CrosspostList& list = crossposts();
    char* elem = value;
    for (;;) {
        char* comma = std::strchr(elem, ',');
        if (comma) *comma = 0;
        Field scratch;
        scratch.clear();
        trim_field(std::string_view(elem), scratch);
        trim_blanks(scratch.data());
        if (!scratch.empty() && !iequals(scratch.view(), area_newsgroup) && !list.full())
            list.names[list.count++].assign(scratch.view());
        if (!comma) break;
        *comma = ',';
        elem = comma + 1;
    }
}

void parse_date(char* value, MessageDate& date, Field* zone) {
    unescape_text(value);
    date = MessageDate{1, 0, 1970, 0, 0, 0};
    if (zone) zone->clear();

    char* p = value;
    if (char* comma = std::strchr(value, ',')) {
        std::ptrdiff_t at = comma - value;
        if (at >= 3 && at <= 12) p = comma + 1;
    }

    // Next token [tok, p); true when it is the last one of the value.
    const char* tok = nullptr;
    auto next = [&]() {
        while (is_blank_or_tab(*p)) ++p;
        tok = p;
        while (*p && !is_blank_or_tab(*p)) ++p;
        return *p == 0;
    };

    if (next()) return;
    date.day = leading_number(tok, p);

    if (next()) return;
    if (p - tok >= 3) {
        for (std::uint16_t m = 0; m < 12; ++m)
            if (iequals(std::string_view(tok, 3), kMonthNames[m])) {
                date.month = m;
                break;
            }
    }

    if (next()) return;
    std::uint16_t year = leading_number(tok, p);
    if (year < 70)
        year = std::uint16_t(year + 2000);
    else if (year < 100)
        year = std::uint16_t(year + 1900);
    date.year = year;

    bool last = next();
    // "%hu:%hu:%hu" over the time token alone.
    const char* t = tok;
    std::uint16_t* parts[3] = {&date.hour, &date.minute, &date.second};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (t >= p || *t != ':') break;
            ++t;
        }
        bool any = false;
        const char* d = t;
        while (d < p && is_digit(*d)) ++d;
        std::uint16_t v = leading_number(t, p, &any);
        if (!any) break;
        *parts[i] = v;
        t = d;
    }

    if (zone && !last) {
        while (is_blank_or_tab(*p)) ++p;
        zone->assign(p);
        restore_blanks(zone->data());
    }
}

void parse_date(char* value, CurrentMessage& msg) {
    parse_date(value, msg.date, &msg.zone_text);
}

}  // namespace tw
