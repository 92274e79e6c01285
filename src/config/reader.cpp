#include "config/reader.h"

#include <cstdio>
#include <cstdlib>

#include "config/keywords.h"
#include "driver/output.h"
#include "platform/platform.h"

namespace tw {

GatewayConfig* g_config = nullptr;
JunkCategory g_junk_category = JunkCategory::All;

namespace {
int g_include_depth = 0;
// Files an Include read since the main file was opened. A file that
// includes itself twice would otherwise be read 2^16 times.
int g_include_count = 0;
constexpr int kMaxIncludeFiles = 256;
}

char* dup_text(std::string_view s) {
    char* t = static_cast<char*>(std::malloc(s.size() + 1));
    if (!t) return nullptr;
    if (!s.empty()) std::memcpy(t, s.data(), s.size());
    t[s.size()] = 0;
    return t;
}

void ConfigLine::warn(const char* message) const { config_warning(message, line, file); }

void set_config_defaults(GatewayConfig& c) {
    c.EmailArea = "NETMAIL";
    c.OwnOrgArea = "ARCHIVES";
    c.JunkArea = "JUNKMAIL";
    c.HeaderInfo = HeaderChoice::Names;
    c.HeaderInfoBody = BodyLines::None;
    c.DefCharSet = "us-ascii";
    c.SeparateMSG = true;
    c.LineWidth = 72;
    c.UseQP = true;
    c.KillOrigin = KillOriginMode::No;
    c.Attach[0] = AttachAction::Decode;
    c.Attach[1] = AttachAction::Ignore;
    c.EncodeFormat = EncodeKind::Mime;
    c.OwnOrgAction = FilterAction::Ignore;
    c.JunkAction = FilterAction::Ignore;
    c.MailerType = MailerKind::None;
}

void reset_config() {
    // Tests only. The record keeps its place, so references to it stay
    // valid; the entries of the earlier record are freed.
    if (!g_config) g_config = static_cast<GatewayConfig*>(std::calloc(1, sizeof(GatewayConfig)));
    if (!g_config) std::abort();
    GatewayConfig& c = *g_config;
    c.AddrMap.release();
    c.FidoDomain.release([](FidoDomainEntry& e) { std::free(e.domain); });
    c.AreaMap.release();
    c.Route.release();
    c.Alias.release();
    c.CharSetMap.release([](CharSetEntry& e) {
        std::free(e.ftn);
        std::free(e.inet);
    });
    c.QuoteChar.release();
    c.QuoteMask.release();
    auto pattern = [](PatternEntry& e) { std::free(e.text); };
    c.JunkFrom.release(pattern);
    c.JunkSubj.release(pattern);
    c.JunkStr.release(pattern);
    c.JunkGroup.release(pattern);
    c.IgnoreMessageText.release();
    c.AttachPath.release();
    c.MailingList.release();
    std::memset(static_cast<void*>(g_config), 0, sizeof(GatewayConfig));
    set_config_defaults(*g_config);
    g_junk_category = JunkCategory::All;
    g_include_depth = 0;
}

std::string program_directory(std::string_view program_path) {
    std::string_view p = program_path.substr(0, 259);
    return std::string(p.substr(0, platform::file_name_pos(p)));
}

std::string config_file_path(std::string_view name, std::string_view program_path) {
    if (name.find('\\') != std::string_view::npos || name.find('/') != std::string_view::npos)
        return std::string(name);
    return program_directory(program_path) + std::string(name);
}

std::string_view split_param(std::string_view& rest) {
    std::size_t blank = rest.find(' ');
    std::string_view first = rest.substr(0, blank);
    if (blank == std::string_view::npos) {
        rest = std::string_view();
    } else {
        rest.remove_prefix(blank);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    }
    return first;
}

int scan_ftn_address(std::string_view value, FtnAddress& out) {
    out = FtnAddress{};
    std::string v(value.substr(0, 255));
    int n = std::sscanf(v.c_str(), "%hu:%hu/%hu.%hu", &out.zone, &out.net, &out.node, &out.point);
    return n < 0 ? 0 : n;
}

void parse_ftn_address(std::string_view value, const ConfigLine& at, FtnAddress& out) {
    if (scan_ftn_address(value, out) < 3) at.warn("invalid FTN address");
}

void parse_email_address(std::string_view value, const ConfigLine& at, Text<128>& out) {
    out.assign(value);
    if (out.view().find('@') == std::string_view::npos) at.warn("invalid email address");
}

void parse_yes_no(std::string_view value, const ConfigLine& at, bool& out) {
    if (iequals(value, "Yes")) {
        out = true;
    } else if (iequals(value, "No")) {
        out = false;
    } else {
        at.warn("invalid Yes/No parameter");
        out = false;
    }
}

void parse_directory(std::string_view value, Text<260>& out) {
    out.assign(value);
    std::size_t n = out.size();
    // An empty value stays empty: there is no directory to end.
    if (n == 0 || n >= out.capacity) return;
    std::string dir(out.view());
    platform::append_separator(dir);
    out.assign(dir);
}

void parse_short_number(std::string_view value, const ConfigLine& at, std::uint16_t& out) {
    out = 0;
    std::string v(value.substr(0, 255));
    if (std::sscanf(v.c_str(), "%hu", &out) != 1) {
        out = 0;
        at.warn("invalid number");
    }
}

void parse_long_number(std::string_view value, const ConfigLine& at, std::uint32_t& out) {
    out = 0;
    std::string v(value.substr(0, 255));
    unsigned long n = 0;
    if (std::sscanf(v.c_str(), "%lu", &n) != 1) {
        at.warn("invalid number");
        return;
    }
    out = std::uint32_t(n);
}

bool read_config_file(std::string_view name, std::string_view program_path) {
    std::string path = config_file_path(name, program_path);
    platform::File file;
    if (!file.open(path, platform::OpenMode::Read, platform::Share::All, true)) {
        error_printf("Error: can't read %s\n", path.c_str());
        return false;
    }
    if (g_include_depth == 0) g_include_count = 0;
    ++g_include_depth;
    char buffer[256];
    long line = 0;
    // One read takes at most 254 characters, the line feed included.
    while (file.read_line(buffer, 255) > 0) {
        ++line;
        std::string_view text(buffer, std::strlen(buffer));
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
        if (text.empty() || text.front() == ';') continue;
        std::string_view rest = text;
        std::string_view keyword = split_param(rest);
        ConfigLine at{rest, line, path, program_path};
        const KeywordEntry* hit = nullptr;
        for (int i = 0; i < kKeywordCount; ++i) {
            if (iequals(keyword, kKeywordTable[i].name)) {
                hit = &kKeywordTable[i];
                break;
            }
        }
        if (!hit) {
            at.warn("unknown keyword");
            continue;
        }
        hit->handler(at);
    }
    --g_include_depth;
    return true;
}

void kw_Include(const ConfigLine& at) {
    if (g_include_depth >= kMaxIncludeDepth || ++g_include_count > kMaxIncludeFiles) {
        at.warn("Include nested too deeply");
        return;
    }
    // An unreadable included file is already reported; the rest still counts.
    (void)read_config_file(at.param, at.program);
}

}  // namespace tw
