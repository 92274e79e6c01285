// FTN packets and stored *.MSG files, read with the gateway's FTN format
// primitives (header records, read_field, read_text_line).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "ftn/format.h"
#include "tools/dump.h"

namespace tw::dump {

void out(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stdout, fmt, ap);
    va_end(ap);
}

std::string visible(std::string_view bytes) {
    std::string s;
    s.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x20) {
            s += '^';
            s += char(c + 0x40);
        } else if (c == 0x7f) {
            s += "^?";
        } else {
            s += char(c);
        }
    }
    return s;
}

std::string address_text(unsigned zone, unsigned net, unsigned node, unsigned point) {
    char buf[48];
    if (point)
        std::snprintf(buf, sizeof buf, "%u:%u/%u.%u", zone, net, node, point);
    else
        std::snprintf(buf, sizeof buf, "%u:%u/%u", zone, net, node);
    return buf;
}

std::string attribute_names(unsigned attribute) {
    static const char* const names[16] = {"Private", "Crash",    "Received", "Sent",         "FileAttached", "InTransit",
                                          "Orphan",  "KillSent", "Local",    "Hold",         "Bit10",        "FileRequest",
                                          "ReturnReceiptRequest",  "IsReturnReceipt",        "AuditRequest", "FileUpdateRequest"};
    std::string s;
    for (int bit = 0; bit < 16; ++bit) {
        if (!(attribute & (1u << bit))) continue;
        if (!s.empty()) s += ' ';
        s += names[bit];
    }
    return s.empty() ? "none" : s;
}

namespace {

// A text line is shown whole up to this many bytes; the rest is counted.
constexpr std::size_t kShownLine = 4096;

const char* line_tag(std::string_view line, bool first, bool packed) {
    if (first && packed && line.substr(0, 5) == "AREA:") return "area";
    if (line.substr(0, 6) == "\x01PATH:") return "path";
    if (!line.empty() && line[0] == 0x01) return "kludge";
    if (line.substr(0, 8) == "SEEN-BY:") return "seen-by";
    if (line.substr(0, 10) == " * Origin:") return "origin";
    if (line == "---" || line.substr(0, 4) == "--- ") return "tear";
    return "text";
}

void show_line(const std::string& line, std::size_t dropped, bool first, bool packed, const Options& opt,
               long& hidden) {
    const char* tag = line_tag(line, first, packed);
    if (!opt.text && std::strcmp(tag, "text") == 0) {
        ++hidden;
        return;
    }
    if (line.empty() && !dropped) {
        out("  %s\n", tag);
        return;
    }
    out("  %-8s %s", tag, visible(line).c_str());
    if (dropped) out(" [... %zu more bytes]", dropped);
    out("\n");
}

}  // namespace

bool show_message_text(platform::File& file, bool packed, const Options& opt) {
    char piece[1025];
    std::string line;
    std::size_t dropped = 0;
    bool first = true;
    long hidden = 0;
    for (;;) {
        TextLine r = read_text_line(file, piece, sizeof piece - 1);
        std::size_t n = std::strlen(piece);
        std::size_t room = kShownLine - line.size();
        line.append(piece, n < room ? n : room);
        dropped += n < room ? 0 : n - room;
        if (r == TextLine::Continues) continue;
        // The text's last line needs no CR; an empty piece before the NUL is
        // no line at all.
        if (r == TextLine::Complete || !line.empty() || dropped) {
            show_line(line, dropped, first, packed, opt, hidden);
            first = false;
        }
        line.clear();
        dropped = 0;
        if (r == TextLine::EndOfText) break;
    }
    if (hidden) out("  (%ld text lines not shown)\n", hidden);
    return !file.eof();
}

namespace {

struct FieldRead {
    std::string text;
    bool ended = false;  // the file ended inside the field
};

// One NUL-terminated header field; read_field cuts at its limit, so a longer
// field is read on in pieces and shown whole (up to kShownLine).
FieldRead read_whole_field(platform::File& file) {
    FieldRead f;
    char buf[257];
    for (;;) {
        std::size_t n = read_field(file, buf, 256);
        if (f.text.size() < kShownLine) f.text.append(buf, n);
        if (n < 256) break;
    }
    f.ended = file.eof();
    return f;
}

// Whom export would take the packet for, found in a packet directory: the
// rules of the gateway's packet reader (a plain Type 2 packet has the first
// AddrMap entry's zone and no point).
const char* target_of(const PacketHeader& h, bool plus) {
    if (!g_config) return nullptr;
    const GatewayConfig& c = config();
    std::uint16_t map_zone = c.AddrMap.count > 0 ? c.AddrMap.items[0]->ftn.zone : 0;
    FtnAddress to{plus ? h.dest_zone : map_zone, h.dest_net, h.dest_node, plus ? h.dest_point : std::uint16_t(0)};
    if (to == c.FidoAddr) return "the gateway";
    for (int i = 0; i < c.Route.count; ++i)
        if (c.Route.items[i]->ftn == to) return "a route";
    return "neither the gateway nor a route: export leaves it alone";
}

void show_packet_header(const PacketHeader& h, long long size) {
    bool plus = h.is_type2plus();
    unsigned oz = plus ? h.orig_zone : h.q_orig_zone, dz = plus ? h.dest_zone : h.q_dest_zone;
    out("packet      Type 2%s, from %s to %s\n", plus ? "+" : "",
        address_text(oz, h.orig_net, h.orig_node, plus ? h.orig_point : 0).c_str(),
        address_text(dz, h.dest_net, h.dest_node, plus ? h.dest_point : 0).c_str());
    out("created     %04u-%02u-%02u %02u:%02u:%02u\n", unsigned(h.year), unsigned(h.month) + 1, unsigned(h.day),
        unsigned(h.hour), unsigned(h.minute), unsigned(h.second));
    out("password    \"%s\"\n", visible(std::string_view(h.password, strnlen(h.password, sizeof h.password))).c_str());
    out("product     %04x, revision %u.%u\n", unsigned(h.product_high) << 8 | h.product_low, unsigned(h.revision_major),
        unsigned(h.revision_minor));
    out("capability  %04x, copy %04x, size %lld bytes\n", unsigned(h.capability), unsigned(h.capability_copy), size);
    if (const char* t = target_of(h, plus)) out("for         %s\n", t);
}

}  // namespace

Outcome dump_packet(const std::string& path, const Options& opt) {
    Outcome o;
    platform::File file;
    out("== %s: FTN packet\n", visible(path).c_str());
    if (!file.open(path, platform::OpenMode::Read)) {
        out("! cannot open it\n\n");
        o.damaged = 1;
        return o;
    }
    long long size = file.size();
    std::uint8_t raw[PacketHeader::size];
    std::size_t got = file.read(raw, sizeof raw);
    if (got != sizeof raw) {
        out("! truncated: %zu bytes, a packet header alone has %zu\n\n", got, PacketHeader::size);
        o.damaged = 1;
        return o;
    }
    PacketHeader h = PacketHeader::decode(raw);
    show_packet_header(h, size);
    if (h.packet_type != 2) {
        out("! not a Type 2 packet: packet type %u\n\n", unsigned(h.packet_type));
        o.damaged = 1;
        return o;
    }

    int count = 0;
    for (;;) {
        long long at = file.tell();
        std::uint8_t fixed[PackedMessageHeader::size];
        got = file.read(fixed, 2);
        if (got < 2) {
            out("! truncated: the packet ends at offset %lld without its terminator, after %d message%s\n\n", at,
                count, count == 1 ? "" : "s");
            o.damaged = 1;
            return o;
        }
        unsigned type = fixed[0] | unsigned(fixed[1]) << 8;
        if (type == 0) {
            out("end         terminator at offset %lld, %d message%s", at, count, count == 1 ? "" : "s");
            long long rest = size - at - 2;
            if (rest > 0) out(", %lld bytes after it", rest);
            out("\n\n");
            return o;
        }
        if (type != 2) {
            out("! out of step at offset %lld: message type %04x where a message (0002) or the terminator (0000) is "
                "due; %d read before\n\n",
                at, type, count);
            o.damaged = 1;
            return o;
        }
        ++count;
        got = file.read(fixed + 2, sizeof fixed - 2);
        out("-- message %d at offset %lld\n", count, at);
        if (got != sizeof fixed - 2) {
            out("! truncated inside the header of message %d\n\n", count);
            o.damaged = 1;
            return o;
        }
        PackedMessageHeader mh = PackedMessageHeader::decode(fixed);
        static const char* const labels[4] = {"date", "to", "from", "subject"};
        FieldRead f[4];
        for (int i = 0; i < 4; ++i) {
            f[i] = read_whole_field(file);
            if (f[i].ended) {
                out("! truncated inside the %s field of message %d\n\n", labels[i], count);
                o.damaged = 1;
                return o;
            }
        }
        out("  from     %s, %u/%u\n", visible(f[2].text).c_str(), unsigned(mh.orig_net), unsigned(mh.orig_node));
        out("  to       %s, %u/%u\n", visible(f[1].text).c_str(), unsigned(mh.dest_net), unsigned(mh.dest_node));
        out("  subject  %s\n", visible(f[3].text).c_str());
        out("  date     %s\n", visible(f[0].text).c_str());
        out("  attr     %04x %s, cost %u\n", unsigned(mh.attribute), attribute_names(mh.attribute).c_str(),
            unsigned(mh.cost));
        static const std::size_t limits[4] = {19, 35, 35, 71};
        for (int i = 0; i < 4; ++i)
            if (f[i].text.size() > limits[i])
                out("  ! the %s field has %zu characters, more than %zu\n", labels[i], f[i].text.size(), limits[i]);
        if (!show_message_text(file, true, opt)) {
            out("! truncated inside the text of message %d\n\n", count);
            o.damaged = 1;
            return o;
        }
    }
}

Outcome dump_stored_message(const std::string& path, const Options& opt) {
    Outcome o;
    platform::File file;
    out("== %s: stored message\n", visible(path).c_str());
    if (!file.open(path, platform::OpenMode::Read)) {
        out("! cannot open it\n\n");
        o.damaged = 1;
        return o;
    }
    std::uint8_t raw[StoredMessageHeader::size];
    std::size_t got = file.read(raw, sizeof raw);
    if (got != sizeof raw) {
        out("! truncated: %zu bytes, a stored message header alone has %zu\n\n", got, StoredMessageHeader::size);
        o.damaged = 1;
        return o;
    }
    StoredMessageHeader h = StoredMessageHeader::decode(raw);
    out("  from     %s, %u/%u\n", visible(h.from()).c_str(), unsigned(h.orig_net), unsigned(h.orig_node));
    out("  to       %s, %u/%u\n", visible(h.to()).c_str(), unsigned(h.dest_net), unsigned(h.dest_node));
    out("  subject  %s\n", visible(h.subj()).c_str());
    out("  date     %s\n", visible(h.date_text()).c_str());
    out("  attr     %04x %s, cost %u\n", unsigned(h.attribute), attribute_names(h.attribute).c_str(), unsigned(h.cost));
    out("  read     %u times, reply to %u, next reply %u, size %lld bytes\n", unsigned(h.times_read),
        unsigned(h.reply_to), unsigned(h.next_reply), file.size());
    if (!show_message_text(file, false, opt)) out("  (the text ends at the end of the file, without its NUL)\n");
    out("\n");
    return o;
}

}  // namespace tw::dump
