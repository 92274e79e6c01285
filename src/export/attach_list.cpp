#include "export/attach_list.h"

#include "driver/helpers.h"

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

}  // namespace tw
