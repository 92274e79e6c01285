// AttachList: the files that travel with the FTN mail of one scan: the
// lines of a flow file, or the subject words of a file-attach netmail.
// Each entry remembers whether it is a packet still to be read, another
// file still to be sent, or done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ftn/reader.h"
#include "platform/text.h"

namespace tw {

enum class AttachState : std::uint8_t { Packet, Other, Done };

struct AttachEntry {
    Text<259> line;     // the flow line or subject word as written, "^"/"#" mark included
    AttachState state;
    std::string_view name() const;  // the line without a leading '^' or '#'
};

class AttachList {
public:
    static constexpr std::size_t capacity = 2048;

    // Adds a line; a name whose text from its last '.' on is ".pkt" (any
    // case) is a packet, anything else another file. False when full.
    bool add(std::string_view line);
    void clear() {
        entries_.clear();
        named_by_message_ = false;
    }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    AttachEntry& operator[](std::size_t i) { return entries_[i]; }
    const AttachEntry& operator[](std::size_t i) const { return entries_[i]; }
    bool any_not_packet() const;

    // The first entry whose name has the same base name as `word` and is not
    // yet done; nullptr when none.
    AttachEntry* find_base_name(std::string_view word);

    // The entries came from a message's own subject (a stored file-attach
    // netmail), not from a flow file the local mailer wrote: the files they
    // name are confined like any other name a message gives (AttachPath).
    void set_named_by_message() { named_by_message_ = true; }
    bool named_by_message() const { return named_by_message_; }

private:
    std::vector<AttachEntry> entries_;
    bool named_by_message_ = false;
};

// The one list of the running scan.
AttachList& attach_list();

// ------------------------------------------------------------ flow files

// Reads a flow file into the (emptied) list: every line, a last one without
// line end too, 258 characters a piece (the rest of a longer line is a
// further line), trailing CR and LF stripped. When the list fills up,
// `rest` is the offset of the first line not taken, else -1. False when
// the file cannot be opened.
bool read_flow_file(std::string_view path, AttachList& list, long long& rest);

// Once the scan of the flow file's node is over: deletes the flow file when
// every entry is done, else writes it anew with only the entries not done
// and the lines from `rest` on, so the next run takes up just those. The
// new text replaces the old in one rename; when it cannot be written, the
// old file stays whole. Reports a kept flow file with "! ".
void finish_flow_file(std::string_view path, const AttachList& list, long long rest);

// -------------------------------------------------------- disposal rule

// Where a packet that the reader has finished with lies.
enum class PacketPlace : std::uint8_t {
    Outbound,   // a mail packet of the outbound, or one a flow file or netmail names
    Directory,  // the /pkt= directory, where packets for other nodes are left quietly
    Temporary,  // a file-attach packet the scan made in TempDir
};

// The one rule for an FTN packet the export has read. It goes only when the
// reader accepted it and every message it held for export reached the
// reply packet whole. A packet whose writing failed keeps the messages from
// the one that failed on; a damaged packet, whose whole messages went out,
// is renamed to ".bad" so no later run takes it again; anything else stays.
// Every packet kept for a fault is reported with "! ". Under /test nothing
// changes but temporary packets, which always go. True when the packet is
// done with, so the entry naming it may be dropped. The reply packet is
// committed first; messages that a failed commit took out again make the
// packet resume at the first of them (`read` says so afterwards).
// batch_number: the packet's next_export_packet() number when its disposal
// waited for a common commit, so that only its own lost messages count.
bool dispose_packet(std::string_view path, PacketRead& read, PacketPlace place, long batch_number = -1);

}  // namespace tw
