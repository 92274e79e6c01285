// tarnwick-dump: the command line. Picks the reader for each path by what
// it is: a directory with AREAS or REPLIES is a SOUP packet, any other
// directory is dumped file by file, a *.MSG file outside a SOUP packet is a
// stored message, anything else a packet.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/reader.h"
#include "tools/dump.h"

namespace {

using namespace tw;
using namespace tw::dump;

const char kUsage[] =
    "Usage: tarnwick-dump [options] PATH...\n"
    "       tarnwick-dump --config=FILE --outbound\n"
    "Shows FTN packets, stored *.MSG files and SOUP packets; reads only.\n"
    "  PATH              a packet, a *.MSG file, a SOUP directory (AREAS or\n"
    "                    REPLIES), or a directory of packets and *.MSG files\n"
    "  -c, --config=FILE read the gateway's configuration: packets are shown\n"
    "                    as for the gateway, a route or neither\n"
    "  -o, --outbound    the Binkley outbound of the configuration, as export\n"
    "                    scans it for the gateway and each route\n"
    "  -p, --packet      take every file as a packet\n"
    "  -m, --msg         take every file as a stored message\n"
    "  -n, --no-text     leave out message text lines (kludges, SEEN-BY and\n"
    "                    PATH stay)\n"
    "  -h, --help        this text\n"
    "  -V, --version     the version\n"
    "Exit status: 0 all read cleanly, 1 something damaged or unreadable,\n"
    "2 usage or configuration error.\n";

enum class Kind { Auto, Packet, Stored };

bool ends_with_ci(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && iequals(s.substr(s.size() - suffix.size()), suffix);
}

bool is_soup_dir(const std::string& dir) {
    std::string d = dir;
    if (d.empty() || (d.back() != '/' && d.back() != '\\')) d += '/';
    return platform::exists(d + "AREAS") || platform::exists(d + "REPLIES");
}

Outcome dump_file(const std::string& path, Kind kind, const Options& opt) {
    if (kind == Kind::Stored || (kind == Kind::Auto && ends_with_ci(path, ".msg"))) {
        // A SOUP message file is shown with its packet, framed as its index says.
        std::string dir = path.substr(0, platform::file_name_pos(path));
        if (kind == Kind::Auto && is_soup_dir(dir.empty() ? "." : dir)) {
            out("== %s: a message file of the SOUP packet in %s; shown with it\n\n", visible(path).c_str(),
                dir.empty() ? "." : visible(dir).c_str());
            return dump_soup(dir.empty() ? "." : dir, opt);
        }
        return dump_stored_message(path, opt);
    }
    return dump_packet(path, opt);
}

Outcome dump_path(const std::string& path, Kind kind, const Options& opt) {
    if (!platform::is_directory(path)) {
        if (!platform::exists(path)) {
            out("== %s\n! no such file or directory\n\n", visible(path).c_str());
            Outcome o;
            o.damaged = 1;
            return o;
        }
        return dump_file(platform::resolve_case(path), kind, opt);
    }
    if (kind == Kind::Auto && is_soup_dir(path)) return dump_soup(path, opt);
    std::string dir = path;
    if (dir.empty() || (dir.back() != '/' && dir.back() != '\\')) dir += '/';
    Outcome o;
    int files = 0;
    platform::list_directory(dir, "*", [&](const std::string& name) {
        bool wanted = kind != Kind::Auto || ends_with_ci(name, ".pkt") || ends_with_ci(name, ".msg");
        for (const char* ext : {".out", ".cut", ".dut", ".hut"}) wanted = wanted || ends_with_ci(name, ext);
        if (wanted && !platform::is_directory(dir + name)) {
            ++files;
            o.merge(dump_file(dir + name, kind, opt));
        }
        return true;
    });
    if (!files) out("== %s: no packets or *.MSG files\n\n", visible(dir).c_str());
    return o;
}

bool read_config(const char* name, const char* program) {
    reset_config();
    // The file named on the command line is taken as a path, as a shell user
    // expects; the names inside it are found as the gateway finds them.
    std::string path = name;
    if (path.find_first_of("/\\") == std::string::npos) path = "./" + path;
    return read_config_file(path, program);
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    Kind kind = Kind::Auto;
    bool outbound = false;
    const char* config_name = nullptr;
    std::vector<std::string> paths;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (options_end || a == "-" || a.empty() || a[0] != '-') {
            paths.emplace_back(a);
        } else if (a == "--") {
            options_end = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-V" || a == "--version") {
            std::puts("tarnwick-dump (Tarnwick 1.05)");
            return 0;
        } else if (a == "-c" || a == "--config") {
            if (++i == argc) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            config_name = argv[i];
        } else if (a.substr(0, 9) == "--config=") {
            config_name = argv[i] + 9;
        } else if (a == "-o" || a == "--outbound") {
            outbound = true;
        } else if (a == "-p" || a == "--packet") {
            kind = Kind::Packet;
        } else if (a == "-m" || a == "--msg") {
            kind = Kind::Stored;
        } else if (a == "-n" || a == "--no-text") {
            opt.text = false;
        } else {
            std::fprintf(stderr, "tarnwick-dump: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if ((paths.empty() && !outbound) || (outbound && !config_name)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (config_name) {
        if (!read_config(config_name, argc > 0 ? argv[0] : "")) return 2;
        opt.have_config = true;
    }

    Outcome all;
    if (outbound) all.merge(dump_outbound(opt));
    for (const std::string& p : paths) all.merge(dump_path(p, kind, opt));
    std::fflush(stdout);
    return all.damaged ? 1 : 0;
}
