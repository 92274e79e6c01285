// Single subscriber records of a list file, found through the index. A file
// is only ever changed by appending records and by turning a record's '+'
// into '*' in place, so the offsets the index holds stay valid all run.
#include <cstdio>
#include <cstring>
#include <memory>

#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "lists/lists.h"

namespace tw {

namespace {

// Records are read by physical lines, as the loader reads them; this much of
// a line is kept.
constexpr std::size_t kRecordLine = 256;

// The one reader shared by every lookup and enumeration.
struct SharedReader {
    platform::File file;
    ListFileReader reader{file};
};

std::unique_ptr<SharedReader> g_reader;

std::string_view trim_line_end(const char* buf) { return without_line_end(buf); }

// The decimal number at the start of a status line, bounded so no run of
// digits can overflow.
std::int32_t parse_status(std::string_view v) {
    std::size_t i = 0;
    while (i < v.size() && is_space(v[i])) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        if (n < 1000000) n = n * 10 + (v[i] - '0');
    return std::int32_t(negative ? -n : n);
}

// The marker and address lines at an entry's offset, read from a file open
// for update: true when they still are the record's "+" and its address.
bool record_in_place(platform::File& file, long long offset, std::string_view address) {
    auto reader = std::make_unique<ListFileReader>(file);
    char buf[kRecordLine];
    bool terminated = false;
    if (!reader->seek(offset)) return false;
    if (!reader->read_line(buf, sizeof buf, true, terminated) || !terminated || std::strcmp(buf, "+") != 0)
        return false;
    if (!reader->read_line(buf, sizeof buf, true, terminated)) return false;
    return iequals(trim_line_end(buf), address);
}

// Writes a record at the end of a file open for update; the offset of its
// marker line goes to `at`. A file whose last line lacks its line feed gets
// one first, and a file without its "ListUsers" line gets that line, so the
// record lands in the subscriber section as a record of its own.
bool append_record(ListRecord& list, platform::File& file, const SubscriberRecord& r, long long& at) {
    long long size = file.size();
    if (size < 0) return false;
    std::string text;
    if (size > 0) {
        char last = 0;
        if (!file.seek(size - 1) || file.read(&last, 1) != 1) return false;
        if (last != '\n') text += '\n';
    }
    if (!list.users_section) text += "ListUsers\n";
    if (!file.seek_end()) return false;
    at = size + (long long)text.size();
    char status[16];
    std::snprintf(status, sizeof status, "%d\n", int(r.status));
    text += "+\n";
    text += r.address.view();
    text += '\n';
    text += r.name.view();
    text += '\n';
    text += status;
    text += r.password.view();
    text += '\n';
    if (!file.write(text) || !file.flush()) {
        // Half a record would shift every record after it.
        file.truncate(size);
        return false;
    }
    list.users_section = true;
    return true;
}

bool open_for_update(const ListRecord& list, platform::File& file) {
    close_subscriber_reader();
    return file.open(list.path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite, false);
}

}  // namespace

bool read_subscriber(int list, const SubscriberIndexEntry& entry, SubscriberRecord& record) {
    const ListRecord& l = list_record(list);
    if (!g_reader || !g_reader->file.is_open()) {
        // A fresh reader: nothing buffered from an earlier open may be reused.
        g_reader = std::make_unique<SharedReader>();
        if (!g_reader->file.open(l.path, platform::OpenMode::Read, platform::Share::All, false)) {
            log_printf("! error obtaining user data from file %s\n", l.path);
            return false;
        }
    }
    SharedReader& sr = *g_reader;
    char lines[5][kRecordLine];
    bool ok = sr.reader.seek(entry.offset);
    for (int i = 0; ok && i < 5; ++i) {
        bool terminated = false;
        ok = sr.reader.read_line(lines[i], kRecordLine, true, terminated);
        if (i == 0) ok = ok && terminated && std::strcmp(lines[0], "+") == 0;
    }
    if (!ok) {
        log_printf("! internal consistency error in file %s\n", l.path);
        return false;
    }
    record.address.assign(trim_line_end(lines[1]));
    record.name.assign(trim_line_end(lines[2]));
    record.status = SubscriberStatus(parse_status(lines[3]));
    record.password.assign(trim_line_end(lines[4]));
    return true;
}

void close_subscriber_reader() {
    if (g_reader) g_reader->file.release();
}

bool find_subscriber(int list, std::string_view address, SubscriberRecord& record, SubscriberLocation* where) {
    ListRecord& l = list_record(list);
    std::uint32_t crc = crc32_text(address);
    SubscriberIndexEntry** link = &l.buckets[bucket_of(address)];
    for (; *link; link = &(*link)->next) {
        SubscriberIndexEntry* e = *link;
        if (e->crc != crc) continue;
        if (read_subscriber(list, *e, record) && iequals(record.address, address)) {
            if (where) *where = SubscriberLocation{link, e};
            close_subscriber_reader();
            return true;
        }
    }
    if (where) *where = SubscriberLocation{link, nullptr};
    close_subscriber_reader();
    return false;
}

void new_subscriber(int list, SubscriberRecord& record) {
    const ListRecord& l = list_record(list);
    const CurrentMessage& m = message();
    record.address = m.sender_address;
    if (iequals(m.sender_name, m.sender_address))
        record.name.clear();
    else
        record.name = m.sender_name;
    record.status = SubscriberStatus(l.NewStatus);
    record.password.clear();
    derive_password(list, record.address, record.password);
}

void derive_password(int list, std::string_view address, Text<128>& password) {
    const char* key = list_record(list).ListPassword;
    if (!key || !*key) return;
    std::size_t k = std::strlen(key);
    std::string bytes(address);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(bytes[i] ^ ~key[i % k]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%lx", (unsigned long)crc32_text(bytes));
    password.assign(buf);
}

bool add_subscriber(int list, const SubscriberRecord& record) {
    ListRecord& l = list_record(list);
    platform::File file;
    long long at = 0;
    if (!open_for_update(l, file) || !append_record(l, file, record, at)) {
        log_printf("! unable to add new user to %s\n", l.path);
        return false;
    }
    file.release();  // the record was flushed and checked
    if (!append_index_entry(l, record.address, at))
        log_printf("! not enough memory for new user; changes will become"
                   "  effective only upon next program invocation\n");
    return true;
}

bool remove_subscriber(int list, const SubscriberRecord& record, const SubscriberLocation& where) {
    ListRecord& l = list_record(list);
    if (!where.entry || !where.link || *where.link != where.entry) return false;
    platform::File file;
    if (!open_for_update(l, file)) {
        log_printf("! unable to delete user from %s\n", l.path);
        return false;
    }
    if (!record_in_place(file, where.entry->offset, record.address)) {
        log_printf("! internal consistency error in file %s\n", l.path);
        return false;
    }
    if (!file.seek(where.entry->offset) || !file.put('*') || !file.flush()) {
        log_printf("! unable to delete user from %s\n", l.path);
        return false;
    }
    file.release();  // the marker was flushed and checked
    unlink_index_entry(l, bucket_of(record.address), where.link);
    return true;
}

bool rewrite_subscriber(int list, const SubscriberRecord& record, SubscriberIndexEntry& entry) {
    ListRecord& l = list_record(list);
    platform::File file;
    if (!open_for_update(l, file)) {
        log_printf("! unable to change user data in %s\n", l.path);
        return false;
    }
    if (!record_in_place(file, entry.offset, record.address)) {
        log_printf("! internal consistency error in file %s\n", l.path);
        return false;
    }
    // The new copy goes in first: should that fail, the old one still holds.
    long long at = 0;
    long long before = file.size();
    if (!append_record(l, file, record, at)) {
        log_printf("! unable to change user data in %s\n", l.path);
        return false;
    }
    if (!file.seek(entry.offset) || !file.put('*') || !file.flush()) {
        // The new copy goes again; should even that fail, the first of the
        // two active copies, still indexed, wins at every lookup.
        if (before >= 0) file.truncate(before);
        log_printf("! unable to change user data in %s\n", l.path);
        return false;
    }
    file.release();  // both changes were flushed and checked
    entry.offset = at;
    return true;
}

bool set_record_marker(int list, long long offset, char marker) {
    ListRecord& l = list_record(list);
    platform::File file;
    if (offset < 0 || !open_for_update(l, file)) return false;
    bool ok = file.seek(offset) && file.put(marker) && file.flush();
    return file.close() && ok;
}

void write_bcc_list(int list, platform::File& out) {
    ListRecord& l = list_record(list);
    out.write("Bcc: ");
    long written = 0;
    SubscriberRecord r;
    for (SubscriberIndexEntry* head : l.buckets) {
        for (SubscriberIndexEntry* e = head; e; e = e->next) {
            if (!read_subscriber(list, *e, r) || r.status == SubscriberStatus::BlackListed) continue;
            if (written > 0) out.write(written % 2 ? ", " : ",\n   ");
            out.printf("<%s>", r.address.c_str());
            ++written;
        }
    }
    out.write("\n");
    close_subscriber_reader();
}

}  // namespace tw
