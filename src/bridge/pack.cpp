#include "bridge/pack.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bridge/nntp.h"
#include "bridge/packer.h"
#include "bridge/soup_format.h"
#include "bridge/util.h"
#include "platform/text.h"

namespace twsoup {

namespace {

// The area a news article goes to: the first of its groups that the
// configuration names (so an article crossposted to two gated groups is
// packed once), else its first group.
std::string news_area(const BridgeConfig& cfg, const std::vector<std::string>& groups) {
    for (const auto& want : cfg.groups)
        for (const auto& g : groups)
            if (tw::iequals(g, want)) return want;
    return groups.empty() ? std::string() : groups.front();
}

// ------------------------------------------------------------- maildir

std::string done_folder(const BridgeConfig& cfg, const std::string& maildir) {
    if (!cfg.maildir_done.empty()) return cfg.maildir_done == "delete" ? std::string() : cfg.maildir_done;
    return maildir + ".Gated";  // a Maildir++ sub-folder, visible to IMAP readers
}

bool pack_maildir(const BridgeConfig& cfg, Packer& packer, const std::string& maildir) {
    if (!is_dir(maildir + "new") && !is_dir(maildir + "cur")) {
        error("%s is not a maildir\n", maildir.c_str());
        return true;
    }
    std::string done = done_folder(cfg, maildir);
    if (!done.empty()) {
        if (done.back() != '/') done += '/';
        for (const char* sub : {"cur", "new", "tmp"})
            if (!make_dirs(done + sub)) {
                error("Cannot create %s%s\n", done.c_str(), sub);
                return true;  // the mail stays where it is
            }
    }
    long packed = 0;
    for (const char* sub : {"new", "cur"}) {
        std::string dir = maildir + sub + "/";
        for (const auto& name : plain_files(dir)) {
            std::string path = dir + name;
            std::string msg;
            bool too_big = false;
            if (!read_whole(path, msg, cfg.max_message, &too_big)) {
                if (too_big)
                    error("%s is larger than MaxMessageSize, left in place\n", path.c_str());
                else
                    error("Cannot read %s, left in place\n", path.c_str());
                continue;
            }
            // Some delivery agents put an mbox envelope line first.
            if (msg.rfind("From ", 0) == 0) {
                std::size_t nl = msg.find('\n');
                msg.erase(0, nl == std::string::npos ? msg.size() : nl + 1);
            }
            if (!starts_with_header(msg)) {
                error("%s is not a mail message, left in place\n", path.c_str());
                continue;
            }
            if (!packer.add(false, cfg.mail_area, std::move(msg))) return false;
            ++packed;
            if (done.empty()) {
                packer.remove_after(path);
            } else {
                // Read by now: it goes to cur/ with the Seen flag.
                std::string target = name;
                if (target.find(":2,") == std::string::npos) target += ":2,S";
                packer.move_after(path, done + "cur/" + target);
            }
        }
    }
    if (packed) note("Maildir %s: %ld message(s)\n", maildir.c_str(), packed);
    return true;
}

// ---------------------------------------------------------------- mbox

// An envelope line: "From " at a line start after an empty line (or at
// the start), a sender, then a ctime date ("Mon Jan  1 10:00:00 2024").
// Text lines that merely begin with "From " do not go on like that.
bool is_envelope(std::string_view line) {
    if (line.rfind("From ", 0) != 0) return false;
    std::size_t sp = line.find(' ', 5);
    if (sp == std::string_view::npos || sp == 5) return false;
    std::string_view date = line.substr(sp + 1);
    while (!date.empty() && date.front() == ' ') date.remove_prefix(1);
    static const char days[] = "MonTueWedThuFriSatSun";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (date.size() < 8 || date[3] != ' ') return false;
    bool day = false, month = false;
    for (int i = 0; i < 7; ++i) day = day || date.substr(0, 3) == std::string_view(days + 3 * i, 3);
    for (int i = 0; i < 12; ++i) month = month || date.substr(4, 3) == std::string_view(months + 3 * i, 3);
    return day && month && date.find(':') != std::string_view::npos;
}

// The empty line that ends a message in an mbox separates; it is not text.
std::string drop_separator(std::string msg) {
    if (!msg.empty() && msg.back() == '\n') {
        std::size_t cut = msg.size() - 1;
        if (cut > 0 && msg[cut - 1] == '\r') --cut;
        if (cut == 0 || msg[cut - 1] == '\n') msg.resize(cut);
    }
    return msg;
}

// Reads a file in pieces: a whole line, or a part of one when it is longer
// than the buffer, so that memory stays flat however large the mbox.
class PieceReader {
public:
    explicit PieceReader(int fd) : fd_(fd) {}
    // False at the end of the file or on a read error (failed() tells).
    bool next(std::string_view& piece, bool& line_start) {
        line_start = line_start_;
        for (;;) {
            const char* nl = static_cast<const char*>(std::memchr(buf_ + pos_, '\n', len_ - pos_));
            if (nl) {
                piece = std::string_view(buf_ + pos_, std::size_t(nl + 1 - (buf_ + pos_)));
                pos_ = std::size_t(nl + 1 - buf_);
                line_start_ = true;
                return true;
            }
            if (eof_ || (pos_ == 0 && len_ == sizeof buf_)) {
                if (pos_ == len_) return false;
                piece = std::string_view(buf_ + pos_, len_ - pos_);
                pos_ = len_;
                line_start_ = false;
                return true;
            }
            std::memmove(buf_, buf_ + pos_, len_ - pos_);
            len_ -= pos_;
            pos_ = 0;
            ssize_t n = ::read(fd_, buf_ + len_, sizeof buf_ - len_);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed_ = n < 0;
                eof_ = true;
            } else {
                len_ += std::size_t(n);
            }
        }
    }
    bool failed() const { return failed_; }

private:
    int fd_;
    char buf_[65536];
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false, failed_ = false, line_start_ = true;
};

// Takes the mbox away from the delivery agent: under its dot-lock and an
// fcntl lock the file is renamed to PATH.packing, so new mail starts a new
// mbox at once. A .packing file left by an undone run is packed first.
bool take_mbox(const std::string& mbox, const std::string& packing) {
    if (::access(packing.c_str(), F_OK) == 0) return true;
    struct stat st;
    if (::stat(mbox.c_str(), &st) != 0 || st.st_size == 0) return false;
    std::string dotlock = mbox + ".lock";
    bool locked = false;
    // The lock is written whole under a name of our own and then linked
    // into place, so that it always names a process (our own after a crash
    // tells the next run that it is stale).
    std::string mine = dotlock + ".tarnwick-soup";
    for (int tries = 0; tries < 10; ++tries) {
        ::unlink(mine.c_str());  // a leftover may be a second name of the lock itself
        int tfd = ::open(mine.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        bool written = tfd >= 0 && write_all(tfd, std::to_string(::getpid()) + "\n");
        if (tfd >= 0) ::close(tfd);
        if (!written) {
            ::unlink(mine.c_str());
            error("Cannot lock %s: %s\n", mbox.c_str(), std::strerror(errno));
            return false;
        }
        bool linked = ::link(mine.c_str(), dotlock.c_str()) == 0;
        ::unlink(mine.c_str());
        if ((locked = linked)) break;
        struct stat ls;
        std::string holder;
        long pid = read_whole(dotlock, holder, 64) ? std::atol(holder.c_str()) : 0;
        // A lock of a process that died (ours after a crash), or older than
        // five minutes, is stale.
        if ((pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH) ||
            (::stat(dotlock.c_str(), &ls) == 0 && std::time(nullptr) - ls.st_mtime > 300)) {
            ::unlink(dotlock.c_str());
            continue;
        }
        ::sleep(1);
    }
    if (!locked) {
        error("%s is locked by another program, left for the next run\n", mbox.c_str());
        return false;
    }
    bool ok = false;
    int fd = ::open(mbox.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLKW, &fl) == 0) ok = ::rename(mbox.c_str(), packing.c_str()) == 0;
        ::close(fd);
    }
    ::unlink(dotlock.c_str());
    if (!ok) error("Cannot take %s: %s\n", mbox.c_str(), std::strerror(errno));
    return ok;
}

// Packs each message of the mbox as it is read; ">From " lines get their
// escape back. A message too large or not mail stays in the kept copy.
bool pack_mbox(const BridgeConfig& cfg, Packer& packer, const std::string& mbox) {
    std::string packing = mbox + ".packing";
    if (!take_mbox(mbox, packing)) return true;
    int fd = ::open(packing.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error("Cannot read %s, left for the next run\n", packing.c_str());
        return true;
    }
    PieceReader reader(fd);
    std::string cur;
    bool in_msg = false, prev_empty = true, too_big = false, ok = true;
    long packed = 0, skipped = 0;
    auto finish = [&]() {
        if (!in_msg) return true;
        cur = drop_separator(std::move(cur));
        if (too_big || (long long)cur.size() > cfg.max_message || !starts_with_header(cur)) {
            error("A message of %s is %s; it stays in the kept copy\n", mbox.c_str(),
                  too_big || starts_with_header(cur) ? "larger than MaxMessageSize" : "not a mail message");
            ++skipped;
        } else if (packer.add(false, cfg.mail_area, std::move(cur))) {
            ++packed;
        } else {
            return false;
        }
        cur.clear();
        too_big = false;
        return true;
    };
    std::string_view piece;
    bool line_start = true;
    while (ok && reader.next(piece, line_start)) {
        bool whole = piece.back() == '\n';
        std::string_view bare = piece;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
        if (line_start && prev_empty && is_envelope(bare)) {
            ok = finish();
            in_msg = true;
            prev_empty = false;
            continue;
        }
        if (!in_msg && !bare.empty()) {
            ::close(fd);
            error("%s does not begin with a \"From \" line; left as %s\n", mbox.c_str(), packing.c_str());
            return true;
        }
        if (line_start && piece.rfind(">From ", 0) == 0) piece.remove_prefix(1);
        if (in_msg && !too_big) {
            // Two bytes over: the separating empty line is not the message's.
            if ((long long)(cur.size() + piece.size()) > cfg.max_message + 2) {
                too_big = true;
                std::string().swap(cur);
            } else {
                cur.append(piece);
            }
        }
        prev_empty = line_start && whole && bare.empty();
    }
    ::close(fd);
    if (!ok) return false;
    if (reader.failed()) {
        error("Cannot read %s: %s\n", packing.c_str(), std::strerror(errno));
        return false;  // what was packed of it is taken back with the rest
    }
    // Delivery agents end the last message with the separator too.
    if (!finish()) return false;
    std::string done = cfg.mbox_done.empty() ? mbox + ".gated" : cfg.mbox_done;
    if (done == "delete" && skipped == 0)
        packer.remove_after(packing);
    else
        packer.append_after(packing, done == "delete" ? mbox + ".gated" : done);
    note("Mbox %s: %ld message(s)\n", mbox.c_str(), packed);
    return true;
}

// --------------------------------------------------------------- rnews

bool pack_rnews_dir(const BridgeConfig& cfg, Packer& packer, const std::string& dir) {
    for (const auto& name : plain_files(dir)) {
        std::string path = dir + name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) continue;  // still being written
        tw::platform::File f;
        if (!f.open(path, tw::platform::OpenMode::Read)) {
            error("Cannot read %s, left in place\n", path.c_str());
            continue;
        }
        long long size = f.size();
        char head[16] = {};
        std::size_t got = f.read(head, 9);
        f.seek(0);
        if (got == 0) continue;  // still empty: a batcher may be about to write it
        std::vector<std::string> articles;
        bool bad = false;
        if (std::string_view(head, got) == "#! rnews ") {
            tw::MessageExtent x;
            for (;;) {
                tw::FrameResult r = tw::read_soup_frame(f, size, 'u', x);
                if (r == tw::FrameResult::EndOfFile) break;
                if (r == tw::FrameResult::BadFile || x.end - x.start > cfg.max_message) {
                    bad = true;
                    break;
                }
                std::string a(std::size_t(x.end - x.start), '\0');
                if (f.read(a.data(), a.size()) != a.size()) {
                    bad = true;
                    break;
                }
                articles.push_back(std::move(a));
                f.seek(x.end);
            }
        } else if (std::string_view(head, got).rfind("#! ", 0) == 0 || (unsigned char)head[0] == 0x1f) {
            error("%s is a compressed batch; unpack it first. Left in place\n", path.c_str());
            continue;
        } else {
            // One article a file, as some fetchers write them.
            std::string a;
            if (!read_whole(path, a, cfg.max_message)) bad = true;
            else articles.push_back(std::move(a));
        }
        f.release();
        for (const auto& a : articles)
            if (header_field(a, "Newsgroups").empty()) bad = true;
        if (bad) {
            error("%s is not a readable news batch, left in place\n", path.c_str());
            continue;
        }
        for (auto& a : articles) {
            std::string area = news_area(cfg, split_groups(header_field(a, "Newsgroups")));
            if (!packer.add(true, area, std::move(a))) return false;
        }
        if (cfg.rnews_done.empty() || cfg.rnews_done == "delete")
            packer.remove_after(path);
        else
            packer.move_after(path, (cfg.rnews_done.back() == '/' ? cfg.rnews_done : cfg.rnews_done + "/") + name);
        note("Batch %s: %zu article(s)\n", path.c_str(), articles.size());
    }
    return true;
}

// ---------------------------------------------------------------- NNTP

bool fetch_news(const BridgeConfig& cfg, Packer& packer) {
    Nntp nntp;
    std::string why;
    if (!nntp.open(cfg.nntp, cfg.timeout, why) || !nntp.login(cfg.nntp_user, cfg.nntp_password, why)) {
        error("News server %s: %s; no news fetched\n", cfg.nntp.host.c_str(), why.c_str());
        return true;
    }
    int code = 0;
    if (!nntp.command("MODE READER", code, why)) {
        error("News server %s: %s; no news fetched\n", cfg.nntp.host.c_str(), why.c_str());
        return true;
    }
    auto state = load_state(cfg.state_file);
    for (std::size_t gi = 0; gi < cfg.groups.size(); ++gi) {
        const std::string& group = cfg.groups[gi];
        if (!nntp.command("GROUP " + group, code, why)) {
            error("News server %s, group %s: %s\n", cfg.nntp.host.c_str(), group.c_str(), why.c_str());
            break;
        }
        if (code != 211) {
            error("News server %s, group %s: %s\n", cfg.nntp.host.c_str(), group.c_str(), nntp.status().c_str());
            continue;
        }
        long long count = 0, low = 0, high = 0;
        if (std::sscanf(nntp.status().c_str(), "211 %lld %lld %lld", &count, &low, &high) != 3 || low < 0 ||
            high < 0) {
            error("News server %s, group %s: bad answer \"%s\"\n", cfg.nntp.host.c_str(), group.c_str(),
                  nntp.status().c_str());
            continue;
        }
        auto seen = state.find(group);
        long long from;
        if (seen == state.end())
            from = std::max(low, high - cfg.first_articles + 1);
        else
            from = std::max(low, seen->second + 1);
        if (count == 0 || high < low) from = high + 1;
        long long last = seen == state.end() ? from - 1 : seen->second;
        long got = 0;
        bool failed = false;
        for (long long n = from; n <= high; ++n) {
            if (!nntp.command("ARTICLE " + std::to_string(n), code, why)) {
                failed = true;
                break;
            }
            if (code == 423 || code == 430) {  // expired or cancelled
                last = n;
                continue;
            }
            if (code != 220) {
                why = "\"" + nntp.status() + "\"";
                failed = true;
                break;
            }
            std::string article;
            bool too_big = false;
            if (!nntp.read_block(article, cfg.max_message, too_big, why)) {
                failed = true;
                break;
            }
            last = n;
            if (too_big) {
                error("Article %lld of %s is larger than MaxMessageSize, skipped\n", n, group.c_str());
                continue;
            }
            // Crossposted to a group fetched earlier: it was packed there.
            std::string area = news_area(cfg, split_groups(header_field(article, "Newsgroups")));
            if (area.empty()) area = group;
            bool earlier = false;
            for (std::size_t k = 0; k < gi; ++k) earlier = earlier || tw::iequals(area, cfg.groups[k]);
            if (earlier) continue;
            if (!packer.add(true, group, std::move(article))) return false;
            ++got;
        }
        if (last >= 0 && (seen == state.end() || last != seen->second)) packer.state_after(group, last);
        if (got) note("Group %s: %ld article(s)\n", group.c_str(), got);
        if (failed) {
            error("News server %s, group %s: %s; the rest waits for the next run\n", cfg.nntp.host.c_str(),
                  group.c_str(), why.c_str());
            if (!nntp.is_open() || why.find("timed out") != std::string::npos ||
                why.find("connection") != std::string::npos || why.find("garbage") != std::string::npos)
                break;
        }
    }
    return true;
}

}  // namespace

long pack_run(const BridgeConfig& cfg) {
    // Running out of file size must show as a failed write, not kill us
    // halfway through a packet.
    ::signal(SIGXFSZ, SIG_IGN);
    if (!Packer::recover(cfg)) return -1;
    Packer packer(cfg);
    bool ok = true;
    for (const auto& m : cfg.maildirs) ok = ok && pack_maildir(cfg, packer, m);
    for (const auto& m : cfg.mboxes) ok = ok && pack_mbox(cfg, packer, m);
    for (const auto& d : cfg.rnews_dirs) ok = ok && pack_rnews_dir(cfg, packer, d);
    if (ok && !cfg.groups.empty() && cfg.nntp.set()) ok = fetch_news(cfg, packer);
    if (!ok) {
        packer.rollback();
        error("Packing undone; every message stays where it was\n");
        return -1;
    }
    long n = packer.messages();
    if (!packer.commit()) {
        error("Packing undone; every message stays where it was\n");
        return -1;
    }
    return n;
}

}  // namespace twsoup
