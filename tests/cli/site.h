// A small gateway site with netmail, news and a hosted list, and what a
// tosser, a SOUP client and the list loader would find in its outputs.
// Shared by the fault tests: every run, failing or not, must leave the
// outputs whole, and a clean run after it must deliver everything once.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace twtest {

// FTN messages of one packet by subject; nullopt when the packet is not
// whole (cut short, or bytes after its terminator).
std::optional<std::vector<std::string>> packet_subjects(const std::string& bytes);

// A message of the reply packet, keyed by what stays the same from run to
// run: its Subject line and its body.
std::string reply_key(const std::string& message);

// Active subscriber records of a list file (address -> password); nullopt
// when a record is cut short, a line does not belong, or (unless
// `first_copy_wins`) an address is active twice.
std::optional<std::map<std::string, std::string>> active_subscribers(const std::string& list_file,
                                                                     bool first_copy_wins = false);

class SiteTest : public CliTest {
protected:
    // The site: one mail area (netmail n1..n3 and, to the list, a
    // subscribe, a posting, an unsubscribe, a changepass and a posting of a
    // stranger) and one news area (a1, a2). Two netmails fill a packet, so
    // an area has several.
    void make_site(const std::string& extra_config = "");

    // The outputs as a tosser and a SOUP client take them. Failures of
    // wholeness are reported through gtest with `when` in the message.
    struct Outputs {
        std::map<std::string, int> ftn;      // subject -> count in *.pkt
        std::map<std::string, int> replies;  // reply_key -> count via REPLIES
        std::map<std::string, std::string> subscribers;
    };
    Outputs outputs(const std::string& when);
    // A run killed between writing a reply file and naming it in REPLIES
    // leaves it behind; no SOUP client takes it.
    bool orphan_replies_allowed = false;
    // Killed inside a list change, a list file may hold a changed record
    // twice (the first copy counts) until the next run settles it.
    bool list_mid_change_allowed = false;

    // True when the SOUP input is all consumed.
    bool input_consumed();

    // The outputs of make_site after every message was delivered once.
    static Outputs expected();
};

}  // namespace twtest
