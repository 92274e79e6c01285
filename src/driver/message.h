// CurrentMessage: the one message being converted, in either direction.
// Every field is bounded; copies are cut to the field size.
#pragma once

#include <cstdint>

#include "driver/types.h"
#include "platform/text.h"

namespace tw {

using Field = Text<128>;

struct MessageIdentifier {
    Field text;        // the Internet identifier without angle brackets
    bool ftn_id;       // stands for an FTN address and serial
    FtnAddress ftn;
    std::uint32_t serial;
};

enum class RecipientKind : std::uint8_t { To = 1, Cc = 2, Bcc = 3 };

struct RecipientEntry {
    RecipientKind kind;
    Field address;
    Field name;
};

struct RecipientList {
    static constexpr int capacity = 1024;
    RecipientEntry entries[capacity];
    int count;
    bool full() const { return count >= capacity; }
    void clear() { count = 0; }
};

struct CrosspostList {
    static constexpr int capacity = 1024;
    Field names[capacity];
    int count;
    bool full() const { return count >= capacity; }
    void clear() { count = 0; }
};

struct CurrentMessage {
    // Names and addresses
    Field sender_address;
    Field sender_name;
    Field reply_address;
    Field reply_name;
    Field recipient_address;
    Field recipient_name;
    Field quoted_address;
    Field quoted_name;
    Field xfrom_name;
    Field sender_text;
    Field saved_recipient_name;

    // Other texts
    Field subject;
    Field export_subject;
    Text<64> password;
    Field organization;
    Field area_name;
    Field newsgroup;
    Field ftn_charset;
    Field inet_charset;
    Field content_type;
    Field transfer_encoding;
    Text<21> ftn_date;
    Field zone_text;
    Text<72> attach_list;

    MessageIdentifier message_id;
    MessageIdentifier reference_id;

    MessageDate date;

    FtnAddress origin;
    FtnAddress destination;

    // Classification and state
    AreaKind area_kind;
    ExportTarget export_target;
    bool routed;
    int route_index;
    bool bad_route_password;
    bool attach;
    std::int32_t parts;
    std::int32_t current_part;
    std::int32_t text_size;
    bool body_header;
    bool first_line;
};

// The shared working buffers of the current message, allocated zero-filled
// at start-up by the driver (tests: reset_message()).
extern CurrentMessage* g_message;
extern RecipientList* g_recipients;
extern CrosspostList* g_crossposts;

inline CurrentMessage& message() { return *g_message; }
inline RecipientList& recipients() { return *g_recipients; }
inline CrosspostList& crossposts() { return *g_crossposts; }

void allocate_message_buffers();  // through alloc_or_die
void reset_message();             // tests: fresh zero-filled buffers

}  // namespace tw
