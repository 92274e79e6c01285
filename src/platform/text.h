// Bounded text: a fixed-size, always NUL-terminated character field.
// Every write cuts at the field size instead of overrunning; a zero-filled
// field is an empty text, so records holding these stay plain data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tw {

inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// Case-blind comparison of whole texts (ASCII letters only, as on DOS).
inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

inline bool istarts_with(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

inline int icompare(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        int ca = (unsigned char)ascii_lower(a[i]), cb = (unsigned char)ascii_lower(b[i]);
        if (ca != cb) return ca - cb;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

template <std::size_t N>
struct Text {
    static_assert(N >= 1);
    static constexpr std::size_t capacity = N - 1;
    char buf[N];

    void clear() { buf[0] = 0; }
    std::size_t size() const { return ::strnlen(buf, N - 1); }
    bool empty() const { return buf[0] == 0; }
    const char* c_str() const { return buf; }
    char* data() { return buf; }
    std::string_view view() const { return std::string_view(buf, size()); }
    operator std::string_view() const { return view(); }

    // Copies at most capacity bytes; a NUL inside the source ends the text.
    void assign(std::string_view s) {
        std::size_t n = s.size() < capacity ? s.size() : capacity;
        if (n) std::memmove(buf, s.data(), n);
        buf[n] = 0;
        buf[strnlen(buf, n)] = 0;
    }
    void assign(std::string_view s, std::size_t limit) {
        assign(s.substr(0, limit < s.size() ? limit : s.size()));
    }
    void append(std::string_view s) {
        std::size_t have = size();
        std::size_t room = capacity - have;
        std::size_t n = s.size() < room ? s.size() : room;
        if (n) std::memmove(buf + have, s.data(), n);
        buf[have + n] = 0;
    }
    void push_back(char c) {
        std::size_t have = size();
        if (have < capacity) {
            buf[have] = c;
            buf[have + 1] = 0;
        }
    }
    // Cuts the text at position n (no effect when it is shorter).
    void truncate(std::size_t n) {
        if (n < N) buf[n] = 0;
    }
    void to_upper() {
        for (std::size_t i = 0; i < N && buf[i]; ++i) buf[i] = ascii_upper(buf[i]);
    }
    void to_lower() {
        for (std::size_t i = 0; i < N && buf[i]; ++i) buf[i] = ascii_lower(buf[i]);
    }
    Text& operator=(std::string_view s) {
        assign(s);
        return *this;
    }
    bool operator==(std::string_view s) const { return view() == s; }
};

}  // namespace tw
