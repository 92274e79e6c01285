// The text of the FTN message being converted. The converter reads it
// several times and steps back within it (the wrapped rest of a line, a
// tear line that ends nothing); the file's large buffer makes such steps
// back, and the reading on after the message, free of system calls.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ftn/format.h"
#include "platform/platform.h"

namespace tw {

class MessageText {
public:
    // Starts at the file's current position, the message text.
    // The file is left where reading stopped, so the next message follows.
    explicit MessageText(platform::File& file) : file_(file) {}
    MessageText(const MessageText&) = delete;
    MessageText& operator=(const MessageText&) = delete;

    // The next byte, or EOF at the end of the file.
    int getc() {
        int c = file_.getc();
        if (c != EOF) return c;
        end_of_file_ = true;
        return EOF;
    }
    long long tell() const { return file_.tell(); }
    void seek(long long offset) {
        end_of_file_ = false;
        file_.seek(offset);
    }
    std::string_view buffered() const { return file_.buffered(); }
    void skip_buffered(std::size_t n) { file_.skip_buffered(n); }
    // True when the last getc() met the end of the file (not a NUL).
    bool at_end_of_file() const { return end_of_file_; }
    // Reads up to and including the NUL that ends the text.
    void skip_to_end() {
        for (int c = getc(); c != EOF && c != 0; c = getc()) {
        }
    }

private:
    platform::File& file_;
    bool end_of_file_ = false;
};

// Index of the first CR or NUL among the n bytes at p; n when there is none.
inline std::size_t find_line_stop(const char* p, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time.
    const __m128i cr = _mm_set1_epi8('\r'), nul = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned hit = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, nul))));
        if (hit != 0) return i + std::size_t(std::countr_zero(hit));
    }
#else
    // Eight bytes at a time: a word has a zero byte where (w - 0x01..) & ~w
    // sets a high bit, and the lowest such bit is always a true one.
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull, crs = 0x0D0D0D0D0D0D0D0Dull;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        std::uint64_t c = w ^ crs;
        std::uint64_t hit = ((w - ones) & ~w & highs) | ((c - ones) & ~c & highs);
        if (hit != 0) {
            if constexpr (std::endian::native == std::endian::little) return i + std::size_t(std::countr_zero(hit) >> 3);
            break;
        }
    }
#endif
    for (; i < n; ++i)
        if (p[i] == '\r' || p[i] == 0) return i;
    return n;
}

// read_text_line on the message text: the same lines, taken from the
// stream's buffer a run at a time instead of a byte at a time. `length`
// gets the number of characters stored.
inline TextLine read_text_line(MessageText& source, char* buffer, std::size_t max, std::size_t& length) {
    std::size_t n = 0;
    buffer[0] = 0;
    length = 0;
    if (max == 0) return TextLine::EndOfText;
    while (n < max) {
        std::string_view ahead = source.buffered();
        if (ahead.empty()) {  // the stream refills its buffer
            if (std::optional<TextLine> end = take_text_byte(source.getc(), buffer, n)) {
                length = n;
                return *end;
            }
            continue;
        }
        if (n == 0 && ahead[0] == '\n') {  // a line feed first is dropped
            source.skip_buffered(1);
            continue;
        }
        std::size_t take = ahead.size() < max - n ? ahead.size() : max - n;
        const char* run = ahead.data();
        std::size_t k = find_line_stop(run, take);
        std::memcpy(buffer + n, run, k);
        n += k;
        if (k < take) {
            bool line_end = run[k] == '\r';
            source.skip_buffered(k + 1);
            buffer[n] = 0;
            length = n;
            return line_end ? TextLine::Complete : TextLine::EndOfText;
        }
        source.skip_buffered(k);
    }
    buffer[n] = 0;
    length = n;
    return TextLine::Continues;
}

inline TextLine read_text_line(MessageText& source, char* buffer, std::size_t max) {
    std::size_t length;
    return read_text_line(source, buffer, max, length);
}

// The same piece, handed out where it lies in the stream's buffer when it
// lies there whole, else copied into `buffer` (max + 1 bytes) as
// read_text_line does. The view in the stream's buffer holds until the
// text is read on past what the buffer holds; stepping back (seek) within
// it keeps it.
inline TextLine read_text_piece(MessageText& source, char* buffer, std::size_t max, std::string_view& piece) {
    std::string_view ahead = source.buffered();
    if (max > 0 && !ahead.empty() && ahead[0] != '\n') {
        std::size_t take = ahead.size() < max ? ahead.size() : max;
        std::size_t k = find_line_stop(ahead.data(), take);
        if (k < take) {
            bool line_end = ahead[k] == '\r';
            piece = ahead.substr(0, k);
            source.skip_buffered(k + 1);
            return line_end ? TextLine::Complete : TextLine::EndOfText;
        }
        if (take == max) {
            piece = ahead.substr(0, max);
            source.skip_buffered(max);
            return TextLine::Continues;
        }
    }
    std::size_t length;
    TextLine r = read_text_line(source, buffer, max, length);
    piece = std::string_view(buffer, length);
    return r;
}

}  // namespace tw
