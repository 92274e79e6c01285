#pragma once

#include "bridge/config.h"

namespace twsoup {

// Collects mail and news from every configured source into new areas of
// the SOUP packet. Returns the number of messages packed, -1 when the run
// had to be undone (nothing moved, nothing lost).
long pack_run(const BridgeConfig& cfg);

}  // namespace twsoup
