#include "import/import.h"

#include <cstdlib>
#include <string>

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

// The current packet of an area.
class PacketSlot {
public:
    bool is_open() const { return file_.is_open(); }
    platform::File& file() { return file_; }
    long long size() { return file_.tell(); }

    // Opens the next packet under the first free name; false (reported)
    // when it cannot be created.
    bool open_next() {
        const GatewayConfig& c = config();
        for (int attempt = 0; attempt < 8; ++attempt) {
            make_counter_name(c.InboundDir.view(), ".pkt", path_);
            if (file_.open(path_, platform::OpenMode::CreateNew, platform::Share::DenyWrite)) {
                begin_packet(file_);
                area_counters().in_packet = 0;
                return true;
            }
            // Another process took the name between the test and the creation.
            if (!platform::exists(path_)) break;
        }
        log_printf("Error writing packet %s\n", path_.c_str());
        return false;
    }

    // Finishes the packet; one that holds no message is removed again.
    // False when the packet did not reach the disk whole (a full disk, say).
    bool finish() {
        if (!file_.is_open()) return true;
        bool ok = file_.flush() && !file_.error();
        long long expected = file_.tell() + 2;
        end_packet(file_);
        file_.close();
        ok = ok && platform::file_size(path_) == expected;
        if (!ok) log_printf("Error writing packet %s\n", path_.c_str());
        if (area_counters().in_packet == 0) platform::remove_file(path_);
        return ok;
    }

private:
    platform::File file_;
    std::string path_;
};

std::string bad_name(const std::string& path) {
    std::size_t dot = path.rfind('.');
    std::size_t name = platform::file_name_pos(path);
    if (dot == std::string::npos || dot < name) return path + ".BAD";
    return path.substr(0, dot) + ".BAD";
}

}  // namespace

void import_run() {
    AreaCounters& counters = area_counters();
    GatewayConfig& c = config();
    const RunOptions& o = options();
    CurrentMessage& m = message();

    log_printf("Importing from Soup to PKT\n");
    AreasReader areas;
    if (!areas.open(c.SoupDir.view())) {
        log_printf("No AREAS found. Nothing to do.\n");
        return;
    }
    // Room for the header and trailer of every FTN message.
    if (c.ImportLimit != 0) c.ImportLimit = c.ImportLimit > 512 ? c.ImportLimit - 512 : 0;

    rotate_reply_file(ReplyKind::Mail);
    rotate_reply_file(ReplyKind::News);

    AreaCounters totals{};
    ImportBuffers buffers{};
    buffers.line = static_cast<char*>(alloc_or_die(ImportBuffers::kLineSize));
    buffers.decode = static_cast<char*>(alloc_or_die(ImportBuffers::kDecodeSize));

    SoupArea area;
    bool keep_areas = false;
    while (areas.next(area)) {
        if (areas.line_number() == 1) progress_printf("\n");
        log_printf("Importing %s\n", area.name.c_str());
        platform::File msgfile;
        if (!msgfile.open(area.message_path, platform::OpenMode::Read)) {
            log_printf("Error reading %s\n", area.message_path.c_str());
            continue;
        }
        counters = AreaCounters{};
        announced_attachment_count() = 0;
        long long size = msgfile.size();
        if (size < 0) size = 0;
        m.newsgroup = area.name;
        m.area_kind = area.kind;

        PacketSlot packet;
        bool bad = false;
        // Set when a message of the area could not be written: the message
        // file and AREAS then stay for the next run, so no mail is lost.
        bool unwritten = false;
        for (;;) {
            long long at = msgfile.tell();
            unsigned percent = size > 0 ? unsigned((unsigned long long)at * 100ull / (unsigned long long)size) : 100u;
            progress_printf("\r%u%%", percent);
            MessageExtent extent{};
            FrameResult fr = read_soup_frame(msgfile, size, area.format, extent);
            if (fr == FrameResult::BadFile) {
                bad = true;
                break;
            }
            if (fr == FrameResult::EndOfFile) break;
            if (!packet.is_open() ||
                (c.MaxPKTSize != 0 && (long long)c.MaxPKTSize <= packet.size() / 1024 + 2)) {
                if (!packet.finish()) unwritten = true;
                if (unwritten || !packet.open_next()) {
                    unwritten = true;
                    break;
                }
            }
            classify_message(msgfile, packet.file(), extent.start, extent.end, buffers);
            ++counters.imported;
            ++counters.in_packet;
            msgfile.seek(extent.end);
            if (take_attachment_write_failure()) {
                unwritten = true;  // a full disk: the rest waits for the next run
                break;
            }
        }
        if (!packet.finish()) unwritten = true;
        progress_printf("\r");
        msgfile.close();
        counters.files = std::int32_t(announced_attachment_count());

        if (unwritten) {
            keep_areas = true;
            log_printf("! %s kept for the next run\n", area.message_path.c_str());
        }
        if (!bad) {
            if (!o.test && !unwritten && (counters.imported > 0 || size == 0)) platform::remove_file(area.message_path);
            if (!o.global) report_statistics(counters);
            add_totals(totals, counters);
        } else {
            std::string renamed = bad_name(area.message_path);
            if (!o.test) platform::rename_file(area.message_path, renamed);
            log_printf("! Error in message file %s, renamed to %s\n", area.message_path.c_str(), renamed.c_str());
        }
    }
    areas.close();
    if (!o.test && !areas.unknown_format_seen() && !keep_areas) platform::remove_file(areas.path());

    if (!c.SeparateMSG) {
        rotate_reply_file(ReplyKind::Mail);
        rotate_reply_file(ReplyKind::News);
    }
    if (totals.imported == 0)
        log_printf("No inbound messages found. Nothing to do.\n");
    else if (o.global)
        report_statistics(totals);

    std::free(buffers.line);
    std::free(buffers.decode);
}

}  // namespace tw
