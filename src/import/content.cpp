// MIME content headers: part names, the boundaries, the charset and the
// transfer encoding of the message or of its current part.
#include "driver/helpers.h"
#include "driver/message.h"
#include "import/pass_state.h"

namespace tw {

namespace {

// Copies from `from` up to a stop character or the end, at most `limit`
// characters, without trailing white space; returns where the copy ended.
template <std::size_t N>
std::size_t copy_until(std::string_view line, std::size_t from, char stop, std::size_t limit, Text<N>& out) {
    while (from < line.size() && is_space(line[from])) ++from;
    std::size_t end = from;
    while (end < line.size() && line[end] != stop) ++end;
    std::string_view value = line.substr(from, end - from);
    if (value.size() > limit) value = value.substr(0, limit);
    while (!value.empty() && is_space(value.back())) value.remove_suffix(1);
    out.assign(value);
    return end;
}

// A parameter value after its '=': quoted, or a token up to ';' or white
// space, as many mailers write names and boundaries.
template <std::size_t N>
std::size_t copy_value(std::string_view line, std::size_t from, std::size_t limit, Text<N>& out) {
    while (from < line.size() && is_space(line[from])) ++from;
    if (from < line.size() && line[from] == '"') return copy_until(line, from + 1, '"', limit, out);
    std::size_t end = from;
    while (end < line.size() && line[end] != ';' && !is_space(line[end])) ++end;
    out.assign(line.substr(from, end - from), limit);
    return end;
}

bool known_boundary(const PassState& st, std::string_view b) {
    for (int i = 0; i < st.boundary_count; ++i)
        if (st.boundaries[i].view() == b) return true;
    return false;
}

}  // namespace

void scan_content_header(PassState& st, std::string_view line) {
    CurrentMessage& m = message();
    bool content = istarts_with(line, "Content-");
    if (content) st.in_content_header = true;
    if (st.in_content_header) {
        std::size_t i = 0;
        while (i < line.size()) {
            std::string_view at = line.substr(i);
            // The first boundary may stand anywhere; an inner one only in the
            // header of a part.
            bool boundary_wanted =
                st.boundary_count == 0 || (!st.in_body && st.boundary_count < PassState::kMaxBoundaries);
            if (istarts_with(at, "name=")) {
                i = copy_value(line, i + 5, 259, st.attachment.file_name);
            } else if (boundary_wanted && istarts_with(at, "boundary=")) {
                Text<128> b;
                i = copy_value(line, i + 9, 127, b);
                if (!b.empty() && !known_boundary(st, b.view())) st.boundaries[st.boundary_count++] = b;
            } else if (m.inet_charset.empty() && istarts_with(at, "charset=")) {
                i = copy_until(line, i + 8, ';', 127, m.inet_charset);
            } else {
                ++i;
            }
        }
    }
    if (!content) return;
    if (istarts_with(line, "Content-Type:")) {
        if (m.content_type.empty()) m.content_type.assign(trim_view(line.substr(13)));
    } else if (istarts_with(line, "Content-Transfer-Encoding:")) {
        st.quoted_printable = false;
        std::string_view value = line.substr(26);
        if (m.transfer_encoding.empty()) m.transfer_encoding.assign(trim_view(value));
        if (contains_text("base64", value)) st.base64 = true;
        if (contains_text("quoted-printable", value)) st.quoted_printable = true;
    }
}

BoundaryLine take_boundary_line(PassState& st, std::string_view line) {
    if (!st.in_body || st.boundary_count == 0 || line.size() < 2 || line[0] != '-' || line[1] != '-')
        return BoundaryLine::None;
    // The longest boundary that the line begins with.
    int level = -1;
    std::size_t best = 0;
    for (int i = 0; i < st.boundary_count; ++i) {
        std::string_view b = st.boundaries[i].view();
        if (b.size() >= best && line.substr(2, b.size()) == b) {
            level = i;
            best = b.size();
        }
    }
    if (level < 0) return BoundaryLine::None;
    if (st.attachment.decoding != DecodeState::None) finish_attachment(st);
    st.in_body = false;
    st.quoted_printable = st.base64 = st.in_content_header = false;
    // A name belongs to its own part only.
    st.attachment.file_name.clear();
    if (line.substr(2 + best, 2) != "--") {
        st.boundary_count = level + 1;
        return BoundaryLine::Part;
    }
    if (level == 0) return BoundaryLine::End;
    // The end of an inner multipart: what follows until the next boundary
    // of the outer one is its epilogue, text of the message.
    st.boundary_count = level;
    st.in_body = true;
    return BoundaryLine::InnerEnd;
}

}  // namespace tw
