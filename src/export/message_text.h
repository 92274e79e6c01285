// The text of the FTN message being converted, read through a buffer of its
// own: the converter reads it several times and steps back within it (the
// wrapped rest of a line, a tear line that ends nothing), which on the file
// itself would cost a system call each time.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/platform.h"

namespace tw {

class MessageText {
public:
    // Starts at the file's current position, the message text.
    explicit MessageText(platform::File& file);
    // Leaves the file where reading stopped.
    ~MessageText();
    MessageText(const MessageText&) = delete;
    MessageText& operator=(const MessageText&) = delete;

    int getc() { return pos_ < len_ ? (unsigned char)buf_[pos_++] : refill(); }
    long long tell() const { return base_ + (long long)pos_; }
    void seek(long long offset);
    // True when the last getc() met the end of the file (not a NUL).
    bool at_end_of_file() const { return end_of_file_; }
    // Reads up to and including the NUL that ends the text.
    void skip_to_end();

private:
    int refill();

    platform::File& file_;
    long long base_;        // file offset of buf_[0]
    long long file_at_;     // where the file itself stands
    std::size_t pos_ = 0;   // next byte in buf_
    std::size_t len_ = 0;   // bytes in buf_
    bool end_of_file_ = false;
    char buf_[16384];
};

}  // namespace tw
