#include "rfc822/mime.h"

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tw::mime {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Three bytes from four six-bit values; `want` says how many to keep.
std::size_t join_group(const int v[4], std::size_t want, unsigned char* out) {
    std::size_t n = 0;
    if (want > 0 && v[0] >= 0 && v[1] >= 0) out[n++] = (unsigned char)((v[0] << 2) | (v[1] >> 4));
    if (want > 1 && v[1] >= 0 && v[2] >= 0) out[n++] = (unsigned char)(((v[1] & 15) << 4) | (v[2] >> 2));
    if (want > 2 && v[2] >= 0 && v[3] >= 0) out[n++] = (unsigned char)(((v[2] & 3) << 6) | v[3]);
    return n;
}

// Four six-bit values of up to three bytes, written through `digit`.
template <typename Digit>
std::size_t split_group(const unsigned char* in, std::size_t n, char* out, Digit digit) {
    unsigned b0 = in[0], b1 = n > 1 ? in[1] : 0, b2 = n > 2 ? in[2] : 0;
    out[0] = digit(b0 >> 2);
    out[1] = digit(((b0 & 3) << 4) | (b1 >> 4));
    if (n == 1) return 2;
    out[2] = digit(((b1 & 15) << 2) | (b2 >> 6));
    if (n == 2) return 3;
    out[3] = digit(b2 & 63);
    return 4;
}

template <typename Digit>
std::size_t split_bytes(const unsigned char* in, std::size_t n, char* out, Digit digit) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; i += 3) w += split_group(in + i, n - i < 3 ? n - i : 3, out + w, digit);
    return w;
}

char base64_digit(unsigned v) { return kBase64Alphabet[v & 63]; }
char uu_digit(unsigned v) { return v == 0 ? '`' : char((v & 63) + 0x20); }

}  // namespace

int base64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/' || c == '-') return 63;
    return -1;
}

std::size_t base64_line_size(std::string_view line) {
    std::size_t chars = 0;
    for (char c : line)
        if (base64_value((unsigned char)c) >= 0) ++chars;
    return chars * 3 / 4;
}

std::size_t decode_base64_line(std::string_view line, unsigned char* out) {
    std::size_t total = base64_line_size(line), n = 0;
    for (std::size_t i = 0; i < line.size() && n < total; i += 4) {
        int v[4];
        for (std::size_t k = 0; k < 4; ++k)
            v[k] = i + k < line.size() ? base64_value((unsigned char)line[i + k]) : -1;
        n += join_group(v, total - n, out + n);
    }
    return n;
}

namespace {

// base64_value for every byte, looked up.
struct Base64Table {
    signed char value[256];
    Base64Table() {
        for (int c = 0; c < 256; ++c) value[c] = (signed char)base64_value((unsigned char)c);
    }
};
const Base64Table kBase64Table;

}  // namespace

std::size_t Base64Stream::decode(std::string_view text, unsigned char* out) {
    const signed char* t = kBase64Table.value;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    std::size_t n = 0;
    for (;;) {
        // Whole groups of four values at a group boundary: the common case.
        if (count_ == 0) {
            while (end - p >= 4) {
                int a = t[p[0]], b = t[p[1]], c = t[p[2]], d = t[p[3]];
                if ((a | b | c | d) < 0) break;
                unsigned v = unsigned(a) << 18 | unsigned(b) << 12 | unsigned(c) << 6 | unsigned(d);
                out[n] = (unsigned char)(v >> 16);
                out[n + 1] = (unsigned char)(v >> 8);
                out[n + 2] = (unsigned char)v;
                n += 3;
                p += 4;
            }
        }
        if (p == end) break;
        int v = t[*p];
        if (v < 0) {
            if (*p == '=') reset();
        } else {
            bits_ = ((bits_ << 6) | unsigned(v)) & 0xFFFFFF;
            count_ += 6;
            if (count_ >= 8) {
                count_ -= 8;
                out[n++] = (unsigned char)(bits_ >> count_);
            }
        }
        ++p;
    }
    return n;
}

std::size_t encode_base64_line(const unsigned char* in, std::size_t n, char* out) {
    return split_bytes(in, n, out, base64_digit);
}

bool uu_data_line(std::string_view line, std::size_t& byte_count) {
    if (line.empty()) return false;
    unsigned char first = (unsigned char)line[0];
    if (first < '!' || first > '`') return false;
    std::size_t n = std::size_t(uu_value(first));
    if (n > (line.size() - 1) * 3 / 4) return false;
    byte_count = n;
    return true;
}

std::size_t decode_uu_line(std::string_view line, std::size_t byte_count, unsigned char* out) {
    std::size_t n = 0;
    for (std::size_t i = 1; i < line.size() && n < byte_count; i += 4) {
        int v[4];
        for (std::size_t k = 0; k < 4; ++k) v[k] = i + k < line.size() ? uu_value((unsigned char)line[i + k]) : -1;
        n += join_group(v, byte_count - n, out + n);
    }
    return n;
}

std::size_t encode_uu_line(const unsigned char* in, std::size_t n, char* out) {
    out[0] = char(n + 0x20);
    return 1 + split_bytes(in, n, out + 1, uu_digit);
}

std::size_t decode_quoted_printable(char* text, std::size_t len, char nul_stand_in) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < len; ++i) {
        int hi, lo;
        if (text[i] == '=' && i + 2 < len && (hi = hex_value(text[i + 1])) >= 0 &&
            (lo = hex_value(text[i + 2])) >= 0) {
            char c = char(hi * 16 + lo);
            text[w++] = c == 0 ? nul_stand_in : c;
            i += 2;
        } else {
            text[w++] = text[i];
        }
    }
    return w;
}

namespace {

// Bytes quoted-printable writes as they are.
struct QpPlain {
    bool plain[256];
    constexpr QpPlain() : plain() {
        for (int c = 0x20; c < 0x7F; ++c) plain[c] = c != '=';
    }
};
constexpr QpPlain kQpPlain;

#if !defined(__SSE2__)
// True when none of the eight bytes of w needs an escape: each is from 20h
// to 7Eh and no '='. (w - n*0x01..) & ~w & 0x80.. is nonzero exactly when
// some byte is below n (n up to 80h).
bool all_plain(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    std::uint64_t eq = w ^ (ones * '='), del = w ^ (ones * 0x7F);
    std::uint64_t bad = ((w - ones * 0x20) & ~w & highs) | (w & highs) | ((eq - ones) & ~eq & highs) |
                        ((del - ones) & ~del & highs);
    return bad == 0;
}

#endif

inline char* escape_byte(unsigned char c, char* out) {
    out[0] = '=';
    out[1] = kHexDigits[c >> 4];
    out[2] = kHexDigits[c & 15];
    return out + 3;
}

}  // namespace

char* encode_quoted_printable(std::string_view text, char* out) {
    const char* p = text.data();
    const char* end = p + text.size();
#if defined(__SSE2__)
    // Sixteen bytes at a time: all sixteen are stored, and the output
    // moves on by the plain ones before the first that needs an escape.
    // The store stays within the output, which has room for three bytes a
    // byte and so for sixteen while sixteen bytes are left.
    const __m128i space_less_1 = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F), eq = _mm_set1_epi8('=');
    // Bit i set: byte i of v needs an escape. Signed compares: bytes of 80h
    // and above are negative, so below 20h.
    auto escapes_in = [&](__m128i v) {
        __m128i plain = _mm_andnot_si128(_mm_cmpeq_epi8(v, eq),
                                         _mm_and_si128(_mm_cmpgt_epi8(v, space_less_1), _mm_cmplt_epi8(v, del)));
        return ~unsigned(_mm_movemask_epi8(plain)) & 0xFFFFu;
    };
    const bool long_text = end - p >= 16;
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned escapes = escapes_in(v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        if (escapes == 0) {
            p += 16;
            out += 16;
            continue;
        }
        unsigned n = unsigned(std::countr_zero(escapes));
        p += n;
        out = escape_byte((unsigned char)*p++, out + n);
    }
    // The last few bytes of a longer text, judged together from the last
    // sixteen: without an escape among them they are copied as they are.
    if (long_text && p < end) {
        std::size_t rest = std::size_t(end - p);
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
        if ((escapes_in(v) >> (16 - rest)) == 0) {
            std::memcpy(out, p, rest);
            return out + rest;
        }
    }
#else
    // Runs of plain bytes, the most of any text, go eight at a time.
    while (end - p >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (all_plain(w)) {
            std::memcpy(out, &w, 8);
            out += 8;
            p += 8;
            continue;
        }
        for (const char* stop = p + 8; p < stop; ++p) {
            unsigned char c = (unsigned char)*p;
            if (kQpPlain.plain[c]) *out++ = char(c);
            else out = escape_byte(c, out);
        }
    }
#endif
    for (; p < end; ++p) {
        unsigned char c = (unsigned char)*p;
        if (kQpPlain.plain[c]) *out++ = char(c);
        else out = escape_byte(c, out);
    }
    return out;
}

void encode_quoted_printable(std::string_view text, std::string& out) {
    std::size_t at = out.size();
    out.resize(at + 3 * text.size());
    char* end = encode_quoted_printable(text, out.data() + at);
    out.resize(std::size_t(end - out.data()));
}

}  // namespace tw::mime
