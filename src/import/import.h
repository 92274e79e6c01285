// The import run: Internet mail and news of the SOUP packet become FTN mail.
#pragma once

#include <cstdint>

namespace tw {

void import_run();

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
