// The list journal. What a hosted list does with a message touches two
// files, the list file and the reply packet, and a run killed between the
// two would leave a change without its answer, or a changed record active
// twice. So before either is touched, the intent goes into a journal in
// SoupDir, on the disk; once both are done, a line says so. A run that
// finds an intent not closed settles it before anything else: when the
// answer reached the SOUP client's index whole, the change stands;
// otherwise change and answer are taken back, and the message, still in
// the input, is handled afresh. The closed entries stay until the input
// is gone, so a message that an interrupted run already handled is not
// handled (and answered) a second time.
//
// Lines: "I key how size marker created reply-offset list\treply", then
// "D key" (done) or "U key" (taken back).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/options.h"
#include "driver/output.h"
#include "lists/lists.h"
#include "soup/soup.h"

namespace tw {

namespace {

constexpr const char* kJournalName = ".tarnwick.journal";

struct Intent {
    std::uint32_t key = 0;
    char how = 'A';          // 'A' answered, 'T' sent on and into the echo area
    long long size = -1;     // the list file's size before the change; -1: no change
    long long marker = -1;   // the record whose '+' the change turns into '*'
    bool created = false;    // the reply file was made for the answer
    long long reply_at = -1; // where the answer's length stands in it
    std::string list, reply; // list file, reply file (empty: no answer)
};

struct JournalState {
    std::string input;        // message file of the message being handled
    long long offset = -1;    // and where the message begins; -1: none
    std::uint32_t key = 0;    // of that message, once known
    bool key_known = false;
    Intent current;           // of the message being handled
    bool open = false;        // current holds an intent not yet closed
    bool broken = false;      // a line could not be written: no more changes this run
    std::map<std::uint32_t, char> done;  // handled by an earlier run
};

JournalState g_journal;

std::string journal_path() { return std::string(config().SoupDir.view()) + kJournalName; }

bool journaling() { return !options().test && g_journal.offset >= 0 && !config().SoupDir.empty(); }

// The message being handled, as the journal knows it again in a later run;
// taken before the handling changes the message's fields.
std::uint32_t input_key() {
    if (g_journal.key_known) return g_journal.key;
    const CurrentMessage& m = message();
    std::string id = g_journal.input;
    id += '\0';
    id += std::to_string(g_journal.offset);
    for (std::string_view field : {m.sender_address.view(), m.subject.view(), m.message_id.text.view()}) {
        id += '\0';
        id += field;
    }
    g_journal.key = crc32_text(id);
    g_journal.key_known = true;
    return g_journal.key;
}

// Appends one line whole or not at all; `sync`: and waits for the disk.
bool append_line(const std::string& line, bool sync) {
    platform::File f;
    if (!f.open(journal_path(), platform::OpenMode::Append, platform::Share::DenyWrite)) return false;
    long long before = f.size();
    // A line cut short by an earlier failure must not swallow this one.
    char last = '\n';
    if (before > 0) {
        platform::File r;
        if (r.open(journal_path(), platform::OpenMode::Read) && r.seek(before - 1)) r.read(&last, 1);
    }
    std::string text(last == '\n' ? "" : "\n");
    text += line;
    bool ok = before >= 0 && f.write(text) && (sync ? f.sync() : f.flush());
    ok = f.close() && ok;
    if (!ok && before >= 0) {
        platform::File undo;
        if (undo.open(journal_path(), platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) undo.truncate(before);
    }
    return ok;
}

bool append_close(char what, std::uint32_t key) {
    char line[32];
    std::snprintf(line, sizeof line, "%c %08lx\n", what, (unsigned long)key);
    if (append_line(line, false)) return true;
    // The intent stays open in the journal; whatever changed after it could
    // be taken back with it, so nothing more changes this run.
    g_journal.broken = true;
    log_printf("! unable to write %s; list messages wait for the next run\n", journal_path().c_str());
    return false;
}

bool parse_intent(const std::string& line, Intent& in) {
    unsigned long key = 0;
    int created = 0, n = 0;
    char how = 0;
    if (std::sscanf(line.c_str(), "I %lx %c %lld %lld %d %lld %n", &key, &how, &in.size, &in.marker, &created,
                    &in.reply_at, &n) < 6 || n <= 0)
        return false;
    std::string paths = line.substr(std::size_t(n));
    std::size_t tab = paths.find('\t');
    if (tab == std::string::npos) return false;
    in.key = std::uint32_t(key);
    in.how = how;
    in.created = created != 0;
    in.list = paths.substr(0, tab);
    in.reply = paths.substr(tab + 1);
    return true;
}

unsigned be32(const unsigned char* b) {
    return (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | unsigned(b[3]);
}

// Named in REPLIES: the SOUP client takes the file.
bool registered(const std::string& reply) {
    std::size_t name = platform::file_name_pos(reply);
    std::string base = reply.substr(name, reply.rfind('.') > name ? reply.rfind('.') - name : std::string::npos);
    platform::File index;
    if (!index.open(platform::resolve_case(std::string(config().SoupDir.view()) + "REPLIES"), platform::OpenMode::Read))
        return false;
    char line[256];
    while (index.read_line(line, sizeof line) > 0)
        if (std::strlen(line) > base.size() && line[base.size()] == '\t' &&
            iequals(std::string_view(line, base.size()), base))
            return true;
    return false;
}

// The answer went out: its file is registered and holds it whole.
bool delivered(const Intent& in) {
    if (in.reply.empty() || in.reply_at < 0 || !registered(in.reply)) return false;
    platform::File f;
    unsigned char len[4];
    if (!f.open(in.reply, platform::OpenMode::Read) || !f.seek(in.reply_at) || f.read(len, 4) != 4) return false;
    long long size = f.size();
    return be32(len) > 0 && in.reply_at + 4 + (long long)be32(len) <= size;
}

// True when the list file holds no part of the change.
bool change_gone(const Intent& in) {
    if (platform::file_size(in.list) != in.size) return false;
    if (in.marker < 0) return true;
    platform::File f;
    char c = 0;
    return f.open(in.list, platform::OpenMode::Read) && f.seek(in.marker) && f.read(&c, 1) == 1 && c != '*';
}

// Takes a change back: the records it appended go, the one it marked
// deleted is active again.
bool undo_change(const Intent& in) {
    if (in.size < 0) return true;
    close_subscriber_reader();
    if (change_gone(in)) return true;
    platform::File f;
    if (!f.open(in.list, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return false;
    long long size = f.size();
    bool ok = size >= in.size && (size == in.size || f.truncate(in.size));
    char c = 0;
    if (ok && in.marker >= 0 && in.marker < in.size && f.seek(in.marker) && f.read(&c, 1) == 1 && c == '*')
        ok = f.seek(in.marker) && f.put('+');
    ok = ok && f.sync();
    ok = f.close() && ok;
    for (int i = 0; i < list_count(); ++i)
        if (list_record(i).path && in.list == list_record(i).path) reindex_list(list_record(i));
    return ok;
}

// An answer that did not go out leaves nothing a SOUP client could take.
void undo_reply(const Intent& in) {
    if (in.reply.empty() || in.reply_at < 0) return;
    if (in.created && !registered(in.reply)) {
        platform::remove_file(in.reply);
        return;
    }
    platform::File f;
    if (f.open(in.reply, platform::OpenMode::ReadWrite, platform::Share::DenyWrite) && f.size() > in.reply_at)
        f.truncate(in.reply_at);
}

}  // namespace

void note_list_input(std::string_view message_file, long long offset) {
    g_journal.input.assign(message_file);
    g_journal.offset = offset;
    g_journal.key_known = false;
}

char list_input_done() {
    if (!journaling()) return 0;
    auto hit = g_journal.done.find(input_key());
    return hit == g_journal.done.end() ? 0 : hit->second;
}

bool journal_intent(int list, char how, long long marker, const ReplyMessage* reply) {
    Intent& in = g_journal.current;
    in = Intent{};
    in.how = how;
    in.list = list_record(list).path;
    if (marker != kNoListChange) {
        in.size = platform::file_size(in.list);
        in.marker = marker;
        if (in.size < 0) return false;
    }
    if (reply) {
        in.reply = reply->path();
        in.reply_at = reply->offset();
        in.created = reply->created();
    }
    if (journaling() && g_journal.broken) return false;
    g_journal.open = true;
    if (!journaling()) return true;
    in.key = input_key();
    char head[128];
    std::snprintf(head, sizeof head, "I %08lx %c %lld %lld %d %lld ", (unsigned long)in.key, how, in.size, in.marker,
                  in.created ? 1 : 0, in.reply_at);
    if (append_line(head + in.list + '\t' + in.reply + '\n', true)) return true;
    g_journal.open = false;
    log_printf("! unable to write %s; the message waits for the next run\n", journal_path().c_str());
    return false;
}

void journal_done() {
    if (!g_journal.open) return;
    g_journal.open = false;
    if (journaling()) append_close('D', g_journal.current.key);
}

bool journal_take_back() {
    if (!g_journal.open) return true;
    g_journal.open = false;
    const Intent& in = g_journal.current;
    bool ok = undo_change(in);
    if (!ok) log_printf("! the change for %s in %s could not be taken back\n", message().sender_address.c_str(),
                        in.list.c_str());
    if (journaling() && ok) append_close('U', in.key);
    return ok;
}

void recover_list_journal() {
    g_journal.done.clear();
    if (options().test || config().SoupDir.empty()) return;
    const std::string path = journal_path();
    std::vector<Intent> intents;
    std::map<std::uint32_t, char> closed;
    {
        platform::File f;
        if (!f.open(path, platform::OpenMode::Read)) return;
        std::string line;
        char buf[1024];
        while (f.read_line(buf, sizeof buf) > 0) {
            line += buf;
            // A NUL byte (a block zeroed by a crash) reads as an empty piece.
            if (line.empty() || line.back() != '\n') continue;
            line.pop_back();
            Intent in;
            unsigned long key = 0;
            if (parse_intent(line, in))
                intents.push_back(in);
            else if ((line[0] == 'D' || line[0] == 'U') && std::sscanf(line.c_str() + 1, " %lx", &key) == 1)
                closed[std::uint32_t(key)] = line[0];
            line.clear();
        }
    }
    // Newest first: a later change may stand on an earlier one.
    for (auto it = intents.rbegin(); it != intents.rend(); ++it) {
        Intent& in = *it;
        auto c = closed.find(in.key);
        char state = c == closed.end() ? 0 : c->second;
        if (!state) {
            if (delivered(in)) {
                state = 'D';
            } else if (undo_change(in)) {
                undo_reply(in);
                state = 'U';
            } else {
                log_printf("! unable to take back an interrupted change of %s\n", in.list.c_str());
                g_journal.broken = true;
                continue;
            }
            if (!append_close(state, in.key)) continue;
            log_printf("* %s an interrupted list change of %s\n", state == 'D' ? "completed" : "took back",
                       in.list.c_str());
        }
        if (state == 'D') g_journal.done[in.key] = in.how;
    }
    if (g_journal.done.empty() && !g_journal.broken) platform::remove_file(path);
}

void close_list_journal() {
    if (options().test || config().SoupDir.empty() || g_journal.broken) return;
    g_journal.done.clear();
    g_journal.offset = -1;
    platform::remove_file(journal_path());
}

}  // namespace tw
