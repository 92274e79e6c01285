#include "driver/helpers.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "platform/platform.h"
#include "platform/text.h"

namespace tw {

namespace {

// t[0] is the usual byte table; t[k][i] is the CRC of byte i followed by k
// zero bytes, so that eight bytes go in one step.
struct Crc32Table {
    std::uint32_t t[8][256];
    constexpr Crc32Table() : t{} {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    }
};
constexpr Crc32Table kCrcTable;

// Where the last search of a name pattern ended. A run hands out many names
// of one pattern; starting each search there keeps the work linear. The
// names below it were all taken when last looked at.
std::map<std::string, unsigned long>& hints() {
    static std::map<std::string, unsigned long> h;
    return h;
}

}  // namespace

void reset_name_hints() {
    hints().clear();
    platform::forget_listings();
}

std::uint32_t crc32_text(const void* data, std::size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const auto& t = kCrcTable.t;
    std::uint32_t c = 0xFFFFFFFFu;
    std::size_t i = 0;
    // Kludge lines are read on every exported message: eight bytes a step.
    for (; i + 8 <= n; i += 8) {
        std::uint32_t lo = c ^ (std::uint32_t(p[i]) | std::uint32_t(p[i + 1]) << 8 | std::uint32_t(p[i + 2]) << 16 |
                                std::uint32_t(p[i + 3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[i + 4]] ^
            t[2][p[i + 5]] ^ t[1][p[i + 6]] ^ t[0][p[i + 7]];
    }
    for (; i < n; ++i) c = t[0][(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void append_decimal(std::string& out, unsigned long v, int min_digits) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < int(sizeof digits));
    for (int i = n; i < min_digits; ++i) out += '0';
    while (n > 0) out += digits[--n];
}

int day_of_week(int year, int month, int day) {
    static const int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 1 || month > 12) month = 1;
    int y = year;
    if (month < 3) y -= 1;
    int r = (y + y / 4 - y / 100 + y / 400 + t[month - 1] + day) % 7;
    return r < 0 ? r + 7 : r;
}

bool contains_text(std::string_view needle, std::string_view text) {
    if (needle.empty() || needle.size() > text.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (iequals(text.substr(i, needle.size()), needle)) return true;
    return false;
}

bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
}

std::optional<std::size_t> find_word(std::string_view word, std::string_view text) {
    if (word.empty() || word.size() > text.size()) return std::nullopt;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (!iequals(text.substr(i, word.size()), word)) continue;
        if (i > 0 && is_word_char(text[i - 1])) continue;
        std::size_t after = i + word.size();
        if (after < text.size() && is_word_char(text[after])) continue;
        return i;
    }
    return std::nullopt;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}


void trim_blanks(char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && is_space(text[n - 1])) --n;
    text[n] = 0;
    std::size_t start = 0;
    while (start < n && is_space(text[start])) ++start;
    if (start) std::memmove(text, text + start, n - start + 1);
}

std::string_view trim_view(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

bool is_ftn_mail_name(std::string_view name) {
    std::size_t n = name.size();
    if (n <= 4 || name[n - 4] != '.') return false;
    std::string_view ext = name.substr(n - 4);
    if (iequals(ext.substr(0, 3), ".pk")) return true;
    if (!is_hex_digit(name[n - 1])) return false;
    if (name.find('*') == std::string_view::npos) {
        if (n < 12) return false;
        for (std::size_t i = n - 12; i < n - 4; ++i)
            if (!is_hex_digit(name[i])) return false;
    }
    static const char* const days[] = {"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa"};
    for (const char* d : days)
        if (iequals(name.substr(n - 3, 2), d)) return true;
    return false;
}

int same_base_name(std::string_view a, std::string_view b) {
    return icompare(a.substr(platform::file_name_pos(a)), b.substr(platform::file_name_pos(b)));
}

bool file_exists(std::string_view path) { return platform::name_taken(path); }

unsigned long make_counter_name(std::string_view prefix, std::string_view suffix, std::string& out) {
    std::string key = "c|" + std::string(prefix) + "|" + std::string(suffix);
    unsigned long counter = hints()[key];
    char num[32];
    for (;; ++counter) {
        std::snprintf(num, sizeof num, "%08lx", counter);
        out.assign(prefix);
        out += num;
        out += suffix;
        if (!file_exists(out)) break;
    }
    hints()[key] = counter;
    return counter;
}

std::optional<std::uint16_t> make_numbered_name(std::string_view dir, std::string_view name,
                                                std::string_view suffix, std::string& out) {
    std::string key = "n|" + std::string(dir) + "|" + std::string(name) + "|" + std::string(suffix);
    unsigned long counter = hints()[key];
    char num[16];
    for (; counter <= 0xFFFF; ++counter) {
        std::snprintf(num, sizeof num, "%04lx", counter);
        out.assign(dir);
        out += name;
        out += num;
        out += suffix;
        if (!file_exists(out)) {
            hints()[key] = counter;
            return std::uint16_t(counter);
        }
    }
    hints()[key] = 0x10000;
    return std::nullopt;
}

bool make_free_variant(std::string& path) {
    if (path.empty()) return true;
    std::size_t pos = path.size() - 1;
    while (file_exists(path)) {
        char c = path[pos];
        if (c == '\\' || c == '/') return false;
        if (c < '0' || c > '9') {
            path[pos] = '0';
        } else if (c < '9') {
            path[pos] = char(c + 1);
        } else {
            if (pos == 0) return false;
            --pos;
            if (path[pos] == '.') {
                if (pos == 0) return false;
                --pos;
            }
            if (path[pos] == '\\' || path[pos] == '/') return false;
        }
    }
    return true;
}

bool make_wildcard_name(std::string& path, std::size_t name_pos) {
    if (name_pos > path.size()) name_pos = path.size();
    std::string_view name = std::string_view(path).substr(name_pos);
    if (name.find('*') == std::string_view::npos) return false;
    std::string ext;
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) ext = std::string(name.substr(dot + 1, 7));
    if (dot == std::string_view::npos || ext.find('*') != std::string::npos) ext = "ATT";
    std::string dir = path.substr(0, name_pos);
    std::string key = "w|" + dir + "|" + ext;
    unsigned long counter = hints()[key];
    char num[32];
    for (;; ++counter) {
        std::snprintf(num, sizeof num, "%08lx.", counter);
        path = dir + num + ext;
        if (!file_exists(path)) break;
    }
    hints()[key] = counter;
    return true;
}

std::uint16_t leading_number(const char* p, const char* end, bool* any, bool* fits) {
    unsigned long v = 0;
    bool got = false;
    bool ok = true;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        got = true;
        v = v * 10 + unsigned(*p - '0');
        if (v > 0xFFFF) {
            v = 0xFFFF;
            ok = false;
        }
    }
    if (any) *any = got;
    if (fits) *fits = ok;
    return std::uint16_t(v);
}

}  // namespace tw
