#include "bridge/config.h"

#include <cstdlib>
#include <fstream>

#include "bridge/util.h"
#include "platform/text.h"

namespace twsoup {

namespace {

std::string trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    std::size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

bool parse_number(const std::string& v, long long lo, long long hi, long long& out) {
    if (v.empty()) return false;
    char* end = nullptr;
    long long n = std::strtoll(v.c_str(), &end, 10);
    if (*end != 0 || n < lo || n > hi) return false;
    out = n;
    return true;
}

bool parse_endpoint(const std::string& v, Endpoint& e) {
    std::size_t colon = v.rfind(':');
    e.host = v.substr(0, colon);
    e.port = 119;
    if (colon != std::string::npos) {
        long long p;
        if (!parse_number(v.substr(colon + 1), 1, 65535, p)) return false;
        e.port = int(p);
    }
    return !e.host.empty();
}

std::string as_dir(std::string v) {
    if (!v.empty() && v.back() != '/') v += '/';
    return v;
}

}  // namespace

bool load_config(const std::string& path, BridgeConfig& cfg) {
    std::ifstream in(path);
    if (!in) {
        error("Cannot read configuration file %s\n", path.c_str());
        return false;
    }
    bool ok = true;
    std::string raw;
    long line_no = 0;
    while (std::getline(in, raw)) {
        ++line_no;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        std::size_t sp = line.find_first_of(" \t");
        std::string key = line.substr(0, sp);
        std::string value = sp == std::string::npos ? std::string() : trim(line.substr(sp));
        auto bad = [&](const char* why) {
            error("%s in line %ld of %s\n", why, line_no, path.c_str());
            ok = false;
        };
        auto is = [&](const char* k) { return tw::iequals(key, k); };
        long long n = 0;
        if (value.empty()) {
            bad("Missing value");
        } else if (is("SoupDir")) {
            cfg.soup_dir = as_dir(value);
        } else if (is("LockWait")) {
            if (parse_number(value, 0, 86400, n)) cfg.lock_wait = int(n); else bad("Bad number");
        } else if (is("Maildir")) {
            cfg.maildirs.push_back(as_dir(value));
        } else if (is("MaildirDone")) {
            cfg.maildir_done = value;
        } else if (is("Mbox")) {
            cfg.mboxes.push_back(value);
        } else if (is("MboxDone")) {
            cfg.mbox_done = value;
        } else if (is("RnewsDir")) {
            cfg.rnews_dirs.push_back(as_dir(value));
        } else if (is("RnewsDone")) {
            cfg.rnews_done = value;
        } else if (is("MailArea")) {
            if (value.find_first_of("\t") != std::string::npos) bad("Bad area name"); else cfg.mail_area = value;
        } else if (is("MaxMessageSize")) {
            // Binary framing holds at most 2^31-1 bytes a message.
            if (parse_number(value, 1024, 0x7fffffffLL, n)) cfg.max_message = n; else bad("Bad number");
        } else if (is("NntpServer")) {
            if (!parse_endpoint(value, cfg.nntp)) bad("Bad server");
        } else if (is("NewsGroup")) {
            for (auto& g : split_groups(value)) cfg.groups.push_back(g);
        } else if (is("NntpState")) {
            cfg.state_file = value;
        } else if (is("NntpUser")) {
            cfg.nntp_user = value;
        } else if (is("NntpPassword")) {
            cfg.nntp_password = value;
        } else if (is("NntpTimeout")) {
            if (parse_number(value, 1, 3600, n)) cfg.timeout = int(n); else bad("Bad number");
        } else if (is("NewGroupArticles")) {
            if (parse_number(value, 0, 1000000000, n)) cfg.first_articles = long(n); else bad("Bad number");
        } else if (is("Sendmail")) {
            cfg.sendmail = value;
        } else if (is("NewsCommand")) {
            cfg.news_command = value;
        } else if (is("PostServer")) {
            if (!parse_endpoint(value, cfg.post)) bad("Bad server");
        } else if (is("RefusedDir")) {
            cfg.refused_dir = as_dir(value);
        } else if (is("CommandTimeout")) {
            if (parse_number(value, 1, 86400, n)) cfg.command_timeout = int(n); else bad("Bad number");
        } else {
            bad("Unknown keyword");
        }
    }
    if (cfg.soup_dir.empty()) {
        error("No SoupDir in %s\n", path.c_str());
        ok = false;
    }
    if (!cfg.post.set()) cfg.post = cfg.nntp;
    if (cfg.state_file.empty()) cfg.state_file = cfg.soup_dir + ".tarnwick-soup.state";
    if (cfg.refused_dir.empty()) cfg.refused_dir = cfg.soup_dir + "refused/";
    return ok;
}

}  // namespace twsoup
