// tarnwick-dump: shows what lies in the gateway's files (FTN packets, stored
// messages, SOUP packets, the Binkley-style outbound) through the gateway's
// own readers. It only reads: no file is changed, created or locked.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tw::dump {

struct Options {
    bool text = true;             // message text lines (kludges, SEEN-BY and PATH always)
    bool have_config = false;     // a site configuration was read
};

// What one dump found: damage makes the exit status 1.
struct Outcome {
    int damaged = 0;  // files truncated, out of step or unreadable
    void merge(const Outcome& o) { damaged += o.damaged; }
};

// Control bytes as ^A .. ^_ and ^?, everything else as it is: a line is
// shown on one terminal line whatever it holds.
std::string visible(std::string_view bytes);

// "2:280/464.1", the point left out when 0.
std::string address_text(unsigned zone, unsigned net, unsigned node, unsigned point);

// Attribute bits of packed and stored messages by name ("Private Local").
std::string attribute_names(unsigned attribute);

// The lines of one message text up to its NUL (or the end of the file), each
// tagged (area, kludge, text, tear, origin, seen-by, path). `packed` is true
// in a packet, where an AREA: line may start the text. Returns false when
// the file ended before the NUL.
bool show_message_text(platform::File& file, bool packed, const Options& opt);

Outcome dump_packet(const std::string& path, const Options& opt);
Outcome dump_stored_message(const std::string& path, const Options& opt);
// A directory holding AREAS or REPLIES.
Outcome dump_soup(const std::string& dir, const Options& opt);
// The outbound of the configuration's gateway address and routes.
Outcome dump_outbound(const Options& opt);

// printf to standard output.
void out(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tw::dump
