// State of one converter pass, shared by the line loop and the MIME and
// attachment handling that runs inside it.
#pragma once

#include <cstdint>

#include "driver/types.h"
#include "import/attachments.h"
#include "import/convert.h"
#include "platform/text.h"

namespace tw {

struct PassState {
    const ConvertRequest* request;
    long long line_end;  // message-file offset after the line being handled
    bool in_body;
    int header_blocks;
    long pending_empty;
    bool body_text;
    bool truncating;
    bool in_content_header;
    bool quoted_printable;
    bool base64;
    bool info_written;
    // The multipart boundaries in force, outermost first: a part may itself
    // be multipart (a text and its HTML form inside a mail with files).
    static constexpr int kMaxBoundaries = 8;
    Text<128> boundaries[kMaxBoundaries];
    int boundary_count;
    AttachmentState attachment;
};

// Content headers of a MIME part or of the message itself.
void scan_content_header(PassState& st, std::string_view line);

enum class BoundaryLine : std::uint8_t { None, Part, InnerEnd, End };

// Whether a body line is a boundary line of a multipart in force; the state
// is brought to the part that follows (an attachment in progress is
// finished first). End: the outermost multipart is closed.
BoundaryLine take_boundary_line(PassState& st, std::string_view line);

}  // namespace tw
