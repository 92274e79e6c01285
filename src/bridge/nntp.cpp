#include "bridge/nntp.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace twsoup {

namespace {
constexpr std::size_t kStatusLimit = 4096;
constexpr std::size_t kLineLimit = 1 << 20;  // one article line
}  // namespace

bool Nntp::open(const Endpoint& server, int timeout_seconds, std::string& why) {
    close();
    timeout_ms_ = timeout_seconds * 1000;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    std::string port = std::to_string(server.port);
    int rc = ::getaddrinfo(server.host.c_str(), port.c_str(), &hints, &res);
    if (rc != 0) {
        why = std::string("cannot resolve ") + server.host + ": " + ::gai_strerror(rc);
        return false;
    }
    why = "cannot connect to " + server.host + ":" + port;
    for (addrinfo* a = res; a; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        int c = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (c != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int err = 0;
            socklen_t len = sizeof err;
            if (::poll(&p, 1, timeout_ms_) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
                c = 0;
            else if (err)
                why += std::string(": ") + std::strerror(err);
            else
                why += ": timed out";
        } else if (c != 0) {
            why += std::string(": ") + std::strerror(errno);
        }
        if (c == 0) {
            fd_ = fd;
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(res);
    if (fd_ < 0) return false;
    in_.clear();
    in_pos_ = 0;
    int code = 0;
    if (!read_status(code, why)) {
        close();
        return false;
    }
    if (code != 200 && code != 201) {
        why = "server refuses: " + status_;
        close();
        return false;
    }
    return true;
}

void Nntp::close() {
    if (fd_ >= 0) {
        // A polite goodbye, without waiting for the answer.
        static const char quit[] = "QUIT\r\n";
        ssize_t ignored = ::send(fd_, quit, sizeof quit - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)ignored;
        ::close(fd_);
    }
    fd_ = -1;
}

bool Nntp::send(std::string_view bytes, std::string& why) {
    while (!bytes.empty()) {
        pollfd p{fd_, POLLOUT, 0};
        int r = ::poll(&p, 1, timeout_ms_);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            why = "server timed out";
            return false;
        }
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            why = std::string("connection lost: ") + std::strerror(errno);
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool Nntp::read_line(std::string& line, std::size_t limit, std::string& why) {
    line.clear();
    for (;;) {
        std::size_t nl = in_.find('\n', in_pos_);
        if (nl != std::string::npos) {
            line.append(in_, in_pos_, nl - in_pos_);
            in_pos_ = nl + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (in_pos_ > 65536) {
                in_.erase(0, in_pos_);
                in_pos_ = 0;
            }
            return true;
        }
        if (in_.size() - in_pos_ > limit) {
            why = "server sends a line too long";
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, timeout_ms_);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            why = "server timed out";
            return false;
        }
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            why = "connection closed by the server";
            return false;
        }
        in_.append(buf, std::size_t(n));
    }
}

bool Nntp::read_status(int& code, std::string& why) {
    if (!read_line(status_, kStatusLimit, why)) return false;
    const std::string& s = status_;
    if (s.size() < 3 || s[0] < '1' || s[0] > '5' || s[1] < '0' || s[1] > '9' || s[2] < '0' || s[2] > '9' ||
        (s.size() > 3 && s[3] != ' ')) {
        why = "server answers garbage";
        return false;
    }
    code = (s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0');
    return true;
}

bool Nntp::command(std::string_view line, int& code, std::string& why) {
    if (fd_ < 0) {
        why = "not connected";
        return false;
    }
    std::string out(line);
    out += "\r\n";
    return send(out, why) && read_status(code, why);
}

bool Nntp::read_block(std::string& out, long long limit, bool& too_big, std::string& why) {
    out.clear();
    too_big = false;
    std::string line;
    for (;;) {
        if (!read_line(line, kLineLimit, why)) return false;
        if (line == ".") return true;
        std::string_view l = line;
        if (!l.empty() && l[0] == '.') l.remove_prefix(1);
        if (too_big) continue;
        if ((long long)(out.size() + l.size() + 1) > limit) {
            too_big = true;
            out.clear();
            continue;
        }
        out.append(l);
        out += '\n';
    }
}

bool Nntp::send_block(std::string_view text, std::string& why) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 8);
    bool line_start = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (line_start && c == '.') out += '.';
        if (c == '\n') {
            if (out.empty() || out.back() != '\r') out += '\r';
            line_start = true;
        } else {
            line_start = false;
        }
        out += c;
    }
    if (!line_start) out += "\r\n";
    out += ".\r\n";
    return send(out, why);
}

bool Nntp::login(const std::string& user, const std::string& password, std::string& why) {
    if (user.empty()) return true;
    int code = 0;
    if (!command("AUTHINFO USER " + user, code, why)) return false;
    if (code == 381 && !command("AUTHINFO PASS " + password, code, why)) return false;
    if (code != 281) {
        why = "login refused: " + status_;
        return false;
    }
    return true;
}

}  // namespace twsoup
