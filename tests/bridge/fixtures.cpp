#include "bridge/fixtures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace twtest {

namespace fs = std::filesystem;

void BridgeTest::SetUp() { dir.mkdir("soup"); }

void BridgeTest::configure(const std::string& lines) { dir.write("bridge.cfg", "SoupDir soup/\n" + lines); }

RunResult BridgeTest::soup(const std::string& command, const std::string& prefix_shell) {
    std::string line = std::string(TW_SOUP_BINARY) + " --config=bridge.cfg " + command;
    if (!prefix_shell.empty()) line = prefix_shell + "; exec " + line;
    return run_process({"/bin/sh", "-c", line}, dir.root());
}

std::vector<PackedArea> BridgeTest::packet(const std::string& soup_rel) {
    std::vector<PackedArea> out;
    std::string areas = dir.read(soup_rel + "/AREAS");
    std::size_t pos = 0;
    while (pos < areas.size()) {
        std::size_t nl = areas.find('\n', pos);
        std::string line = areas.substr(pos, nl - pos);
        pos = nl == std::string::npos ? areas.size() : nl + 1;
        PackedArea a;
        std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        a.prefix = line.substr(0, t1);
        a.name = line.substr(t1 + 1, t2 - t1 - 1);
        a.type = line.substr(t2 + 1);
        std::string bytes = dir.read(soup_rel + "/" + a.prefix + ".msg");
        for (std::size_t at = 0; at + 4 <= bytes.size();) {
            std::size_t n = (std::size_t)(unsigned char)bytes[at] << 24 | (std::size_t)(unsigned char)bytes[at + 1] << 16 |
                            (std::size_t)(unsigned char)bytes[at + 2] << 8 | (unsigned char)bytes[at + 3];
            a.messages.push_back(bytes.substr(at + 4, n));
            at += 4 + n;
        }
        out.push_back(a);
    }
    return out;
}

void BridgeTest::add_reply(const std::string& prefix, bool news, const std::vector<std::string>& messages) {
    std::string bytes;
    for (const auto& m : messages) {
        std::size_t n = m.size();
        bytes += char(n >> 24);
        bytes += char(n >> 16);
        bytes += char(n >> 8);
        bytes += char(n);
        bytes += m;
    }
    // Files are named in lower case and registered in upper case, as the
    // gateway does.
    std::string file = prefix.substr(0, 4);
    for (char c : prefix.substr(4)) file += char(std::tolower((unsigned char)c));
    dir.write("soup/" + file + ".MSG", bytes);
    dir.append("soup/REPLIES", prefix + "\t" + (news ? "news\tBn\n" : "mail\tbn\n"));
}

std::vector<std::string> BridgeTest::maildir_messages(const std::string& rel) {
    std::vector<std::string> out;
    for (const char* sub : {"/new", "/cur"})
        for (const auto& name : dir.list(rel + sub)) out.push_back(dir.read(rel + sub + "/" + name));
    std::sort(out.begin(), out.end());
    return out;
}

// ---------------------------------------------------------------- exim

Exim::Exim(const Scratch& dir) {
    binary = find_program("exim4");
    if (binary.empty()) binary = find_program("exim");
    if (binary.empty() && ::access("/usr/sbin/exim4", X_OK) == 0) binary = "/usr/sbin/exim4";
    if (binary.empty()) return;
    dir.mkdir("exim/spool");
    dir.mkdir("exim/log");
    dir.mkdir("exim/Maildir");
    // exim never delivers as root: the maildir is open to its own user.
    ::chmod(dir.path("exim/Maildir").c_str(), 0777);
    ::chmod(dir.root().c_str(), 0755);
    std::string e = dir.path("exim");
    dir.write("exim/exim.conf",
              "keep_environment =\n"
              "primary_hostname = gw.example\n"
              "spool_directory = " + e + "/spool\n"
              "log_file_path = " + e + "/log/%slog\n"
              "exim_user = root\nexim_group = root\ntrusted_users = root\n"
              "acl_not_smtp = acl_check\n"
              "begin acl\n"
              "acl_check:\n"
              "  deny condition = ${if match{$h_subject:}{REFUSE}}\n"
              "       message = refused by test policy\n"
              "  accept\n"
              "begin routers\n"
              "all:\n  driver = accept\n  transport = to_maildir\n"
              "begin transports\n"
              "to_maildir:\n  driver = appendfile\n  directory = " + e + "/Maildir\n"
              "  maildir_format\n  delivery_date_add = false\n  envelope_to_add = false\n"
              "  return_path_add = false\n  user = " + std::string(::getpwnam("Debian-exim") ? "Debian-exim" : "mail") + "\n"
              "begin retry\n* * F,1m,1m\n");
    // -odi: delivered before the command returns; -oep: a refusal is the
    // exit code, not a bounce.
    sendmail = binary + " -C " + e + "/exim.conf -odi -oep -t -i";
}

// ----------------------------------------------------------------- INN

int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, (sockaddr*)&a, sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, (sockaddr*)&a, &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

InnServer::InnServer(const Scratch& dir) {
    if (::access("/usr/lib/news/bin/innd", X_OK) == 0) innd_ = "/usr/lib/news/bin/innd";
    if (innd_.empty() || ::geteuid() != 0) {
        innd_.clear();  // innd runs as the news user: the test must be root to hand it the spool
        return;
    }
    root_ = dir.path("inn");
    for (const char* d : {"etc", "db", "spool", "run", "log", "tmp", "http", "over", "incoming", "outgoing", "archive"})
        dir.mkdir(std::string("inn/") + d);
    port_ = free_port();
    std::string conf;
    for (const char* d : {"etc", "db", "spool", "run", "log", "tmp", "http", "overview", "incoming", "outgoing", "archive"}) {
        std::string sub = std::string(d) == "overview" ? "over" : d;
        conf += std::string("path") + d + ": " + root_ + "/" + sub + "\n";
    }
    conf +=
        "pathnews: /usr/lib/news\npathbin: /usr/lib/news/bin\npathfilter: /etc/news/filter\n"
        "pathcontrol: /usr/lib/news/bin/control\n"
        "domain: localdomain\npathhost: test.localdomain\novmethod: tradindexed\nhismethod: hisv6\n"
        "port: " + std::to_string(port_) + "\nbindaddress: 127.0.0.1\nnnrpdpostport: " + std::to_string(port_) + "\n"
        "runasuser: news\nrunasgroup: news\npgpverify: false\ndoinnwatch: false\ncheckincludedtext: false\n"
        "artcutoff: 0\nmta: \"/bin/true %s\"\n"
        // Readers are turned away above this load; a busy test machine passes it.
        "nnrpdloadlimit: 0\n";
    dir.write("inn/etc/inn.conf", conf);
    dir.write("inn/etc/readers.conf",
              "auth \"local\" { hosts: \"*\" default: \"<local>\" }\n"
              "access \"all\" { users: \"*\" newsgroups: \"*\" access: RPA }\n");
    dir.write("inn/etc/incoming.conf", "peer ME { hostname: \"localhost, 127.0.0.1\" }\n");
    dir.write("inn/etc/storage.conf", "method tradspool { newsgroups: * class: 0 }\n");
    dir.write("inn/etc/newsfeeds", "ME:*,!junk,!control*/!local::\n");
    dir.write("inn/db/active",
              "control 0000000000 0000000001 n\ncontrol.cancel 0000000000 0000000001 n\n"
              "junk 0000000000 0000000001 n\nfido.test 0000000000 0000000001 y\nalt.test 0000000000 0000000001 y\n");
    for (const char* f : {"db/active.times", "db/newsgroups", "db/history", "etc/moderators", "etc/distrib.pats",
                          "etc/subscriptions", "etc/passwd.nntp", "etc/localgroups", "etc/control.ctl",
                          "etc/control.ctl.local", "etc/expire.ctl"})
        dir.write(std::string("inn/") + f, "");
    ::chmod(dir.root().c_str(), 0755);
    run_process({"/bin/chown", "-R", "news:news", root_}, dir.root());
    auto r = run_process({"/bin/su", "news", "-s", "/bin/sh", "-c",
                          "/usr/lib/news/bin/makedbz -i -o -s 1000 -f " + root_ + "/db/history"},
                         dir.root(), {{"INNCONF", root_ + "/etc/inn.conf"}});
    if (r.code != 0) innd_.clear();
}

bool InnServer::start() {
    if (innd_.empty()) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setenv("INNCONF", (root_ + "/etc/inn.conf").c_str(), 1);
        int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        ::execl(innd_.c_str(), "innd", "-f", (char*)nullptr);
        ::_exit(127);
    }
    // Up when a reader is greeted and let in, not merely when the port is open.
    for (int i = 0; i < 100; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool up = false;
        if (::connect(fd, (sockaddr*)&a, sizeof a) == 0) {
            auto line = [&]() {
                std::string s;
                char c;
                while (::recv(fd, &c, 1, 0) == 1 && c != '\n') s += c;
                return s;
            };
            if (line().rfind("200", 0) == 0) {
                ::send(fd, "MODE READER\r\n", 13, MSG_NOSIGNAL);
                up = line().rfind("200", 0) == 0;
                ::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL);
            }
        }
        ::close(fd);
        if (up) return true;
        ::usleep(100000);
    }
    return false;
}

void InnServer::stop() {
    if (pid_ > 0) {
        // innd takes long over a signal; its control channel is quick.
        run_process({"/usr/lib/news/bin/ctlinnd", "-t", "5", "shutdown", "test"}, root_,
                    {{"INNCONF", root_ + "/etc/inn.conf"}});
        int i = 0;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (++i == 100) ::kill(pid_, SIGKILL);
            ::usleep(100000);
        }
    }
    pid_ = -1;
}

// ------------------------------------------------------------ fake NNTP

namespace {

// Answers the few commands a fetch sends, one connection at a time.
void serve_articles(int c, const std::vector<std::string>& articles) {
    auto say = [&](const std::string& s) { ::send(c, s.data(), s.size(), MSG_NOSIGNAL); };
    std::string in;
    char buf[4096];
    for (;;) {
        std::size_t nl;
        while ((nl = in.find('\n')) == std::string::npos) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return;
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, std::size_t(n));
        }
        std::string cmd = in.substr(0, nl);
        in.erase(0, nl + 1);
        if (!cmd.empty() && cmd.back() == '\r') cmd.pop_back();
        long n = 0;
        if (cmd == "MODE READER") {
            say("200 reading\r\n");
        } else if (cmd == "GROUP alt.test") {
            say("211 " + std::to_string(articles.size()) + " 1 " + std::to_string(articles.size()) + " alt.test\r\n");
        } else if (cmd.rfind("GROUP ", 0) == 0) {
            say("211 0 1 0 " + cmd.substr(6) + "\r\n");
        } else if (std::sscanf(cmd.c_str(), "ARTICLE %ld", &n) == 1 && n >= 1 && n <= long(articles.size())) {
            std::string text = "220 " + std::to_string(n) + " <x> article\r\n";
            const std::string& a = articles[std::size_t(n - 1)];
            for (std::size_t pos = 0; pos < a.size();) {
                std::size_t e = a.find('\n', pos);
                std::string line = a.substr(pos, e - pos);
                text += (line.rfind(".", 0) == 0 ? "." : "") + line + "\r\n";
                pos = e + 1;
            }
            say(text + ".\r\n");
        } else if (cmd == "QUIT") {
            say("205 bye\r\n");
            return;
        } else {
            say("500 what?\r\n");
        }
    }
}

}  // namespace

FakeNntp::FakeNntp(Mode mode, std::vector<std::string> articles) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, (sockaddr*)&a, sizeof a);
    ::listen(listen_fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listen_fd_, (sockaddr*)&a, &len);
    port_ = ntohs(a.sin_port);
    int lfd = listen_fd_;
    thread_ = std::thread([lfd, mode, articles = std::move(articles)] {
        for (;;) {
            int c = ::accept(lfd, nullptr, nullptr);
            if (c < 0) return;
            const char hello[] = "200 fake server ready\r\n";
            ::send(c, hello, sizeof hello - 1, MSG_NOSIGNAL);
            if (mode == Mode::Serve) {
                serve_articles(c, articles);
                ::close(c);
                continue;
            }
            char buf[4096];
            for (;;) {
                pollfd p{c, POLLIN, 0};
                if (::poll(&p, 1, 20000) <= 0) break;
                if (::recv(c, buf, sizeof buf, 0) <= 0) break;
                if (mode == Mode::Garbage) {
                    const char junk[] = "\x01\xff garbage \x7f\r\nmore\r\n";
                    ::send(c, junk, sizeof junk - 1, MSG_NOSIGNAL);
                }
            }
            ::close(c);
        }
    });
}

FakeNntp::~FakeNntp() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    ::close(listen_fd_);
    thread_.join();
}

bool nntp_post(int port, const std::string& article) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, (sockaddr*)&a, sizeof a) != 0) {
        ::close(fd);
        return false;
    }
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto line = [&]() {
        std::string s;
        char c;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n') s += c;
        return s;
    };
    auto say = [&](const std::string& s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); };
    line();
    say("MODE READER\r\n");
    line();
    say("POST\r\n");
    bool ok = line().rfind("340", 0) == 0;
    if (ok) {
        std::string body;
        for (char c : article) {
            if (c == '\n') body += '\r';
            body += c;
        }
        say(body + ".\r\n");
        ok = line().rfind("240", 0) == 0;
    }
    say("QUIT\r\n");
    ::close(fd);
    return ok;
}

}  // namespace twtest
