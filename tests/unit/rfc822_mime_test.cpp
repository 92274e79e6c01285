#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rfc822/mime.h"

using namespace tw::mime;

namespace {

std::string b64(std::string_view bytes) {
    char out[kBase64LineChars + 4];
    std::size_t n = encode_base64_line(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
    return std::string(out, n);
}

std::string uu(std::string_view bytes) {
    char out[1 + 4 * (kUuLineBytes / 3) + 4];
    std::size_t n = encode_uu_line(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
    return std::string(out, n);
}

}  // namespace

TEST(Mime, Base64EncodesWithoutPaddingAndRoundTripsEveryByte) {
    EXPECT_EQ(b64("M"), "TQ");
    EXPECT_EQ(b64("Ma"), "TWE");
    EXPECT_EQ(b64("Man"), "TWFu");
    EXPECT_EQ(base64_padding(2), 2u);
    EXPECT_EQ(base64_padding(76 + 4), 0u);

    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[std::size_t(i)] = (unsigned char)i;
    for (std::size_t at = 0; at < all.size(); at += kBase64LineBytes) {
        std::size_t n = std::min(kBase64LineBytes, all.size() - at);
        char line[kBase64LineChars + 4];
        std::size_t chars = encode_base64_line(all.data() + at, n, line);
        std::string padded(line, chars);
        padded.append(base64_padding(chars), '=');
        unsigned char back[kBase64LineBytes];
        ASSERT_EQ(base64_line_size(padded), n);
        ASSERT_EQ(decode_base64_line(padded, back), n);
        EXPECT_EQ(0, std::memcmp(back, all.data() + at, n));
    }
}

TEST(Mime, Base64DecodingTakesGroupsFromTheLineStartAndReadsDashAs63) {
    unsigned char out[8];
    EXPECT_EQ(base64_value('-'), 63);
    EXPECT_EQ(base64_value('='), -1);
    // Garbage inside a group: only bytes whose two characters have values.
    EXPECT_EQ(base64_line_size("TW*u"), 2u);
    EXPECT_EQ(decode_base64_line("TW*u", out), 1u);
    EXPECT_EQ(out[0], 'M');
}

TEST(Mime, UuencodeLinesAndTheirLengthTest) {
    EXPECT_EQ(uu("Cat"), "#0V%T");
    EXPECT_EQ(uu(std::string(3, '\0')), "#````");
    std::string full = uu(std::string(45, 'x'));
    EXPECT_EQ(full[0], 'M');
    std::size_t count = 0;
    ASSERT_TRUE(uu_data_line(full, count));
    EXPECT_EQ(count, 45u);
    unsigned char back[45];
    EXPECT_EQ(decode_uu_line(full, count, back), 45u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 45), std::string(45, 'x'));
    EXPECT_TRUE(uu_data_line("`", count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(uu_data_line("M", count));    // claims 45 bytes with no characters
    EXPECT_FALSE(uu_data_line("end", count));  // 'e' is past the grave accent
}

TEST(Mime, QuotedPrintableBothWays) {
    std::string out;
    encode_quoted_printable("caf\xE9 = 1\x7F\t", out);
    EXPECT_EQ(out, "caf=E9 =3D 1=7F=09");
    char text[] = "caf=E9 =3d =00 =4 =";
    std::size_t n = decode_quoted_printable(text, sizeof text - 1);
    EXPECT_EQ(std::string(text, n), "caf\xE9 =   =4 =");
    // Every byte value at every place of the eight-byte runs the encoder
    // takes whole, against the rule byte by byte.
    for (int c = 0; c < 256; ++c) {
        for (std::size_t at = 0; at < 17; ++at) {
            std::string in(17, 'a');
            in[at] = char(c);
            bool plain = c >= 0x20 && c < 0x7F && c != '=';
            char esc[4];
            std::snprintf(esc, sizeof esc, "=%02X", c);
            std::string want = in.substr(0, at) + (plain ? std::string(1, char(c)) : std::string(esc)) + in.substr(at + 1);
            out.clear();
            encode_quoted_printable(in, out);
            ASSERT_EQ(out, want) << "byte " << c << " at " << at;
        }
    }
    // Random texts, mostly plain with escapes strewn in, into an output of
    // just three bytes a byte: the same as the rule byte by byte, and
    // nothing written beyond.
    std::mt19937 rnd(16);
    for (int round = 0; round < 3000; ++round) {
        std::string in(rnd() % 90, '\0'), want;
        for (char& ch : in) {
            ch = char(rnd() % 4 == 0 ? rnd() % 256 : 0x20 + rnd() % 0x5F);
            unsigned char c = (unsigned char)ch;
            char esc[4];
            std::snprintf(esc, sizeof esc, "=%02X", c);
            want += c >= 0x20 && c < 0x7F && c != '=' ? std::string(1, ch) : std::string(esc);
        }
        std::vector<char> buf(3 * in.size() + 16, '#');
        char* end = encode_quoted_printable(in, buf.data());
        ASSERT_EQ(std::string(buf.data(), end), want) << round;
        ASSERT_EQ(std::string(buf.data() + 3 * in.size(), 16), std::string(16, '#')) << round;
    }
}

TEST(Mime, Base64StreamSkipsStrayCharactersAndJoinsGroupsAcrossLines) {
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[std::size_t(i)] = (unsigned char)i;
    std::string text;
    for (std::size_t at = 0; at < all.size(); at += kBase64LineBytes) {
        char line[kBase64LineChars + 4];
        text.append(line, encode_base64_line(all.data() + at, std::min(kBase64LineBytes, all.size() - at), line));
    }
    // Fed in pieces that cut groups anywhere, with characters put in that
    // have no value.
    Base64Stream s;
    std::vector<unsigned char> got;
    for (std::size_t at = 0; at < text.size(); at += 7) {
        std::string piece = text.substr(at, 7) + (at % 2 ? "!\x80 " : "*");
        unsigned char out[16];
        std::size_t n = s.decode(piece, out);
        ASSERT_LE(n, piece.size() * 3 / 4 + 1);
        got.insert(got.end(), out, out + n);
    }
    EXPECT_EQ(got, all);
    // '=' ends the group in progress: two encodings one after the other.
    unsigned char out[16];
    s.reset();
    std::size_t n = s.decode("QQ==QUJD", out);
    EXPECT_EQ(std::string((char*)out, n), "AABC");
}
