#include "export/attach_list.h"

#include <string>

#include "driver/helpers.h"
#include "driver/options.h"
#include "driver/output.h"
#include "export/convert.h"
#include "ftn/format.h"
#include "platform/platform.h"

namespace tw {

std::string_view AttachEntry::name() const {
    std::string_view v = line.view();
    if (!v.empty() && (v[0] == '^' || v[0] == '#')) v.remove_prefix(1);
    return v;
}

bool AttachList::add(std::string_view line) {
    if (entries_.size() >= capacity) return false;
    AttachEntry e{};
    e.line.assign(line);
    std::string_view v = e.line.view();
    std::size_t dot = v.rfind('.');
    e.state = dot != std::string_view::npos && iequals(v.substr(dot), ".pkt") ? AttachState::Packet : AttachState::Other;
    entries_.push_back(e);
    return true;
}

bool AttachList::any_not_packet() const {
    for (const AttachEntry& e : entries_)
        if (e.state != AttachState::Packet) return true;
    return false;
}

AttachEntry* AttachList::find_base_name(std::string_view word) {
    // Done entries are passed over, so that two words with the same base
    // name find two files rather than the first one twice.
    for (AttachEntry& e : entries_)
        if (e.state != AttachState::Done && same_base_name(e.name(), word) == 0) return &e;
    return nullptr;
}

AttachList& attach_list() {
    static AttachList list;
    return list;
}

// ------------------------------------------------------------ flow files

bool read_flow_file(std::string_view path, AttachList& list, long long& rest) {
    list.clear();
    rest = -1;
    platform::File f;
    if (!f.open(path, platform::OpenMode::Read, platform::Share::All, true)) return false;
    char line[259];
    for (;;) {
        long long at = f.tell();
        std::size_t n = f.read_line(line, sizeof line);
        if (n == 0) break;
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
        if (!list.add(std::string_view(line, n))) {
            rest = at;
            break;
        }
    }
    return true;
}

namespace {

// A name beside `path` for a new file that replaces it: the same name with
// ".$$$", or the first free variant of that.
bool scratch_name(std::string_view path, std::string& out) {
    out.assign(path);
    out += ".$$$";
    return make_free_variant(out);
}

// Writes the new text with `fill` to a scratch file and renames it over
// `path`; the old file stays whole when any step fails.
template <typename Fill>
bool replace_file(std::string_view path, Fill fill) {
    std::string real = platform::resolve_case(path);
    std::string tmp;
    if (!scratch_name(real, tmp)) return false;
    platform::File out;
    if (!out.open(tmp, platform::OpenMode::CreateNew, platform::Share::DenyWrite)) return false;
    bool ok = fill(out) && out.flush() && !out.error();
    ok = out.close() && ok;
    if (!ok || !platform::rename_file(tmp, real)) {
        platform::remove_file(tmp);
        return false;
    }
    return true;
}

// On a full disk no new copy can be made, yet a file can still be
// overwritten and cut shorter in place. Only for a fill that never writes
// ahead of what it still reads from the file. Used when replace_file
// cannot: keeping the old file whole would send again what already went.
template <typename Fill>
bool shrink_in_place(std::string_view path, Fill fill) {
    platform::File out;
    if (!out.open(path, platform::OpenMode::ReadWrite)) return false;
    if (!fill(out) || !out.flush()) return false;
    long long end = out.tell();
    return end >= 0 && out.truncate(end) && out.close();
}

}  // namespace

void finish_flow_file(std::string_view path, const AttachList& list, long long rest) {
    if (options().test) return;
    // Whatever went out for its entries is on the disk before they go.
    if (!commit_export()) {
        (void)take_lost_message();
        log_printf("! %.*s kept whole for the next run\n", int(path.size()), path.data());
        return;
    }
    long left = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].state != AttachState::Done) ++left;
    if (left == 0 && rest < 0) {
        if (!platform::remove_file(path))
            log_printf("! Cannot delete %.*s: its files will be sent again\n", int(path.size()), path.data());
        return;
    }
    auto fill = [&](platform::File& out) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].state != AttachState::Done && !out.printf("%s\n", list[i].line.c_str())) return false;
        if (rest < 0) return true;
        platform::File in;
        if (!in.open(path, platform::OpenMode::Read) || !in.seek(rest)) return false;
        char block[8192];
        for (std::size_t n; (n = in.read(block, sizeof block)) > 0;)
            if (!out.write(block, n)) return false;
        return !in.error();
    };
    // The entries kept are lines the file holds before `rest`, each without
    // its CR, so in place the writing stays behind the reading.
    long long kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].state != AttachState::Done) kept += (long long)list[i].line.size() + 1;
    const long long size = platform::file_size(path);
    bool ok = replace_file(path, fill) || (kept <= (rest < 0 ? size : rest) && shrink_in_place(path, fill));
    if (ok)
        log_printf("! %.*s kept for the next run with the %ld entries not sent\n", int(path.size()), path.data(),
                   left);
    else
        log_printf("! %.*s kept whole for the next run: cannot write it anew\n", int(path.size()), path.data());
}

// -------------------------------------------------------- disposal rule

namespace {

// The packet without the messages before `offset`: its header and the rest.
bool keep_from(std::string_view path, long long offset) {
    auto fill = [&](platform::File& out) {
        platform::File in;
        if (!in.open(path, platform::OpenMode::Read)) return false;
        char block[65536];
        if (in.read(block, PacketHeader::size) != PacketHeader::size || !out.write(block, PacketHeader::size) ||
            !in.seek(offset))
            return false;
        for (std::size_t n; (n = in.read(block, sizeof block)) > 0;)
            if (!out.write(block, n)) return false;
        return !in.error();
    };
    return replace_file(path, fill) || shrink_in_place(path, fill);
}

// The name a damaged packet is kept under: its extension becomes ".bad",
// or the first free variant of that.
bool bad_name(std::string_view path, std::string& out) {
    out = platform::resolve_case(path);
    std::size_t name = platform::file_name_pos(out);
    std::size_t dot = out.rfind('.');
    if (dot == std::string::npos || dot < name) dot = out.size();
    out.replace(dot, std::string::npos, ".bad");
    return make_free_variant(out);
}

}  // namespace

bool dispose_packet(std::string_view path, PacketRead& read, PacketPlace place, long batch_number) {
    const int len = int(path.size());
    const char* p = path.data();
    (void)commit_export();
    PacketMessage lost = batch_number < 0 ? take_lost_message() : take_lost_message(batch_number);
    if (lost.offset >= 0 && (read.outcome != PacketOutcome::Failed || lost.offset < read.resume_at)) {
        read.outcome = PacketOutcome::Failed;
        read.resume_at = lost.offset;
        read.messages = lost.number;
    }
    if (place == PacketPlace::Temporary) {
        platform::remove_file(path);
        return read.outcome == PacketOutcome::Exported;
    }
    const bool test = options().test;
    switch (read.outcome) {
    case PacketOutcome::Refused:
        // Packets for other nodes are expected in a packet directory.
        if (place != PacketPlace::Directory) log_printf("! %.*s is no packet for the gateway: left in place\n", len, p);
        return false;
    case PacketOutcome::Exported:
        if (!test && !platform::remove_file(path))
            log_printf("! Cannot delete %.*s: its mail will be exported again\n", len, p);
        return true;
    case PacketOutcome::Failed:
        if (!test && read.resume_at > (long long)PacketHeader::size && keep_from(path, read.resume_at))
            log_printf("! %.*s kept for the next run from its message %ld on\n", len, p, read.messages);
        else
            log_printf("! %.*s kept for the next run\n", len, p);
        return false;
    case PacketOutcome::Damaged:
        break;
    }
    if (test) {
        log_printf("! %.*s is damaged at byte %lld\n", len, p, read.damage_at);
        return false;
    }
    std::string bad;
    if (!bad_name(path, bad) || !platform::rename_file(path, bad)) {
        log_printf("! %.*s is damaged at byte %lld and cannot be renamed\n", len, p, read.damage_at);
        return false;
    }
    log_printf("! %.*s is damaged at byte %lld: renamed to %s\n", len, p, read.damage_at, bad.c_str());
    return true;
}

}  // namespace tw
