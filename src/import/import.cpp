#include "import/import.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/counters.h"
#include "driver/options.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/output.h"
#include "ftn/writer.h"
#include "import/attachments.h"
#include "import/classify.h"
#include "import/convert.h"
#include "soup/soup.h"
#include "lists/lists.h"
#include "platform/read_window.h"

namespace tw {

namespace {

void add_totals(AreaCounters& total, const AreaCounters& a) {
    total.imported += a.imported;
    total.mail += a.mail;
    total.news += a.news;
    total.lists += a.lists;
    total.junk += a.junk;
    total.personal += a.personal;
    total.own_org += a.own_org;
    total.files += a.files;
    total.ign_txt += a.ign_txt;
    total.listmsg += a.listmsg;
    total.listcmd += a.listcmd;
    total.reply += a.reply;
}

void report_statistics(const AreaCounters& a) {
    log_printf(
        "-> %ld message(s) imported\nmail: %-5ld     news: %-5ld     lists: %-5ld    junk: %-5ld\npersonal: %-5ld own "
        "org: %-5ld  files: %-5ld    ign/txt: %-5ld\n",
        long(a.imported), long(a.mail), long(a.news), long(a.lists), long(a.junk), long(a.personal), long(a.own_org),
        long(a.files), long(a.ign_txt));
    if (list_count() > 0)
        log_printf("listmsg: %-5ld  listcmd: %-5ld  reply: %-5ld\n", long(a.listmsg), long(a.listcmd), long(a.reply));
}

// Bytes of the message file that hold messages, frames included.
struct Span {
    long long from, to;
};

// The packets of one area. They are written under temporary names that no
// tosser takes and get their packet names only once the area is done, so
// that a packet cut short never reaches the tosser and the run can still
// decide which messages stay in the input.
class AreaPackets {
public:
    ~AreaPackets() {
        if (file_.is_open()) {
            file_.release();
            platform::remove_file(path_);
        }
        for (const Finished& f : finished_) platform::remove_file(f.temp);
    }
    bool is_open() const { return file_.is_open(); }
    platform::File& file() { return file_; }
    long long size() { return file_.tell(); }

    // Opens the next packet; false (reported) when it cannot be created.
    bool open_next() {
        const GatewayConfig& c = config();
        for (int attempt = 0; attempt < 8; ++attempt) {
            make_counter_name(c.InboundDir.view(), ".tmp", path_);
            if (file_.open(path_, platform::OpenMode::CreateNew, platform::Share::DenyWrite)) {
                file_.buffer_writes();
                begin_packet(file_);
                area_counters().in_packet = 0;
                spans_.clear();
                return true;
            }
            // Another process took the name between the test and the creation.
            if (!platform::name_taken(path_)) break;
        }
        log_printf("Error writing packet %s\n", path_.c_str());
        return false;
    }

    // A message written into the current packet.
    void add(Span s) { spans_.push_back(s); }
    // The current packet is not to be delivered.
    void fail() { failed_ = true; }

    // Finishes the current packet. False (reported, the packet removed)
    // when it did not reach the disk whole; its messages go to `lost`.
    bool finish(std::vector<Span>& lost) {
        if (!file_.is_open()) return true;
        bool ok = !failed_ && file_.flush() && !file_.error();
        failed_ = false;
        long long expected = file_.tell() + 2;
        ok = end_packet(file_) && ok && platform::file_size(path_) == expected;
        if (!ok) {
            log_printf("Error writing packet %s\n", path_.c_str());
            lost.insert(lost.end(), spans_.begin(), spans_.end());
        }
        if (!ok || area_counters().in_packet == 0)
            platform::remove_file(path_);
        else
            finished_.push_back(Finished{path_, "", spans_});
        spans_.clear();
        return ok;
    }

    // Gives every finished packet the first free packet name; the messages
    // of one that cannot be named go to `lost`. True when any got its name.
    bool publish(std::vector<Span>& lost) {
        bool any = false;
        for (Finished& f : finished_) {
            for (int attempt = 0; attempt < 8 && f.name.empty(); ++attempt) {
                std::string name;
                make_counter_name(config().InboundDir.view(), ".pkt", name);
                if (platform::publish_file(f.temp, name)) f.name = name;
                else if (!platform::name_taken(name)) break;
            }
            if (f.name.empty()) {
                log_printf("Error writing packet %s\n", f.temp.c_str());
                lost.insert(lost.end(), f.spans.begin(), f.spans.end());
                platform::remove_file(f.temp);
            } else {
                any = any || !f.spans.empty();
            }
        }
        return any;
    }

    // Takes the published packets back, when their messages stay in the
    // input after all.
    void withdraw() {
        for (const Finished& f : finished_)
            if (!f.name.empty()) platform::remove_file(f.name);
    }

    // The names the finished packets got.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const Finished& f : finished_)
            if (!f.name.empty()) out.push_back(f.name);
        return out;
    }

    void forget() { finished_.clear(); }

private:
    struct Finished {
        std::string temp, name;
        std::vector<Span> spans;
    };
    platform::File file_;
    std::string path_;
    std::vector<Span> spans_;
    std::vector<Finished> finished_;
    bool failed_ = false;
};

// The packets that hold a message file's messages, and their names, on the
// disk itself: only then may the file go or shrink. False (reported) when
// that cannot be made sure of.
bool outputs_on_disk(const std::vector<std::string>& packets, const std::string& input) {
    bool ok = true;
    for (const std::string& p : packets) ok = platform::sync_file_data(p) && ok;
    if (ok && !packets.empty()) ok = platform::sync_directory(config().InboundDir.view());
    // Decoded files may have been named in a directory of their own.
    if (ok && !packets.empty() && !config().DecodeDir.empty())
        ok = platform::sync_directory(config().DecodeDir.view());
    if (!ok) log_printf("! Can't sync the packets of %s to the disk; it stays for the next run\n", input.c_str());
    return ok;
}

// Sorts the spans and joins neighbours.
void merge_spans(std::vector<Span>& spans) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    std::vector<Span> out;
    for (const Span& s : spans) {
        if (!out.empty() && out.back().to >= s.from)
            out.back().to = std::max(out.back().to, s.to);
        else
            out.push_back(s);
    }
    spans.swap(out);
}

// Replaces the message file by the messages that stay in it, in one rename.
bool keep_only(const std::string& path, const std::vector<Span>& spans) {
    std::string temp = path + "~";
    platform::File in, out;
    if (!in.open(path, platform::OpenMode::Read) || !out.open(temp, platform::OpenMode::Write)) return false;
    bool ok = true;
    static char buf[65536];
    for (const Span& s : spans) {
        ok = ok && in.seek(s.from);
        for (long long at = s.from; ok && at < s.to;) {
            std::size_t want = std::size_t(std::min<long long>(s.to - at, (long long)sizeof buf));
            std::size_t got = in.read(buf, want);
            ok = got == want && out.write(buf, got);
            at += (long long)got;
        }
    }
    ok = ok && out.sync_data() && !out.error();
    ok = out.close() && ok;
    in.release();
    if (ok && platform::rename_file(temp, path)) return true;
    platform::remove_file(temp);
    return false;
}

// The same without a second file, for a disk too full to hold one: the kept
// messages move to the front of the file, which is then cut. Every move goes
// to a lower offset, so nothing is overwritten before it was copied.
bool keep_only_in_place(const std::string& path, const std::vector<Span>& spans) {
    platform::File f;
    if (!f.open(path, platform::OpenMode::ReadWrite, platform::Share::DenyWrite)) return false;
    static char buf[65536];
    long long to = 0;
    bool ok = true;
    for (const Span& s : spans) {
        for (long long at = s.from; ok && at < s.to;) {
            std::size_t want = std::size_t(std::min<long long>(s.to - at, (long long)sizeof buf));
            ok = f.seek(at) && f.read(buf, want) == want && f.seek(to) && f.write(buf, want) && f.flush();
            at += (long long)want;
            to += (long long)want;
        }
    }
    ok = ok && f.sync_data() && f.truncate(to);
    return f.close() && ok;
}

std::string bad_name(const std::string& path) {
    std::size_t dot = path.rfind('.');
    std::size_t name = platform::file_name_pos(path);
    if (dot == std::string::npos || dot < name) return path + ".BAD";
    return path.substr(0, dot) + ".BAD";
}

std::size_t g_window_size = kImportWindowSize;

// The working buffers, held for the whole run, and the window in which
// the message files are read.
struct RunBuffers : ImportBuffers {
    RunBuffers() : ImportBuffers{} {
        line = static_cast<char*>(alloc_or_die(kLineSize));
        decode = static_cast<char*>(alloc_or_die(kDecodeSize));
        window_size = g_window_size;
        window = static_cast<char*>(alloc_or_die(window_size));
    }
    ~RunBuffers() {
        std::free(line);
        std::free(decode);
        std::free(window);
    }
    char* window;
    std::size_t window_size;
    RunBuffers(const RunBuffers&) = delete;
    RunBuffers& operator=(const RunBuffers&) = delete;
};

// One message file on its way into packets. A message file goes only when
// every message in it is delivered; the messages that were not stay in it
// for the next run, and only they, so that none reaches the tosser or the
// SOUP client twice.
struct AreaImport {
    AreaImport(const SoupArea& a, RunBuffers& buffers) : area(a), window(file, buffers.window, buffers.window_size) {}
    const SoupArea& area;
    platform::File file;
    // Each message is read once, into the window, and framed and
    // converted there.
    platform::ReadWindow window;
    long long offset = 0;  // of the next frame
    long long size = 0;
    AreaPackets packets;
    std::vector<Span> kept;
    std::vector<std::string> published;  // the names its packets got
    bool delivered = false;
    bool bad = false;
};

bool open_areas(AreasReader& areas) {
    if (areas.open(config().SoupDir.view())) return true;
    if (platform::exists(areas.path()) && !platform::is_regular_file(areas.path()))
        log_printf("! %s is not a regular file\n", areas.path().c_str());
    log_printf("No AREAS found. Nothing to do.\n");
    return false;
}

void rotate_reply_files() {
    rotate_reply_file(ReplyKind::Mail);
    rotate_reply_file(ReplyKind::News);
}

bool open_message_file(AreaImport& a) {
    const std::string& path = a.area.message_path;
    if (!a.file.open(path, platform::OpenMode::Read)) {
        if (platform::exists(path) && !platform::is_regular_file(path))
            log_printf("! %s is not a regular file\n", path.c_str());
        log_printf("Error reading %s\n", path.c_str());
        return false;
    }
    a.file.limit_to_size();
    a.size = a.file.size();
    if (a.size < 0) a.size = 0;
    return true;
}

void start_area(const SoupArea& area) {
    area_counters() = AreaCounters{};
    announced_attachment_count() = 0;
    CurrentMessage& m = message();
    m.newsgroup = area.name;
    m.area_kind = area.kind;
}

// A packet open with room for the next message. After a packet that failed
// the disk is likely full: false, and the rest of the file waits.
bool packet_ready(AreaImport& a, long long at) {
    const GatewayConfig& c = config();
    if (a.packets.is_open() && (c.MaxPKTSize == 0 || (long long)c.MaxPKTSize > a.packets.size() / 1024 + 2))
        return true;
    if (a.packets.finish(a.kept) && a.packets.open_next()) return true;
    a.kept.push_back(Span{at, a.size});
    return false;
}

void record_delivery(AreaImport& a, Delivery d, Span span) {
    switch (d) {
    case Delivery::Packet:
        a.packets.add(span);
        break;
    case Delivery::Done:
        a.delivered = true;
        break;
    case Delivery::Kept:
        a.kept.push_back(span);
        break;
    }
}

// Imports the message at the current offset; false when the file ends or
// its rest must wait for the next run.
bool import_next_message(AreaImport& a, ImportBuffers& buffers) {
    long long at = a.offset;
    unsigned percent = a.size > 0 ? unsigned((unsigned long long)at * 100ull / (unsigned long long)a.size) : 100u;
    // "\r%u%%", asked once a message: made without printf.
    char shown[16], digits[10];
    int d = 0, k = 0;
    do {
        digits[d++] = char('0' + percent % 10);
        percent /= 10;
    } while (percent != 0);
    shown[k++] = '\r';
    while (d > 0) shown[k++] = digits[--d];
    shown[k++] = '%';
    shown[k] = 0;
    progress_text(shown);
    MessageExtent extent{};
    FrameResult fr = read_soup_frame(a.window, at, a.size, a.area.format, extent);
    if (fr == FrameResult::BadFile) a.bad = true;
    if (fr != FrameResult::Message || !packet_ready(a, at)) return false;
    note_list_input(a.area.message_path, extent.start);
    // A message too large for the window is read from the file instead.
    std::string_view bytes;
    const char* in_memory = a.window.span(extent.start, extent.end, bytes) ? bytes.data() : nullptr;
    record_delivery(a, classify_message(a.file, in_memory, a.packets.file(), extent.start, extent.end, buffers),
                    Span{at, extent.end});
    AreaCounters& counters = area_counters();
    ++counters.imported;
    ++counters.in_packet;
    a.offset = extent.end;
    if (take_attachment_write_failure()) {
        // A decoded file could not be written whole (a full disk): the
        // packet that holds the message is given up, and its messages and
        // the rest of the file wait for the next run.
        a.packets.fail();
        a.kept.push_back(Span{extent.end, a.size});
        return false;
    }
    return true;
}

// Finishes and names the packets; what they could not take joins `kept`.
void close_area(AreaImport& a) {
    a.packets.finish(a.kept);
    progress_printf("\r");
    a.file.release();
    area_counters().files = std::int32_t(announced_attachment_count());
    if (a.packets.publish(a.kept)) a.delivered = true;
    a.published = a.packets.names();
    merge_spans(a.kept);
}

// Shortens the message file to the messages that stay; true when any stay.
bool keep_undelivered(AreaImport& a) {
    if (a.bad || a.kept.empty()) return false;
    const std::string& path = a.area.message_path;
    if (!options().test && a.delivered && !outputs_on_disk(a.published, path)) {
        // Rewritten now, the file could lose messages whose packets a crash
        // takes back: it stays whole, and the packets are withdrawn.
        a.packets.withdraw();
        a.delivered = false;
    }
    if (!options().test && a.delivered && !keep_only(path, a.kept) && !keep_only_in_place(path, a.kept)) {
        // The file cannot be shortened (a full disk): it stays whole, and
        // the packets go again so their messages are not doubled.
        log_printf("! %s cannot be rewritten; its packets are withdrawn\n", path.c_str());
        a.packets.withdraw();
    }
    log_printf("! %s kept for the next run\n", path.c_str());
    return true;
}

// A message file whose messages are all delivered goes only once their
// packets are on the disk. The waiting for the disk is put off until the
// next area is imported, so that the disk writes one area's packets while
// the next is converted.
class InputRemoval {
public:
    InputRemoval() = default;
    InputRemoval(const InputRemoval&) = delete;
    InputRemoval& operator=(const InputRemoval&) = delete;
    ~InputRemoval() { complete(); }

    void defer(const std::string& path, std::vector<std::string> packets) {
        complete();
        path_ = path;
        packets_ = std::move(packets);
    }
    // Done first when the next area reads the same file again.
    void before(const std::string& path) {
        if (!path_.empty() && iequals(path_, path)) complete();
    }
    void complete() {
        if (path_.empty()) return;
        if (outputs_on_disk(packets_, path_)) {
            platform::remove_file(path_);
        } else {
            // Packets a crash could still take back are no delivery: they
            // go, and the whole file is imported again by the next run.
            for (const std::string& p : packets_) platform::remove_file(p);
            kept_ = true;
        }
        path_.clear();
        packets_.clear();
    }
    // Some file stayed for the next run.
    bool kept() const { return kept_; }

private:
    std::string path_;
    std::vector<std::string> packets_;
    bool kept_ = false;
};

// Removes a message file that is done, or sets a bad one aside.
void dispose_message_file(const AreaImport& a, AreaCounters& totals, InputRemoval& removal) {
    const RunOptions& o = options();
    const std::string& path = a.area.message_path;
    const AreaCounters& counters = area_counters();
    if (a.bad) {
        std::string renamed = bad_name(path);
        // A bad file that cannot be renamed stays, to be found again: nothing is lost.
        if (!o.test) (void)platform::rename_file(path, renamed);
        log_printf("! Error in message file %s, renamed to %s\n", path.c_str(), renamed.c_str());
        return;
    }
    if (!o.test && a.kept.empty() && (counters.imported > 0 || a.size == 0)) removal.defer(path, a.published);
    if (!o.global) report_statistics(counters);
    add_totals(totals, counters);
}

// Imports one message file; true when some of it stays for the next run.
bool import_area(const SoupArea& area, RunBuffers& buffers, AreaCounters& totals, InputRemoval& removal) {
    log_printf("Importing %s\n", area.name.c_str());
    removal.before(area.message_path);
    AreaImport a(area, buffers);
    if (!open_message_file(a)) return false;
    start_area(area);
    while (import_next_message(a, buffers)) {
    }
    close_area(a);
    bool kept = keep_undelivered(a);
    a.packets.forget();
    dispose_message_file(a, totals, removal);
    return kept;
}

void remove_areas_file(AreasReader& areas, bool keep) {
    areas.close();
    if (!options().test && !areas.unknown_format_seen() && !keep) platform::remove_file(areas.path());
}

void report_totals(const AreaCounters& totals) {
    if (totals.imported == 0)
        log_printf("No inbound messages found. Nothing to do.\n");
    else if (options().global)
        report_statistics(totals);
}

}  // namespace

void set_import_window_size(std::size_t bytes) {
    g_window_size = bytes < platform::ReadWindow::kMinCapacity ? platform::ReadWindow::kMinCapacity : bytes;
}

void import_run() {
    log_printf("Importing from Soup to PKT\n");
    AreasReader areas;
    if (!open_areas(areas)) return;
    rotate_reply_files();
    RunBuffers buffers;
    AreaCounters totals{};
    SoupArea area;
    bool keep_areas = false;
    InputRemoval removal;
    while (areas.next(area)) {
        if (areas.line_number() == 1) progress_printf("\n");
        if (import_area(area, buffers, totals, removal)) keep_areas = true;
    }
    removal.complete();
    if (removal.kept()) keep_areas = true;
    remove_areas_file(areas, keep_areas);
    // What the list journal knows of handled messages is needed as long as
    // some of them may still be in the input.
    if (!keep_areas) close_list_journal();
    if (!config().SeparateMSG) rotate_reply_files();
    report_totals(totals);
}

}  // namespace tw
