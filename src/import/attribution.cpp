#include "import/attribution.h"

#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "rfc822/header.h"

namespace tw {

namespace {

// Characters of non-quote text since the attribution line; kSettled once
// quoted text followed it.
constexpr std::int32_t kSettled = -1;
std::int32_t g_counter = 0;

// Bytes above 7Fh are taken as letters: they belong to the letters of
// whatever charset the name is written in.
bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (unsigned char)c >= 0x80;
}

bool is_quote_line(std::string_view line) {
    for (const QuoteCharEntry* q : config().QuoteChar) {
        std::size_t p = line.find(char(q->ch));
        if (p == std::string_view::npos || p < q->col_low || p > q->col_high) continue;
        int letters = 0;
        for (std::size_t i = 0; i < p; ++i) {
            if (is_space(line[i])) continue;
            if (!is_letter(line[i])) {
                letters = -1;
                break;
            }
            ++letters;
        }
        if (letters >= q->letters_low && letters <= q->letters_high) return true;
    }
    return false;
}

bool name_characters_ok(std::string_view name) {
    for (char c : name)
        if (!is_letter(c) && !std::strchr("'\".-, ", c)) return false;
    return true;
}

// The text after a newsgroup named as a whole word in the name (a lead-in
// such as "In comp.misc.tw Jane Doe wrote:"); false when none is named.
bool strip_lead_in(Field& name, std::string_view group) {
    auto at = find_word(group, name.view());
    if (!at) return false;
    std::string_view rest = name.view().substr(*at + group.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    Field out;
    out.assign(rest);
    name = out;
    if (name.size() < 3) name.clear();
    return true;
}

// Tries the attribution before the mask word at `word`; true when it gave a
// name or an address.
bool try_attribution(std::string_view line, std::size_t word) {
    CurrentMessage& m = message();
    std::size_t end = word;
    while (end > 0 && is_space(line[end - 1])) --end;
    if (end == 0) return false;
    std::size_t start = end;
    bool passed_at = false;
    while (start > 0 && end - start < 255) {
        char before = line[start - 1];
        if (before == ',' || before == ';' || before == '=') break;
        if (start >= 2 && is_space(before) && is_space(line[start - 2])) break;
        if (passed_at && (before == '>' || before == ')')) break;
        if (before == '@') passed_at = true;
        --start;
    }
    char text[256];
    std::size_t n = end - start;
    std::memcpy(text, line.data() + start, n);
    text[n] = 0;
    m.quoted_address.clear();
    m.quoted_name.clear();
    parse_address_list(text, &m.quoted_address, &m.quoted_name, AddressKind::Attribution);

    if (m.quoted_name.size() < 3 || !name_characters_ok(m.quoted_name)) m.quoted_name.clear();
    if (!m.quoted_name.empty() && !strip_lead_in(m.quoted_name, m.newsgroup)) {
        const CrosspostList& xp = crossposts();
        for (int i = 0; i < xp.count; ++i)
            if (strip_lead_in(m.quoted_name, xp.names[i])) break;
    }
    if (m.quoted_address.size() < 6) m.quoted_address.clear();
    if (m.quoted_name.empty() && m.quoted_address.empty()) return false;
    g_counter = std::int32_t(line.size() - end);
    return true;
}

}  // namespace

void start_attribution_scan() { g_counter = 0; }

void scan_attribution(std::string_view line) {
    if (g_counter == kSettled) return;
    CurrentMessage& m = message();
    bool quote = is_quote_line(line);
    if (!m.quoted_name.empty() || !m.quoted_address.empty()) {
        if (quote) {
            g_counter = kSettled;
            return;
        }
        g_counter += std::int32_t(line.size() > 32767 ? 32767 : line.size());
        if (g_counter > 72) {
            m.quoted_name.clear();
            m.quoted_address.clear();
            g_counter = 0;
        }
    }
    if (quote) return;
    const auto& masks = config().QuoteMask;
    for (int i = 0; i < masks.count; ++i) {
        auto at = find_word(masks[i], line);
        if (at && try_attribution(line, *at)) return;
    }
}

void end_attribution_scan() {
    if (g_counter == kSettled) return;
    CurrentMessage& m = message();
    m.quoted_name.clear();
    m.quoted_address.clear();
}

}  // namespace tw
