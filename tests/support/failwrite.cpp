// Preloaded into the program by a test: makes writes fail as on a full disk
// or a failing drive. The program writes through stdio, whose own calls to
// write(2) cannot be intercepted, so the stream calls are taken here.
//
// Counted calls ("fault points"), in the order the program makes them:
// creating or opening a file for writing, every fwrite/vfprintf/fflush/
// fclose on a file stream (never stdout or stderr; fflush only with output
// pending), ftruncate, rename, link, fsync and fdatasync (of a file or a
// directory, however it was opened).
//
//   TW_FAULT_NTH=n      the n-th counted call fails (from 1)
//   TW_FAULT_STICKY=1   ... and the disk stays full: every later call that
//                       would need space fails (a new file, a write past
//                       the end), while overwriting in place, shrinking,
//                       renaming and removing still work, as they do on a
//                       full disk
//   TW_FAULT_CAP=k      every stream takes at most k bytes in this run; the
//                       write that goes past k is cut there and fails
//   TW_FAULT_PATH=s     only files whose path holds s are counted or capped
//   TW_FAULT_ERRNO=EIO  the error given (default ENOSPC)
//   TW_FAULT_COUNT=file the number of counted calls is written there at exit
//   TW_FAULT_TRACE=1    the call stack of the n-th call goes to stderr
//   TW_FAULT_KILL=1     the program is killed (SIGKILL) at the n-th call
//
// A failing fwrite passes half its bytes on first, so a half-written output
// is what the program has to deal with; a failing fflush or fclose drops
// what the stream still buffers.
#include <dlfcn.h>
#include <execinfo.h>
#include <signal.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <class Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

struct Settings {
    long nth = 0;
    bool sticky = false;
    long long cap = -1;
    const char* path = nullptr;
    int err = ENOSPC;
    const char* count_file = nullptr;
};

const Settings& settings() {
    static Settings s = [] {
        Settings v;
        if (const char* e = std::getenv("TW_FAULT_NTH")) v.nth = std::strtol(e, nullptr, 10);
        if (const char* e = std::getenv("TW_FAULT_STICKY")) v.sticky = *e == '1';
        if (const char* e = std::getenv("TW_FAULT_CAP")) v.cap = std::strtoll(e, nullptr, 10);
        v.path = std::getenv("TW_FAULT_PATH");
        if (const char* e = std::getenv("TW_FAULT_ERRNO")) v.err = std::strcmp(e, "EIO") == 0 ? EIO : ENOSPC;
        v.count_file = std::getenv("TW_FAULT_COUNT");
        return v;
    }();
    return s;
}

long g_calls = 0;

// What the shim knows of each descriptor the program opened.
constexpr int kMaxFd = 1024;
struct FdInfo {
    bool watched;       // opened for writing, path matches
    long long written;  // bytes taken through its stream this run
};
FdInfo g_fd[kMaxFd];

bool path_matches(const char* p) {
    const Settings& s = settings();
    return !s.path || (p && std::strstr(p, s.path));
}

// Counts one call; true when it is to fail. `grows`: it needs new space.
bool fault_here(bool grows) {
    const Settings& s = settings();
    ++g_calls;
    if (s.nth <= 0) return false;
    // The process dies here, as from SIGKILL or a power cut seen from the
    // files: what it wrote so far stays, what stdio still buffers is gone.
    if (g_calls == s.nth && std::getenv("TW_FAULT_KILL")) ::kill(::getpid(), SIGKILL);
    bool fail = g_calls == s.nth || (s.sticky && g_calls > s.nth && grows);
    if (fail && g_calls == s.nth && std::getenv("TW_FAULT_TRACE")) {
        void* frames[32];
        backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
    }
    return fail;
}

long long file_size(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? (long long)st.st_size : 0;
}

bool appending(int fd) { return (::fcntl(fd, F_GETFL) & O_APPEND) != 0; }

// Would n more bytes written to the stream need new space?
bool stream_grows(FILE* f, std::size_t n) {
    int fd = fileno(f);
    if (appending(fd)) return n > 0 || f->_IO_write_ptr > f->_IO_write_base;
    return (long long)ftello(f) + (long long)n > file_size(fd);
}

bool watched_stream(FILE* f) {
    if (!f || f == stdout || f == stderr) return false;
    int fd = fileno(f);
    return fd >= 0 && fd < kMaxFd && g_fd[fd].watched;
}

FdInfo* info(FILE* f) { return watched_stream(f) ? &g_fd[fileno(f)] : nullptr; }

void fail_stream(FILE* f) {
    f->_flags |= 0x20;  // _IO_ERR_SEEN: ferror() reports it from now on
    errno = settings().err;
}

__attribute__((destructor)) void report_count() {
    const char* path = settings().count_file;
    if (!path) return;
    using OpenFn = int (*)(const char*, int, ...);
    int fd = real<OpenFn>("open")(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%ld\n", g_calls);
    if (::write(fd, buf, std::size_t(n)) < 0) {
    }
    ::close(fd);
}

int do_open(const char* name, const char* path, int flags, mode_t mode) {
    using Fn = int (*)(const char*, int, ...);
    static Fn fns[2] = {nullptr, nullptr};
    int which = std::strcmp(name, "open64") == 0;
    if (!fns[which]) fns[which] = real<Fn>(name);
    bool writing = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
    bool watch = writing && path_matches(path);
    if (watch && fault_here((flags & O_CREAT) && ::access(path, F_OK) != 0)) {
        errno = settings().err;
        return -1;
    }
    int fd = fns[which](path, flags, mode);
    if (fd >= 0 && fd < kMaxFd) g_fd[fd] = FdInfo{watch, 0};
    return fd;
}

// Passes at most n bytes of a write on, cutting it at the cap; false when
// the write is to fail (after the part that still fits).
size_t allowed_bytes(FILE* f, size_t n, bool& fail) {
    fail = false;
    FdInfo* fi = info(f);
    if (!fi) return n;
    if (fault_here(stream_grows(f, n))) {
        fail = true;
        return n / 2;
    }
    long long cap = settings().cap;
    if (cap >= 0 && fi->written + (long long)n > cap) {
        fail = true;
        return size_t(cap > fi->written ? cap - fi->written : 0);
    }
    return n;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = mode_t(va_arg(ap, int));
        va_end(ap);
    }
    return do_open("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = mode_t(va_arg(ap, int));
        va_end(ap);
    }
    return do_open("open64", path, flags, mode);
}

size_t fwrite(const void* buf, size_t size, size_t n, FILE* f) {
    static auto fn = real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    if (size == 0 || n == 0 || !info(f)) return fn(buf, size, n, f);
    bool fail = false;
    size_t total = size * n;
    size_t pass = allowed_bytes(f, total, fail);
    size_t done = pass ? fn(buf, 1, pass, f) : 0;
    if (FdInfo* fi = info(f)) fi->written += (long long)done;
    if (fail) {
        fail_stream(f);
        return done / size;
    }
    return done == total ? n : done / size;
}

int vfprintf(FILE* f, const char* fmt, va_list ap) {
    static auto fn = real<int (*)(FILE*, const char*, va_list)>("vfprintf");
    if (!info(f)) return fn(f, fmt, ap);
    char small[1024];
    va_list copy;
    va_copy(copy, ap);
    int len = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (len < 0) return len;
    char* text = small;
    if (size_t(len) >= sizeof small) {
        text = static_cast<char*>(std::malloc(size_t(len) + 1));
        if (!text) return -1;
        std::vsnprintf(text, size_t(len) + 1, fmt, ap);
    }
    static auto write_fn = real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    bool fail = false;
    size_t pass = allowed_bytes(f, size_t(len), fail);
    size_t done = pass ? write_fn(text, 1, pass, f) : 0;
    if (FdInfo* fi = info(f)) fi->written += (long long)done;
    if (text != small) std::free(text);
    if (fail) {
        fail_stream(f);
        return -1;
    }
    return done == size_t(len) ? len : -1;
}

int fprintf(FILE* f, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = vfprintf(f, fmt, ap);
    va_end(ap);
    return r;
}

int fflush(FILE* f) {
    static auto fn = real<int (*)(FILE*)>("fflush");
    // A flush with nothing to write makes no system call and cannot fail
    // (the program flushes streams it reads, to learn their size).
    if (info(f) && __fpending(f) > 0 && fault_here(stream_grows(f, 0))) {
        __fpurge(f);
        fail_stream(f);
        return EOF;
    }
    return fn(f);
}

int fclose(FILE* f) {
    static auto fn = real<int (*)(FILE*)>("fclose");
    FdInfo* fi = info(f);
    if (!fi) return fn(f);
    int fd = fileno(f);
    bool fail = fault_here(stream_grows(f, 0));
    if (fail) __fpurge(f);
    int r = fn(f);
    if (fd >= 0 && fd < kMaxFd) g_fd[fd] = FdInfo{};
    if (fail) {
        errno = settings().err;
        return EOF;
    }
    return r;
}

int ftruncate(int fd, off_t length) {
    static auto fn = real<int (*)(int, off_t)>("ftruncate");
    if (fd >= 0 && fd < kMaxFd && g_fd[fd].watched && fault_here(length > file_size(fd))) {
        errno = settings().err;
        return -1;
    }
    return fn(fd, length);
}

int ftruncate64(int fd, off_t length) { return ftruncate(fd, length); }

}  // extern "C"

namespace {

// A sync is asked of a file written here, or of one opened only to be
// synced: its path comes from the descriptor.
bool sync_fails(int fd) {
    bool counted = fd >= 0 && fd < kMaxFd && g_fd[fd].watched;
    if (!counted && !settings().path) counted = true;
    if (!counted) {
        char link[64], path[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = ::readlink(link, path, sizeof path - 1);
        if (n > 0) {
            path[n] = 0;
            counted = path_matches(path);
        }
    }
    if (!counted || !fault_here(false)) return false;
    errno = settings().err == ENOSPC ? EIO : settings().err;
    return true;
}

}  // namespace

extern "C" {

int fsync(int fd) {
    static auto fn = real<int (*)(int)>("fsync");
    return sync_fails(fd) ? -1 : fn(fd);
}

int fdatasync(int fd) {
    static auto fn = real<int (*)(int)>("fdatasync");
    return sync_fails(fd) ? -1 : fn(fd);
}

int rename(const char* from, const char* to) {
    static auto fn = real<int (*)(const char*, const char*)>("rename");
    if ((path_matches(from) || path_matches(to)) && fault_here(false)) {
        errno = settings().err;
        return -1;
    }
    return fn(from, to);
}

int link(const char* from, const char* to) {
    static auto fn = real<int (*)(const char*, const char*)>("link");
    if ((path_matches(from) || path_matches(to)) && fault_here(false)) {
        errno = settings().err;
        return -1;
    }
    return fn(from, to);
}

}  // extern "C"
