// Preloaded into the program by a test: every allocation of at least
// TW_FAIL_ALLOC_FROM bytes fails, as on a machine without the memory.
#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>

namespace {

std::size_t threshold() {
    static std::size_t t = [] {
        const char* v = std::getenv("TW_FAIL_ALLOC_FROM");
        return v ? std::size_t(std::strtoull(v, nullptr, 10)) : std::size_t(-1);
    }();
    return t;
}

}  // namespace

extern "C" void* calloc(std::size_t n, std::size_t size) {
    using Fn = void* (*)(std::size_t, std::size_t);
    static Fn real = nullptr;
    if (!real) {
        // dlsym itself may call calloc: answer that from a small static pool.
        static bool resolving = false;
        if (resolving) {
            static char pool[4096];
            static std::size_t used = 0;
            std::size_t want = (n * size + 15) & ~std::size_t(15);
            if (used + want > sizeof pool) return nullptr;
            void* p = pool + used;
            used += want;
            return p;
        }
        resolving = true;
        real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "calloc"));
        resolving = false;
    }
    if (n && size && n * size >= threshold()) return nullptr;
    return real(n, size);
}

// Creating a file whose name ends in TW_FAIL_CREATE_SUFFIX fails after
// TW_FAIL_CREATE_AFTER such creations succeeded, as on a full disk.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>

namespace {

bool fail_this_create(const char* path, int flags) {
    static const char* suffix = std::getenv("TW_FAIL_CREATE_SUFFIX");
    static long after = [] {
        const char* v = std::getenv("TW_FAIL_CREATE_AFTER");
        return v ? std::strtol(v, nullptr, 10) : 0L;
    }();
    if (!suffix || !(flags & O_CREAT) || !path) return false;
    std::size_t n = std::strlen(path), k = std::strlen(suffix);
    if (n < k || std::strcmp(path + n - k, suffix) != 0) return false;
    return after-- <= 0;
}

template <class Fn>
int forward_open(const char* name, const char* path, int flags, va_list ap) {
    mode_t mode = 0;
    if (flags & O_CREAT) mode = mode_t(va_arg(ap, int));
    if (fail_this_create(path, flags)) {
        errno = ENOSPC;
        return -1;
    }
    static Fn real = nullptr;
    if (!real) real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
    return real(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int r = forward_open<int (*)(const char*, int, ...)>("open", path, flags, ap);
    va_end(ap);
    return r;
}

extern "C" int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int r = forward_open<int (*)(const char*, int, ...)>("open64", path, flags, ap);
    va_end(ap);
    return r;
}
