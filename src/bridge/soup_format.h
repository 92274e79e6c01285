// The gateway's own SOUP index and framing code, shared so that the bridge
// reads exactly what the gateway reads.
#pragma once

#include "soup/soup.h"
