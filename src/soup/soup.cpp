#include "soup/soup.h"

#include <cstdio>
#include <cstring>


#include "driver/output.h"
#include "platform/read_window.h"
#include "platform/scan.h"

namespace tw {

// ---------------------------------------------------------------- AREAS

namespace {

constexpr std::size_t kIndexLine = 255;  // buffer size: 254 characters a line

bool known_format(char c) { return c == 'u' || c == 'm' || c == 'M' || c == 'b' || c == 'B'; }

}  // namespace

AreaLineStatus parse_areas_line(std::string_view line, SoupArea& area) {
    std::size_t tab1 = line.find('\t');
    if (tab1 == std::string_view::npos) return AreaLineStatus::Error;
    std::size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) return AreaLineStatus::Error;

    std::string_view prefix = line.substr(0, tab1);
    // The prefix names a file inside SoupDir, which the import deletes
    // afterwards: a path in it must not reach elsewhere.
    if (prefix.empty() || prefix.find_first_of("/\\:") != std::string_view::npos ||
        prefix.find('\0') != std::string_view::npos)
        return AreaLineStatus::Error;

    std::string_view type = line.substr(tab2 + 1);
    char letter = type.empty() ? 0 : type[0];
    if (!known_format(letter)) return AreaLineStatus::UnknownFormat;

    area.prefix.assign(prefix);
    area.name.assign(line.substr(tab1 + 1, tab2 - tab1 - 1));
    area.format = letter;
    area.kind = (letter == 'u' || letter == 'B') ? AreaKind::News : AreaKind::Mail;
    if (type.size() >= 3) {
        if (type[2] == 'm') area.kind = AreaKind::Mail;
        if (type[2] == 'n') area.kind = AreaKind::News;
    }
    if (iequals(area.name.view(), "Email")) area.kind = AreaKind::Mail;
    area.message_path.clear();
    return AreaLineStatus::Good;
}

bool AreasReader::open(std::string_view soup_dir) {
    dir_.assign(soup_dir);
    path_ = dir_ + "AREAS";
    line_ = 0;
    unknown_ = false;
    // Read no further than the index is long now, whatever is appended.
    if (!file_.open(path_, platform::OpenMode::Read, platform::Share::All, true)) return false;
    file_.limit_to_size();
    return true;
}

bool AreasReader::next(SoupArea& area) {
    char buf[kIndexLine];
    for (;;) {
        std::size_t n = file_.read_line(buf, sizeof buf);
        if (n == 0) return false;
        ++line_;
        switch (parse_areas_line(std::string_view(buf, n), area)) {
        case AreaLineStatus::Good:
            area.message_path = dir_ + area.prefix + ".msg";
            return true;
        case AreaLineStatus::Error:
            log_printf("Error in line %ld in %s\n", line_, "AREAS");
            break;
        case AreaLineStatus::UnknownFormat:
            log_printf("Unknown message format in line %ld in %s\n", line_, "AREAS");
            unknown_ = true;
            break;
        }
    }
}

// ------------------------------------------------------------- framing

namespace {

// Reads one whole line (through its LF) from `at` and keeps its first
// cap-1 bytes. Returns the bytes consumed, 0 at end of file.
long long read_frame_line(platform::ReadWindow& w, long long at, char* keep, std::size_t cap) {
    long long pos = at;
    std::size_t kept = 0;
    for (;;) {
        std::string_view v = w.fetch(pos, 1);
        if (v.empty()) break;
        const char* nl = static_cast<const char*>(std::memchr(v.data(), '\n', v.size()));
        std::size_t n = nl ? std::size_t(nl - v.data()) + 1 : v.size();
        std::size_t k = n < cap - 1 - kept ? n : cap - 1 - kept;
        std::memcpy(keep + kept, v.data(), k);
        kept += k;
        pos += (long long)n;
        if (nl) break;
    }
    keep[kept] = 0;
    return pos - at;
}

// How much of a message the framing keeps in the window while it looks for
// the message's end: up to half of it, so that the converter finds the
// message there, and a larger one slides through without being copied
// around more than once or twice.
bool keep_start(const platform::ReadWindow& w, long long start, long long pos) {
    return pos - start <= (long long)(w.capacity() / 2);
}

// Offset of the first occurrence of `sep` at or after `pos`, else the end
// of the file. `start` is the message's first byte.
long long find_separator(platform::ReadWindow& w, long long start, long long pos, std::string_view sep) {
    for (;;) {
        long long from = keep_start(w, start, pos) ? start : pos;
        std::size_t skip = std::size_t(pos - from);
        std::string_view v = w.fetch(from, skip + sep.size());
        if (v.size() <= skip) return pos;
        const char* rest = v.data() + skip;
        std::size_t n = v.size() - skip;
        if (n < sep.size()) return pos + (long long)n;  // the file ends
        const char* hit = platform::find_text(rest, n, sep);
        if (hit) return pos + (hit - rest);
        // A separator may straddle the end of what is in memory.
        pos += (long long)(n - sep.size() + 1);
    }
}

FrameResult frame_binary(platform::ReadWindow& w, long long at, long long size, MessageExtent& x) {
    std::string_view v = w.fetch(at, 4);
    if (v.size() < 4) return FrameResult::EndOfFile;
    const unsigned char* len = reinterpret_cast<const unsigned char*>(v.data());
    x.start = at + 4;
    if (len[0] & 0x80) return FrameResult::BadFile;
    long long n = (long long)len[0] << 24 | (long long)len[1] << 16 | (long long)len[2] << 8 | len[3];
    x.end = x.start + n;
    if (x.end > size) return FrameResult::BadFile;
    return FrameResult::Message;
}

FrameResult frame_rnews(platform::ReadWindow& w, long long at, long long size, MessageExtent& x) {
    char line[kIndexLine];
    long long used = read_frame_line(w, at, line, sizeof line);
    if (used == 0) return FrameResult::EndOfFile;
    x.start = at + used;
    if (std::strncmp(line, "#! rnews ", 9) != 0) return FrameResult::BadFile;
    const char* p = line + 9;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long count = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (count < size + 1) count = count * 10 + (*p - '0');  // past the size it ends at the end anyway
    // A negative count would send the reader back into what it has read.
    if (negative && count > 0) return FrameResult::BadFile;
    x.end = x.start + count;
    if (x.end > size) x.end = size < x.start ? x.start : size;
    return FrameResult::Message;
}

FrameResult frame_mailbox(platform::ReadWindow& w, long long at, MessageExtent& x) {
    char line[kIndexLine];
    long long used = read_frame_line(w, at, line, sizeof line);
    if (used == 0) return FrameResult::EndOfFile;
    x.start = at + used;
    if (std::strncmp(line, "From ", 5) != 0) return FrameResult::BadFile;
    // Up to the next line that begins with "From ": only real line starts
    // count, however long the lines are.
    std::string_view head = w.fetch(x.start, 5);
    if (head.substr(0, 5) == "From ") {
        x.end = x.start;
    } else {
        long long nl = find_separator(w, x.start, x.start, "\nFrom ");
        // Without a separator the message runs to the end of the file,
        // where find_separator stopped.
        x.end = w.byte_at(nl) == '\n' ? nl + 1 : nl;
    }
    return FrameResult::Message;
}

FrameResult frame_mmdf(platform::ReadWindow& w, long long at, MessageExtent& x) {
    long long pos = at;  // offset of c
    // Separator lines: 01h bytes and the line end that follows them. The
    // line end belongs to the separator, not to the message, or every
    // message would start with an empty line and lose its header to the
    // body; and the closing separator of one message followed by the
    // opening one of the next frames nothing between them.
    int c = w.byte_at(pos);
    bool after_run = false;
    for (;;) {
        if (c == 0x01) {
            after_run = true;
        } else if (after_run && c == '\n') {
            after_run = false;
        } else if (after_run && c == '\r' && w.byte_at(pos + 1) == '\n') {
            ++pos;
            after_run = false;
        } else {
            break;
        }
        c = w.byte_at(++pos);
    }
    if (c < 0) return FrameResult::EndOfFile;
    x.start = pos;
    // Up to the first run of four 01h bytes.
    x.end = find_separator(w, x.start, x.start, "\x01\x01\x01\x01");
    return FrameResult::Message;
}

}  // namespace

FrameResult read_soup_frame(platform::ReadWindow& window, long long at, long long size, char format,
                            MessageExtent& extent) {
    switch (format) {
    case 'b':
    case 'B':
        return frame_binary(window, at, size, extent);
    case 'u':
        return frame_rnews(window, at, size, extent);
    case 'm':
        return frame_mailbox(window, at, extent);
    case 'M':
        return frame_mmdf(window, at, extent);
    default:
        return FrameResult::BadFile;
    }
}

FrameResult read_soup_frame(platform::File& file, long long size, char format, MessageExtent& extent) {
    long long at = file.tell();
    if (at < 0) return FrameResult::BadFile;
    char buffer[8192];
    platform::ReadWindow window(file, buffer, sizeof buffer);
    extent.start = -1;
    FrameResult r = read_soup_frame(window, at, size, format, extent);
    // After the frame header, as a reader of the stream would stand.
    if (extent.start >= 0) file.seek(extent.start);
    return r;
}

}  // namespace tw
