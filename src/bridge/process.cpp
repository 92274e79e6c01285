#include "bridge/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace twsoup {

namespace {

long long now_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::string first_line(const std::string& text) {
    std::size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    std::size_t nl = text.find_first_of("\r\n", a);
    return text.substr(a, nl == std::string::npos ? std::string::npos : nl - a);
}

}  // namespace

CommandResult run_with_input(const std::string& command, std::string_view input, int timeout_seconds) {
    CommandResult res;
    int in[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        res.reason = std::string("cannot start ") + command + ": " + std::strerror(errno);
        return res;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        res.reason = std::string("cannot start ") + command + ": " + std::strerror(errno);
        return res;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {in[0], in[1], err[0], err[1]}) ::close(fd);
        res.reason = std::string("cannot start ") + command + ": " + std::strerror(errno);
        return res;
    }
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(err[1], 1);  // what the command says goes into the reason
        ::dup2(err[1], 2);
        ::signal(SIGPIPE, SIG_DFL);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(err[1]);
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::string said;
    long long deadline = now_ms() + (long long)timeout_seconds * 1000;
    int wfd = in[1], rfd = err[0];
    if (input.empty()) {
        ::close(wfd);
        wfd = -1;
    }
    bool timed_out = false;
    while (rfd >= 0) {
        pollfd p[2];
        int n = 0;
        p[n++] = {rfd, POLLIN, 0};
        if (wfd >= 0) p[n++] = {wfd, POLLOUT, 0};
        long long left = deadline - now_ms();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        int r = ::poll(p, nfds_t(n), int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        if (p[0].revents) {
            char buf[4096];
            ssize_t got = ::read(rfd, buf, sizeof buf);
            if (got > 0) {
                if (said.size() < 8192) said.append(buf, std::size_t(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(rfd);
                rfd = -1;
            }
        }
        if (wfd >= 0 && n > 1 && p[1].revents) {
            ssize_t put = ::write(wfd, input.data(), input.size());
            if (put > 0) input.remove_prefix(std::size_t(put));
            // A command that stops reading early has its say in the exit code.
            if (input.empty() || (put < 0 && errno != EAGAIN && errno != EINTR)) {
                ::close(wfd);
                wfd = -1;
            }
        }
    }
    if (wfd >= 0) ::close(wfd);
    if (rfd >= 0) ::close(rfd);
    int status = 0;
    if (timed_out) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        res.reason = "no answer within " + std::to_string(timeout_seconds) + " seconds from " + command;
        return res;
    }
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string text = first_line(said);
    if (WIFSIGNALED(status)) {
        res.reason = command + " ended by signal " + std::to_string(WTERMSIG(status));
        return res;
    }
    int code = WEXITSTATUS(status);
    if (code == 0) {
        res.outcome = Outcome::Accepted;
        return res;
    }
    res.reason = "exit code " + std::to_string(code) + (text.empty() ? std::string() : ": " + text);
    // EX_OSERR, EX_OSFILE, EX_CANTCREAT, EX_IOERR, EX_TEMPFAIL; 126/127: not runnable.
    bool temporary = (code >= 71 && code <= 75) || code == 126 || code == 127;
    res.outcome = temporary ? Outcome::Retry : Outcome::Refused;
    return res;
}

}  // namespace twsoup
