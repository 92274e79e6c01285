// The transfer encodings of Internet messages, both directions: base64,
// uuencode and quoted-printable. Pure functions over caller buffers, one
// text line at a time, so that a file of any size streams through a fixed
// buffer on either side of the gateway.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tw::mime {

// ------------------------------------------------------------- base64

// Bytes per line when encoding a file, and the characters they become.
constexpr std::size_t kBase64LineBytes = 57;
constexpr std::size_t kBase64LineChars = 76;

// Value 0-63 of a base64 character, -1 for none ('=' included). '-' reads
// as 63, as some old mailers wrote it in place of '/'.
int base64_value(unsigned char c);

// The number of bytes a data line stands for: its characters that have a
// value, times 3, divided by 4.
std::size_t base64_line_size(std::string_view line);

// Decodes one data line into out, which must hold base64_line_size(line)
// bytes. The line is taken in groups of four characters from its start;
// a byte is made only while bytes remain for the line and both characters
// it is built from have values. Returns the number of bytes written.
std::size_t decode_base64_line(std::string_view line, unsigned char* out);

// Base64 of a whole attachment, fed piece by piece: characters without a
// value are skipped (RFC 2045 has them ignored), a group of four may run
// across lines, and '=' ends the group in progress. So a file whose lines
// were wrapped at any width, or had stray characters put in, still comes
// out as the bytes that were encoded.
class Base64Stream {
public:
    // Decodes text into out, which must hold text.size() * 3 / 4 + 1 bytes.
    // Returns the number of bytes written.
    std::size_t decode(std::string_view text, unsigned char* out);
    void reset() { bits_ = 0, count_ = 0; }

private:
    unsigned bits_ = 0;  // the values taken but not yet made into bytes
    int count_ = 0;      // how many bits of bits_ are pending
};

// Encodes n bytes (at most kBase64LineBytes) as one line without padding:
// four characters per three bytes, two or three for a final group of one
// or two. out must hold 4 * ((n + 2) / 3) characters; returns the count.
std::size_t encode_base64_line(const unsigned char* in, std::size_t n, char* out);

// The '=' characters that bring a file's character total to a multiple of 4.
inline std::size_t base64_padding(std::size_t chars_written) { return (4 - chars_written % 4) % 4; }

// ----------------------------------------------------------- uuencode

constexpr std::size_t kUuLineBytes = 45;

// (c - 20h) mod 64: the value of a uuencode character; "`" is 0.
inline int uu_value(unsigned char c) { return (c - 0x20) & 0x3F; }

// True when the line is uuencoded data: its first character lies between
// '!' and '`' and the count it gives fits the characters that follow.
// byte_count receives that count.
bool uu_data_line(std::string_view line, std::size_t& byte_count);

// Decodes a data line (after uu_data_line said yes) into out, which must
// hold byte_count bytes. Returns the number of bytes written, which is less
// than byte_count only when the line is short of characters.
std::size_t decode_uu_line(std::string_view line, std::size_t byte_count, unsigned char* out);

// Encodes n bytes (at most kUuLineBytes) as one line: the length character,
// then four characters per three bytes (two or three for a final group of
// one or two, no filler), every value v written as v + 20h and 0 as "`".
// out must hold 1 + 4 * ((n + 2) / 3) characters; returns the count.
std::size_t encode_uu_line(const unsigned char* in, std::size_t n, char* out);

// ---------------------------------------------------- quoted-printable

// Decodes "=XX" escapes in place (soft line breaks are the caller's, as they
// join lines); a decoded NUL becomes nul_stand_in. Returns the new length.
std::size_t decode_quoted_printable(char* text, std::size_t len, char nul_stand_in = ' ');

// Appends text to out with every '=' and every byte below 20h or of 7Fh and
// above written as '=' and two upper-case hexadecimal digits. No soft line
// breaks are added.
void encode_quoted_printable(std::string_view text, std::string& out);
// The same into out, which has room for 3 * text.size() bytes; returns the
// end of what was written.
char* encode_quoted_printable(std::string_view text, char* out);

}  // namespace tw::mime
