// Attachments of imported messages: MIME base64 parts and uuencoded blocks
// decoded into files of the inbound or decode directory, announced on the
// console and in the FTN text, and named in the subject of file-attach
// netmail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/config.h"
#include "driver/types.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "rfc822/mime.h"

namespace tw {

enum class DecodeState : std::uint8_t { None, Base64, UU };

// The attachment in progress in one converter pass (at most one at a time).
struct AttachmentState {
    Text<260> file_name;  // the name a MIME header or "begin" line gave
    Text<260> path;       // the file it is decoded into
    std::size_t name_pos;  // where the file name starts in path
    bool renamed;
    DecodeState decoding;
    AttachAction action;
    int planned;  // index of its entry in the scan pass's list, -1 none
    platform::File file;
    mime::Base64Stream base64;
    std::size_t buffered;  // bytes waiting in the decoding buffer
    long size;
    bool write_failed;
};

struct PassState;

// At the empty line that ends a header block declaring base64.
void start_base64_attachment(PassState& st);
// A body line beginning with "begin ": true when it starts a uuencoded
// block that is decoded or killed (the line is then consumed).
bool start_uu_attachment(PassState& st, std::string_view line);
// A line while an attachment is in progress: true when it was data.
bool decode_data_line(PassState& st, std::string_view line);
// Ends the attachment in progress; in the write pass it is announced.
void finish_attachment(PassState& st);
// End of a pass: finishes what is in progress and, after the write pass,
// removes files made ready for attachments that the pass did not reach.
void end_attachments(PassState& st);

// The scan pass lists the mail attachments it would decode; this forgets
// the list of the message before (start of the scan pass).
void forget_attachments();

// After the filters, right before the write pass: creates the files of the
// listed mail attachments that hold data, in order, while their names fit
// the file-attach list, and sets the list and the attach flag of the
// current message to exactly those files. A junk message gets none. The
// write pass decodes into these files.
void claim_attachments(JunkKind junk);

// True (once) when a decoded file could not be written whole since the
// last call: the message file then stays for another run.
bool take_attachment_write_failure();

}  // namespace tw
