// The text of the FTN message being converted. The converter reads it
// several times and steps back within it (the wrapped rest of a line, a
// tear line that ends nothing); the file's large buffer makes such steps
// back, and the reading on after the message, free of system calls.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace tw {

class MessageText {
public:
    // Starts at the file's current position, the message text.
    // The file is left where reading stopped, so the next message follows.
    explicit MessageText(platform::File& file) : file_(file) {}
    MessageText(const MessageText&) = delete;
    MessageText& operator=(const MessageText&) = delete;

    // The next byte, or EOF at the end of the file.
    int getc() {
        int c = file_.getc();
        if (c != EOF) return c;
        end_of_file_ = true;
        return EOF;
    }
    long long tell() const { return file_.tell(); }
    void seek(long long offset) {
        end_of_file_ = false;
        file_.seek(offset);
    }
    // True when the last getc() met the end of the file (not a NUL).
    bool at_end_of_file() const { return end_of_file_; }
    // Reads up to and including the NUL that ends the text.
    void skip_to_end() {
        for (int c = getc(); c != EOF && c != 0; c = getc()) {
        }
    }

private:
    platform::File& file_;
    bool end_of_file_ = false;
};

}  // namespace tw
