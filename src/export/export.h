// The export run: FTN mail for the gateway becomes a SOUP reply packet.
#pragma once

namespace tw {

void export_run();

}  // namespace tw
