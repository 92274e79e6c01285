// AttachList: the files that travel with the FTN mail of one scan: the
// lines of a flow file, or the subject words of a file-attach netmail.
// Each entry remembers whether it is a packet still to be read, another
// file still to be sent, or done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

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
    void clear() { entries_.clear(); }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    AttachEntry& operator[](std::size_t i) { return entries_[i]; }
    const AttachEntry& operator[](std::size_t i) const { return entries_[i]; }
    bool any_not_packet() const;

    // The first entry whose name has the same base name as `word` and is not
    // yet done; nullptr when none.
    AttachEntry* find_base_name(std::string_view word);

private:
    std::vector<AttachEntry> entries_;
};

// The one list of the running scan.
AttachList& attach_list();

}  // namespace tw
