#include "support/scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace twtest {

Scratch::Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarnwick-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    root_ = buf.data();
}

Scratch::~Scratch() {
    if (std::getenv("TW_KEEP_SCRATCH")) return;
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string Scratch::path(std::string_view rel) const {
    if (rel.empty()) return root_;
    return root_ + "/" + std::string(rel);
}

void Scratch::mkdir(std::string_view rel) const { std::filesystem::create_directories(path(rel)); }

void write_file(const std::string& p, std::string_view bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string read_file(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

ScopedUtc::ScopedUtc() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

ScopedUtc::~ScopedUtc() {
    if (saved_)
        ::setenv("TZ", saved_->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        out.push_back(char(seed >> 16));
    }
    return out;
}

void Scratch::write(std::string_view rel, std::string_view bytes) const {
    std::filesystem::path p(path(rel));
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    write_file(p.string(), bytes);
}

void Scratch::append(std::string_view rel, std::string_view bytes) const {
    std::ofstream f(path(rel), std::ios::binary | std::ios::app);
    f.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string Scratch::read(std::string_view rel) const { return read_file(path(rel)); }

bool Scratch::exists(std::string_view rel) const {
    struct stat st;
    return ::lstat(path(rel).c_str(), &st) == 0;
}

std::vector<std::string> Scratch::list(std::string_view rel) const {
    std::vector<std::string> names;
    DIR* d = ::opendir(path(rel).c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::string drain(int fd) {
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, (std::size_t)n);
    }
    return out;
}

}  // namespace

RunResult run_process(const std::vector<std::string>& argv, const std::string& cwd, const EnvChanges& env) {
    RunResult r;
    // Output goes to files, so a large output never blocks the child.
    std::string outp = cwd + "/.stdout.capture", errp = cwd + "/.stderr.capture";
    int out_fd = ::open(outp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int err_fd = ::open(errp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int null_fd = ::open("/dev/null", O_RDONLY);

    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
        if (v)
            vars[k] = *v;
        else
            vars.erase(k);
    }
    std::vector<std::string> envs;
    for (const auto& [k, v] : vars) envs.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& s : envs) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argcopy = argv;
    for (auto& s : argcopy) args.push_back(s.data());
    args.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(127);
        ::dup2(null_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ::lseek(out_fd, 0, SEEK_SET);
    ::lseek(err_fd, 0, SEEK_SET);
    r.out = drain(out_fd);
    r.err = drain(err_fd);
    ::close(out_fd);
    ::close(err_fd);
    ::close(null_fd);
    ::unlink(outp.c_str());
    ::unlink(errp.c_str());
    return r;
}

std::string config_warning(const std::string& what, long line, const std::string& file) {
    return "Warning: " + what + " in line " + std::to_string(line) + " of " + file + "\n\n";
}

}  // namespace twtest
