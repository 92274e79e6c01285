#include "export/convert.h"

namespace tw {

ExportCounters& export_counters() {
    static ExportCounters counters;
    return counters;
}

// The converter is not built yet: the message is passed over whole, so the
// packet reader stays in step with the packet.
ConvertOutcome convert_ftn_message(platform::File& file, bool) {
    char c;
    while (file.read(&c, 1) == 1 && c != 0) {
    }
    return ConvertOutcome::NotExported;
}

}  // namespace tw
