#include "bridge/packer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "bridge/util.h"
#include "platform/platform.h"

namespace twsoup {

namespace {

std::string journal_path(const BridgeConfig& cfg) { return cfg.soup_dir + ".tarnwick-soup.journal"; }
std::string areas_path(const BridgeConfig& cfg) { return tw::platform::resolve_case(cfg.soup_dir + "AREAS"); }

std::set<std::string> areas_prefixes(const BridgeConfig& cfg) {
    std::set<std::string> out;
    std::ifstream in(areas_path(cfg), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) out.insert(line.substr(0, line.find('\t')));
    return out;
}

std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> f;
    std::size_t pos = 0;
    for (;;) {
        std::size_t tab = line.find('\t', pos);
        f.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos) break;
        pos = tab + 1;
    }
    return f;
}

long long file_size(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : 0;
}

// Adds from's bytes to to, which was base bytes long before. Done again
// after a run cut short, it neither doubles the kept mail nor leaves half
// a copy in front of the whole one. Copies in blocks: an mbox may be large.
bool append_once(const std::string& from, const std::string& to, long long base) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat fst, tst;
    int fd = -1;
    bool ok = ::fstat(in, &fst) == 0 && make_dirs(dir_of(to)) &&
              (fd = ::open(to.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) >= 0 && ::fstat(fd, &tst) == 0;
    static char a[65536], b[65536];
    if (ok && base >= 0 && tst.st_size > base) {
        long long have = std::min<long long>(tst.st_size - base, fst.st_size);
        bool ours = true;
        for (long long off = 0; ours && off < have;) {
            std::size_t n = std::size_t(std::min<long long>(sizeof a, have - off));
            ours = ::pread(in, a, n, off) == ssize_t(n) && ::pread(fd, b, n, base + off) == ssize_t(n) &&
                   std::memcmp(a, b, n) == 0;
            off += (long long)n;
        }
        if (ours && have == fst.st_size) {  // all there already
            ::close(in);
            return ::close(fd) == 0;
        }
        if (ours) ok = ::ftruncate(fd, base) == 0;  // ours, but cut short
    }
    ok = ok && ::lseek(fd, 0, SEEK_END) >= 0;
    while (ok) {
        ssize_t n = ::read(in, a, sizeof a);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = write_all(fd, std::string_view(a, std::size_t(n)));
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(in);
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    return ok;
}

// Carries out journal actions; each can be repeated without harm. False
// when one failed: the journal must then stay, or a source that was not
// moved aside would be packed a second time.
bool run_actions(const BridgeConfig& cfg, const std::vector<std::string>& actions) {
    bool ok = true;
    std::map<std::string, long long> marks;
    for (const auto& a : actions) {
        auto f = split_tabs(a);
        if (f[0] == "move" && f.size() == 3) {
            if (::access(f[1].c_str(), F_OK) != 0) continue;  // done before
            make_dirs(dir_of(f[2]));
            if (::rename(f[1].c_str(), f[2].c_str()) != 0) {
                error("Cannot move %s to %s: %s\n", f[1].c_str(), f[2].c_str(), std::strerror(errno));
                ok = false;
            }
        } else if (f[0] == "remove" && f.size() == 2) {
            if (::unlink(f[1].c_str()) != 0 && errno != ENOENT) {
                error("Cannot remove %s: %s\n", f[1].c_str(), std::strerror(errno));
                ok = false;
            }
        } else if (f[0] == "append" && (f.size() == 3 || f.size() == 4)) {
            if (::access(f[1].c_str(), F_OK) != 0) continue;
            if (!append_once(f[1], f[2], f.size() == 4 ? std::atoll(f[3].c_str()) : -1)) {
                error("Cannot add %s to %s: %s\n", f[1].c_str(), f[2].c_str(), std::strerror(errno));
                ok = false;
            } else if (::unlink(f[1].c_str()) != 0 && errno != ENOENT) {
                ok = false;
            }
        } else if (f[0] == "state" && f.size() == 3) {
            marks[f[1]] = std::atoll(f[2].c_str());
        }
    }
    if (!marks.empty()) {
        auto state = load_state(cfg.state_file);
        for (const auto& [g, n] : marks)
            if (n > state[g]) state[g] = n;
        if (!save_state(cfg.state_file, state)) {
            error("Cannot write %s\n", cfg.state_file.c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

std::map<std::string, long long> load_state(const std::string& path) {
    std::map<std::string, long long> state;
    std::ifstream in(path);
    std::string group;
    long long n;
    while (in >> group >> n) state[group] = n;
    return state;
}

bool save_state(const std::string& path, const std::map<std::string, long long>& state) {
    std::string text;
    for (const auto& [g, n] : state) text += g + " " + std::to_string(n) + "\n";
    return replace_file(path, text);
}

Packer::~Packer() {
    for (auto& [k, a] : areas_)
        if (a.fd >= 0) ::close(a.fd);
}

bool Packer::open_area(AreaFile& a) {
    std::set<std::string> taken = areas_prefixes(cfg_);
    for (auto& [k, other] : areas_) taken.insert(other.prefix);
    for (unsigned n = 1; n < 10000000; ++n) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%07u", n);
        std::string path = cfg_.soup_dir + prefix + ".msg";
        if (taken.count(prefix) || tw::platform::exists(path)) continue;
        // Named in the journal before it exists, so that a run that dies
        // before AREAS names the file leaves no stray file behind.
        std::string journal;
        for (const auto& key : order_) journal += "area\t" + areas_[key].prefix + "\n";
        journal += "area\t" + std::string(prefix) + "\n";
        if (!replace_file(journal_path(cfg_), journal)) {
            error("Cannot write %s\n", journal_path(cfg_).c_str());
            return false;
        }
        journal_written_ = true;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            error("Cannot create %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        a.prefix = prefix;
        a.path = path;
        a.fd = fd;
        return true;
    }
    error("No free message file name in %s\n", cfg_.soup_dir.c_str());
    return false;
}

bool Packer::add(bool news, const std::string& area, std::string message) {
    to_lf(message);
    if (message.size() > 0x7fffffffULL) return false;
    std::string key = std::string(news ? "n" : "m") + area;
    auto it = areas_.find(key);
    if (it == areas_.end()) {
        AreaFile a;
        a.news = news;
        if (!open_area(a)) return false;
        it = areas_.emplace(key, a).first;
        order_.push_back(key);
    }
    AreaFile& a = it->second;
    unsigned long n = message.size();
    char len[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    if (!write_all(a.fd, std::string_view(len, 4)) || !write_all(a.fd, message)) {
        error("Cannot write %s: %s\n", a.path.c_str(), std::strerror(errno));
        return false;
    }
    ++a.count;
    ++messages_;
    return true;
}

void Packer::move_after(const std::string& from, const std::string& to) { actions_.push_back("move\t" + from + "\t" + to); }
void Packer::remove_after(const std::string& path) { actions_.push_back("remove\t" + path); }
void Packer::append_after(const std::string& from, const std::string& to) {
    actions_.push_back("append\t" + from + "\t" + to);
}
void Packer::state_after(const std::string& group, long long high) {
    actions_.push_back("state\t" + group + "\t" + std::to_string(high));
}

bool Packer::commit() {
    std::string lines, journal;
    for (const auto& key : order_) {
        AreaFile& a = areas_[key];
        if (::fsync(a.fd) != 0 || ::close(a.fd) != 0) {
            a.fd = -1;
            error("Cannot write %s: %s\n", a.path.c_str(), std::strerror(errno));
            rollback();
            return false;
        }
        a.fd = -1;
        std::string name = key.substr(1);
        lines += a.prefix + "\t" + name + "\t" + (a.news ? "Bn" : "bn") + "\n";
        journal += "area\t" + a.prefix + "\n";
    }
    // An append notes the size its target has before it (targets may
    // repeat), so that doing it again after a crash is harmless.
    std::map<std::string, long long> sizes;
    for (auto& act : actions_) {
        if (act.rfind("append\t", 0) != 0) continue;
        auto f = split_tabs(act);
        auto it = sizes.find(f[2]);
        if (it == sizes.end()) it = sizes.emplace(f[2], file_size(f[2])).first;
        // Two appends, not "\t" + to_string(): g++ 12 at -O3 warns falsely on that.
        act += '\t';
        act += std::to_string(it->second);
        it->second += file_size(f[1]);
    }
    for (const auto& act : actions_) journal += act + "\n";
    if (lines.empty() && actions_.empty()) return true;

    if (!replace_file(journal_path(cfg_), journal)) {
        error("Cannot write %s\n", journal_path(cfg_).c_str());
        ::unlink((journal_path(cfg_) + ".new").c_str());
        rollback();
        return false;
    }
    if (!lines.empty()) {
        // One append of all lines; on failure AREAS is cut back to what it
        // was, so the gateway never sees half a line.
        std::string path = areas_path(cfg_);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        struct stat st {};
        bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
        ok = ok && write_all(fd, lines) && ::fsync(fd) == 0;
        if (!ok) {
            error("Cannot append to %s: %s\n", path.c_str(), std::strerror(errno));
            if (fd >= 0 && ::ftruncate(fd, st.st_size) != 0) {
                // The journal still names our files; the next run sorts it out.
            }
            if (fd >= 0) ::close(fd);
            rollback();
            ::unlink(journal_path(cfg_).c_str());
            return false;
        }
        ::close(fd);
        sync_dir(cfg_.soup_dir);
    }
    // The mail is in the packet now. A source that could not be moved
    // aside keeps the journal, so that the next run finishes the work
    // before it packs anything.
    if (run_actions(cfg_, actions_))
        ::unlink(journal_path(cfg_).c_str());
    else
        error("Packed mail is still in its sources; the next run takes it out before it packs more\n");
    journal_written_ = false;
    actions_.clear();
    areas_.clear();
    order_.clear();
    return true;
}

void Packer::rollback() {
    for (auto& [k, a] : areas_) {
        if (a.fd >= 0) ::close(a.fd);
        a.fd = -1;
        ::unlink(a.path.c_str());
    }
    if (journal_written_) ::unlink(journal_path(cfg_).c_str());
    journal_written_ = false;
    areas_.clear();
    order_.clear();
    actions_.clear();
    messages_ = 0;
}

bool Packer::recover(const BridgeConfig& cfg) {
    std::ifstream in(journal_path(cfg), std::ios::binary);
    if (!in) return true;
    std::vector<std::string> prefixes, actions;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("area\t", 0) == 0)
            prefixes.push_back(line.substr(5));
        else if (!line.empty())
            actions.push_back(line);
    }
    in.close();
    // Committed when AREAS names one of the files, or the gateway has
    // already taken one (the journal holds actions only once all exist;
    // before that it merely names the files being written).
    auto listed = areas_prefixes(cfg);
    bool committed = prefixes.empty();
    for (const auto& p : prefixes)
        if (listed.count(p) || (!actions.empty() && !tw::platform::exists(cfg.soup_dir + p + ".msg")))
            committed = true;
    if (committed) {
        note("* Finishing the packing run that was cut short\n");
        if (!run_actions(cfg, actions)) {
            error("The packing run that was cut short cannot be finished; nothing is packed until it is\n");
            return false;
        }
    } else {
        note("* Undoing the packing run that was cut short\n");
        for (const auto& p : prefixes) ::unlink((cfg.soup_dir + p + ".msg").c_str());
    }
    ::unlink(journal_path(cfg).c_str());
    return true;
}

}  // namespace twsoup
