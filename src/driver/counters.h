// The run counters: what the current run has done so far, counted by every
// subsystem that takes part in it and reported by the run.
#pragma once

#include <cstdint>

namespace tw {

// The counters of the area being imported.
struct AreaCounters {
    std::int32_t imported;
    std::int32_t in_packet;
    std::int32_t mail;
    std::int32_t news;
    std::int32_t lists;
    std::int32_t junk;
    std::int32_t personal;
    std::int32_t own_org;
    std::int32_t files;
    std::int32_t ign_txt;
    std::int32_t listmsg;
    std::int32_t listcmd;
    std::int32_t reply;  // administrative replies written by list commands
};

AreaCounters& area_counters();

}  // namespace tw
