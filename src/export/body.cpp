#include "export/body.h"

#include <cstring>
#include <string>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "ftn/format.h"
#include "rfc822/mime.h"

namespace tw {

namespace {

// A break needs room for a useful line before it.
constexpr std::size_t kFirstBreak = 33;
// Room for the longest quote prefix before a piece.
constexpr std::size_t kPrefixRoom = 8;

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_tear_line(std::string_view piece) { return piece == "---" || piece.starts_with("--- "); }

void write_author_line(platform::File& out, const CurrentMessage& m, const ExportAnalysis& a) {
    if (a.received_list < 0) return;
    AuthorForm form = config().MailingList[a.received_list].author;
    if (form == AuthorForm::None) return;
    bool distinct = !iequals(m.sender_name, m.sender_address);
    if (form == AuthorForm::Name && distinct)
        out.printf(" * Author: %s\n\n", m.sender_name.c_str());
    else if (form == AuthorForm::Both && distinct)
        out.printf(" * Author: %s <%s>\n\n", m.sender_name.c_str(), m.sender_address.c_str());
    else
        out.printf(" * Author: %s\n\n", m.sender_address.c_str());
}

// The body's lines, collected and handed to the reply file in large
// pieces rather than one write a line.
class LineWriter {
public:
    LineWriter(platform::File& out, bool qp) : out_(out), qp_(qp) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // One line (at most kMaxLine characters) and its line feed.
    void write(std::string_view line) {
        if (kCapacity - len_ < 3 * line.size() + 1) (void)drain();
        char* o = buf_ + len_;
        if (!qp_) {
            std::memcpy(o, line.data(), line.size());
            o += line.size();
        } else {
            char* start = o;
            o = mime::encode_quoted_printable(line, o);
            // Decoders drop blanks at the end of an encoded line, and
            // wrapped lines end in one (a tab is encoded anyway).
            if (o > start && o[-1] == ' ') {
                o[-1] = '=';
                *o++ = '2';
                *o++ = '0';
            }
        }
        *o++ = '\n';
        len_ = std::size_t(o - buf_);
    }

    // False when anything written so far did not reach the file.
    [[nodiscard]] bool drain() {
        if (len_ > 0) {
            ok_ = out_.write(buf_, len_) && ok_;
            len_ = 0;
        }
        return ok_ && !out_.error();
    }

    static constexpr std::size_t kMaxLine = 8 + 255;

private:
    static constexpr std::size_t kCapacity = 32768;
    static_assert(kCapacity >= 3 * kMaxLine + 1);
    platform::File& out_;
    bool qp_;
    bool ok_ = true;
    std::size_t len_ = 0;
    char buf_[kCapacity];
};

}  // namespace

namespace {

// Length of the quote mark a wrapped piece carries on (up to and including
// its first '>', among the first 6 characters and with no '<' among the
// first 7), 0 when it has none.
std::size_t quote_mark(std::string_view piece) {
    std::size_t gt = piece.substr(0, 6).find('>');
    if (gt == std::string_view::npos || piece.substr(0, 7).find('<') != std::string_view::npos) return 0;
    return gt + 1;
}

std::size_t break_after(std::string_view piece, std::size_t width) {
    std::size_t last = piece.size() < width ? piece.size() : width;  // positions below this
    for (std::size_t i = last; i-- > kFirstBreak;)
        if (is_space(piece[i])) return i + 1;
    for (std::size_t i = last; i-- > kFirstBreak;)
        if (!is_alnum(piece[i])) return i + 1;
    return piece.size();
}

}  // namespace

std::size_t rewrap(std::string_view piece, std::size_t width, QuotePrefix& prefix) {
    if (std::size_t mark = quote_mark(piece)) {
        char p[8];
        std::memcpy(p, piece.data(), mark);
        p[mark] = ' ';
        prefix.assign(std::string_view(p, mark + 1));
    }
    return break_after(piece, width);
}

bool write_body(MessageText& in, platform::File& out, const ExportAnalysis& a) {
    const CurrentMessage& m = message();
    std::size_t width = config().LineWidth ? config().LineWidth : 72;
    if (width > LineWriter::kMaxLine - kPrefixRoom) width = LineWriter::kMaxLine - kPrefixRoom;
    // A piece is read in place from the input's buffer where it can be, else
    // behind room for the quote prefix, which then goes in front of it
    // without moving the piece.
    std::string buf(kPrefixRoom + width + 1, '\0'), ahead(width + 1, '\0');
    char* piece_at = buf.data() + kPrefixRoom;
    char prefix[kPrefixRoom];
    std::size_t prefix_len = 0;
    bool continues = false;  // this piece goes on with a line the wrapping cut
    bool in_kludge = false;  // the rest of an overlong kludge line

    write_author_line(out, m, a);
    LineWriter writer(out, a.needs_encoding && config().UseQP);
    for (;;) {
        long long start = in.tell();
        std::string_view piece;
        TextLine r = read_text_piece(in, piece_at, width, piece);
        if (!continues) {
            if (in_kludge || (!piece.empty() && piece[0] == '\x01')) {
                in_kludge = r == TextLine::Continues;
                if (r == TextLine::EndOfText) break;
                continue;
            }
            if (piece.starts_with(" * Origin:") || (is_tear_line(piece) && r == TextLine::EndOfText)) {
                if (r != TextLine::EndOfText) in.skip_to_end();
                break;
            }
            if (is_tear_line(piece) && r == TextLine::Complete) {
                std::size_t after_len;
                TextLine next = read_text_line(in, ahead.data(), width, after_len);
                std::string_view after(ahead.data(), after_len);
                if (after.starts_with(" * Origin:") || istarts_with(after, "\x01Via ")) {
                    if (next != TextLine::EndOfText) in.skip_to_end();
                    break;
                }
                // A tear line that ends nothing is text; read again, as
                // the look ahead may have moved the input's buffer.
                in.seek(start);
                r = read_text_piece(in, piece_at, width, piece);
            }
        }
        std::string_view line = piece;
        std::size_t back = 0;  // characters of the piece after the break
        if (prefix_len > 0) {
            // The prefix goes in front: the piece joins it in the buffer.
            if (piece.data() != piece_at) std::memcpy(piece_at, piece.data(), piece.size());
            std::memcpy(piece_at - prefix_len, prefix, prefix_len);
            line = std::string_view(piece_at - prefix_len, prefix_len + piece.size());
        }
        if (r == TextLine::Continues) {
            if (std::size_t mark = quote_mark(line)) {
                std::memcpy(prefix, line.data(), mark);
                prefix[mark] = ' ';
                prefix_len = mark + 1;
            }
            std::size_t keep = break_after(line, width);
            back = line.size() - keep;
            line = line.substr(0, keep);
            continues = true;
        } else {
            prefix_len = 0;
            continues = false;
        }
        writer.write(line);
        // Reading goes on after the break; the line, perhaps still in the
        // input's buffer, is written first.
        if (back > 0) in.seek(in.tell() - (long long)back);
        if (r == TextLine::EndOfText) break;
    }
    return writer.drain();
}

}  // namespace tw
