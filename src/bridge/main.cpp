// tarnwick-soup: connects the gateway's SOUP directory with a mail system
// (maildir, mbox, sendmail) and a news system (rnews batches, NNTP).
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/config.h"
#include "bridge/deliver.h"
#include "bridge/lock.h"
#include "bridge/pack.h"
#include "bridge/util.h"

namespace {

constexpr const char* kVersion = "1.05";

void usage() {
    std::printf(
        "Usage: tarnwick-soup [--config=FILE] COMMAND\n"
        "Commands:\n"
        "  pack      mail and news into the SOUP packet for \"tarnwick import\"\n"
        "  deliver   the SOUP reply packet to sendmail and the news server\n"
        "  cycle     deliver, then pack\n"
        "The configuration defaults to tarnwick-soup.cfg beside the program.\n"
        "Exit codes: 0 done, 1 bad command line or configuration, 2 something\n"
        "waits for the next run (see the \"! \" lines), 75 the SOUP directory is busy.\n");
}

std::string default_config() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "tarnwick-soup.cfg";
    std::string exe(buf, std::size_t(n));
    return exe.substr(0, exe.rfind('/') + 1) + "tarnwick-soup.cfg";
}

}  // namespace

int main(int argc, char** argv) {
    std::string config = default_config();
    std::string command;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--config=", 0) == 0) {
            config = a.substr(9);
        } else if ((a == "-c" || a == "--config") && i + 1 < argc) {
            config = argv[++i];
        } else if (a == "--version") {
            std::printf("tarnwick-soup %s\n", kVersion);
            return 0;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (command.empty() && (a == "pack" || a == "deliver" || a == "cycle")) {
            command = a;
        } else {
            usage();
            return 1;
        }
    }
    if (command.empty()) {
        usage();
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    twsoup::BridgeConfig cfg;
    if (!twsoup::load_config(config, cfg)) return 1;
    if (!twsoup::is_dir(cfg.soup_dir)) {
        twsoup::error("SoupDir %s is not a directory\n", cfg.soup_dir.c_str());
        return 1;
    }
    twsoup::SoupLock lock;
    if (!lock.acquire(cfg.soup_dir, cfg.lock_wait)) {
        if (lock.busy()) {
            twsoup::error("%s%s is held by another run; try again later\n", cfg.soup_dir.c_str(), twsoup::kLockName);
            return 75;
        }
        twsoup::error("Cannot lock %s%s: %s\n", cfg.soup_dir.c_str(), twsoup::kLockName, std::strerror(errno));
        return 2;
    }
    if (command == "deliver" || command == "cycle") twsoup::deliver_run(cfg);
    if (command == "pack" || command == "cycle") {
        long n = twsoup::pack_run(cfg);
        if (n >= 0) twsoup::note("%ld message(s) packed into %s\n", n, cfg.soup_dir.c_str());
    }
    return twsoup::error_count() ? 2 : 0;
}
