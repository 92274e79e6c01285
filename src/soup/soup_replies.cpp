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
    // Messages finished since the last commit (ReplyCommit::Later), and
    // where the file is cut back to when the commit fails.
    int held = 0;
    long long cut_at = 0;
    bool cut_created = false;        // the first held message made the file
    bool registered_held = false;    // its REPLIES line came since the last commit
    bool broken = false;             // held bytes may not have reached the file
    bool rotate = false;             // SeparateMSG: the next file once committed
};

ReplyState g_reply[2];

// What the next commit must sync besides the reply files.
struct Pending {
    long long replies_before = -1;  // size of REPLIES before its first new line, -1 none
    bool dir = false;               // a name was made in SoupDir
};
Pending g_pending;

std::string replies_path() { return std::string(config().SoupDir.view()) + "REPLIES"; }

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
    std::string index = replies_path();
    platform::File f;
    bool ok = f.open(index, platform::OpenMode::Append, platform::Share::DenyWrite, false);
    long long before = ok ? f.size() : -1;
    if (before >= 0 && g_pending.replies_before < 0) g_pending.replies_before = before;
    g_pending.dir = true;  // REPLIES may have been made
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

// Opens the file for more messages, written through the own buffer.
bool open_for_more(ReplyState& st) {
    if (!st.file.open(st.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return false;
    st.file.buffer_writes();
    if (st.file.seek_end()) return true;
    st.file.release();
    return false;
}

// Cuts a reply file back to where its held messages begin.
void cut_back(ReplyState& st) {
    st.file.release();
    if (st.cut_created) {
        if (!platform::remove_file(st.path)) log_printf("! Cannot remove %s\n", st.path.c_str());
    } else {
        platform::File f;
        if (!f.open(st.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite) || !f.truncate(st.cut_at))
            log_printf("! Cannot cut %s back to %lld bytes\n", st.path.c_str(), st.cut_at);
    }
    st.count = st.count > st.held ? st.count - st.held : 0;
    if (st.registered_held) st.registered = false;
    st.held = 0;
    st.registered_held = false;
    st.broken = false;
}

}  // namespace

bool commit_replies(int* taken_out) {
    if (taken_out) *taken_out = 0;
    bool any = g_pending.replies_before >= 0 || g_pending.dir;
    for (ReplyState& st : g_reply) any = any || st.held > 0 || st.broken;
    if (!any) return true;
    bool ok = true;
    for (ReplyState& st : g_reply)
        if (st.held > 0 || st.broken) ok = ok && !st.broken && st.file.is_open() && st.file.sync_data();
    if (ok && g_pending.replies_before >= 0) {
        platform::File index;
        ok = index.open(replies_path(), platform::OpenMode::Read) && index.sync_data();
    }
    if (ok && g_pending.dir) ok = platform::sync_directory(config().SoupDir.view());
    if (!ok) {
        int lost = 0;
        for (ReplyState& st : g_reply) {
            lost += st.held;
            if (st.held > 0 || st.broken || st.registered_held) cut_back(st);
        }
        if (g_pending.replies_before >= 0) {
            platform::File index;
            if (g_pending.replies_before == 0) {
                platform::remove_file(replies_path());
            } else if (!index.open(replies_path(), platform::OpenMode::ReadWrite, platform::Share::DenyWrite) ||
                       !index.truncate(g_pending.replies_before)) {
                log_printf("! Cannot cut %s back to %lld bytes\n", replies_path().c_str(), g_pending.replies_before);
            }
        }
        if (taken_out) *taken_out = lost;
    }
    for (ReplyState& st : g_reply) {
        st.held = 0;
        st.registered_held = false;
    }
    g_pending = Pending{};
    for (ReplyKind kind : {ReplyKind::Mail, ReplyKind::News}) {
        if (!state(kind).rotate) continue;
        state(kind).rotate = false;
        rotate_reply_file(kind);
    }
    return ok;
}

void rotate_reply_file(ReplyKind kind) {
    ReplyState& st = state(kind);
    // A file is named in REPLIES and left only with its messages on the disk.
    if (st.held > 0 || st.broken) (void)commit_replies();
    st.rotate = false;
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
    commit_soon_ = false;
    kind_ = kind;
    ReplyState& st = state(kind);
    if (st.writing) return false;  // one message at a time goes into a file
    if (st.path.empty() && !pick_name(kind)) return false;
    created_ = false;
    platform::File& f = st.file;
    if (!f.is_open()) {
        if (st.count > 0 && open_for_more(st)) {
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
            f.buffer_writes();
        }
    }
    file_ = &f;
    offset_ = f.tell();
    f.keep_together();
    static const unsigned char zero[4] = {0, 0, 0, 0};
    active_ = true;
    st.writing = true;
    if (offset_ < 0 || !f.write(zero, 4)) {
        abandon();
        return false;
    }
    return true;
}

bool ReplyMessage::finish(ReplyCommit when) {
    if (!active_) return false;
    long long length = file_->tell() - offset_ - 4;
    if (length < 0 || length > 0x7FFFFFFF || file_->error()) {
        abandon();
        return false;
    }
    unsigned char len[4] = {(unsigned char)(length >> 24), (unsigned char)(length >> 16), (unsigned char)(length >> 8),
                            (unsigned char)length};
    ReplyState& st = state(kind_);
    const bool separate = config().SeparateMSG;
    // A file is registered with its first message, so that no message whose
    // input is gone can be kept from the SOUP client by a REPLIES that fails
    // at the end of the run; the rest of the run only appends. A news file
    // waits while the mail file has none, so REPLIES keeps its order, mail
    // first.
    bool register_now = !st.registered && (kind_ == ReplyKind::Mail || separate ||
                                           state(ReplyKind::Mail).registered);
    // The length goes in while the message is still in the buffer.
    bool flush = when == ReplyCommit::Now || register_now || separate;
    if (!file_->overwrite(offset_, len, 4) || (flush && !file_->flush()) || file_->error()) {
        abandon();
        return false;
    }
    if (register_now && !register_file(kind_)) {
        withdraw();
        return false;
    }
    active_ = false;
    st.writing = false;
    ++st.count;
    if (when == ReplyCommit::Later) {
        if (st.held == 0) {
            st.cut_at = offset_;
            st.cut_created = created_;
        }
        ++st.held;
        if (register_now) st.registered_held = true;
        if (created_) g_pending.dir = true;
        // A new file in REPLIES, or one file a message (SeparateMSG, where
        // the next message goes elsewhere): worth a commit at once.
        commit_soon_ = register_now || separate;
        st.rotate = separate;
        return true;
    }
    if (separate) rotate_reply_file(kind_);
    return true;
}

void ReplyMessage::withdraw() {
    active_ = false;
    ReplyState& st = state(kind_);
    st.writing = false;
    if (created_) {
        st.file.release();
        platform::remove_file(st.path);
        return;
    }
    // Flushed first: what the buffer still holds must not land after the
    // cut. The messages held before this one stay, and must be whole.
    platform::File& f = st.file;
    if (f.flush() && f.truncate(offset_) && f.seek_end()) return;
    if (st.held > 0) st.broken = true;
    f.release();
    platform::File g;
    if (!g.open(st.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return;
    if (g.size() > offset_) g.truncate(offset_);
    g.release();  // what could not be taken back is reported by the caller
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
        st.held = 0;
        st.registered_held = false;
        st.broken = false;
        st.rotate = false;
    }
    g_pending = Pending{};
}

}  // namespace tw
