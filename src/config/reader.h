// The configuration file reader and the value parsers shared by all keywords.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/config.h"
#include "platform/text.h"

namespace tw {

// One configuration line as a keyword handler sees it.
struct ConfigLine {
    std::string_view param;    // parameter text: after the keyword's blanks, to the end
    long line;                 // line number in its own file
    std::string_view file;     // path of the file as it was opened
    std::string_view program;  // the program's own path
    void warn(const char* message) const;
};

using KeywordHandler = void (*)(const ConfigLine&);

struct KeywordEntry {
    const char* name;
    KeywordHandler handler;
};

// The 60 keywords in table order.
extern const KeywordEntry kKeywordTable[];
extern const int kKeywordCount;

// True when the file was opened and read to its end, false when it could
// not be opened ("Error: can't read %s" already written).
bool read_config_file(std::string_view name, std::string_view program_path);

// ProgramDirectory: the program path cut after its last '\' (or '/').
std::string program_directory(std::string_view program_path);
// A bare name goes into ProgramDirectory; a name with a separator is kept.
std::string config_file_path(std::string_view name, std::string_view program_path);

// Include nesting bound: deeper files are refused with a warning, so a file
// that includes itself ends instead of running forever.
inline constexpr int kMaxIncludeDepth = 16;

// Parameter splitting: returns the text up to the next blank and moves
// rest past it and the run of blanks that follows.
std::string_view split_param(std::string_view& rest);
inline bool has_blank(std::string_view s) { return s.find(' ') != std::string_view::npos; }

// Value parsers; each warns through the line it is given.
void parse_ftn_address(std::string_view value, const ConfigLine& at, FtnAddress& out);
void parse_email_address(std::string_view value, const ConfigLine& at, Text<128>& out);
void parse_yes_no(std::string_view value, const ConfigLine& at, bool& out);
void parse_directory(std::string_view value, Text<260>& out);
void parse_short_number(std::string_view value, const ConfigLine& at, std::uint16_t& out);
void parse_long_number(std::string_view value, const ConfigLine& at, std::uint32_t& out);
template <std::size_t N>
void copy_text_value(std::string_view value, Text<N>& out) {
    out.assign(value);
}

// The hosted lists load the file a ListConfig line names through this hook,
// set at start-up, so that the reader needs nothing from the layers above
// it. Without a loader the lines are counted and their files not read.
struct ListConfigLoader {
    int (*count)();  // lists loaded so far
    // True when the list was added; warnings name the list file.
    bool (*load)(std::string_view name, long line, std::string_view config_path, std::string_view program_path);
};
void set_list_config_loader(const ListConfigLoader& loader);

// FTN address from any text ("%hu:%hu/%hu.%hu"): the count of numbers read.
int scan_ftn_address(std::string_view value, FtnAddress& out);

// The category the next junk pattern lines receive; carried across
// Include files, reset to All when a new reading starts (reset_config).
extern JunkCategory g_junk_category;

}  // namespace tw
