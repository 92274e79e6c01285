// A SOUP packet directory: AREAS and REPLIES lines, and each message file cut
// into messages by the gateway's framing reader.
#include <cstring>

#include "soup/soup.h"
#include "tools/dump.h"

namespace tw::dump {

namespace {

constexpr std::size_t kIndexLine = 255;     // the gateway reads index lines of 254 characters
constexpr std::size_t kHeaderLines = 200;   // shown per message; the rest are counted

const char* framing_name(char format) {
    switch (format) {
    case 'u': return "rnews batch";
    case 'm': return "mailbox (From_ lines)";
    case 'M': return "MMDF (01h separators)";
    case 'b': return "binary, length-prefixed mail";
    case 'B': return "binary, length-prefixed news";
    default: return "?";
    }
}

// The header lines of one message (up to its first empty line).
void show_headers(platform::File& file, const MessageExtent& x) {
    file.seek(x.start);
    long long pos = x.start;
    std::string line;
    std::size_t shown = 0, more = 0;
    bool body = false;
    char buf[1024];
    while (pos < x.end) {
        std::size_t want = std::size_t(x.end - pos < (long long)sizeof buf ? x.end - pos : (long long)sizeof buf);
        std::size_t n = file.read(buf, want);
        if (n == 0) break;
        pos += (long long)n;
        for (std::size_t i = 0; i < n && !body; ++i) {
            if (buf[i] != '\n') {
                if (line.size() < 4096) line += buf[i];
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) {
                body = true;
                break;
            }
            if (shown < kHeaderLines) {
                out("    %s\n", visible(line).c_str());
                ++shown;
            } else {
                ++more;
            }
            line.clear();
        }
        if (body) break;
    }
    if (!body && !line.empty() && shown < kHeaderLines) out("    %s\n", visible(line).c_str());
    if (more) out("    (%zu more header lines)\n", more);
    if (!body) out("    (no empty line: the message has no body)\n");
}

// One message file framed as the index line says.
Outcome show_message_file(const std::string& path, char format) {
    Outcome o;
    platform::File file;
    if (!file.open(path, platform::OpenMode::Read)) {
        out("  ! message file %s cannot be opened\n", visible(path).c_str());
        o.damaged = 1;
        return o;
    }
    long long size = file.size();
    out("  file %s, %lld bytes, %s\n", visible(path).c_str(), size, framing_name(format));
    int count = 0;
    MessageExtent x{};
    for (;;) {
        long long at = file.tell();
        FrameResult r = read_soup_frame(file, size, format, x);
        if (r == FrameResult::EndOfFile) break;
        if (r == FrameResult::BadFile) {
            out("  ! framing broken at offset %lld after %d messages: the import reports the file and keeps it\n",
                at, count);
            o.damaged = 1;
            break;
        }
        ++count;
        out("  -- message %d: bytes %lld-%lld (%lld)\n", count, x.start, x.end, x.end - x.start);
        show_headers(file, x);
        file.seek(x.end);
    }
    out("  %d message%s\n", count, count == 1 ? "" : "s");
    return o;
}

// AREAS or REPLIES, every line shown, good or not.
Outcome show_index(const std::string& dir, const char* index) {
    Outcome o;
    std::string path = platform::resolve_case(dir + index);
    platform::File file;
    if (!file.open(path, platform::OpenMode::Read, platform::Share::All, true)) return o;
    out("%s (%s)\n", index, visible(path).c_str());
    char buf[kIndexLine];
    long line = 0;
    for (;;) {
        std::size_t n = file.read_line(buf, sizeof buf);
        if (n == 0) break;
        ++line;
        std::string_view text(buf, n);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        SoupArea area;
        AreaLineStatus st = parse_areas_line(text, area);
        out("line %ld: %s\n", line, visible(text).c_str());
        if (st == AreaLineStatus::Error) {
            out("  ! not an index line (prefix TAB name TAB type, a plain file name as prefix)\n");
            o.damaged = 1;
            continue;
        }
        if (st == AreaLineStatus::UnknownFormat) {
            out("  ! unknown message format: the import keeps AREAS and this file\n");
            o.damaged = 1;
            continue;
        }
        if (std::strcmp(index, "AREAS") == 0)
            out("  area \"%s\", %s\n", visible(area.name.view()).c_str(), area.kind == tw::AreaKind::News ? "news" : "mail");
        else
            out("  replies of kind \"%s\"\n", visible(area.name.view()).c_str());
        o.merge(show_message_file(platform::resolve_case(dir + area.prefix + ".msg"), area.format));
    }
    out("\n");
    return o;
}

}  // namespace

Outcome dump_soup(const std::string& dir_in, const Options&) {
    std::string dir = dir_in;
    if (dir.empty() || (dir.back() != '/' && dir.back() != '\\')) dir += '/';
    Outcome o;
    out("== %s: SOUP packet\n", visible(dir).c_str());
    bool any = false;
    for (const char* index : {"AREAS", "REPLIES"}) {
        if (!platform::exists(dir + index)) continue;
        any = true;
        o.merge(show_index(dir, index));
    }
    if (!any) {
        out("! neither AREAS nor REPLIES\n\n");
        o.damaged = 1;
    }
    return o;
}

}  // namespace tw::dump
