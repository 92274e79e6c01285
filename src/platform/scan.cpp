#include "platform/scan.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tw::platform {

namespace {

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// True when collapsing would change nothing: no tab, CR, LF, VT or FF, and
// every blank stands alone between other bytes. Most header lines are so.
bool collapsed_already(const char* p, std::size_t n) {
    if (n == 0) return true;
    if (is_white(p[n - 1])) return false;
    std::size_t i = 0;
    unsigned before = 1;  // the start counts as white space
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' '), below_tab = _mm_set1_epi8(8), above_cr = _mm_set1_epi8(14);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // Bytes 80h and up are negative here, so they fall outside 9..13.
        __m128i control = _mm_and_si128(_mm_cmpgt_epi8(v, below_tab), _mm_cmplt_epi8(v, above_cr));
        if (_mm_movemask_epi8(control) != 0) return false;
        unsigned spaces = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, blank)));
        if (spaces & ((spaces << 1) | before)) return false;
        before = spaces >> 15;
    }
#endif
    for (; i < n; ++i) {
        char c = p[i];
        if (c == ' ') {
            if (before) return false;
            before = 1;
        } else if (is_white(c)) {
            return false;
        } else {
            before = 0;
        }
    }
    return true;
}

}  // namespace

const char* find_text(const char* p, std::size_t n, std::string_view sep) {
    if (sep.size() < 2 || n < sep.size()) return nullptr;
    const char* end = p + n;
    const char* last = end - sep.size();  // the last place it can start
    auto match = [&](const char* at) { return std::memcmp(at, sep.data(), sep.size()) == 0; };
#if defined(__SSE2__)
    // Pairs of its first two bytes, sixteen places at a time.
    const __m128i first = _mm_set1_epi8(sep[0]), second = _mm_set1_epi8(sep[1]);
    for (; p + 17 <= end; p += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        unsigned hits = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second))));
        for (; hits != 0; hits &= hits - 1) {
            const char* at = p + __builtin_ctz(hits);
            if (at > last) return nullptr;
            if (match(at)) return at;
        }
    }
#endif
    for (; p <= last; ++p) {
        p = static_cast<const char*>(std::memchr(p, sep[0], std::size_t(last - p) + 1));
        if (!p) return nullptr;
        if (match(p)) return p;
    }
    return nullptr;
}

std::size_t collapse_white_space(const char* in, std::size_t n, char* out) {
    if (collapsed_already(in, n)) {
        if (in != out) std::memcpy(out, in, n);
        return n;
    }
    // Without branches on the bytes: a byte is stored where w stands either
    // way and kept by moving w on. w never passes i, so this works in place.
    std::size_t w = 0;
    bool blank = false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = in[i];
        bool white = is_white(c);
        out[w] = ' ';
        w += std::size_t(blank & !white);
        out[w] = c;
        w += std::size_t(!white);
        blank = white & (w > 0);
    }
    return w;
}

}  // namespace tw::platform
