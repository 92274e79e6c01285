// The text of the FTN message being converted, read through the shared
// buffered reader: the converter reads it several times and steps back
// within it (the wrapped rest of a line, a tear line that ends nothing),
// which on the file itself would cost system calls each time.
#pragma once

#include <cstdio>

#include "platform/buffered_reader.h"
#include "platform/platform.h"

namespace tw {

class MessageText {
public:
    // Starts at the file's current position, the message text.
    explicit MessageText(platform::File& file) : file_(file), reader_(file, file.tell(), platform::BufferedReader::kNoEnd) {}
    // Leaves the file where reading stopped, so the next message follows.
    ~MessageText() { file_.seek(reader_.offset()); }
    MessageText(const MessageText&) = delete;
    MessageText& operator=(const MessageText&) = delete;

    // The next byte, or EOF at the end of the file.
    int getc() {
        int c = reader_.get();
        if (c >= 0) return c;
        end_of_file_ = true;
        return EOF;
    }
    long long tell() const { return reader_.offset(); }
    void seek(long long offset) {
        end_of_file_ = false;
        reader_.seek(offset);
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
    platform::BufferedReader reader_;
    bool end_of_file_ = false;
};

}  // namespace tw
