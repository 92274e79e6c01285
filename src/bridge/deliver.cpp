#include "bridge/deliver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "bridge/nntp.h"
#include "bridge/process.h"
#include "bridge/soup_format.h"
#include "bridge/util.h"
#include "platform/platform.h"

namespace twsoup {

namespace {

// Messages handed on from reply files still named in REPLIES, one line
// each: file prefix, the file's identity, the message's offset. A mail is
// first noted as about to go ("? " and the key): if that is all a run left,
// it died while the MTA had the message, and no one knows if it took it.
class SentLog {
public:
    explicit SentLog(std::string path) : path_(std::move(path)) {
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("? ", 0) == 0)
                intents_.insert(line.substr(2));
            else if (line.rfind("- ", 0) == 0)
                intents_.erase(line.substr(2));
            else if (!line.empty())
                lines_.insert(line);
    }
    ~SentLog() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool has(const std::string& key) const { return lines_.count(key) != 0; }
    bool was_going(const std::string& key) const { return intents_.count(key) != 0; }
    [[nodiscard]] bool add(const std::string& key) {
        if (!append(key)) return false;
        lines_.insert(key);
        return true;
    }
    [[nodiscard]] bool going(const std::string& key) {
        if (!append("? " + key)) return false;
        intents_.insert(key);
        return true;
    }
    // The mail system said no for now: it may go again.
    void not_gone(const std::string& key) {
        if (intents_.erase(key)) append("- " + key);
    }
    // Keeps only the lines of files still waiting.
    void keep_only(const std::set<std::string>& ids) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        std::string text;
        for (const auto& l : lines_) {
            std::size_t sp = l.rfind(' ');
            if (sp != std::string::npos && ids.count(l.substr(0, sp))) text += l + "\n";
        }
        for (const auto& l : intents_) {
            std::size_t sp = l.rfind(' ');
            if (sp != std::string::npos && ids.count(l.substr(0, sp)) && !lines_.count(l)) text += "? " + l + "\n";
        }
        if (text.empty())
            ::unlink(path_.c_str());
        else if (!replace_file(path_, text))
            error("Cannot write %s\n", path_.c_str());
    }

private:
    bool append(const std::string& line) {
        if (fd_ < 0) fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        return fd_ >= 0 && write_all(fd_, line + "\n") && ::fdatasync(fd_) == 0;
    }

    std::string path_;
    std::set<std::string> lines_, intents_;
    int fd_ = -1;
};

std::string file_identity(const std::string& prefix, const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return prefix + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

// A refused message, with why, where the sysop finds it. The reason is
// written first (it claims the number), the message under a temporary name
// renamed into place, and a message already kept (by a run cut short before
// it could note that) is not kept twice.
bool keep_aside(const BridgeConfig& cfg, bool news, std::string_view msg, const std::string& reason,
                const std::string& source, std::string& where) {
    if (!make_dirs(cfg.refused_dir)) return false;
    const char* kind = news ? ".news" : ".mail";
    for (const auto& name : plain_files(cfg.refused_dir)) {
        if (!name.ends_with(kind)) continue;
        std::string path = cfg.refused_dir + name, bytes;
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && std::size_t(st.st_size) == msg.size() && read_whole(path, bytes) &&
            bytes == msg) {
            where = path;
            return true;
        }
    }
    for (unsigned n = 1; n < 100000000; ++n) {
        char num[16];
        std::snprintf(num, sizeof num, "%08u", n);
        std::string base = cfg.refused_dir + num;
        if (tw::platform::exists(base + ".mail") || tw::platform::exists(base + ".news")) continue;
        int fd = ::open((base + ".reason").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return false;
        bool ok = write_all(fd, reason + "\nfrom " + source + "\n") && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        std::string tmp = base + kind + ".tmp";
        fd = ok ? ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
        ok = fd >= 0 && write_all(fd, msg) && ::fsync(fd) == 0;
        if (fd >= 0 && ::close(fd) != 0) ok = false;
        ok = ok && ::rename(tmp.c_str(), (base + kind).c_str()) == 0;
        if (!ok) {
            ::unlink(tmp.c_str());
            ::unlink((base + ".reason").c_str());
            return false;
        }
        sync_dir(cfg.refused_dir);
        where = base + kind;
        return true;
    }
    return false;
}

// What a run cut short while keeping a message aside left: a temporary
// file, a reason without its message.
void tidy_refused(const BridgeConfig& cfg) {
    for (const auto& name : plain_files(cfg.refused_dir)) {
        std::string path = cfg.refused_dir + name;
        if (name.ends_with(".tmp")) {
            ::unlink(path.c_str());
        } else if (name.ends_with(".reason")) {
            std::string base = path.substr(0, path.size() - 7);
            if (!tw::platform::exists(base + ".mail") && !tw::platform::exists(base + ".news")) ::unlink(path.c_str());
        }
    }
}

class Poster {
public:
    explicit Poster(const BridgeConfig& cfg) : cfg_(cfg) {}

    CommandResult post(std::string_view article) {
        CommandResult r;
        if (!cfg_.news_command.empty()) return run_with_input(cfg_.news_command, article, cfg_.command_timeout);
        if (!cfg_.post.set()) {
            r.reason = "no PostServer, NntpServer or NewsCommand configured";
            return r;
        }
        std::string why;
        int code = 0;
        if (!nntp_.is_open()) {
            if (!nntp_.open(cfg_.post, cfg_.timeout, why) || !nntp_.command("MODE READER", code, why) ||
                !nntp_.login(cfg_.nntp_user, cfg_.nntp_password, why)) {
                nntp_.close();
                r.reason = "news server " + cfg_.post.host + ": " + why;
                return r;
            }
        }
        if (!nntp_.command("POST", code, why)) return lost(why);
        if (code != 340) {
            r.reason = "news server will not take posts: " + nntp_.status();
            return r;
        }
        if (!nntp_.send_block(article, why) || !nntp_.response(code, why)) return lost(why);
        if (code == 240) {
            r.outcome = Outcome::Accepted;
        } else if (code == 441 && (nntp_.status().find("435") != std::string::npos ||
                                   nntp_.status().find("uplicate") != std::string::npos)) {
            // The server has it already: an earlier run was cut short after posting.
            r.outcome = Outcome::Accepted;
            note("* News server already has the article: %s\n", nntp_.status().c_str());
        } else if (code == 441 || code == 437) {
            r.outcome = Outcome::Refused;
            r.reason = nntp_.status();
        } else {
            r.reason = "news server: " + nntp_.status();
        }
        return r;
    }

private:
    CommandResult lost(const std::string& why) {
        nntp_.close();
        CommandResult r;
        r.reason = "news server " + cfg_.post.host + ": " + why;
        return r;
    }
    const BridgeConfig& cfg_;
    Nntp nntp_;
};

// A reply file whose every message is done is renamed to this before
// REPLIES lets it go, so that a run cut short never hands it on again
// and leaves nothing that an export could take for its own.
const char kDeliveredPrefix[] = ".delivered-";

std::string delivered_name(const std::string& path) { return dir_of(path) + kDeliveredPrefix + base_of(path); }

void remove_delivered(const BridgeConfig& cfg) {
    DIR* d = ::opendir(cfg.soup_dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d))
        if (std::strncmp(e->d_name, kDeliveredPrefix, sizeof kDeliveredPrefix - 1) == 0) names.emplace_back(e->d_name);
    ::closedir(d);
    for (const auto& n : names)
        if (::unlink((cfg.soup_dir + n).c_str()) != 0) error("Cannot remove %s%s\n", cfg.soup_dir.c_str(), n.c_str());
}

}  // namespace

long deliver_run(const BridgeConfig& cfg) {
    std::string replies = tw::platform::resolve_case(cfg.soup_dir + "REPLIES");
    std::ifstream in(replies, std::ios::binary);
    if (!in) {
        // What a run cut short after letting REPLIES go left behind.
        remove_delivered(cfg);
        ::unlink((cfg.soup_dir + ".tarnwick-soup.sent").c_str());
        note("No REPLIES found. Nothing to do.\n");
        return 0;
    }
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    in.close();
    tidy_refused(cfg);

    SentLog sent(cfg.soup_dir + ".tarnwick-soup.sent");
    Poster poster(cfg);
    bool stopped[2] = {false, false};  // mail, news: the far side wants us to try later
    long handed = 0, refused = 0;
    std::vector<std::string> keep;            // REPLIES lines still waiting
    std::set<std::string> waiting_ids;        // their files' identities
    struct Done {
        std::string path, line, id;
    };
    std::vector<Done> finished;               // files whose every message is done

    for (std::size_t li = 0; li < lines.size(); ++li) {
        std::string line = lines[li];
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty()) continue;
        tw::SoupArea area;
        if (tw::parse_areas_line(line, area) != tw::AreaLineStatus::Good) {
            error("Line %zu of %s cannot be read; kept\n", li + 1, replies.c_str());
            keep.push_back(line);
            continue;
        }
        bool news = area.kind == 1;
        std::string path = tw::platform::resolve_case(cfg.soup_dir + area.prefix + ".MSG");
        tw::platform::File f;
        if (!f.open(path, tw::platform::OpenMode::Read)) {
            if (tw::platform::exists(delivered_name(path))) {
                continue;  // done by a run cut short before REPLIES was rewritten
            } else if (!tw::platform::exists(path)) {
                error("%s named in REPLIES does not exist; line dropped\n", path.c_str());
            } else {
                error("Cannot read %s; kept for the next run\n", path.c_str());
                keep.push_back(line);
            }
            continue;
        }
        std::string id = file_identity(area.prefix, path);
        long long size = f.size();
        bool pending = false;
        tw::MessageExtent x;
        std::string msg;
        for (;;) {
            tw::FrameResult r = tw::read_soup_frame(f, size, area.format, x);
            if (r == tw::FrameResult::EndOfFile) break;
            if (r == tw::FrameResult::BadFile) {
                error("%s is damaged near byte %lld; the rest of it is kept\n", path.c_str(), (long long)f.tell());
                pending = true;
                break;
            }
            std::string key = id + " " + std::to_string(x.start);
            if (sent.has(key)) {
                f.seek(x.end);
                continue;
            }
            if (stopped[news]) {
                pending = true;
                break;
            }
            msg.assign(std::size_t(x.end - x.start), '\0');
            if (f.read(msg.data(), msg.size()) != msg.size()) {
                error("Cannot read %s; kept for the next run\n", path.c_str());
                pending = true;
                break;
            }
            f.seek(x.end);
            CommandResult res;
            bool uncertain = !news && sent.was_going(key);
            if (uncertain) {
                // Sending it again could deliver it twice: the sysop decides.
                res.outcome = Outcome::Refused;
                res.reason = "a run was cut short while the mail system had this message; it may have been "
                             "delivered. Send it by hand if it was not";
            } else if (!news && !sent.going(key)) {
                error("Cannot record delivery in %s.tarnwick-soup.sent; delivery stopped\n", cfg.soup_dir.c_str());
                stopped[0] = stopped[1] = true;
                pending = true;
                break;
            } else {
                // A news server knows an article it has by its Message-ID, so
                // news is simply posted again.
                res = news ? poster.post(msg) : run_with_input(cfg.sendmail, msg, cfg.command_timeout);
            }
            if (res.outcome == Outcome::Refused) {
                std::string where;
                if (keep_aside(cfg, news, msg, res.reason, path, where)) {
                    if (uncertain)
                        error("A run was cut short while the mail system had a message of %s; it may have been "
                              "delivered, so it is kept as %s\n",
                              path.c_str(), where.c_str());
                    else
                        error("%s refused a message of %s (%s); kept as %s\n", news ? "News server" : "Mail system",
                              path.c_str(), res.reason.c_str(), where.c_str());
                    ++refused;
                } else {
                    error("%s refused a message of %s (%s) and it cannot be kept aside; it stays\n",
                          news ? "News server" : "Mail system", path.c_str(), res.reason.c_str());
                    if (!uncertain) sent.not_gone(key);  // refused: it did not go
                    pending = true;
                    continue;
                }
            } else if (res.outcome == Outcome::Retry) {
                sent.not_gone(key);
                error("%s: %s; the %s waits for the next run\n", path.c_str(), res.reason.c_str(), news ? "news" : "mail");
                stopped[news] = true;
                pending = true;
                break;
            } else {
                ++handed;
            }
            if (!sent.add(key)) {
                // Without the record the message could go twice: stop here.
                error("Cannot record delivery in %s.tarnwick-soup.sent; delivery stopped\n", cfg.soup_dir.c_str());
                stopped[0] = stopped[1] = true;
                pending = true;
                break;
            }
        }
        f.release();
        if (pending) {
            keep.push_back(line);
            waiting_ids.insert(id);
        } else {
            finished.push_back({path, line, id});
        }
    }

    // Done files are renamed aside first, then REPLIES lets them go: a run
    // cut short in between finds them aside and drops their lines.
    std::vector<std::string> aside;
    for (const auto& done : finished) {
        if (::rename(done.path.c_str(), delivered_name(done.path).c_str()) == 0) {
            aside.push_back(done.path);
        } else {
            // Every message of it is in the sent log: the next run skips them.
            error("Cannot rename %s: %s; kept for the next run\n", done.path.c_str(), std::strerror(errno));
            keep.push_back(done.line);
            waiting_ids.insert(done.id);
        }
    }
    if (keep.size() != lines.size() || !aside.empty()) {
        bool ok;
        if (keep.empty()) {
            ok = ::unlink(replies.c_str()) == 0 || errno == ENOENT;
        } else {
            std::string text;
            for (const auto& l : keep) text += l + "\n";
            ok = replace_file(replies, text);
        }
        if (!ok) {
            error("Cannot rewrite %s; the delivered files are skipped next time\n", replies.c_str());
            for (const auto& p : aside) ::rename(delivered_name(p).c_str(), p.c_str());
            return handed;
        }
        sync_dir(cfg.soup_dir);
    }
    remove_delivered(cfg);
    sent.keep_only(waiting_ids);
    note("%ld message(s) delivered, %ld refused and kept aside, %zu reply file(s) waiting\n", handed, refused,
         keep.size());
    return handed;
}

}  // namespace twsoup
