#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <unordered_set>
#include <cstring>
#include <cstdarg>
#include <cstdlib>
#include <vector>

#include "platform/text.h"

namespace tw::platform {

std::string native_path(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::size_t file_name_pos(std::string_view path) {
    std::size_t p = path.rfind('\\');
    if (p == std::string_view::npos) p = path.rfind('/');
    return p == std::string_view::npos ? 0 : p + 1;
}

void append_separator(std::string& dir) {
    if (dir.empty()) return;
    char last = dir.back();
    if (last == '\\' || last == '/') return;
    bool slash = dir.find('/') != std::string::npos;
    bool backslash = dir.find('\\') != std::string::npos;
    dir.push_back(slash && !backslash ? '/' : '\\');
}

bool exists_exact(std::string_view path) {
    if (path.empty()) return false;
    struct stat st;
    return ::stat(native_path(path).c_str(), &st) == 0;
}

std::string resolve_case(std::string_view path) {
    if (path.empty() || exists_exact(path)) return std::string(path);
    std::size_t pos = file_name_pos(path);
    std::string_view name = path.substr(pos);
    if (name.empty()) return std::string(path);
    std::string dir = pos ? native_path(path.substr(0, pos)) : std::string(".");
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::string(path);
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (iequals(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    if (found.empty()) return std::string(path);
    return std::string(path.substr(0, pos)) + found;
}

bool exists(std::string_view path) {
    if (exists_exact(path)) return true;
    std::string r = resolve_case(path);
    return r != path && exists_exact(r);
}

namespace {

struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    std::unordered_set<std::string> lower;  // entry names, lower-cased
};

std::unordered_map<std::string, Listing>& listings() {
    static std::unordered_map<std::string, Listing> m;
    return m;
}

std::string lower_copy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

bool same_state(const Listing& l, const struct stat& st) {
    return l.dev == st.st_dev && l.ino == st.st_ino && l.mtime.tv_sec == st.st_mtim.tv_sec &&
           l.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// The directory part as the system spells it ("." for none), and the name.
void split_path(std::string_view path, std::string& dir, std::string_view& name) {
    std::size_t pos = file_name_pos(path);
    name = path.substr(pos);
    dir = pos ? native_path(path.substr(0, pos)) : std::string(".");
}

// Applies a change this process made to a directory whose listing is kept.
void note_entry(std::string_view path, bool present) {
    if (listings().empty()) return;
    std::string dir;
    std::string_view name;
    split_path(path, dir, name);
    auto it = listings().find(dir);
    if (it == listings().end()) return;
    struct stat st;
    if (name.empty() || ::stat(dir.c_str(), &st) != 0) {
        listings().erase(it);
        return;
    }
    if (present) it->second.lower.insert(lower_copy(name));
    else it->second.lower.erase(lower_copy(name));
    it->second.mtime = st.st_mtim;
}

}  // namespace

bool name_taken(std::string_view path) {
    if (exists_exact(path)) return true;
    std::string dir;
    std::string_view name;
    split_path(path, dir, name);
    if (name.empty()) return false;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return false;
    Listing& l = listings()[dir];
    if (!same_state(l, st)) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) {
            listings().erase(dir);
            return false;
        }
        l.lower.clear();
        while (dirent* e = ::readdir(d)) l.lower.insert(lower_copy(e->d_name));
        ::closedir(d);
        l.dev = st.st_dev;
        l.ino = st.st_ino;
        l.mtime = st.st_mtim;
    }
    return l.lower.count(lower_copy(name)) != 0;
}

void forget_listings() { listings().clear(); }

bool is_directory(std::string_view path) {
    struct stat st;
    return ::stat(native_path(resolve_case(path)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool remove_file(std::string_view path) {
    std::string real = resolve_case(path);
    if (::unlink(native_path(real).c_str()) != 0) return false;
    note_entry(real, false);
    return true;
}

bool rename_file(std::string_view from, std::string_view to) {
    std::string src = resolve_case(from);
    if (::rename(native_path(src).c_str(), native_path(to).c_str()) != 0) return false;
    note_entry(src, false);
    note_entry(to, true);
    return true;
}

bool publish_file(std::string_view from, std::string_view to) {
    std::string real = resolve_case(from);
    std::string src = native_path(real), dst = native_path(to);
    if (name_taken(to)) return false;
    if (::link(src.c_str(), dst.c_str()) == 0) {
        ::unlink(src.c_str());
        note_entry(real, false);
        note_entry(to, true);
        return true;
    }
    if (errno == EEXIST) return false;
    // No hard links here (some file systems): a rename after a fresh test.
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    if (name_taken(to) || ::rename(src.c_str(), dst.c_str()) != 0) return false;
    note_entry(real, false);
    note_entry(to, true);
    return true;
}

namespace {

// Opens the file or directory only to wait for it to reach the disk.
bool sync_opened(const std::string& path, int flags, int (*sync)(int)) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return false;
    bool ok = sync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace

bool sync_directory(std::string_view dir) {
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.remove_suffix(1);
    std::string path = dir.empty() ? std::string(".") : native_path(resolve_case(dir));
    return sync_opened(path, O_DIRECTORY, ::fsync);
}

bool sync_file_data(std::string_view path) {
    return sync_opened(native_path(resolve_case(path)), 0, ::fdatasync);
}

bool modification_time(std::string_view path, std::time_t& out) {
    struct stat st;
    if (::stat(native_path(resolve_case(path)).c_str(), &st) != 0) return false;
    out = st.st_mtime;
    return true;
}

long long file_size(std::string_view path) {
    struct stat st;
    if (::stat(native_path(resolve_case(path)).c_str(), &st) != 0) return -1;
    return (long long)st.st_size;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*" || pattern == "*") return true;
    // Iterative matcher with one backtrack point: linear in practice.
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || ascii_lower(pattern[p]) == ascii_lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool is_regular_file(std::string_view path) {
    struct stat st;
    return ::stat(native_path(resolve_case(path)).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool real_path(std::string_view path, std::string& out) {
    char* r = ::realpath(native_path(resolve_case(path)).c_str(), nullptr);
    if (!r) return false;
    out.assign(r);
    std::free(r);
    return true;
}

void list_directory(std::string_view dir, std::string_view pattern,
                    const std::function<bool(const std::string&)>& each) {
    std::string d = dir.empty() ? std::string(".") : native_path(dir);
    DIR* h = ::opendir(d.c_str());
    if (!h) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(h)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        if (wildcard_match(pattern, n)) names.emplace_back(n);
    }
    ::closedir(h);
    std::sort(names.begin(), names.end());
    for (const auto& n : names)
        if (!each(n)) break;
}

namespace {
constexpr std::size_t kStreamBuffer = 1 << 18;
}

File::File(File&& other) noexcept
    : fp_(other.fp_), buf_(std::move(other.buf_)), text_(other.text_), pos_(other.pos_), limit_(other.limit_),
      left_(other.left_), wbuf_(std::move(other.wbuf_)), wcap_(other.wcap_), wlen_(other.wlen_),
      unit_(other.unit_), behind_(other.behind_) {
    other.fp_ = nullptr;
    other.wcap_ = other.wlen_ = other.unit_ = 0;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        release();
        fp_ = other.fp_;
        buf_ = std::move(other.buf_);
        text_ = other.text_;
        pos_ = other.pos_;
        limit_ = other.limit_;
        left_ = other.left_;
        wbuf_ = std::move(other.wbuf_);
        wcap_ = other.wcap_;
        wlen_ = other.wlen_;
        unit_ = other.unit_;
        behind_ = other.behind_;
        other.fp_ = nullptr;
        other.wcap_ = other.wlen_ = other.unit_ = 0;
    }
    return *this;
}

bool File::open(std::string_view path, OpenMode mode, Share share, bool text) {
    release();
    text_ = text;
    limit_ = -1;
    if (path.empty()) return false;
    int flags = 0;
    const char* fmode = "rb";
    std::string real;
    switch (mode) {
    case OpenMode::Read:
        flags = O_RDONLY;
        fmode = "rb";
        real = resolve_case(path);
        break;
    case OpenMode::ReadWrite:
        flags = O_RDWR;
        fmode = "r+b";
        real = resolve_case(path);
        break;
    case OpenMode::Write:
        // Truncated only once the lock is held, never a file another run owns.
        flags = O_WRONLY | O_CREAT;
        fmode = "wb";
        real = resolve_case(path);
        break;
    case OpenMode::Append:
        flags = O_WRONLY | O_CREAT | O_APPEND;
        fmode = "ab";
        real = resolve_case(path);
        break;
    case OpenMode::CreateNew:
        if (name_taken(path)) return false;
        flags = O_RDWR | O_CREAT | O_EXCL;
        fmode = "w+b";
        real = std::string(path);
        break;
    }
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    int fd = ::open(native_path(real).c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    if (flags & O_CREAT) note_entry(real, true);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (!S_ISREG(st.st_mode) && mode != OpenMode::Append) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    if (share == Share::DenyWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    if (mode == OpenMode::Write && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    fp_ = ::fdopen(fd, fmode);
    if (!fp_) {
        ::close(fd);
        return false;
    }
    // One thread: the stream's calls need not take its lock each time.
    __fsetlocking(fp_, FSETLOCKING_BYCALLER);
    // Appending (logs, indexes) keeps the usual small buffer.
    if (mode != OpenMode::Append) {
        if (!buf_) buf_.reset(new (std::nothrow) char[kStreamBuffer]);
        if (buf_) std::setvbuf(fp_, buf_.get(), _IOFBF, kStreamBuffer);
    }
    pos_ = mode == OpenMode::Append ? -1 : 0;
    return true;
}

void File::copy_bytes(char* to, const void* from, std::size_t n) { std::memcpy(to, from, n); }

void File::buffer_writes() {
    if (!fp_ || text_) return;
    if (!wbuf_) wbuf_.reset(new (std::nothrow) char[kStreamBuffer]);
    if (!wbuf_) return;
    // The blocks go to the system as they are, not copied once more.
    std::setvbuf(fp_, nullptr, _IONBF, 0);
    wcap_ = kStreamBuffer;
    wlen_ = 0;
    unit_ = 0;
    behind_ = pos_ >= 0 ? pos_ : 0;
}

// Left to itself the system holds a large output in memory and writes it
// only when asked to sync; started early, the disk works while the run goes
// on. Only a request: it waits for nothing and its failure changes nothing.
void File::write_behind() {
#if defined(SYNC_FILE_RANGE_WRITE)
    constexpr long long kStep = 2ll << 20;
    if (pos_ >= behind_ + kStep) {
        (void)::sync_file_range(::fileno(fp_), behind_, pos_ - behind_, SYNC_FILE_RANGE_WRITE);
        behind_ = pos_;
    }
#endif
}

bool File::spill_now() {
    std::size_t n = wlen_;
    wlen_ = 0;
    unit_ = 0;
    bool ok = std::fwrite(wbuf_.get(), 1, n, fp_) == n;
    if (!ok) pos_ = -1;
    if (ok && pos_ >= 0) write_behind();
    return ok;
}

bool File::make_room() {
    if (unit_ == 0 || unit_ > wlen_) return spill();
    std::size_t n = unit_;
    unit_ = 0;
    if (std::fwrite(wbuf_.get(), 1, n, fp_) != n) {
        wlen_ = 0;
        pos_ = -1;
        return false;
    }
    std::memmove(wbuf_.get(), wbuf_.get() + n, wlen_ - n);
    wlen_ -= n;
    if (pos_ >= 0) write_behind();
    return true;
}

bool File::write_stream(const void* buf, std::size_t n) {
    if (!fp_) return false;
    if (n == 0) return true;
    if (wcap_) {
        if (!make_room()) return false;
        if (n <= wcap_ - wlen_) {
            std::memcpy(wbuf_.get() + wlen_, buf, n);
            wlen_ += n;
            if (pos_ >= 0) pos_ += (long long)n;
            return true;
        }
        if (!spill()) return false;
    }
    bool ok = std::fwrite(buf, 1, n, fp_) == n;
    pos_ = ok && pos_ >= 0 ? pos_ + (long long)n : -1;
    if (ok && wcap_ && pos_ >= 0) write_behind();
    return ok;
}

bool File::close() {
    if (!fp_) return true;
    bool ok = spill();
    wcap_ = 0;
    ok = !std::ferror(fp_) && ok;
    ok = std::fclose(fp_) == 0 && ok;  // releases the advisory lock with the descriptor
    fp_ = nullptr;
    return ok;
}

void File::limit_to_size() {
    long long at = tell(), end = size();
    if (at < 0 || end < 0) return;
    limit_ = end;
    left_ = end > at ? end - at : 0;
}

std::size_t File::read(void* buf, std::size_t n) {
    if (!fp_) return 0;
    (void)spill();
    if (!text_) {
        if (limit_ >= 0 && (long long)n > left_) n = std::size_t(left_);
        std::size_t got = n ? std::fread(buf, 1, n, fp_) : 0;
        if (limit_ >= 0) left_ -= (long long)got;
        if (pos_ >= 0) pos_ += (long long)got;
        return got;
    }
    char* out = static_cast<char*>(buf);
    std::size_t got = 0;
    while (got < n) {
        int c = getc();
        if (c == EOF) break;
        out[got++] = char(c);
    }
    return got;
}

int File::getc_text() {
    if (!fp_) return EOF;
    (void)spill();
    if (limit_ >= 0) {
        if (left_ <= 0) return EOF;
        --left_;
    }
    int c = getc_unlocked(fp_);
    if (c == EOF) return c;
    if (pos_ >= 0) ++pos_;
    if (text_ && c == '\r' && (limit_ < 0 || left_ > 0)) {
        int next = getc_unlocked(fp_);
        if (next == '\n') {
            if (limit_ >= 0) --left_;
            if (pos_ >= 0) ++pos_;
            return '\n';
        }
        if (next != EOF) ungetc(next, fp_);
    }
    return c;
}

std::size_t File::read_line(char* buf, std::size_t cap) {
    if (cap == 0) return 0;
    std::size_t got = 0;
    while (got + 1 < cap) {
        int c = getc();
        if (c == EOF) break;
        buf[got++] = char(c);
        if (c == '\n') break;
    }
    buf[got] = 0;
    return got;
}

bool File::printf(const char* fmt, ...) {
    if (!fp_) return false;
    va_list ap;
    if (wcap_) {
        // Formatted straight into the own buffer, in the space left or,
        // when it does not fit there, after a spill.
        for (int attempt = 0; attempt < 2; ++attempt) {
            va_start(ap, fmt);
            int r = std::vsnprintf(wbuf_.get() + wlen_, wcap_ - wlen_, fmt, ap);
            va_end(ap);
            if (r < 0) return false;
            if (std::size_t(r) < wcap_ - wlen_) {
                wlen_ += std::size_t(r);
                if (pos_ >= 0) pos_ += r;
                return true;
            }
            if (!(attempt == 0 ? make_room() : spill())) return false;
        }
    }
    va_start(ap, fmt);
    int r = std::vfprintf(fp_, fmt, ap);
    va_end(ap);
    pos_ = r >= 0 && pos_ >= 0 ? pos_ + r : -1;
    return r >= 0;
}

bool File::overwrite(long long offset, const void* data, std::size_t n) {
    long long end = tell();
    if (!fp_ || end < 0 || offset < 0 || offset + (long long)n > end) return false;
    if (wlen_ > 0 && offset >= end - (long long)wlen_) {
        std::memcpy(wbuf_.get() + (offset - (end - (long long)wlen_)), data, n);
        return true;
    }
    if (!spill()) return false;
#if defined(__GLIBC__)
    long long pending = fp_->_IO_write_ptr - fp_->_IO_write_base;
    if (pending > 0 && offset >= end - pending) {
        std::memcpy(fp_->_IO_write_base + (offset - (end - pending)), data, n);
        return true;
    }
#endif
    if (std::fflush(fp_) != 0) return false;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(::fileno(fp_), p, n, (off_t)offset);
        if (w <= 0) return false;
        p += w;
        n -= std::size_t(w);
        offset += w;
    }
    return true;
}

bool File::seek(long long offset) {
    if (!spill()) {
        pos_ = -1;
        return false;
    }
#if defined(__GLIBC__)
    // Readers step back a line or a word inside what the stream has buffered
    // (the export converter does so on every wrapped line); moving the read
    // pointer spares the system call that fseeko makes each time.
    if (fp_ && pos_ >= 0 && fp_->_IO_save_base == nullptr && fp_->_IO_write_ptr == fp_->_IO_write_base &&
        fp_->_IO_read_ptr != nullptr) {
        long long delta = offset - pos_;
        if (delta >= fp_->_IO_read_base - fp_->_IO_read_ptr && delta <= fp_->_IO_read_end - fp_->_IO_read_ptr) {
            fp_->_IO_read_ptr += delta;
            fp_->_flags &= ~_IO_EOF_SEEN;
            pos_ = offset;
            if (limit_ >= 0) left_ = limit_ > offset ? limit_ - offset : 0;
            return true;
        }
    }
#endif
    if (!fp_ || ::fseeko(fp_, (off_t)offset, SEEK_SET) != 0) {
        pos_ = -1;
        return false;
    }
    pos_ = offset;
    if (limit_ >= 0) left_ = limit_ > offset ? limit_ - offset : 0;
    return true;
}

bool File::seek_end() {
    (void)spill();
    pos_ = -1;
    if (!fp_ || ::fseeko(fp_, 0, SEEK_END) != 0) return false;
    if (limit_ >= 0) left_ = 0;
    return true;
}
// The position is counted as the file is read and written, because asking
// the stream costs a system call each time, and readers ask once a line.
long long File::tell_stream() {
    if (!fp_) return -1;
    if (pos_ < 0) {
        (void)spill();
        pos_ = (long long)::ftello(fp_);
    }
    return pos_;
}

long long File::size() {
    if (!fp_) return -1;
    (void)spill();
    std::fflush(fp_);
    struct stat st;
    if (::fstat(::fileno(fp_), &st) != 0) return -1;
    return (long long)st.st_size;
}

bool File::flush() { return fp_ && spill() && std::fflush(fp_) == 0; }

bool File::sync() { return flush() && ::fsync(::fileno(fp_)) == 0; }

bool File::sync_data() { return flush() && ::fdatasync(::fileno(fp_)) == 0; }

bool File::truncate(long long length) {
    if (!fp_) return false;
    (void)spill();
    std::fflush(fp_);
    return ::ftruncate(::fileno(fp_), (off_t)length) == 0;
}

bool File::error() const { return fp_ && std::ferror(fp_); }
bool File::eof() const { return !fp_ || std::feof(fp_); }

bool SiteLock::acquire(std::string_view dir, int wait_seconds) {
    release();
    busy_ = false;
    std::string path = native_path(dir) + kSiteLockName;
    // Read-only will do for flock, and leaves a read-only lock file usable.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    for (int waited = 0;; ++waited) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        busy_ = true;
        if (waited >= wait_seconds) break;
        ::sleep(1);
    }
    release();
    return false;
}

void SiteLock::release() {
    // The file stays: removing it would let a third run lock a new file
    // while a second still waits on the old one.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::time_t now() { return std::time(nullptr); }

void local_time(std::time_t t, std::tm& out) {
    if (!::localtime_r(&t, &out)) std::memset(&out, 0, sizeof out);
}

const char* env(const char* name) { return std::getenv(name); }

}  // namespace tw::platform
