// A small NNTP client for fetching and posting articles. Every wait on the
// server has a time limit, and every answer is checked, so a server that
// hangs or talks nonsense ends the session with a reason instead of a hang.
#pragma once

#include <string>
#include <string_view>

#include "bridge/config.h"

namespace twsoup {

class Nntp {
public:
    ~Nntp() { close(); }

    // Connects and reads the greeting; false with why set on failure.
    bool open(const Endpoint& server, int timeout_seconds, std::string& why);
    void close();
    bool is_open() const { return fd_ >= 0; }

    // Sends one command line, reads the status line. False (why set) when
    // the connection fails or the answer is not a status line.
    bool command(std::string_view line, int& code, std::string& why);
    // The text of the last status line.
    const std::string& status() const { return status_; }

    // Reads a multi-line block up to ".", undoing dot-stuffing, with LF line
    // ends. Blocks over limit bytes are read to their end but not kept
    // (too_big set).
    bool read_block(std::string& out, long long limit, bool& too_big, std::string& why);
    // Sends an article as a multi-line block (CRLF, dot-stuffed, ".").
    bool send_block(std::string_view text, std::string& why);
    // Reads the status line that answers a block.
    bool response(int& code, std::string& why) { return read_status(code, why); }

    // AUTHINFO USER/PASS when a user is given.
    bool login(const std::string& user, const std::string& password, std::string& why);

private:
    bool read_line(std::string& line, std::size_t limit, std::string& why);
    bool read_status(int& code, std::string& why);
    bool send(std::string_view bytes, std::string& why);

    int fd_ = -1;
    int timeout_ms_ = 60000;
    std::string in_;
    std::size_t in_pos_ = 0;
    std::string status_;
};

}  // namespace twsoup
