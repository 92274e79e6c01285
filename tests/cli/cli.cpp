#include "cli/cli.h"

#include <unistd.h>

namespace twtest {

std::string banner_line1() { return "Tarnwick-DOS v1.05 - Fidonet/Internet gateway software\n"; }

std::string strip_banner(const std::string& out) {
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) return std::string();
        pos = nl + 1;
    }
    return out.substr(pos);
}

void CliTest::SetUp() {
    if (::symlink(TW_BINARY, dir.path("tarnwick").c_str()) != 0) FAIL() << "cannot link the binary";
    for (const char* d : {"in", "out", "soup", "tmp", "netmail"}) dir.mkdir(d);
}

RunResult CliTest::run(const std::vector<std::string>& args, const EnvChanges& env) {
    std::vector<std::string> argv{"./tarnwick"};
    argv.insert(argv.end(), args.begin(), args.end());
    EnvChanges e{{"TZ", std::nullopt}, {"TEMP", std::nullopt}};
    for (const auto& [k, v] : env) e[k] = v;
    return run_process(argv, dir.root(), e);
}

std::string CliTest::minimal_config() {
    return "FidoAddr 2:280/1\n"
           "AddrMap 2:280/1.1 joe@example.com Joe Sysop\n"
           "MailerType Binkley\n"
           "InboundDir in/\n"
           "OutboundDir out/\n"
           "SoupDir soup/\n"
           "TempDir tmp/\n";
}

void CliTest::write_config(const std::string& extra, const std::string& name) {
    dir.write(name, minimal_config() + extra);
}

}  // namespace twtest
