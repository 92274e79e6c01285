#include "driver/counters.h"

namespace tw {

namespace {
AreaCounters g_area;
}

AreaCounters& area_counters() { return g_area; }

}  // namespace tw
