// The Internet-to-FTN message converter: a scan pass that fills the current
// message from the header and measures the text, and a write pass that
// writes the FTN message (or its parts) into the packet.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "config/config.h"
#include "driver/types.h"
#include "platform/buffered_reader.h"
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
    const char* extent_bytes;  // the extent's bytes when they are in memory, else null
    bool extent_nul_free;      // they are, and hold no NUL byte (looked at once a message)
    platform::File* packet;  // write pass
    long long extent_start;
    long long extent_end;
    long long* body_start;  // in and out
    ImportBuffers* buffers;
};

void convert_soup_message(const ConvertRequest& request);

// The text a message part may carry: ImportLimit less room for the header
// and trailer of every FTN message; 0 for no limit.
inline std::uint32_t part_text_limit(const GatewayConfig& c) {
    return c.ImportLimit > 512 ? c.ImportLimit - 512 : 0;
}

// True when the n bytes at p hold no NUL.
inline bool nul_free(const char* p, std::size_t n) { return p && std::memchr(p, 0, n) == nullptr; }

// Reads bytes of one message extent, never past its end. FTN text cannot
// carry NUL bytes, so lines come with blanks in their place.
class ExtentReader : public platform::BufferedReader {
public:
    // Bytes in memory are looked at once for a NUL, not line by line:
    // nul_free tells that they hold none.
    ExtentReader(platform::File& file, long long start, long long end, const char* bytes, bool nul_free)
        : BufferedReader(file, start, end, bytes), nul_free_(bytes && nul_free) {}
    long read_line(char* out, std::size_t cap);
    // Lines in memory without a NUL are used where they are, not copied.
    bool in_place() const { return nul_free_; }

private:
    bool nul_free_;
};

}  // namespace tw
