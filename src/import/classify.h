// Classification and addressing of one Internet message on import.
#pragma once

#include <cstdint>
#include <string_view>

#include "config/config.h"
#include "driver/message.h"
#include "driver/types.h"
#include "import/convert.h"
#include "lists/lists.h"
#include "platform/platform.h"

namespace tw {

struct Classification {
    MessageKind kind;
    JunkKind junk;
    bool list_area;
    bool own_org;
    bool ignore_text;
    int hosted_list;  // -1: none
    ListCommand command;
    std::string_view truncate_start;
    std::string_view truncate_end;
    long long body_start;
};

// Where a scanned message goes, decided from its header and the
// configuration alone; nothing is changed while deciding.
struct ImportDecision {
    MessageKind kind = MessageKind::Mail;  // Mail, News or List
    Field area_name;                       // upper case
    FtnAddress origin{};
    FtnAddress destination{};
    int route = -1;                   // the sender's Route entry
    bool bad_route_password = false;  // that entry's password was not given
    int hosted_list = -1;             // a list this gateway hosts
    ListCommand command = ListCommand::None;
    int mailing_list = -1;  // the MailingList entry that matched
    bool ignore_text = false;
    JunkKind junk = JunkKind::None;  // ImpExp: the group maps to an export-only area
    std::string_view truncate_start, truncate_end;
    Field subject;         // with a list's subject tag cut out
    Field recipient_name;  // news and list postings: the quoted name, else "All"
};

// Decides for the current message after its scan pass, with the name
// defaults filled in.
ImportDecision decide_import(const CurrentMessage& m, const GatewayConfig& c);

// What became of a message, for the run to know when its input may go.
enum class Delivery : std::uint8_t {
    Packet,  // written into the current packet: delivered with it
    Done,    // delivered already (a list command or posting), or dropped
    Kept,    // not delivered (reported): it stays in the input
};

// `extent_bytes`: the message's bytes when they are in memory, else null
// (the converter then reads them from the file).
[[nodiscard]] Delivery classify_message(platform::File& message_file, const char* extent_bytes, platform::File& packet,
                                        long long extent_start, long long extent_end, ImportBuffers& buffers);

// The verbose line of an ordinary mail message.
void show_verbose_line();

}  // namespace tw
