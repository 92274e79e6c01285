#pragma once

#include <string>
#include <string_view>

namespace twsoup {

enum class Outcome { Accepted, Refused, Retry };

struct CommandResult {
    Outcome outcome = Outcome::Retry;
    std::string reason;  // for Refused and Retry
};

// Runs a command through /bin/sh with the bytes on its standard input,
// within a time limit. Exit 0 is acceptance; the temporary-failure exit
// codes of sendmail (EX_TEMPFAIL and the system errors), a command that
// cannot be run, a signal or the time limit mean "try again later"; any
// other exit code is a refusal of this message.
CommandResult run_with_input(const std::string& command, std::string_view input, int timeout_seconds);

}  // namespace twsoup
