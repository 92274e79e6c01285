// Shared text, date and file-name helpers. They hold no state but for the
// name makers' memory of where their last search ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

std::uint32_t crc32_text(const void* data, std::size_t n);
inline std::uint32_t crc32_text(std::string_view s) { return crc32_text(s.data(), s.size()); }

// Appends v in decimal with at least min_digits digits, zero-padded: what
// "%0Nu" prints, for header lines built without a format string each.
void append_decimal(std::string& out, unsigned long v, int min_digits = 1);

// 0 (Sunday) to 6 (Saturday); month 1 to 12.
int day_of_week(int year, int month, int day);

bool contains_text(std::string_view needle, std::string_view text);
bool is_word_char(char c);
std::optional<std::size_t> find_word(std::string_view word, std::string_view text);

// Blank, tab, CR, LF, VT, FF. Inline: the import asks once a byte.
inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool is_hex_digit(char c);
void trim_blanks(char* text);
// Leading decimal digits of [p, end); 0 when there are none. Values past
// 16 bits saturate instead of wrapping.
std::uint16_t leading_number(const char* p, const char* end, bool* any = nullptr, bool* fits = nullptr);
std::string_view trim_view(std::string_view s);

bool is_ftn_mail_name(std::string_view name);
int same_base_name(std::string_view a, std::string_view b);
// Exact or case-blind, for the first-free-name searches below.
bool file_exists(std::string_view path);

// prefix + "%08lx" + suffix, first counter whose name does not exist.
unsigned long make_counter_name(std::string_view prefix, std::string_view suffix, std::string& out);
// dir + name + "%04x" + suffix; nullopt when all 65536 are taken.
std::optional<std::uint16_t> make_numbered_name(std::string_view dir, std::string_view name,
                                                std::string_view suffix, std::string& out);
// Changes characters from the end until the name is free; false when every
// variant exists (the last one tried is left in the path).
bool make_free_variant(std::string& path);
// Replaces a wildcard file-name part by "%08lx.ext"; false when no '*'.
bool make_wildcard_name(std::string& path, std::size_t name_pos);

// Forget where earlier searches ended (tests, or a new run in one process).
void reset_name_hints();

}  // namespace tw
