// What the analysis of an FTN message found, beyond the current message's
// fields: read by the header, body and attachment writers.
#pragma once

#include <cstdint>

namespace tw {

struct ExportAnalysis {
    bool to_uucp;            // the FTN to-name is "UUCP": recipients come from To: lines
    bool recipient_limit;    // a To:/Copy:/BCopy: line was dropped for lack of room
    bool crosspost_limit;    // an XPost: line was dropped
    bool kill_files;         // FLAGS KFS: delete sent files
    bool truncate_files;     // FLAGS TFS: empty sent files
    bool msgid_seen;
    bool needs_encoding;     // a character 7-bit transport cannot carry
    bool has_text;
    bool news;               // else mail
    std::uint32_t id_seed;   // time XOR the CRCs of the kludge-pass lines
    int hosted_list;         // index of the hosted list whose ListArea this is, or -1
    int received_list;       // index of the MailingList entry of the area, or -1
    long long text_start;    // file position of the first body line
};

}  // namespace tw
