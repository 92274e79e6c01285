// MIME content headers: part names, the boundary, the charset and the
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

}  // namespace

void scan_content_header(PassState& st, std::string_view line) {
    CurrentMessage& m = message();
    if (istarts_with(line, "Content-")) st.in_content_header = true;
    if (st.in_content_header) {
        std::size_t i = 0;
        while (i < line.size()) {
            std::string_view at = line.substr(i);
            if (istarts_with(at, "name=\"")) {
                i = copy_until(line, i + 6, '"', 259, st.file_name);
            } else if (st.boundary.empty() && istarts_with(at, "boundary=\"")) {
                i = copy_until(line, i + 10, '"', 127, st.boundary);
            } else if (m.inet_charset.empty() && istarts_with(at, "charset=")) {
                i = copy_until(line, i + 8, ';', 127, m.inet_charset);
            } else {
                ++i;
            }
        }
    }
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

}  // namespace tw
