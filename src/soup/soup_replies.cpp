// The reply packet: length-framed reply message files named MAILxxxx.MSG
// and NEWSxxxx.MSG, each registered by one REPLIES line.
#include <optional>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/output.h"
#include "soup/soup.h"

namespace tw {

namespace {

struct ReplyState {
    std::string path;        // current reply file; empty before the first pick
    std::uint16_t number = 0;
    int count = 0;           // messages since it was last registered
    bool registered = false; // its REPLIES line is written
    // Kept open (and locked) from message to message; closed when the
    // next file is picked.
    platform::File file;
    bool writing = false;    // a ReplyMessage is being written into it
};

ReplyState g_reply[2];

ReplyState& state(ReplyKind kind) { return g_reply[kind == ReplyKind::News ? 1 : 0]; }
const char* prefix(ReplyKind kind) { return kind == ReplyKind::News ? "NEWS" : "MAIL"; }
const char* kind_name(ReplyKind kind) { return kind == ReplyKind::News ? "news" : "mail"; }
char type_letter(ReplyKind kind) { return kind == ReplyKind::News ? 'B' : 'b'; }

// The lowest free number gives the name; it is created in the case REPLIES
// writes it (upper-case digits), while the search itself ignores case.
bool pick_name(ReplyKind kind) {
    ReplyState& st = state(kind);
    std::string name;
    std::optional<std::uint16_t> n = make_numbered_name(config().SoupDir.view(), prefix(kind), ".MSG", name);
    if (!n) {
        st.path.clear();
        log_printf("! No free reply file name in %s\n", config().SoupDir.c_str());
        return false;
    }
    std::size_t digits = name.size() - 8;  // "xxxx.MSG"
    for (std::size_t i = digits; i < digits + 4; ++i) name[i] = ascii_upper(name[i]);
    st.path = name;
    st.number = *n;
    st.count = 0;
    return true;
}

// Appends the REPLIES line of the current file. A line cut short would
// spoil the whole index, so a failed append is taken back.
bool register_file(ReplyKind kind) {
    ReplyState& st = state(kind);
    std::string index = std::string(config().SoupDir.view()) + "REPLIES";
    platform::File f;
    bool ok = f.open(index, platform::OpenMode::Append, platform::Share::DenyWrite, false);
    long long before = ok ? f.size() : -1;
    ok = ok && before >= 0 &&
         f.printf("%s%04X\t%s\t%cn\n", prefix(kind), unsigned(st.number), kind_name(kind), type_letter(kind)) &&
         f.flush();
    ok = f.close() && ok;
    if (!ok) {
        if (before >= 0) {
            platform::File undo;
            if (undo.open(index, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) undo.truncate(before);
        }
        log_printf("Error: can't append to %s\n", index.c_str());
        return false;
    }
    st.registered = true;
    return true;
}

}  // namespace

void rotate_reply_file(ReplyKind kind) {
    ReplyState& st = state(kind);
    if (st.count > 0) {
        if (!st.registered) register_file(kind);
    } else if (!st.path.empty()) {
        return;
    }
    // Every message was flushed and checked when it finished.
    if (!st.writing) st.file.release();
    pick_name(kind);
    st.registered = false;
}

bool ReplyMessage::begin(ReplyKind kind) {
    abandon();
    kind_ = kind;
    ReplyState& st = state(kind);
    if (st.writing) return false;  // one message at a time goes into a file
    if (st.path.empty() && !pick_name(kind)) return false;
    created_ = false;
    platform::File& f = st.file;
    if (!f.is_open()) {
        if (st.count > 0 && f.open(st.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) {
            // ours from earlier in this run
        } else {
            // A new file; when another process has taken the name since it
            // was picked, the next free one is used instead.
            for (int tries = 0;; ++tries) {
                if (f.open(st.path, platform::OpenMode::CreateNew, platform::Share::DenyWrite)) {
                    created_ = true;
                    break;
                }
                if (st.count > 0 || tries >= 16 || !platform::name_taken(st.path) || !pick_name(kind)) return false;
            }
        }
        if (!f.seek_end()) {
            f.release();
            return false;
        }
    }
    file_ = &f;
    offset_ = f.tell();
    static const unsigned char zero[4] = {0, 0, 0, 0};
    active_ = true;
    st.writing = true;
    if (offset_ < 0 || !f.write(zero, 4)) {
        abandon();
        return false;
    }
    return true;
}

bool ReplyMessage::finish() {
    if (!active_) return false;
    long long length = file_->tell() - offset_ - 4;
    if (length < 0 || length > 0x7FFFFFFF || file_->error()) {
        abandon();
        return false;
    }
    unsigned char len[4] = {(unsigned char)(length >> 24), (unsigned char)(length >> 16), (unsigned char)(length >> 8),
                            (unsigned char)length};
    // The length goes in before the message leaves the buffer, when it is
    // still there: one write a message.
    if (!file_->overwrite(offset_, len, 4) || !file_->flush() || file_->error()) {
        abandon();
        return false;
    }
    ReplyState& st = state(kind_);
    // A file is registered with its first message, so that no message whose
    // input is gone can be kept from the SOUP client by a REPLIES that fails
    // at the end of the run; the rest of the run only appends. A news file
    // waits while the mail file has none, so REPLIES keeps its order, mail
    // first.
    bool register_now = !st.registered && (kind_ == ReplyKind::Mail || config().SeparateMSG ||
                                           state(ReplyKind::Mail).registered);
    if (register_now && !register_file(kind_)) {
        withdraw();
        return false;
    }
    active_ = false;
    st.writing = false;
    ++st.count;
    if (config().SeparateMSG) rotate_reply_file(kind_);
    return true;
}

void ReplyMessage::withdraw() {
    active_ = false;
    ReplyState& st = state(kind_);
    st.writing = false;
    // Closed first: what the stream still holds must not land after the cut.
    st.file.release();
    if (created_) {
        platform::remove_file(st.path);
        return;
    }
    platform::File f;
    if (!f.open(st.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return;
    f.truncate(offset_);
    f.release();  // what could not be taken back is reported by the caller
}

void ReplyMessage::abandon() {
    // A half-written message would break the framing of the whole file.
    if (active_) withdraw();
}

bool append_reply_message(ReplyKind kind, std::string_view text) {
    ReplyMessage m;
    if (!m.begin(kind)) return false;
    if (!m.write(text)) {
        m.abandon();
        return false;
    }
    return m.finish();
}

const std::string& reply_file_path(ReplyKind kind) { return state(kind).path; }
int reply_message_count(ReplyKind kind) { return state(kind).count; }

void reset_reply_state() {
    for (ReplyState& st : g_reply) {
        st.file.release();
        st.path.clear();
        st.number = 0;
        st.count = 0;
        st.registered = false;
        st.writing = false;
    }
}

}  // namespace tw
