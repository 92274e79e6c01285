// The sixteen-bytes-at-a-time searches against the plain byte loops they
// stand in for, on random text rich in the bytes they look for, at every
// length around their block size.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/scan.h"

using namespace tw;

namespace {

bool white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string collapsed_byte_by_byte(const std::string& in) {
    std::string out;
    bool blank = false;
    for (char c : in) {
        if (white(c)) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

TEST(PlatformScan, SearchesGiveWhatTheByteLoopsGive) {
    std::mt19937 rng(5);
    const char alphabet[] = {' ', ' ', ' ', '\t', '\r', '\n', '\v', '\f', 'a', 'F', 'r', 'o', 'm', '\x80', '\xff', '\x08', '\x0e', '\x01'};
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        std::size_t len = rng() % 70;
        // Mostly letters and blanks, now and then anything: lines that need
        // no change are the common case the fast path takes.
        unsigned odd = 1 + rng() % 40;
        for (std::size_t i = 0; i < len; ++i)
            s += rng() % odd == 0 ? alphabet[rng() % sizeof alphabet] : rng() % 4 == 0 ? ' ' : 'a';
        // Separators and near misses, anywhere (also across block ends).
        for (const char* piece : {"\nFrom ", "\nFrom", "\x01\x01\x01\x01", "\x01\x01\x01"})
            if (rng() % 3 == 0) s.insert(rng() % (s.size() + 1), piece);

        std::string out(s.size(), '?');
        std::size_t n = platform::collapse_white_space(s.data(), s.size(), out.data());
        ASSERT_EQ(out.substr(0, n), collapsed_byte_by_byte(s)) << round;
        std::string in_place = s;
        n = platform::collapse_white_space(in_place.data(), in_place.size(), in_place.data());
        ASSERT_EQ(in_place.substr(0, n), collapsed_byte_by_byte(s)) << round;

        for (std::string_view sep : {std::string_view("\nFrom "), std::string_view("\x01\x01\x01\x01"),
                                     std::string_view("Fr")}) {
            std::size_t want = std::string_view(s).find(sep);
            const char* got = platform::find_text(s.data(), s.size(), sep);
            ASSERT_EQ(got ? std::size_t(got - s.data()) : std::string_view::npos, want) << round;
        }
    }
}

}  // namespace
