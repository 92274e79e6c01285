#include "export/outbound.h"

#include <vector>

#include <cstdio>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/options.h"
#include "driver/output.h"
#include "export/attach_list.h"
#include "export/convert.h"
#include "ftn/reader.h"
#include "ftn/writer.h"
#include "platform/platform.h"

namespace tw {

namespace {

struct Flavour {
    const char* packet;
    const char* flow;
    bool hold;
};

// In the order they are scanned.
constexpr Flavour kFlavours[] = {
    {".out", ".flo", false}, {".cut", ".clo", false}, {".dut", ".dlo", false}, {".hut", ".hlo", true}};

// A directory given without its final separator, its last part found
// without regard to case, with the separator added again.
std::string resolve_dir(const std::string& dir, char sep) {
    std::string r = platform::resolve_case(dir);
    r += sep;
    return r;
}

// Who the mail of the running scan is for; every packet of the scan is
// read with it, whatever the one before did to the current message.
struct ScanTarget {
    ExportTarget target;
    int route_index;
    void apply() const {
        message().export_target = target;
        message().route_index = route_index;
    }
};

// Reads the packet at path; false when it cannot be opened.
bool read_packet_file(const std::string& path, bool use_attach_list, PacketRead& read) {
    platform::File f;
    if (!f.open(path, platform::OpenMode::Read)) return false;
    read = read_packet(f, use_attach_list, convert_ftn_message);
    return true;
}

// A listed file that cannot be opened: one that is gone is done with, one
// that is there but unreadable stays listed for the next run.
AttachState unreadable(std::string_view name) {
    if (!platform::exists(name)) return AttachState::Done;
    log_printf("! Cannot read %.*s: it stays listed\n", int(name.size()), name.data());
    return AttachState::Other;
}

// The packets a flow file lists.
void export_listed_packets(AttachList& list, const ScanTarget& scan) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        AttachEntry& e = list[i];
        if (e.state != AttachState::Packet) continue;
        std::string name(e.name());
        PacketRead read{};
        scan.apply();
        if (!read_packet_file(name, true, read)) {
            e.state = unreadable(name) == AttachState::Done ? AttachState::Done : AttachState::Packet;
            continue;
        }
        if (dispose_packet(name, read, PacketPlace::Outbound)) e.state = AttachState::Done;
    }
}

// The other files a flow file lists, each in a file-attach packet of its
// own unless a message of the mail packet already took it along.
void export_listed_files(AttachList& list, const FtnAddress& address, std::string_view to_name,
                         const ScanTarget& scan) {
    const GatewayConfig& c = config();
    for (std::size_t i = 0; i < list.size(); ++i) {
        AttachEntry& e = list[i];
        if (e.state != AttachState::Other) continue;
        std::string name(e.name());
        {
            platform::File probe;
            if (!probe.open(name, platform::OpenMode::Read)) {
                e.state = unreadable(name);
                continue;
            }
        }
        std::string tmp;
        make_counter_name(c.TempDir.view(), ".pkt", tmp);
        platform::File f = write_attach_packet(address, to_name, tmp, e.line.view());
        if (!f.is_open()) {
            log_printf("! Cannot create %s for %s: it stays listed\n", tmp.c_str(), e.line.c_str());
            continue;
        }
        f.seek(0);
        scan.apply();
        PacketRead read = read_packet(f, true, convert_ftn_message);
        f.release();
        // The converter marks the entry done when it sends the file; only
        // a message that reached the reply packet counts.
        e.state = dispose_packet(tmp, read, PacketPlace::Temporary) ? AttachState::Done : AttachState::Other;
        if (e.state != AttachState::Done)
            log_printf("! %s was not sent: it stays listed\n", e.line.c_str());
    }
}

}  // namespace

std::string outbound_base(const FtnAddress& a) {
    const GatewayConfig& c = config();
    std::string base(c.OutboundDir.view());
    char sep = base.empty() ? '\\' : base.back();
    char buf[32];
    if (c.BaseZone != 0 && a.zone != c.BaseZone && !base.empty()) {
        base.pop_back();
        std::snprintf(buf, sizeof buf, ".%03x", unsigned(a.zone));
        base = resolve_dir(base + buf, sep);
    }
    std::snprintf(buf, sizeof buf, "%04x%04x", unsigned(a.net), unsigned(a.node));
    base += buf;
    if (a.point != 0) {
        base = resolve_dir(base + ".pnt", sep);
        std::snprintf(buf, sizeof buf, "%08x", unsigned(a.point));
        base += buf;
    }
    return base;
}

void scan_outbound(const FtnAddress& address, std::string_view to_name) {
    const ScanTarget scan{message().export_target, message().route_index};
    const std::string base = outbound_base(address);
    AttachList& list = attach_list();
    for (const Flavour& flavour : kFlavours) {
        if (flavour.hold && !config().ExportAllMail) continue;
        const std::string flow = base + flavour.flow;
        long long rest = -1;
        bool have_flow = read_flow_file(flow, list, rest);
        if (!have_flow) list.clear();

        const std::string packet = base + flavour.packet;
        PacketRead read{};
        scan.apply();
        if (read_packet_file(packet, true, read)) (void)dispose_packet(packet, read, PacketPlace::Outbound);

        export_listed_packets(list, scan);
        export_listed_files(list, address, to_name, scan);
        if (have_flow) finish_flow_file(flow, list, rest);
        list.clear();
    }
}

// Packets read whole wait to be deleted until a batch of them is on the
// disk, committed at once: a commit (a sync) for every packet of a large
// directory would cost more than the conversion. A kill before the commit
// leaves them to be exported again; a failed commit keeps each of them
// from its first message that did not reach the disk.
class PacketBatch {
public:
    PacketBatch() = default;
    PacketBatch(const PacketBatch&) = delete;
    PacketBatch& operator=(const PacketBatch&) = delete;
    ~PacketBatch() { dispose(); }

    void add(const std::string& path, const PacketRead& read, long number) {
        waiting_.push_back(Waiting{path, read, number});
        if (waiting_.size() >= kMost) dispose();
    }
    void dispose() {
        for (Waiting& w : waiting_) (void)dispose_packet(w.path, w.read, PacketPlace::Directory, w.number);
        waiting_.clear();
    }

private:
    static constexpr std::size_t kMost = 64;
    struct Waiting {
        std::string path;
        PacketRead read;
        long number;
    };
    std::vector<Waiting> waiting_;
};

void scan_packet_directory() {
    const std::string dir(options().PacketDirectory.view());
    PacketBatch batch;
    platform::list_directory(dir, "*.pkt", [&](const std::string& name) {
        std::string path = dir + name;
        message().export_target = ExportTarget::Undetermined;
        PacketRead read{};
        long number = next_export_packet();
        if (!read_packet_file(path, false, read)) return true;
        if (read.outcome == PacketOutcome::Exported) {
            batch.add(path, read, number);
        } else {
            batch.dispose();
            (void)dispose_packet(path, read, PacketPlace::Directory, number);
        }
        return true;
    });
    batch.dispose();
}

}  // namespace tw
