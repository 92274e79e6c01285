// The lock a bridge run and a gateway run share on one SOUP directory:
// an exclusive flock on SoupDir/.tarnwick.lock, held for the whole run.
#pragma once

#include "platform/platform.h"

namespace twsoup {

inline constexpr const char* kLockName = tw::platform::kSiteLockName;
using SoupLock = tw::platform::SiteLock;

}  // namespace twsoup
