#include "bridge/util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "platform/text.h"

namespace twsoup {

namespace {
int g_errors = 0;
}

void note(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void error(const char* fmt, ...) {
    ++g_errors;
    std::fputs("! ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

int error_count() { return g_errors; }

bool read_whole(const std::string& path, std::string& out, long long limit, bool* size_too_big) {
    if (size_too_big) *size_too_big = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (limit >= 0 && st.st_size > limit) {
        if (size_too_big) *size_too_big = true;
        ::close(fd);
        return false;
    }
    out.clear();
    out.reserve(std::size_t(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, std::size_t(n));
        if (limit >= 0 && (long long)out.size() > limit) {
            if (size_too_big) *size_too_big = true;
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool replace_file(const std::string& path, std::string_view bytes) {
    std::string tmp = path + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    sync_dir(dir_of(path));
    return true;
}

void sync_dir(const std::string& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string dir_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string base_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_dir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_dirs(const std::string& path) {
    if (path.empty() || is_dir(path)) return true;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::size_t slash = trimmed.rfind('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(trimmed.substr(0, slash))) return false;
    return ::mkdir(trimmed.c_str(), 0755) == 0 || errno == EEXIST;
}

std::vector<std::string> plain_files(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string full = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + e->d_name;
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void to_lf(std::string& text) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        text[out++] = text[i];
    }
    text.resize(out);
}

std::string header_field(std::string_view message, std::string_view name) {
    std::size_t pos = 0;
    while (pos < message.size()) {
        std::size_t nl = message.find('\n', pos);
        std::size_t end = nl == std::string_view::npos ? message.size() : nl;
        std::string_view line = message.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;  // end of the header
        if (line.size() > name.size() && line[name.size()] == ':' && tw::istarts_with(line, name)) {
            std::string value(line.substr(name.size() + 1));
            // Continuation lines belong to the field.
            std::size_t next = nl == std::string_view::npos ? message.size() : nl + 1;
            while (next < message.size() && (message[next] == ' ' || message[next] == '\t')) {
                std::size_t nl2 = message.find('\n', next);
                std::size_t e2 = nl2 == std::string_view::npos ? message.size() : nl2;
                std::string_view cont = message.substr(next, e2 - next);
                if (!cont.empty() && cont.back() == '\r') cont.remove_suffix(1);
                value.append(" ").append(cont);
                next = nl2 == std::string_view::npos ? message.size() : nl2 + 1;
            }
            std::size_t a = value.find_first_not_of(" \t");
            std::size_t b = value.find_last_not_of(" \t");
            return a == std::string::npos ? std::string() : value.substr(a, b - a + 1);
        }
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    return std::string();
}

std::vector<std::string> split_groups(std::string_view value) {
    std::vector<std::string> groups;
    std::string cur;
    for (char c : value) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!cur.empty()) groups.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) groups.push_back(cur);
    return groups;
}

bool starts_with_header(std::string_view message) {
    std::size_t i = 0;
    while (i < message.size() && message[i] > ' ' && message[i] < 127 && message[i] != ':') ++i;
    return i > 0 && i < message.size() && message[i] == ':';
}

}  // namespace twsoup
