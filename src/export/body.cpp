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

class LineWriter {
public:
    LineWriter(platform::File& out, bool qp) : out_(out), qp_(qp) {}

    void write(std::string_view line) {
        if (!qp_) {
            out_.write(line);
            out_.put('\n');
            return;
        }
        encoded_.clear();
        mime::encode_quoted_printable(line, encoded_);
        // Decoders drop blanks at the end of an encoded line, and wrapped
        // lines end in one.
        if (!encoded_.empty() && (encoded_.back() == ' ' || encoded_.back() == '\t')) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "=%02X", unsigned(encoded_.back()));
            encoded_.pop_back();
            encoded_ += hex;
        }
        encoded_ += '\n';
        out_.write(encoded_);
    }

private:
    platform::File& out_;
    bool qp_;
    std::string encoded_;
};

}  // namespace

std::size_t rewrap(std::string_view piece, std::size_t width, QuotePrefix& prefix) {
    std::size_t gt = piece.substr(0, 6).find('>');
    if (gt != std::string_view::npos && piece.substr(0, 7).find('<') == std::string_view::npos) {
        prefix.assign(piece.substr(0, gt + 1));
        prefix.push_back(' ');
    }
    std::size_t last = piece.size() < width ? piece.size() : width;  // positions below this
    for (std::size_t i = last; i-- > kFirstBreak;)
        if (is_space(piece[i])) return i + 1;
    for (std::size_t i = last; i-- > kFirstBreak;)
        if (!is_alnum(piece[i])) return i + 1;
    return piece.size();
}

bool write_body(MessageText& in, platform::File& out, const ExportAnalysis& a) {
    const CurrentMessage& m = message();
    std::size_t width = config().LineWidth ? config().LineWidth : 72;
    std::string buf(width + 1, '\0'), ahead(width + 1, '\0');
    std::string line;
    QuotePrefix prefix{};
    LineWriter writer(out, a.needs_encoding && config().UseQP);
    bool continues = false;  // this piece goes on with a line the wrapping cut
    bool in_kludge = false;  // the rest of an overlong kludge line

    write_author_line(out, m, a);
    for (;;) {
        if (out.error()) return false;
        long long start = in.tell();
        TextLine r = read_text_line(in, buf.data(), width);
        std::string_view piece(buf.data(), std::strlen(buf.data()));
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
                TextLine next = read_text_line(in, ahead.data(), width);
                std::string_view after(ahead.data(), std::strlen(ahead.data()));
                if (after.starts_with(" * Origin:") || istarts_with(after, "\x01Via ")) {
                    if (next != TextLine::EndOfText) in.skip_to_end();
                    break;
                }
                // A tear line that ends nothing is text.
                in.seek(start);
                r = read_text_line(in, buf.data(), width);
                piece = std::string_view(buf.data(), std::strlen(buf.data()));
            }
        }
        line.assign(prefix.view());
        line += piece;
        if (r == TextLine::Continues) {
            std::size_t keep = rewrap(line, width, prefix);
            if (keep < line.size()) {
                in.seek(in.tell() - (long long)(line.size() - keep));
                line.resize(keep);
            }
            continues = true;
        } else {
            prefix.clear();
            continues = false;
        }
        writer.write(line);
        if (r == TextLine::EndOfText) break;
    }
    return !out.error();
}

}  // namespace tw
