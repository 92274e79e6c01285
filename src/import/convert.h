// The Internet-to-FTN message converter: a scan pass that fills the current
// message from the header and measures the text, and a write pass that
// writes the FTN message (or its parts) into the packet.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/types.h"
#include "platform/platform.h"

namespace tw {

// Count measures the parts again for a kind whose header lines are kept
// differently from the kind the scan pass assumed; it changes nothing else.
enum class Pass : std::uint8_t { Scan = 0, Write = 1, Count = 2 };

// The two working buffers of an import run.
struct ImportBuffers {
    static constexpr std::size_t kLineSize = 32767;
    static constexpr std::size_t kDecodeSize = 768;
    char* line;    // kLineSize bytes
    char* decode;  // kDecodeSize bytes
};

struct ConvertRequest {
    Pass pass;
    bool ignore_text;  // write pass: no FTN message, attachments only
    MessageKind kind;
    bool own_org;
    JunkKind* junk;  // in and out: the scan pass may find junk in the body
    std::string_view truncate_start;  // empty: none
    std::string_view truncate_end;
    platform::File* message_file;
    platform::File* packet;  // write pass
    long long extent_start;
    long long extent_end;
    long long* body_start;  // in and out
    ImportBuffers* buffers;
};

void convert_soup_message(const ConvertRequest& request);

// Reads bytes of one message extent, never past its end.
class ExtentReader {
public:
    ExtentReader(platform::File& file, long long start, long long end);
    int get();   // next byte, or -1 at the extent end
    int peek();  // the same without taking it
    long long offset() const { return pos_ - (long long)(have_ - at_); }
    // fgets-like: at most cap-1 bytes, through the first LF; NUL bytes
    // become blanks (FTN text cannot carry them). -1 when nothing is left.
    long read_line(char* out, std::size_t cap);

private:
    bool fill();
    platform::File& file_;
    long long pos_;  // file offset after the buffered bytes
    long long end_;
    std::size_t have_ = 0, at_ = 0;
    char buf_[65536];
};

}  // namespace tw
