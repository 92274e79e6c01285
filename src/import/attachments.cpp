#include "import/attachments.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "ftn/writer.h"
#include "import/pass_state.h"

namespace tw {

namespace {

// A mail attachment the scan pass found: where its data starts in the
// message file (the same offset in both passes), its name, whether it holds
// data (size above 0), and the file made ready for it.
struct Planned {
    long long start;
    Text<260> file_name;
    long size;
    std::string path;
    std::size_t name_pos;
    bool renamed;
    bool used;
};

// More than the file-attach list can name (71 characters, names of at
// least one character and a blank between).
constexpr std::size_t kMaxPlanned = 40;
std::vector<Planned> g_planned;
bool g_write_failure = false;

// The buffer is written out before a piece is decoded once it holds more
// than this, so a piece of at most kPieceChars never overruns it.
constexpr std::size_t kFlushAbove = 508;
constexpr std::size_t kPieceChars = 340;  // at most 256 bytes
static_assert(kFlushAbove + kPieceChars * 3 / 4 + 1 <= ImportBuffers::kDecodeSize);

bool is_mail() { return message().area_kind != AreaKind::News; }

AttachAction action_for(const PassState& st) {
    if (*st.request->junk != JunkKind::None) return AttachAction::Ignore;
    return config().Attach[is_mail() ? 0 : 1];
}

// The file-name part of a name a stranger chose, safe to create inside the
// chosen directory: no directory or drive part, no control characters, and
// never "." or ".."; empty when nothing usable is left. A blank becomes '_'
// too, since the file-attach subject separates names by blanks.
std::string safe_name(std::string_view raw) {
    std::size_t cut = raw.find_last_of("\\/:");
    if (cut != std::string_view::npos) raw.remove_prefix(cut + 1);
    std::string name(trim_view(raw));
    for (char& c : name)
        if ((unsigned char)c <= 0x20 || c == 0x7F) c = '_';
    if (name == "." || name == "..") name.clear();
    return name;
}

struct Choice {
    std::string path;
    std::size_t name_pos;
    bool renamed;
};

// Where an attachment of this name goes: a free name in the directory its
// kind and name select. Nothing is created yet.
Choice choose_file(std::string_view raw_name) {
    const GatewayConfig& c = config();
    bool mail = is_mail();
    std::string name = safe_name(raw_name);
    Choice ch{};
    std::string dir;
    if (name.empty()) {
        dir = mail && !c.DecodeAll ? c.InboundDir.view() : c.DecodeDir.view();
        make_counter_name(dir, ".ATT", ch.path);
        ch.name_pos = dir.size();
        return ch;
    }
    if (!mail || (c.DecodeAll && !is_ftn_mail_name(name)))
        dir = c.DecodeDir.view();
    else
        dir = c.InboundDir.view();
    // The whole path stays within 259 characters.
    if (dir.size() + name.size() > 259) name.resize(dir.size() < 259 ? 259 - dir.size() : 0);
    ch.path = dir + name;
    ch.name_pos = dir.size();
    if (make_wildcard_name(ch.path, ch.name_pos)) ch.renamed = true;
    if (file_exists(ch.path)) {
        ch.renamed = true;
        if (!make_free_variant(ch.path)) make_counter_name(dir, ".ATT", ch.path);
    }
    return ch;
}

// Creates the file under a free name; never opens a file that exists.
bool create_file(std::string_view raw_name, Choice& ch, platform::File& file) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        ch = choose_file(raw_name);
        if (ch.name_pos >= ch.path.size()) return false;
        if (file.open(ch.path, platform::OpenMode::CreateNew, platform::Share::DenyWrite)) return true;
        // Another process took the name between the test and the creation.
        if (!file_exists(ch.path)) return false;
    }
    return false;
}

std::string_view name_part(const AttachmentState& a) {
    std::string_view p = a.path.view();
    return p.substr(a.name_pos < p.size() ? a.name_pos : p.size());
}

// Opens the file of the attachment starting here: the one made ready for
// it, or a new one.
void open_file(PassState& st) {
    AttachmentState& a = st.attachment;
    for (Planned& p : g_planned) {
        if (p.start != st.line_end || p.path.empty() || p.used) continue;
        p.used = true;
        if (!a.file.open(p.path, platform::OpenMode::Write, platform::Share::DenyWrite)) break;
        a.path.assign(p.path);
        a.name_pos = p.name_pos;
        a.renamed = p.renamed;
        // The headers of further parts of a split message name it again.
        CurrentMessage& m = message();
        std::string_view name = name_part(a);
        if (m.attach_list.size() + 1 + name.size() < 72) {
            if (!m.attach_list.empty()) m.attach_list.push_back(' ');
            m.attach_list.append(name);
        }
        m.attach = true;
        return;
    }
    Choice ch;
    if (!create_file(a.file_name.view(), ch, a.file)) {
        a.action = AttachAction::Ignore;
        a.path.assign(ch.path);
        a.name_pos = ch.name_pos < ch.path.size() ? ch.name_pos : 0;
        a.renamed = ch.renamed;
        return;
    }
    a.path.assign(ch.path);
    a.name_pos = ch.name_pos;
    a.renamed = ch.renamed;
}

void begin(PassState& st, DecodeState kind) {
    AttachmentState& a = st.attachment;
    if (a.decoding != DecodeState::None) finish_attachment(st);
    a.decoding = kind;
    a.action = action_for(st);
    a.planned = -1;
    a.renamed = false;
    a.path.clear();
    a.name_pos = 0;
    a.base64.reset();
    a.buffered = 0;
    a.size = 0;
    a.write_failed = false;
    Pass pass = st.request->pass;
    if (pass == Pass::Scan && is_mail() && a.action == AttachAction::Decode && g_planned.size() < kMaxPlanned) {
        a.planned = int(g_planned.size());
        g_planned.push_back(Planned{st.line_end, a.file_name, 0, {}, 0, false, false});
    }
    if (pass != Pass::Write) return;
    if (a.action == AttachAction::Decode) {
        open_file(st);
    } else if (config().Attach[is_mail() ? 0 : 1] != AttachAction::Ignore) {
        // Only the note needs the name.
        Choice ch = choose_file(a.file_name.view());
        a.path.assign(ch.path);
        a.name_pos = ch.name_pos;
        a.renamed = ch.renamed;
    }
}

void write_out(AttachmentState& a, const char* buffer) {
    if (a.buffered == 0) return;
    if (a.file.is_open() && !a.file.write(buffer, a.buffered)) a.write_failed = true;
    a.buffered = 0;
}

// Decodes base64 text into the buffer (counting only, without a file).
// The scan pass only learns whether the attachment holds data at all.
void take_base64(PassState& st, std::string_view line) {
    AttachmentState& a = st.attachment;
    if (st.request->pass != Pass::Write) {
        if (a.size == 0) a.size = long(mime::base64_line_size(line));
        return;
    }
    unsigned char* buffer = reinterpret_cast<unsigned char*>(st.request->buffers->decode);
    for (std::size_t at = 0; at < line.size(); at += kPieceChars) {
        if (a.buffered > kFlushAbove) write_out(a, st.request->buffers->decode);
        std::size_t n = a.base64.decode(line.substr(at, kPieceChars), buffer + a.buffered);
        a.size += long(n);
        if (a.file.is_open()) a.buffered += n;
    }
}

void take_uu(PassState& st, std::string_view line, std::size_t count) {
    AttachmentState& a = st.attachment;
    if (st.request->pass != Pass::Write) {
        a.size += long(count);
        return;
    }
    if (a.buffered > kFlushAbove) write_out(a, st.request->buffers->decode);
    unsigned char* buffer = reinterpret_cast<unsigned char*>(st.request->buffers->decode);
    std::size_t n = mime::decode_uu_line(line, count, buffer + a.buffered);
    a.size += long(n);
    if (a.file.is_open()) a.buffered += n;
}

}  // namespace

void start_base64_attachment(PassState& st) {
    st.base64 = false;
    st.in_content_header = false;
    begin(st, DecodeState::Base64);
}

bool start_uu_attachment(PassState& st, std::string_view line) {
    if (st.attachment.decoding != DecodeState::None || line.substr(0, 6) != "begin ") return false;
    char head[32];
    std::size_t n = line.size() < sizeof head - 1 ? line.size() : sizeof head - 1;
    line.copy(head, n);
    head[n] = 0;
    unsigned mode = 0;
    if (std::sscanf(head + 6, "%o", &mode) != 1) return false;
    std::string_view name = line.size() > 9 ? line.substr(9) : std::string_view();
    while (!name.empty() && is_space(name.front())) name.remove_prefix(1);
    st.attachment.file_name.assign(name, 259);
    begin(st, DecodeState::UU);
    return st.attachment.action != AttachAction::Ignore;
}

bool decode_data_line(PassState& st, std::string_view line) {
    AttachmentState& a = st.attachment;
    if (a.decoding == DecodeState::None || a.action == AttachAction::Ignore) return false;
    if (a.decoding == DecodeState::Base64) {
        // A line of "--" is a boundary (perhaps of a multipart not known),
        // never data, though '-' has a value.
        if (line.empty() || mime::base64_value((unsigned char)line[0]) < 0 || line.substr(0, 2) == "--") {
            finish_attachment(st);
            return false;
        }
        take_base64(st, line);
        if (line.size() >= 2 && line.substr(line.size() - 2) == "==") finish_attachment(st);
        return true;
    }
    std::size_t count = 0;
    if (mime::uu_data_line(line, count)) {
        take_uu(st, line, count);
        return true;
    }
    finish_attachment(st);
    return iequals(line, "end");
}

void finish_attachment(PassState& st) {
    AttachmentState& a = st.attachment;
    if (a.decoding == DecodeState::None) return;
    const ConvertRequest& r = *st.request;
    if (r.pass != Pass::Write) {
        if (a.planned >= 0 && std::size_t(a.planned) < g_planned.size()) g_planned[std::size_t(a.planned)].size = a.size;
        a.decoding = DecodeState::None;
        return;
    }
    bool had_file = a.file.is_open();
    bool whole = true;
    if (had_file) {
        write_out(a, r.buffers->decode);
        // On the disk before the message file that holds it may go.
        whole = !a.write_failed && a.file.sync_data() && !a.file.error();
        whole = a.file.close() && whole;
    }
    EncodeKind encoding = a.decoding == DecodeState::UU ? EncodeKind::UU : EncodeKind::Mime;
    if (had_file && !whole) {
        // A cut file is no copy of the attachment: it goes, and the message
        // file is kept so that the next run decodes it again.
        platform::remove_file(a.path.view());
        log_printf("! Error writing decoded file %s\n", a.path.c_str());
        g_write_failure = true;
    } else {
        AttachDisposition d = a.action == AttachAction::Decode ? AttachDisposition::Decoded
                              : a.action == AttachAction::Kill ? AttachDisposition::Killed
                                                               : AttachDisposition::Ignored;
        // A decoded file is what reached the disk; the others say what the data stood for.
        std::string name(name_part(a));
        if (name.empty()) name = safe_name(a.file_name.view());
        announce_attachment(a.path.view(), name, a.renamed, encoding, d, a.size, r.ignore_text, *r.packet);
    }
    if (had_file) a.file_name.clear();
    a.decoding = DecodeState::None;
}

void end_attachments(PassState& st) {
    finish_attachment(st);
    if (st.request->pass != Pass::Write) return;
    for (Planned& p : g_planned)
        if (!p.path.empty() && !p.used) platform::remove_file(p.path);
    g_planned.clear();
}

void forget_attachments() { g_planned.clear(); }

void claim_attachments(JunkKind junk) {
    CurrentMessage& m = message();
    m.attach_list.clear();
    m.attach = false;
    if (junk != JunkKind::None) {
        g_planned.clear();
        return;
    }
    for (Planned& p : g_planned) {
        if (p.size <= 0) continue;
        Choice ch = choose_file(p.file_name.view());
        std::string_view name = std::string_view(ch.path).substr(ch.name_pos);
        if (name.empty() || m.attach_list.size() + 1 + name.size() >= 72) continue;
        platform::File f;
        if (!create_file(p.file_name.view(), ch, f)) continue;
        name = std::string_view(ch.path).substr(ch.name_pos);
        if (m.attach_list.size() + 1 + name.size() >= 72) {
            f.release();
            platform::remove_file(ch.path);
            continue;
        }
        if (!m.attach_list.empty()) m.attach_list.push_back(' ');
        m.attach_list.append(name);
        p.path = ch.path;
        p.name_pos = ch.name_pos;
        p.renamed = ch.renamed;
    }
    m.attach = !m.attach_list.empty();
}

bool take_attachment_write_failure() {
    bool failed = g_write_failure;
    g_write_failure = false;
    return failed;
}

}  // namespace tw
