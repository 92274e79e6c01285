// The Internet header of an exported FTN message.
#pragma once

#include "export/analysis.h"
#include "platform/platform.h"

namespace tw {

// The multipart boundary of a message with attached files.
inline constexpr const char* kAttachBoundary = "+=Tarnwick=+";

// Writes the header lines, in their order, up to and including the empty
// line that ends them. False when the output failed.
[[nodiscard]] bool write_internet_header(platform::File& out, const ExportAnalysis& analysis);

}  // namespace tw
