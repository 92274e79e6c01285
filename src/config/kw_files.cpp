// Keywords for directories, the mailer, the run log and run limits.
#include "config/keywords.h"
#include "platform/platform.h"

namespace tw {

void kw_MailerType(const ConfigLine& at) {
    auto& m = mutable_config().MailerType;
    if (iequals(at.param, "ArcMail")) {
        m = MailerKind::ArcMail;
    } else if (iequals(at.param, "Binkley")) {
        m = MailerKind::Binkley;
    } else {
        at.warn("invalid mailer type");
        m = MailerKind::None;
    }
}

void kw_InboundDir(const ConfigLine& at) { parse_directory(at.param, mutable_config().InboundDir); }
void kw_OutboundDir(const ConfigLine& at) { parse_directory(at.param, mutable_config().OutboundDir); }
void kw_NetmailDir(const ConfigLine& at) { parse_directory(at.param, mutable_config().NetmailDir); }
void kw_AttachPath(const ConfigLine& at) {
    auto& table = mutable_config().AttachPath;
    if (table.full()) return at.warn("too many AttachPath keywords");
    Text<260> dir;
    parse_directory(at.param, dir);
    if (dir.empty()) return at.warn("missing directory");
    table.add(dir.view());
}
void kw_SoupDir(const ConfigLine& at) { parse_directory(at.param, mutable_config().SoupDir); }
void kw_TempDir(const ConfigLine& at) { parse_directory(at.param, mutable_config().TempDir); }

void kw_DecodeDir(const ConfigLine& at) {
    GatewayConfig& c = mutable_config();
    c.DecodeAll = false;
    std::string_view dir = at.param;
    std::size_t blank = dir.find(' ');
    if (blank != std::string_view::npos) {
        std::string_view after = dir.substr(blank + 1);
        if (istarts_with(after, "ALL"))
            c.DecodeAll = true;
        else
            at.warn("invalid DecodeDir parameter");
        dir = dir.substr(0, blank);
    }
    parse_directory(dir, c.DecodeDir);
}

void kw_LogFile(const ConfigLine& at) {
    std::string_view value = at.param.substr(0, 259);
    if (value.find('\\') == std::string_view::npos && value.find('/') == std::string_view::npos) {
        std::string path = program_directory(at.program) + std::string(value);
        mutable_config().LogFile.assign(path);
    } else {
        mutable_config().LogFile.assign(value);
    }
}

void kw_QuickScan(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().QuickScan); }
void kw_ExportAllMail(const ConfigLine& at) { parse_yes_no(at.param, at, mutable_config().ExportAllMail); }
void kw_BaseZone(const ConfigLine& at) { parse_short_number(at.param, at, mutable_config().BaseZone); }

void kw_ImportLimit(const ConfigLine& at) {
    auto& v = mutable_config().ImportLimit;
    parse_long_number(at.param, at, v);
    if (v >= 1 && v <= 1023) {
        at.warn("limit too small");
        v = 2048;
    }
}

void kw_MaxPKTSize(const ConfigLine& at) {
    auto& v = mutable_config().MaxPKTSize;
    parse_long_number(at.param, at, v);
    if (v >= 1 && v <= 3) {
        at.warn("limit too small");
        v = 4;
    }
}

void kw_PacketPwd(const ConfigLine& at) {
    auto& p = mutable_config().PacketPwd;
    p.assign(at.param);
    p.to_upper();
}

}  // namespace tw
