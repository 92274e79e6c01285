// State of one converter pass, shared by the line loop and the attachment
// handling that runs inside it.
#pragma once

#include <cstdint>

#include "driver/types.h"
#include "import/convert.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tw {

enum class DecodeState : std::uint8_t { None, Base64, UU };

struct PassState {
    const ConvertRequest* request;
    bool in_body;
    int header_blocks;
    long pending_empty;
    bool body_text;
    bool truncating;
    bool in_content_header;
    bool quoted_printable;
    bool base64;
    bool info_written;
    Text<128> boundary;

    // Attachment decoding
    Text<260> file_name;  // the name from a MIME header, then the full path
    std::size_t name_pos;  // where the file name starts in file_name
    bool renamed;
    DecodeState decoding;
    std::uint8_t action;  // AttachAction of the current attachment
    platform::File attachment;
    std::size_t buffered;
    long size;
};

// Content headers of a MIME part or of the message itself.
void scan_content_header(PassState& st, std::string_view line);

// Attachment decoding. These hooks let the line loop hand attachment lines
// over; the decoder that fills them in decides what they do.
void start_base64_attachment(PassState& st);
bool start_uu_attachment(PassState& st, std::string_view line);  // true: line consumed
bool decode_data_line(PassState& st, std::string_view line);     // true: line consumed
void finish_attachment(PassState& st);

// The QuoteTo attribution scan of a body line (scan pass, QuoteTo Yes).
void attribution_scan(std::string_view line);
void reset_attribution_scan();
bool attribution_settled();

// The body-text junk test of a mail line (scan pass): true when the line
// holds a JunkStr pattern that applies to e-mail text.
bool junk_text_in_body(std::string_view line);

}  // namespace tw
