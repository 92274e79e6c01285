// The list configuration file: settings of one hosted list and, below its
// "ListUsers" line, the subscriber records, indexed by address at load time.
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "config/reader.h"
#include "driver/options.h"
#include "driver/helpers.h"
#include "driver/output.h"
#include "lists/lists.h"

namespace tw {

namespace {

ListTable* g_lists = nullptr;

// Longest resolved file name the record keeps.
constexpr std::size_t kMaxPath = 259;

void release_index(ListRecord& r) {
    for (SubscriberIndexEntry*& head : r.buckets) {
        while (head) {
            SubscriberIndexEntry* next = head->next;
            std::free(head);
            head = next;
        }
    }
    for (auto& tail : r.tails) tail = nullptr;
    r.subscriber_count = 0;
}

void release_record(ListRecord& r) {
    char** texts[] = {&r.path,        &r.ListName,      &r.ListAddress, &r.ListArea,    &r.ListPassword,
                      &r.KeeperName,  &r.KeeperAddress, &r.SubscribeInfo, &r.Welcome,   &r.GoodBye,
                      &r.PasswordInfo, &r.NewPassword,  &r.ReadOnly,    &r.BlackList};
    for (char** t : texts) std::free(*t);
    release_index(r);
    std::memset(&r, 0, sizeof r);
}

std::string_view line_text(const char* buf) { return without_line_end(buf); }

// The decimal value as atoi reads it, taken modulo 256 as it is read so no
// length of digits can overflow; above 3 it becomes 1.
std::uint8_t parse_new_status(std::string_view v) {
    std::size_t i = 0;
    while (i < v.size() && is_space(v[i])) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    unsigned n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = (n * 10 + unsigned(v[i] - '0')) & 0xFF;
    if (negative) n = (256 - n) & 0xFF;
    return std::uint8_t(n > 3 ? 1 : n);
}

enum class ValueKind { Text, File, Status };

struct ListKeyword {
    const char* name;
    ValueKind kind;
    char* ListRecord::*field;
};

constexpr ListKeyword kListKeywords[] = {
    {"ListName", ValueKind::Text, &ListRecord::ListName},
    {"ListAddress", ValueKind::Text, &ListRecord::ListAddress},
    {"ListArea", ValueKind::Text, &ListRecord::ListArea},
    {"ListPassword", ValueKind::Text, &ListRecord::ListPassword},
    {"NewStatus", ValueKind::Status, nullptr},
    {"KeeperName", ValueKind::Text, &ListRecord::KeeperName},
    {"KeeperAddress", ValueKind::Text, &ListRecord::KeeperAddress},
    {"SubscribeInfo", ValueKind::File, &ListRecord::SubscribeInfo},
    {"Welcome", ValueKind::File, &ListRecord::Welcome},
    {"GoodBye", ValueKind::File, &ListRecord::GoodBye},
    {"PasswordInfo", ValueKind::File, &ListRecord::PasswordInfo},
    {"NewPassword", ValueKind::File, &ListRecord::NewPassword},
    {"ReadOnly", ValueKind::File, &ListRecord::ReadOnly},
    {"BlackList", ValueKind::File, &ListRecord::BlackList},
};

void set_field(ListRecord& r, const ListKeyword& k, std::string_view value, std::string_view program, long line,
               std::string_view path) {
    if (k.kind == ValueKind::Status) {
        r.NewStatus = parse_new_status(value);
        return;
    }
    char*& field = r.*(k.field);
    std::string resolved;
    if (k.kind == ValueKind::File) {
        // An empty value names no file; a name too long for a path is refused
        // rather than cut into the name of some other file.
        if (value.empty()) {
            std::free(field);
            field = nullptr;
            return;
        }
        resolved = config_file_path(value, program);
        if (resolved.size() > kMaxPath) return config_warning("file name too long", line, path);
        value = resolved;
    }
    char* copy = dup_text(value);
    if (!copy) return config_warning("out of memory", line, path);
    std::free(field);
    field = copy;
}

// The subscriber section: five-line records after the "ListUsers" line.
// Records are read by physical lines, so an overlong line cannot shift the
// records after it.
void read_subscribers(ListRecord& r, ListFileReader& in, long& line, std::string_view path, bool warn = true) {
    char buf[256];
    bool terminated = false;
    for (;;) {
        long long marker_offset = in.offset();
        // A last line without its line feed is the end of the file.
        if (!in.read_line(buf, sizeof buf, true, terminated) || !terminated) return;
        ++line;
        if (buf[0] != '+' && buf[0] != '*') {
            if (warn) config_warning("user list contains erroneous line", line, path);
            continue;
        }
        bool active = buf[0] == '+';
        for (int i = 0; i < 4; ++i) {
            if (!in.read_line(buf, sizeof buf, true, terminated) || !terminated) {
                if (warn) config_warning("user list ends in incomplete record", line, path);
                return;
            }
            ++line;
            if (i == 0 && active && !append_index_entry(r, line_text(buf), marker_offset)) {
                // The rest of this record is then taken as marker lines.
                if (warn) config_warning("out of memory", line, path);
                break;
            }
        }
    }
}

}  // namespace

void allocate_list_table() {
    if (!g_lists) g_lists = static_cast<ListTable*>(alloc_or_die(sizeof(ListTable)));
}

ListTable& list_table() {
    allocate_list_table();
    return *g_lists;
}

void reset_list_table() {
    ListTable& t = list_table();
    for (ListRecord& r : t.lists) release_record(r);
    t.count = 0;
}

int list_count() { return g_lists ? g_lists->count : 0; }

int bucket_of(std::string_view address) {
    if (address.empty()) return 0;
    char c = ascii_upper(address.front());
    return c >= 'A' && c <= 'Z' ? c - 'A' + 1 : 0;
}

bool append_index_entry(ListRecord& list, std::string_view address, std::int64_t offset) {
    auto* e = static_cast<SubscriberIndexEntry*>(std::malloc(sizeof(SubscriberIndexEntry)));
    if (!e) return false;
    e->crc = crc32_text(address);
    e->offset = offset;
    e->next = nullptr;
    int b = bucket_of(address);
    SubscriberIndexEntry**& tail = list.tails[b];
    if (!tail) tail = &list.buckets[b];
    *tail = e;
    tail = &e->next;
    ++list.subscriber_count;
    return true;
}

void unlink_index_entry(ListRecord& list, int bucket, SubscriberIndexEntry** link) {
    if (bucket < 0 || bucket >= kListBuckets || !link || !*link) return;
    SubscriberIndexEntry* e = *link;
    *link = e->next;
    if (list.tails[bucket] == &e->next) list.tails[bucket] = link;
    std::free(e);
    --list.subscriber_count;
}

long copy_file(std::string_view source, std::string_view destination, char (&buffer)[256]) {
    platform::File in, out;
    if (!in.open(source, platform::OpenMode::Read, platform::Share::All, false)) return -1;
    if (!out.open(destination, platform::OpenMode::Write, platform::Share::DenyWrite, false)) return -1;
    long total = 0;
    while (std::size_t n = in.read(buffer, sizeof buffer)) {
        if (!out.write(buffer, n)) return -1;
        total += long(n);
    }
    if (!out.flush()) return -1;
    return total;
}

std::string list_duplicate_path(std::string_view path) {
    std::size_t name = platform::file_name_pos(path);
    std::size_t dot = path.rfind('.');
    std::string dup(path);
    if (dot != std::string_view::npos && dot >= name) dup.erase(dot);
    dup += ".~LC";
    // A file already named so would be its own duplicate and overwritten.
    if (iequals(dup, path)) dup = std::string(path) + ".~LC";
    return dup;
}

bool load_list_config(std::string_view name, long, std::string_view, std::string_view program_path) {
    ListTable& table = list_table();
    if (table.count >= kMaxLists) return false;
    std::string path = config_file_path(name, program_path);
    platform::File file;
    if (path.size() > kMaxPath || !file.open(path, platform::OpenMode::Read, platform::Share::All, false)) {
        config_warning("unable to open list configuration file", 0, path);
        return false;
    }
    ListRecord& r = table.lists[table.count];
    release_record(r);
    r.path = dup_text(path);
    if (!r.path) {
        config_warning("out of memory", 0, path);
        return false;
    }
    r.NewStatus = 1;

    ListFileReader in(file);
    char buf[256];
    bool terminated = false;
    bool users = false;
    long line = 0;
    // One read takes at most 254 characters, the line feed included.
    while (in.read_line(buf, 255, false, terminated)) {
        ++line;
        std::string_view text = line_text(buf);
        if (text.empty() || text.front() == ';') continue;
        std::string_view value = text;
        std::string_view keyword = split_param(value);
        if (istarts_with(keyword, "ListUsers")) {
            // The subscribers start on the next physical line.
            if (!terminated) in.skip_line();
            users = true;
            break;
        }
        const ListKeyword* hit = nullptr;
        for (const ListKeyword& k : kListKeywords) {
            if (iequals(keyword, k.name)) {
                hit = &k;
                break;
            }
        }
        if (!hit) {
            config_warning("invalid list configuration keyword", line, path);
            continue;
        }
        set_field(r, *hit, value, program_path, line, path);
    }

    if (!r.ListName || !r.ListAddress) {
        config_warning("required list keyword ListName or ListAddress missing", line, path);
        release_record(r);
        return false;
    }
    r.users_section = users;
    if (users) read_subscribers(r, in, line, path);
    file.release();

    if (options().test) {
        std::string dup = list_duplicate_path(r.path);
        char block[256];
        copy_file(r.path, dup, block);
        char* dup_copy = dup_text(dup);
        if (!dup_copy) {
            // Without the duplicate's name the list cannot be used safely.
            config_warning("out of memory", line, path);
            release_record(r);
            return false;
        }
        std::free(r.path);
        r.path = dup_copy;
        if (table.count == 0) progress_printf("[Test mode: using list config file duplicates *.~LC]\n\n");
    }
    ++table.count;
    return true;
}

bool reindex_list(ListRecord& r) {
    release_index(r);
    close_subscriber_reader();
    platform::File file;
    if (!r.path || !file.open(r.path, platform::OpenMode::Read, platform::Share::All, false)) return false;
    ListFileReader in(file);
    char buf[256];
    bool terminated = false;
    long line = 0;
    r.users_section = false;
    while (in.read_line(buf, 255, false, terminated)) {
        ++line;
        std::string_view text = line_text(buf);
        if (text.empty() || text.front() == ';') continue;
        std::string_view value = text;
        if (istarts_with(split_param(value), "ListUsers")) {
            if (!terminated) in.skip_line();
            r.users_section = true;
            read_subscribers(r, in, line, r.path, false);
            break;
        }
    }
    return true;
}

void install_list_config_loader() { set_list_config_loader(ListConfigLoader{list_count, load_list_config}); }

std::string_view without_line_end(const char* buf) {
    std::string_view text(buf, std::strlen(buf));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    return text;
}

}  // namespace tw
