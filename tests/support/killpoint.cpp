// Preloaded into a program that writes through system calls (not stdio):
// stops it dead at its n-th change to the file system, as a power cut or
// an OOM kill would, or fills the disk there. Counted, in the order made:
// opening a file for writing, write(2) to a regular file, fsync,
// fdatasync, ftruncate, rename, unlink, mkdir. Sockets, pipes and the
// standard streams are not counted, nor is what the programs it starts do.
//
//   TW_KILL_AT=n        SIGKILL instead of the n-th counted call (from 1)
//   TW_FULL_AT=n        the disk is full from the n-th counted call on:
//                       every later write or new file fails with ENOSPC,
//                       while renaming, removing and syncing still work
//   TW_KILL_COUNT=file  the number of counted calls is written there at exit
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
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

long env_number(const char* name) {
    const char* e = std::getenv(name);
    return e ? std::strtol(e, nullptr, 10) : 0;
}

long g_calls = 0;

// True when the call may go ahead; false (errno set) when the disk is full.
// Dies when this is the call to die at.
bool counted(bool needs_space) {
    static const long kill_at = env_number("TW_KILL_AT"), full_at = env_number("TW_FULL_AT");
    ++g_calls;
    if (kill_at && g_calls == kill_at) ::raise(SIGKILL);
    if (full_at && g_calls >= full_at && needs_space) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

bool regular(int fd) {
    struct stat st;
    return fd > 2 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool for_writing(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

int open_common(const char* sym, const char* path, int flags, mode_t mode) {
    using Fn = int (*)(const char*, int, ...);
    static Fn fn_open = real<Fn>("open"), fn_open64 = real<Fn>("open64");
    Fn fn = std::strcmp(sym, "open64") == 0 ? fn_open64 : fn_open;
    if (for_writing(flags)) {
        struct stat st;
        bool is_new = (flags & O_CREAT) && ::stat(path, &st) != 0;
        if (!counted(is_new)) return -1;
    }
    return fn(path, flags, mode);
}

struct Reporter {
    // Programs this one starts (a mail system) run unharmed.
    Reporter() { ::unsetenv("LD_PRELOAD"); }
    ~Reporter() {
        const char* file = std::getenv("TW_KILL_COUNT");
        if (!file) return;
        if (FILE* f = std::fopen(file, "w")) {
            std::fprintf(f, "%ld\n", g_calls);
            std::fclose(f);
        }
    }
} g_reporter;

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(ap, int)) : 0;
    va_end(ap);
    return open_common("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(ap, int)) : 0;
    va_end(ap);
    return open_common("open64", path, flags, mode);
}

ssize_t write(int fd, const void* buf, size_t n) {
    static auto fn = real<ssize_t (*)(int, const void*, size_t)>("write");
    if (regular(fd) && !counted(true)) return -1;
    return fn(fd, buf, n);
}

int fsync(int fd) {
    static auto fn = real<int (*)(int)>("fsync");
    if (regular(fd)) counted(false);
    return fn(fd);
}

int fdatasync(int fd) {
    static auto fn = real<int (*)(int)>("fdatasync");
    if (regular(fd)) counted(false);
    return fn(fd);
}

int ftruncate(int fd, off_t len) {
    static auto fn = real<int (*)(int, off_t)>("ftruncate");
    counted(false);
    return fn(fd, len);
}

int rename(const char* from, const char* to) {
    static auto fn = real<int (*)(const char*, const char*)>("rename");
    counted(false);
    return fn(from, to);
}

int unlink(const char* path) {
    static auto fn = real<int (*)(const char*)>("unlink");
    counted(false);
    return fn(path);
}

int mkdir(const char* path, mode_t mode) {
    static auto fn = real<int (*)(const char*, mode_t)>("mkdir");
    if (!counted(true)) return -1;
    return fn(path, mode);
}

}  // extern "C"
