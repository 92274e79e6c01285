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
