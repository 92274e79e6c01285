#include "soup/soup.h"

#include <cstdio>
#include <cstring>

#include "driver/output.h"

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

// Reads one whole line (through its LF) and keeps its first cap-1 bytes.
// Returns the bytes consumed, 0 at end of file.
long long read_frame_line(platform::File& f, char* keep, std::size_t cap) {
    long long consumed = 0;
    std::size_t kept = 0;
    int c;
    while ((c = f.getc()) != EOF) {
        ++consumed;
        if (kept + 1 < cap) keep[kept++] = char(c);
        if (c == '\n') break;
    }
    keep[kept] = 0;
    return consumed;
}

FrameResult frame_binary(platform::File& f, long long size, MessageExtent& x) {
    unsigned char len[4];
    if (f.read(len, 4) != 4) return FrameResult::EndOfFile;
    if (len[0] & 0x80) return FrameResult::BadFile;
    long long n = (long long)len[0] << 24 | (long long)len[1] << 16 | (long long)len[2] << 8 | len[3];
    x.start = f.tell();
    x.end = x.start + n;
    if (x.start < 0 || x.end > size) return FrameResult::BadFile;
    return FrameResult::Message;
}

FrameResult frame_rnews(platform::File& f, long long size, MessageExtent& x) {
    char line[kIndexLine];
    if (read_frame_line(f, line, sizeof line) == 0) return FrameResult::EndOfFile;
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
    x.start = f.tell();
    if (x.start < 0) return FrameResult::BadFile;
    x.end = x.start + count;
    if (x.end > size) x.end = size < x.start ? x.start : size;
    return FrameResult::Message;
}

FrameResult frame_mailbox(platform::File& f, MessageExtent& x) {
    char line[kIndexLine];
    if (read_frame_line(f, line, sizeof line) == 0) return FrameResult::EndOfFile;
    if (std::strncmp(line, "From ", 5) != 0) return FrameResult::BadFile;
    x.start = f.tell();
    if (x.start < 0) return FrameResult::BadFile;

    // Up to the next line that begins with "From ": only real line starts
    // count, however long the lines are.
    static const char sep[] = "From ";
    long long pos = x.start;
    long long line_start = pos;
    int matched = 0;  // bytes of sep matched at this line's start, -1 once it failed
    int c;
    while ((c = f.getc()) != EOF) {
        ++pos;
        if (matched >= 0) {
            if (c == sep[matched]) {
                if (++matched == 5) {
                    x.end = line_start;
                    f.seek(x.start);
                    return FrameResult::Message;
                }
            } else {
                matched = -1;
            }
        }
        if (c == '\n') {
            line_start = pos;
            matched = 0;
        }
    }
    x.end = pos;
    f.seek(x.start);
    return FrameResult::Message;
}

FrameResult frame_mmdf(platform::File& f, MessageExtent& x) {
    long long pos = f.tell();  // offset of c
    if (pos < 0) return FrameResult::BadFile;
    // Separator lines: 01h bytes and the line end that follows them. The
    // line end belongs to the separator, not to the message, or every
    // message would start with an empty line and lose its header to the
    // body; and the closing separator of one message followed by the
    // opening one of the next frames nothing between them.
    int c = f.getc();
    bool after_run = false;
    for (;;) {
        if (c == 0x01) {
            after_run = true;
        } else if (after_run && c == '\n') {
            after_run = false;
        } else if (after_run && c == '\r') {
            int d = f.getc();
            if (d != '\n') {
                f.seek(pos + 1);
                break;
            }
            ++pos;
            after_run = false;
        } else {
            break;
        }
        ++pos;
        c = f.getc();
    }
    if (c == EOF) return FrameResult::EndOfFile;
    x.start = pos;
    // Up to the first run of four 01h bytes.
    int run = 0;
    while (c != EOF) {
        ++pos;
        if (c == 0x01) {
            if (++run == 4) {
                x.end = pos - 4;
                f.seek(x.start);
                return FrameResult::Message;
            }
        } else {
            run = 0;
        }
        c = f.getc();
    }
    x.end = pos;
    f.seek(x.start);
    return FrameResult::Message;
}

}  // namespace

FrameResult read_soup_frame(platform::File& file, long long size, char format, MessageExtent& extent) {
    switch (format) {
    case 'b':
    case 'B':
        return frame_binary(file, size, extent);
    case 'u':
        return frame_rnews(file, size, extent);
    case 'm':
        return frame_mailbox(file, extent);
    case 'M':
        return frame_mmdf(file, extent);
    default:
        return FrameResult::BadFile;
    }
}

}  // namespace tw
